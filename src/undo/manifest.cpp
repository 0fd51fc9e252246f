#include "manifest.h"

#include "engine/line_escaping.h"

#include <charconv>

namespace tagsnip::undo {
namespace {

// The manifest is read in pieces of this size: a line of the longest length is in one or two.
constexpr std::size_t readSize = 64 * 1024;

// A line written in full may be one byte longer than the limit: its LF.
bool fitsLine(const std::string& written) {
    return written.size() <= manifestLineLimit + 1;
}

std::string tooLongText(std::string_view what) {
    return std::string(what) + " longer than " + std::to_string(manifestLineLimit) + " bytes";
}

std::string_view kindName(FileKind kind) {
    return kind == FileKind::mp3 ? "mp3" : "playlist";
}

bool validRelativePath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) {
        return false;
    }
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        if (component.empty() || component == "." || component == "..") {
            return false;
        }
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (slash != std::string_view::npos && path.empty()) {
            return false;
        }
    }
    return true;
}

bool validPlainName(std::string_view name) {
    return name.find('/') == std::string_view::npos && validRelativePath(name);
}

std::string rangesProblem(const ManifestRecord& record) {
    std::vector<ByteRange> ranges;
    std::uint64_t kept = 0;
    for (const auto& keptRange : record.ranges) {
        if (keptRange.range.length == 0) {
            return "empty cut";
        }
        if (keptRange.dataOffset + keptRange.range.length < keptRange.dataOffset) {
            return "cut ends beyond the largest data offset";
        }
        ranges.push_back(keptRange.range);
        kept += keptRange.range.length;
    }
    if (!rangesFit(ranges, record.originalSize)) {
        return "cuts out of order, overlapping or beyond the original size";
    }
    if (record.kind == FileKind::playlist) {
        const bool wholeText =
            ranges.size() == 1 && ranges[0].offset == 0 && ranges[0].length == record.originalSize;
        return wholeText ? "" : "a playlist keeps exactly one cut: its whole text";
    }
    if (ranges.empty()) {
        return "no cut";
    }
    return record.originalSize - kept == record.leftSize ? ""
                                                         : "left-size is not size minus the cuts";
}

// Reads the space-separated fields of one line from left to right.
class Fields {
public:
    explicit Fields(std::string_view line) : m_rest(line) {}

    bool word(std::string_view& token) {
        if (m_rest.empty()) {
            return false;
        }
        const std::size_t space = m_rest.find(' ');
        token = m_rest.substr(0, space);
        m_rest.remove_prefix(space == std::string_view::npos ? m_rest.size() : space + 1);
        return !token.empty();
    }
    // The next field when it is key=value; the last field, which may hold spaces, with whole.
    bool keyed(std::string_view key, std::string_view& value, bool whole = false) {
        if (!m_rest.starts_with(key) || m_rest.substr(key.size(), 1) != "=") {
            return false;
        }
        m_rest.remove_prefix(key.size() + 1);
        if (whole) {
            value = m_rest;
            m_rest = {};
            return true;
        }
        return word(value);
    }
    bool startsWith(std::string_view key) const { return m_rest.starts_with(key); }

private:
    std::string_view m_rest;
};

bool parseNumber(std::string_view text, std::uint64_t& number) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size();
}

// offset+length:hash@dataOffset
bool parseCut(std::string_view text, KeptRange& kept) {
    const std::size_t plus = text.find('+');
    const std::size_t colon = text.find(':');
    const std::size_t at = text.find('@');
    if (plus == std::string_view::npos || colon == std::string_view::npos ||
        at == std::string_view::npos || !(plus < colon && colon < at)) {
        return false;
    }
    return parseNumber(text.substr(0, plus), kept.range.offset) &&
           parseNumber(text.substr(plus + 1, colon - plus - 1), kept.range.length) &&
           Digest::fromHex(text.substr(colon + 1, at - colon - 1), kept.hash) &&
           parseNumber(text.substr(at + 1), kept.dataOffset);
}

class LineParser {
public:
    explicit LineParser(std::string_view line) : m_fields(line) {}

    const std::string& problem() const { return m_problem; }

    bool header(ManifestHeader& header) {
        std::string_view format;
        std::string_view version;
        std::string_view hash;
        std::string_view data;
        std::string_view start;
        if (!m_fields.word(format) || format != manifestFormat) {
            return fail("not a tagsnip kept-bytes manifest");
        }
        if (!m_fields.word(version) || version != std::to_string(manifestVersion)) {
            return fail("unsupported version " + std::string(version));
        }
        if (!m_fields.keyed("hash", hash) || hash != hashName) {
            return fail("unsupported hash " + std::string(hash));
        }
        if (!m_fields.keyed("data", data) || !unescapeLine(data, header.dataFile) ||
            !validPlainName(header.dataFile)) {
            return fail("expected data= with a file name");
        }
        if (!m_fields.keyed("start", start, true) || !unescapeLine(start, header.startDirectory) ||
            !header.startDirectory.starts_with('/')) {
            return fail("expected start= with an absolute directory");
        }
        return fitsLine(headerLine(header)) || fail(tooLongText("header, as written,"));
    }

    bool record(ManifestRecord& record) {
        std::string_view kind;
        if (!m_fields.word(kind) || (kind != "mp3" && kind != "playlist")) {
            return fail("expected a record of kind mp3 or playlist");
        }
        record.kind = kind == "mp3" ? FileKind::mp3 : FileKind::playlist;
        if (!sizeAndHash("size", "hash", record.originalSize, record.originalHash) ||
            !sizeAndHash("left-size", "left-hash", record.leftSize, record.leftHash) ||
            !cuts(record.ranges)) {
            return false;
        }
        std::string_view path;
        if (!m_fields.keyed("path", path, true) || !unescapeLine(path, record.path)) {
            return fail("expected path= with an escaped path");
        }
        const std::string problem = recordProblem(record);
        return problem.empty() || fail(problem);
    }

private:
    bool fail(std::string problem) {
        m_problem = std::move(problem);
        return false;
    }

