#pragma once

#include "content_hash.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace tagsnip::undo {

// The manifest of a run that kept what it removed: a text file of lines that each end in LF,
// described for users in docs/kept-bytes.md. The first line names the format, its version, the
// hash, the data file beside the manifest and the start directory:
//   tagsnip-kept-bytes 1 hash=xxh3-128 data=kept.data start=/home/ann/Music
// then one line per changed file, fields in this order, the path last:
//   mp3 size=5242880 hash=H left-size=5238656 left-hash=H cut=0+4096:H@0 cut=5242752+128:H@4096
//       path=Artist/Album/01 Intro.mp3
// (one line in the file). size and hash are the original's, left-size and left-hash the file's
// as the run left it; each cut is offset+length in the original, the hash of the removed bytes,
// and where they start in the data file. A playlist has a single cut: its whole original text.
// Paths are relative to the start directory; they and the start directory are escaped as
// escapeForLine does, and run to the end of the line.
inline constexpr std::string_view manifestFormat = "tagsnip-kept-bytes";
inline constexpr int manifestVersion = 1;
inline constexpr std::string_view manifestFileName = "manifest.txt";
// The longest line a manifest may hold, its LF not counted, so that reading one costs memory of
// a line whatever the file's size. A record whose line would be longer is not sound.
inline constexpr std::size_t manifestLineLimit = 64 * 1024;

enum class FileKind { mp3, playlist };

struct KeptRange {
    ByteRange range;
    Digest hash;
    std::uint64_t dataOffset = 0;
    bool operator==(const KeptRange&) const = default;
};

struct ManifestRecord {
    FileKind kind = FileKind::mp3;
    std::string path;
    std::uint64_t originalSize = 0;
    Digest originalHash;
    std::uint64_t leftSize = 0;
    Digest leftHash;
    std::vector<KeptRange> ranges;
    bool operator==(const ManifestRecord&) const = default;
};

struct ManifestHeader {
    std::string startDirectory;
    std::string dataFile;
    bool operator==(const ManifestHeader&) const = default;
};

struct Manifest {
    ManifestHeader header;
    std::vector<ManifestRecord> records;
    // The last line had no LF: a record a killed run was still appending, whose file the run
    // cannot have changed yet since records are flushed before any file is replaced.
    bool unfinishedTail = false;
};

struct ManifestError {
    std::size_t line = 0;
    // Why the line is refused, or "" when reading failed (readError) or the records ended.
    std::string message;
    std::error_code readError;
};

std::string headerLine(const ManifestHeader& header);
std::string recordLine(const ManifestRecord& record);

// What makes a record impossible (ranges out of order or outside the file, sizes that do not add
// up, a path that leaves the start directory, a line longer than manifestLineLimit), or "" for a
// sound one.
std::string recordProblem(const ManifestRecord& record);

// Reads a manifest from the start, line by line, holding no more than about two lines' worth of
// its bytes at a time.
class ManifestReader {
public:
    // Gives up to length bytes from offset into buffer; got < length only at the end.
    using Source = std::function<std::error_code(std::uint64_t offset, char* buffer,
                                                 std::size_t length, std::size_t& got)>;
    explicit ManifestReader(Source source) : m_source(std::move(source)) {}

    // The first line, before any record.
    [[nodiscard]] bool header(ManifestHeader& header, ManifestError& error);
    // The next record; false at the end, where error.message and error.readError are empty, and
    // for a line that cannot be read or parsed.
    [[nodiscard]] bool next(ManifestRecord& record, ManifestError& error);
    // Known at the end: the last line had no LF.
    bool unfinishedTail() const { return m_unfinishedTail; }

private:
    bool line(std::string_view& line, ManifestError& error);
    std::error_code fill();

    Source m_source;
    // Bytes read and not yet given out begin at m_begin; none before m_scanned is an LF.
    std::string m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_scanned = 0;
    std::uint64_t m_offset = 0;
    bool m_ended = false;
    bool m_unfinishedTail = false;
    std::size_t m_lineNumber = 0;
};

[[nodiscard]] bool parseManifest(std::string_view text, Manifest& manifest, ManifestError& error);

}  // namespace tagsnip::undo
