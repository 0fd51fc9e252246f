#include "engine/cleaning_job.h"
#include "engine/playlist_cleaner.h"
#include "support/mp3_bytes.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace tagsnip {
namespace {

using test::id3v1Tag;
using test::id3v2Tag;
using test::mpegAudio;
using test::readFile;
using test::writeFile;

class NoPlaylists final : public PlaylistCleaner {
public:
    PlaylistOutcome cleanM3U(const std::string&) override { return {}; }
    PlaylistOutcome cleanPLS(const std::string&) override { return {}; }
};

TEST(CheckId3, BothTagsRemovedLeavesExactlyTheAudio) {
    test::TempDir dir;
    const std::string audio = mpegAudio(20);
    writeFile(dir / "a.mp3", id3v2Tag(257, 0x10) + std::string(10, 'F') + audio + id3v1Tag());
    test::RecordingHost host;
    host.directory = dir.path();
    host.set(JobSwitch::remove1, true);
    host.set(JobSwitch::remove2, true);
    FileSystem fileSystem;
    NoPlaylists playlists;
    NoStartDirectoryStore store;
    ProcessFlags flags;
    CleaningJob job(host, fileSystem, playlists, store, flags);
    job.startClick();
    EXPECT_EQ(readFile(dir / "a.mp3"), audio);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.rows[0].id3v1Mark, "X");
    EXPECT_EQ(host.rows[0].id3v2Mark, "X");
    EXPECT_EQ(test::listNames(dir.path()), "a.mp3");
}

}  // namespace
}  // namespace tagsnip
