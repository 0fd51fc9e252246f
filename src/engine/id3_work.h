#pragma once

#include "file_system.h"
#include "job_host.h"
#include "job_options.h"
#include "run_state.h"

#include <cstdint>
#include <string>
#include <system_error>

namespace tagsnip {

// Examines one MP3 file for an ID3v1 trailer and an ID3v2 header, counts them, and removes the
// ones the switches ask for. A trailer alone is cut off in place; an ID3v2 removal writes the
// rest of the file (without the trailer, when that goes too) to a new file that replaces the
// old one atomically.
class Id3Work {
public:
    static constexpr const char* temporaryName = "ID3_TEMP.$$$";

    Id3Work(JobHost& host, FileSystem& fileSystem, RunState& state);

    void checkID3(const std::string& path);

private:
    struct OpenFile;
    enum class Removal { notDone, done, failed };

    bool testId3v1(OpenFile& file, std::uint64_t& contentEnd);
    Removal testId3v2(OpenFile& file, std::uint64_t contentEnd);
    Removal removeId3v2(OpenFile& file, const unsigned char* header, std::uint64_t available,
                        std::uint64_t contentEnd);
    void showCount(CountLabel label, std::uint32_t& count);
    void reportError(const std::string& text);
    void reportIoError(const std::string& path, std::error_code error);

    JobHost& m_host;
    JobOptions m_options;
    FileSystem& m_fileSystem;
    RunState& m_state;
};

}  // namespace tagsnip