    bool sizeAndHash(std::string_view sizeKey, std::string_view hashKey, std::uint64_t& size,
                     Digest& hash) {
        std::string_view value;
        if (!m_fields.keyed(sizeKey, value) || !parseNumber(value, size)) {
            return fail("expected " + std::string(sizeKey) + "= with a number");
        }
        if (!m_fields.keyed(hashKey, value) || !Digest::fromHex(value, hash)) {
            return fail("expected " + std::string(hashKey) + "= with 32 hexadecimal digits");
        }
        return true;
    }

    bool cuts(std::vector<KeptRange>& ranges) {
        std::string_view value;
        while (m_fields.startsWith("cut=")) {
            KeptRange kept;
            if (!m_fields.keyed("cut", value) || !parseCut(value, kept)) {
                return fail("expected cut=offset+length:hash@data-offset");
            }
            ranges.push_back(kept);
        }
        return true;
    }

    Fields m_fields;
    std::string m_problem;
};

}  // namespace

std::string headerLine(const ManifestHeader& header) {
    return std::string(manifestFormat) + " " + std::to_string(manifestVersion) +
           " hash=" + std::string(hashName) + " data=" + escapeForLine(header.dataFile) +
           " start=" + escapeForLine(header.startDirectory) + "\n";
}

std::string recordLine(const ManifestRecord& record) {
    std::string line = std::string(kindName(record.kind));
    line += " size=" + std::to_string(record.originalSize) + " hash=" + record.originalHash.hex();
    line += " left-size=" + std::to_string(record.leftSize) + " left-hash=" + record.leftHash.hex();
    for (const auto& kept : record.ranges) {
        line += " cut=" + std::to_string(kept.range.offset) + "+" +
                std::to_string(kept.range.length) + ":" + kept.hash.hex() + "@" +
                std::to_string(kept.dataOffset);
    }
    return line + " path=" + escapeForLine(record.path) + "\n";
}

// A record the reader would refuse is not kept either: the restore could not read it back.
std::string recordProblem(const ManifestRecord& record) {
    if (!validRelativePath(record.path)) {
        return "path is not a plain path inside the start directory";
    }
    if (std::string problem = rangesProblem(record); !problem.empty()) {
        return problem;
    }
    return fitsLine(recordLine(record)) ? "" : tooLongText("record, as written,");
}

bool ManifestReader::header(ManifestHeader& header, ManifestError& error) {
    std::string_view text;
    if (!line(text, error)) {
        if (error.message.empty() && !error.readError) {
            error.message = "no header line";
        }
        return false;
    }
    LineParser parser(text);
    if (!parser.header(header)) {
        error = {m_lineNumber, parser.problem(), {}};
        return false;
    }
    return true;
}

bool ManifestReader::next(ManifestRecord& record, ManifestError& error) {
    record = {};
    std::string_view text;
    if (!line(text, error)) {
        return false;
    }
    LineParser parser(text);
    if (!parser.record(record)) {
        error = {m_lineNumber, parser.problem(), {}};
        return false;
    }
    return true;
}

// The view given stays valid until the next call.
bool ManifestReader::line(std::string_view& line, ManifestError& error) {
    ++m_lineNumber;
    for (;;) {
        const std::size_t newline = m_buffer.find('\n', m_scanned);
        const std::size_t end = newline == std::string::npos ? m_buffer.size() : newline;
        if (end - m_begin > manifestLineLimit) {
            error = {m_lineNumber, tooLongText("line"), {}};
            return false;
        }
        if (newline != std::string::npos) {
            line = std::string_view(m_buffer).substr(m_begin, newline - m_begin);
            m_begin = newline + 1;
            m_scanned = m_begin;
            return true;
        }
        m_scanned = m_buffer.size();
        if (m_ended) {
            m_unfinishedTail = m_begin < m_buffer.size();
            error = {m_lineNumber, {}, {}};
            return false;
        }
        if (const auto readError = fill()) {
            error = {m_lineNumber, {}, readError};
            return false;
        }
    }
}

// Appends the next piece of the file after the bytes not given out yet, dropping the rest.
std::error_code ManifestReader::fill() {
    m_buffer.erase(0, m_begin);
    m_scanned -= m_begin;
    m_begin = 0;
    const std::size_t kept = m_buffer.size();
    m_buffer.resize(kept + readSize);
    std::size_t got = 0;
    const std::error_code error = m_source(m_offset, m_buffer.data() + kept, readSize, got);
    m_buffer.resize(kept + got);
    m_offset += got;
    m_ended = got < readSize;
    return error;
}

bool parseManifest(std::string_view text, Manifest& manifest, ManifestError& error) {
    manifest = {};
    ManifestReader reader(
        [text](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
            got = offset < text.size() ? text.copy(buffer, length, offset) : 0;
            return std::error_code{};
        });
    if (!reader.header(manifest.header, error)) {
        return false;
    }
    for (ManifestRecord record; reader.next(record, error);) {
        manifest.records.push_back(std::move(record));
    }
    manifest.unfinishedTail = reader.unfinishedTail();
    return error.message.empty() && !error.readError;
}

}  // namespace tagsnip::undo
