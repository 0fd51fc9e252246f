#pragma once

#include "atomic_replacement.h"
#include "audio_format.h"
#include "byte_source.h"
#include "file_result.h"
#include "file_system.h"
#include "job_host.h"
#include "job_options.h"
#include "removal_recorder.h"
#include "replacement_batch.h"
#include "run_state.h"
#include "tag_removal.h"
#include "temporary_names.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace tagsnip {

// Examines one MP3 file for an ID3v1 trailer and an ID3v2 header, counts them, and removes the
// ones the switches ask for. Files of the other audio formats, and MP3 files with every tag kind
// to go, have every block found first and lose only those whose cut their container proves. A
// trailer alone is cut off in place; an ID3v2 removal writes the rest of the file (without the
// trailer, when that goes too) to a new file that replaces the old one atomically. A read-only file
// is never made writable: it is always replaced, the new file carrying its mode from the start. A
// file another program has open for writing is left alone. With every tag kind to go, all blocks at
// the start and at the end are removed in one change: a replacement, or a cut when only blocks at
// the end go. With a recorder, what a change removes is kept first, and made durable before the
// change is; a file whose removed bytes cannot be kept is left unchanged. A replacement then copies
// what stays from the read that keeps the rest, and a cut waits for the commit that makes its kept
// bytes durable.
class Id3Work {
public:
    Id3Work(JobHost& host, FileSystem& fileSystem, RunState& state,
            RemovalRecorder* recorder = nullptr);
    ~Id3Work();
    Id3Work(const Id3Work&) = delete;
    Id3Work& operator=(const Id3Work&) = delete;

    [[nodiscard]] FileResult checkID3(const FileLocation& file, bool readOnly,
                                      AudioFormat format = AudioFormat::mp3);

    // Makes the queued replacements durable and puts them in place, and makes every change made
    // so far last a crash; errors surface here.
    void commitPending();
    void commitIfDue();

private:
    struct OpenFile;
    struct DeferredCut;
    enum class Removal { notAttempted, couldNotStart, done, failed };

    bool testId3v1(OpenFile& file, std::uint64_t& contentEnd);
    Removal testId3v2(OpenFile& file, std::uint64_t contentEnd);
    std::error_code readTagBytes(OpenFile& file, void* buffer, std::size_t length,
                                 std::uint64_t offset, std::size_t& got);
    Removal removeId3v2(OpenFile& file, const unsigned char* header, std::uint64_t available,
                        std::uint64_t contentEnd);
    bool findLayout(OpenFile& file, ByteSource& source);
    void removeTagBlocks(OpenFile& file, AudioFormat format, const RemovalRequest& request);
    void takeLeaseBeforeReading(OpenFile& file);
    bool claim(OpenFile& file);
    void cutTrailer(OpenFile& file, std::uint64_t contentEnd);
    void deferCut(OpenFile& file, std::uint64_t contentEnd);
    void makeDeferredCuts();
    void makeDeferredCut(DeferredCut& cut);
    std::error_code cutInPlace(OpenFile& file, std::uint64_t contentEnd);
    std::error_code openForCut(const OpenFile& file, int& fd);
    std::error_code cutUnderLease(const OpenFile& file, int writer, bool leases,
                                  std::uint64_t contentEnd, bool& othersHaveItOpen);
    std::error_code queueCutFlush(OpenFile& file, FileHandle& writer);
    std::error_code replaceWhileOthersRead(OpenFile& file, std::uint64_t contentEnd);
    Removal replaceWith(OpenFile& file, std::uint64_t begin, std::uint64_t end, const char* tag);
    bool fillReplacement(OpenFile& file, std::uint64_t begin, std::uint64_t end, int to,
                         const char* tag);
    std::error_code keepRemoved(OpenFile& file, std::initializer_list<RemovedRange> ranges,
                                const StayingBytesSink& staying = {});
    bool makeKeptDurable(OpenFile& file);
    void commitBatch();
    void reportBatchFailure(const std::string& path, const char* tag,
                            const AtomicReplacement::Failure& failure);
    void abandonPending(std::error_code error);
    std::error_code copyContent(OpenFile& file, std::uint64_t begin, std::uint64_t end, int to);
    void reportReplacementFailure(OpenFile& file, const AtomicReplacement::Failure& failure,
                                  const char* tag);
    std::error_code shortReadCause(OpenFile& file);
    void reportError(OpenFile& file, const std::string& text);
    void reportIoError(OpenFile& file, std::error_code error);
    void reportBatchError(const std::string& text);

    JobHost& m_host;
    JobOptions m_options;
    FileSystem& m_fileSystem;
    RunState& m_state;
    RemovalRecorder* m_recorder;
    // Emptied without installing anything when what its files' removal kept cannot be made
    // durable.
    ReplacementBatch m_batch;
    // The files queued since what was kept for them was last made durable.
    std::vector<std::string> m_keptPending;
    // Trailers kept and waiting for the commit to be cut.
    std::vector<std::unique_ptr<DeferredCut>> m_deferredCuts;
    // Set while the commit makes the deferred cuts, which must not start a commit of their own.
    bool m_committing = false;
    std::vector<char> m_smallFile;
};

}  // namespace tagsnip
