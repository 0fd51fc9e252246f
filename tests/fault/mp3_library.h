#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace tagsnip::fault {

// One MP3 file of a test library: what it holds before a run and what it must hold after the
// tags the run removes are gone.
struct Mp3File {
    std::string path;
    std::string original;
    std::string stripped;
    mode_t mode = 0644;
};

enum class Tags { none, v1, v2, v2Footer, both };

// A file of about size bytes whose audio is unique to seed, so that a file holding another
// file's audio shows; the ID3v2 tag (when there is one) carries padding of padding bytes.
Mp3File makeMp3(const std::string& path, Tags tags, std::size_t size, unsigned seed,
                std::size_t padding = 4096, mode_t mode = 0644);

void writeOriginal(const Mp3File& file);

enum class Content { original, stripped, other, missing };
Content contentOf(const Mp3File& file);
const char* contentName(Content content);
// For test failure messages.
void PrintTo(Content content, std::ostream* out);

// Names in directory (not recursive) that are not the library's own files or subdirectories.
std::vector<std::string> strangers(const std::string& directory,
                                   const std::vector<Mp3File>& library);

}  // namespace tagsnip::fault
