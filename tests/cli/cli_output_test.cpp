#include "cli/run_cli.h"
#include "engine/line_escaping.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace tagsnip::cli {
namespace {

using test::id3v1Tag;
using test::id3v2Tag;
using test::mpegAudio;
using test::writeFile;

struct EscapeCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

TEST(EscapeForLine, EachUnsafeByteHasOneEscapeAndTextPassesUnchanged) {
    const std::vector<EscapeCase> cases = {
        {"newline", "a\nb", "a\\nb"},
        {"tab", "a\tb", "a\\tb"},
        {"carriage return", "a\rb", "a\\rb"},
        {"escape", "\x1b[31m", "\\x1b[31m"},
        {"backslash", "a\\nb", "a\\\\nb"},
        {"delete and NUL-like low bytes", std::string("\x7f\x01\x00", 3), "\\x7f\\x01\\x00"},
        {"invalid UTF-8 byte", "a\xff.mp3", "a\\xff.mp3"},
        {"Latin-1 name", "caf\xe9.mp3", "caf\\xe9.mp3"},
        {"sequence cut short at the end", "\xe4\xb8", "\\xe4\\xb8"},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"C1 control sequence introducer", "\xc2\x9b", "\\xc2\\x9b"},
        {"Chinese", "\xe6\xa0\x87\xe7\xad\xbe", "\xe6\xa0\x87\xe7\xad\xbe"},
        {"no-break space", "\xc2\xa0", "\xc2\xa0"},
        {"four-byte character", "\xf0\x9f\x8e\xb5", "\xf0\x9f\x8e\xb5"},
    };
    for (const EscapeCase& row : cases) {
        EXPECT_EQ(escapeForLine(row.bytes), row.expected) << row.name;
    }
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

// Names that would forge a total line, forge a row, or drive the terminal, if written raw.
class HostileNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& name : names) {
            writeFile(dir / name, mpegAudio(2) + id3v1Tag());
        }
    }

    int run(std::vector<std::string> arguments) {
        out.str("");
        err.str("");
        return runCli(arguments, out, err);
    }

    const std::vector<std::string> names = {
        "b\ntotal mp3=999 id3v1=0 id3v2=0 m3u=0 pls=0\n.mp3",
        "song\nX\tX\tforged.mp3",
        "e\x1b]0;title\x07\x1b[2J.mp3",
        "back\\slash.mp3",
        "latin\xe9.mp3",
    };
    test::TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(HostileNamesTest, EachFileIsOneLineOfThreeFieldsAndTheTotalIsLast) {
    ASSERT_EQ(run({"-t1", dir.path()}), 0);
    const std::vector<std::string> lines = split(out.str(), '\n');
    ASSERT_EQ(lines.size(), names.size() + 1);
    std::set<std::string> listed;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_EQ(std::count(lines[i].begin(), lines[i].end(), '\t'), 2) << lines[i];
        EXPECT_EQ(lines[i].substr(0, 4), "X\t-\t");
        EXPECT_TRUE(std::none_of(lines[i].begin(), lines[i].end(),
                                 [](char c) { return c == '\x1b' || c == '\x07'; }));
        listed.insert(lines[i].substr(4));
    }
    EXPECT_EQ(lines.back(), "total mp3=5 id3v1=5 id3v2=0 m3u=0 pls=0");
    std::set<std::string> expected;
    for (const std::string& name : names) {
        expected.insert(escapeForLine(dir / name));
    }
    EXPECT_EQ(listed, expected);
}

TEST_F(HostileNamesTest, NullRecordsCarryTheRawPathAndEndWithTheTotal) {
    ASSERT_EQ(run({"--null", "-t1", dir.path()}), 0);
    const std::string text = out.str();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\0');
    std::vector<std::string> records = split(text, '\0');
    ASSERT_EQ(records.size(), names.size() + 1);
    EXPECT_EQ(records.back(), "total mp3=5 id3v1=5 id3v2=0 m3u=0 pls=0");
    records.pop_back();
    std::set<std::string> expected;
    for (const std::string& name : names) {
        expected.insert("X\t-\t" + dir / name);
    }
    EXPECT_EQ(std::set<std::string>(records.begin(), records.end()), expected);
    EXPECT_EQ(run({"-0", dir.path()}), 0);
    EXPECT_EQ(split(out.str(), '\0').size(), names.size() + 1);
}

TEST_F(HostileNamesTest, AnErrorNamingSuchAFileIsOneEscapedLine) {
    const std::string name = "bad\n\x1b[2Jname.mp3";
    writeFile(dir / name, id3v2Tag(400).substr(0, 200));
    EXPECT_EQ(run({"-t2", dir.path()}), 1);
    const std::string messages = err.str();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
    EXPECT_NE(messages.find(escapeForLine(dir / name)), std::string::npos) << messages;
    EXPECT_EQ(run({"-x\x1b", dir.path()}), 2);
    EXPECT_EQ(err.str().rfind("tagsnip-cli: unknown option '-x\\x1b'\n", 0), 0u);
}

}  // namespace
}  // namespace tagsnip::cli
