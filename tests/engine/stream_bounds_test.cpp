#include "engine/stream_bounds.h"
#include "support/encoded_streams.h"
#include "support/mp3_bytes.h"
#include "support/tag_layouts.h"

#include <gtest/gtest.h>

#include <vector>

namespace tagsnip::test {
namespace {

struct Row {
    std::string name;
    std::string file;
    std::uint64_t begin;
    std::uint64_t end;
    // endsAt, else beginsAt.
    bool askEnd;
    bool proven;
};

std::string flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(~bytes[at]);
    return bytes;
}

// A frame of the stream's own kind and the given length, filled with junk.
std::string loneFrame(EncodedKind kind, const std::string& stream, std::uint32_t length) {
    if (kind == EncodedKind::mp3) {
        return mpegAudio(1);
    }
    std::string frame = stream.substr(0, 7) + std::string(length - 7, 'J');
    frame[3] = static_cast<char>((frame[3] & 0xFC) | (length >> 11));
    frame[4] = static_cast<char>((length >> 3) & 0xFF);
    frame[5] = static_cast<char>((frame[5] & 0x1F) | ((length & 7) << 5));
    return frame;
}

// A CRC without reflection or final inversion, as FLAC takes them.
unsigned crc(const std::string& bytes, unsigned polynomial, int width) {
    const unsigned top = 1u << (width - 1);
    const unsigned mask = (top << 1) - 1;
    unsigned value = 0;
    for (const unsigned char byte : bytes) {
        value ^= unsigned{byte} << (width - 8);
        for (int bit = 0; bit < 8; ++bit) {
            value = ((value & top) != 0 ? (value << 1) ^ polynomial : value << 1) & mask;
        }
    }
    return value;
}

// STREAMINFO and one stereo 16-bit frame whose CRC-16 matches, its header made of the channel
// and sample size byte and a CRC-8 spoilt by crc8Error.
std::string flacWithFrame(unsigned char channelsAndSampleSize, unsigned char crc8Error = 0) {
    std::string frame("\xFF\xF8\xC9", 3);
    frame += static_cast<char>(channelsAndSampleSize);
    frame += '\0';
    frame += static_cast<char>(crc(frame, 0x07, 8) ^ crc8Error);
    frame += std::string(50, 'J');
    const unsigned crc16 = crc(frame, 0x8005, 16);
    frame += static_cast<char>(crc16 >> 8);
    frame += static_cast<char>(crc16 & 0xFF);
    return std::string("fLaC\x80\0\0\x22", 8) + std::string(34, '\0') + frame;
}

std::string riffLike(const char* id, const char* form, std::uint32_t size, bool bigEndian,
                     const std::string& chunks) {
    std::string field(4, '\0');
    for (int i = 0; i < 4; ++i) {
        field[static_cast<std::size_t>(bigEndian ? 3 - i : i)] =
            static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    return id + field + form + chunks;
}

// The same cases for every container, shifted behind leading bytes so that begin is not 0; each
// source holds the file only up to end, so that a read past end fails the row.
std::vector<Row> rowsFor(EncodedKind kind, const std::string& stream) {
    const bool mp3 = kind == EncodedKind::mp3;
    const std::string lead(45, 'x');
    const std::string file = lead + stream;
    const std::uint64_t b = lead.size();
    const std::uint64_t e = file.size();
    std::vector<Row> rows = {
        {"begins", file, b, e, false, true},
        {"beginsOneLater", file, b + 1, e, false, mp3},
        {"ends", file, b, e, true, true},
        {"endsOneEarly", file, b, e - 1, true, false},
        {"endsInJunk", file + std::string(300, '\x5A'), b, e + 1, true, false},
        {"endsAfterJunk", file + std::string(300, '\xFF'), b, e + 300, true, false},
        {"endsInsideLastFrame", file, b, e - 10, true, false},
        {"endsThousandBytesEarly", file, b, e - 1000, true, false},
        {"empty", file, b, b, true, mp3},
        {"tooShortToBegin", file, b, b + 8, false, mp3},
        {"tooShortToEnd", file, b, b + 8, true, false},
    };
    const bool checked = kind == EncodedKind::flac || infoOf(kind).format == AudioFormat::ogg;
    if (checked) {
        rows.push_back({"damagedLastFrame", flipped(file, file.size() - 5), b, e, true, false});
    }
    if (kind == EncodedKind::flac) {
        rows.push_back({"damagedCrc16", flipped(file, file.size() - 1), b, e, true, false});
        rows.push_back({"firstBlockNotStreamInfo", flipped(file, b + 4), b, e, false, false});
        const std::string valid = flacWithFrame(0x18);
        rows.push_back({"syntheticFrame", valid, 0, valid.size(), true, true});
        const std::string badCrc8 = flacWithFrame(0x18, 1);
        rows.push_back({"syntheticHeaderCrc8Wrong", badCrc8, 0, badCrc8.size(), true, false});
        const std::string reserved = flacWithFrame(0x16);
        rows.push_back({"syntheticReservedSampleSize", reserved, 0, reserved.size(), true, false});
    }
    if (infoOf(kind).format == AudioFormat::ogg) {
        rows.push_back({"endsBeforeLastPage", file, b, file.rfind("OggS"), true, false});
        rows.push_back({"damagedFirstPage", flipped(file, b + 40), b, e, false, false});
    }
    // Frame headers carry no check: one frame alone after junk proves nothing.
    if (mp3 || kind == EncodedKind::aac) {
        const std::string junkThenFrame =
            file + std::string(100, 'J') + loneFrame(kind, stream, 200);
        rows.push_back({"loneFrameAfterJunk", junkThenFrame, b, junkThenFrame.size(), true, false});
        const std::string frameThenJunk =
            lead + loneFrame(kind, stream, 200) + std::string(100, 'J') + stream;
        rows.push_back({"loneFrameThenJunk", frameThenJunk, b, frameThenJunk.size(), false, mp3});
    }
    if (kind == EncodedKind::aac) {
        std::string otherRate = loneFrame(kind, stream, 200);
        otherRate[2] = static_cast<char>(otherRate[2] ^ 0x04);
        rows.push_back({"frameOfAnotherRateAfter", file + otherRate, b, e + 200, true, false});
    }
    if (kind == EncodedKind::wav || kind == EncodedKind::aiff) {
        const bool big = kind == EncodedKind::aiff;
        const std::size_t sizeAt = b + (big ? 7 : 4);
        rows.push_back({"wrongContainerSize", flipped(file, sizeAt), b, e, true, false});
        rows.push_back({"wrongChunkSize", flipped(file, sizeAt + 12), b, e, true, false});
        // An odd-sized last chunk whose pad byte may stand outside the container.
        const std::string odd =
            riffLike(big ? "FORM" : "RIFF", big ? "AIFF" : "WAVE", 15, big,
                     big ? std::string("SSND\0\0\0\3abc", 11) : std::string("data\3\0\0\0abc", 11));
        rows.push_back({"oddChunkUnpadded", odd, 0, odd.size(), true, true});
        rows.push_back({"oddChunkPadded", odd + '\0', 0, odd.size() + 1, true, true});
        rows.push_back({"oddChunkPaddedTwice", odd + "\0\0", 0, odd.size() + 2, true, false});
    }
    if (mp3) {
        const std::string frames = mpegAudio(4);
        rows.push_back({"oneFrame", frames.substr(0, 417), 0, 417, true, true});
        rows.push_back({"syntheticFrames", frames, 0, frames.size(), true, true});
        // Free format: the length is not in the header.
        std::string freeFormat = frames;
        freeFormat[3 * 417 + 2] = '\x00';
        rows.push_back({"freeFormatLastFrame", freeFormat, 0, frames.size(), true, false});
        // A 48 kHz frame cannot stand in front of a 44.1 kHz one.
        std::string otherRate = mpegAudio(1, 2).substr(0, 384);
        otherRate[2] = '\x94';
        const std::string mixed = std::string(100, 'J') + otherRate + frames.substr(0, 417);
        rows.push_back({"frameOfAnotherRateBefore", mixed, 0, mixed.size(), true, false});
    }
    return rows;
}

// What one answer may read: a largest frame or two, a largest page, a few chunk headers.
std::uint64_t readBudget(AudioFormat format) {
    switch (format) {
        case AudioFormat::mp3:
            return 6 * 1024;
        case AudioFormat::flac:
            return 16 * 1024;
        case AudioFormat::ogg:
            return 70 * 1024;
        case AudioFormat::aac:
            return 25 * 1024;
        case AudioFormat::wav:
        case AudioFormat::aiff:
            return 1024;
    }
    return 0;
}

class StreamBoundsTest : public ::testing::TestWithParam<EncodedKindInfo> {};

TEST_P(StreamBoundsTest, ProvesOnlyTheRealBounds) {
    std::string failure;
    const std::string& stream = encodedStream(GetParam().kind, failure);
    if (stream.empty()) {
        GTEST_SKIP() << failure;
    }
    const StreamBounds& bounds = streamBoundsOf(GetParam().format);
    for (const Row& row : rowsFor(GetParam().kind, stream)) {
        SCOPED_TRACE(row.name);
        const std::string upToEnd = row.file.substr(0, row.end);
        MemorySource source(upToEnd);
        bool proven = !row.proven;
        const std::error_code error = row.askEnd
                                          ? bounds.endsAt(source, row.begin, row.end, proven)
                                          : bounds.beginsAt(source, row.begin, row.end, proven);
        EXPECT_FALSE(error);
        EXPECT_EQ(proven, row.proven);
        EXPECT_FALSE(source.readOutside);
        EXPECT_LT(source.bytesRead, readBudget(GetParam().format));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamBoundsTest, ::testing::ValuesIn(encodedKinds()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::test
