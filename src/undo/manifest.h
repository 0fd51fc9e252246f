#pragma once

#include "content_hash.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
    std::string message;
};

std::string headerLine(const ManifestHeader& header);
std::string recordLine(const ManifestRecord& record);

// What makes a record impossible (ranges out of order or outside the file, sizes that do not add
// up, a path that leaves the start directory), or "" for a sound one.
std::string recordProblem(const ManifestRecord& record);

[[nodiscard]] bool parseManifest(std::string_view text, Manifest& manifest, ManifestError& error);

}  // namespace tagsnip::undo
