#include "config/command_line.h"
#include "engine/path_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tagsnip::test {
namespace {

struct Outcome {
    WindowSettings settings;
    ProcessFlags flags;
    bool startAtOnce = false;
    std::vector<std::string> shown;
};

// Stored settings as the load left them: remove2 unchecked, subdirectories unchecked.
WindowSettings storedSettings() {
    WindowSettings settings;
    settings.directory = "/opt/tagsnip/";
    settings.switches.remove2 = false;
    settings.switches.subdirectories = false;
    return settings;
}

Outcome apply(const std::vector<std::string>& arguments) {
    Outcome outcome;
    outcome.settings = storedSettings();
    outcome.startAtOnce =
        applyCommandLine(parseCommandLine(arguments), outcome.settings, outcome.flags,
                         [&](const std::string& text) { outcome.shown.push_back(text); });
    return outcome;
}

TEST(CommandLine, UsageTextIsExactly416BytesWithCrLf) {
    EXPECT_EQ(usageText.size(), 416u);
    EXPECT_EQ(usageText.substr(0, 41), "tagsnip <directory> -s -t1 -t2 -i -r -q\r\n");
    EXPECT_EQ(std::count(usageText.begin(), usageText.end(), '/'), 1) << "only \"close/end\"";
    std::size_t lines = 0;
    for (std::size_t i = 0; i < usageText.size(); ++i) {
        if (usageText[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(usageText[i - 1], '\r') << i;
            ++lines;
        }
    }
    EXPECT_EQ(lines, 13u);
    EXPECT_NE(usageText.find("\r\n-?                    this help\r\n"), std::string::npos);
    EXPECT_NE(usageText.find("\r\n<directory>           starting directory\r\n"),
              std::string::npos);
}

TEST(CommandLine, NoArgumentsChangeNothing) {
    const Outcome outcome = apply({});
    EXPECT_EQ(outcome.settings.directory, "/opt/tagsnip/");
    EXPECT_FALSE(outcome.settings.switches.remove2);
    EXPECT_TRUE(outcome.flags.SaveSettings);
    EXPECT_FALSE(outcome.flags.QuitWhenDone);
    EXPECT_FALSE(outcome.startAtOnce);
    EXPECT_TRUE(outcome.shown.empty());
}

struct DirectoryCase {
    std::vector<std::string> arguments;
    std::string directory;
};

class DirectoryArguments : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(DirectoryArguments, SetTheStartDirectory) {
    const Outcome outcome = apply(GetParam().arguments);
    EXPECT_EQ(outcome.settings.directory, GetParam().directory);
    EXPECT_TRUE(outcome.shown.empty());
    EXPECT_TRUE(outcome.flags.SaveSettings);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, DirectoryArguments,
                         ::testing::Values(DirectoryCase{{"/music"}, "/music/"},
                                           DirectoryCase{{"/music/"}, "/music/"},
                                           DirectoryCase{{"/first", "/second/"}, "/second/"},
                                           DirectoryCase{{"My Music"}, "My Music/"},
                                           DirectoryCase{{"/music", ""}, "/music/"},
                                           DirectoryCase{{"+s"}, "+s/"},
                                           DirectoryCase{{"/s"}, "/s/"}));

struct OptionCase {
    std::string option;
    bool SwitchStates::*state;
};

class SwitchOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(SwitchOptions, CheckOnlyTheirSwitch) {
    const Outcome outcome = apply({GetParam().option});
    SwitchStates expected = storedSettings().switches;
    expected.*GetParam().state = true;
    const SwitchStates& got = outcome.settings.switches;
    EXPECT_EQ(got.subdirectories, expected.subdirectories);
    EXPECT_EQ(got.remove1, expected.remove1);
    EXPECT_EQ(got.remove2, expected.remove2);
    EXPECT_EQ(got.ignoreattributes, expected.ignoreattributes);
    EXPECT_TRUE(outcome.shown.empty());
    EXPECT_TRUE(outcome.flags.SaveSettings);
    EXPECT_FALSE(outcome.startAtOnce);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, SwitchOptions,
                         ::testing::Values(OptionCase{"-s", &SwitchStates::subdirectories},
                                           OptionCase{"-S", &SwitchStates::subdirectories},
                                           OptionCase{"-i", &SwitchStates::ignoreattributes},
                                           OptionCase{"-t1", &SwitchStates::remove1},
                                           OptionCase{"-T1", &SwitchStates::remove1},
                                           OptionCase{"-t2", &SwitchStates::remove2}));

class UnknownOptions : public ::testing::TestWithParam<std::string> {};

TEST_P(UnknownOptions, ShowTheUsageAndStopSaving) {
    const Outcome outcome = apply({GetParam(), "/music"});
    ASSERT_EQ(outcome.shown.size(), 1u);
    EXPECT_EQ(outcome.shown[0], std::string(usageText));
    EXPECT_FALSE(outcome.flags.SaveSettings);
    EXPECT_FALSE(outcome.flags.QuitWhenDone);
    EXPECT_EQ(outcome.settings.directory, "/music/") << "the remaining arguments still apply";
}

INSTANTIATE_TEST_SUITE_P(CommandLine, UnknownOptions,
                         ::testing::Values("-sub", "-t3", "-?", "-", "--help", "-x", "-s ",
                                           "-\xc3\x89"));

TEST(CommandLine, StartAtOnceWhereverItStandsAndOnce) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-r", "/music"}, {"/music", "-r"}, {"-R", "/music", "-r"}}) {
        const Outcome outcome = apply(arguments);
        EXPECT_TRUE(outcome.startAtOnce);
        EXPECT_EQ(outcome.settings.directory, "/music/");
        EXPECT_TRUE(outcome.flags.SaveSettings) << "-r alone keeps the saving";
    }
}

TEST(CommandLine, QuitWhenDoneClearsSaving) {
    const Outcome quitOnly = apply({"-q"});
    EXPECT_TRUE(quitOnly.flags.QuitWhenDone);
    EXPECT_FALSE(quitOnly.flags.SaveSettings);
    EXPECT_FALSE(quitOnly.startAtOnce) << "-q alone starts no run";

    const Outcome missing = apply({"-q", "-r", "/does/not/exist"});
    EXPECT_TRUE(missing.startAtOnce);
    EXPECT_TRUE(missing.flags.QuitWhenDone);
    EXPECT_EQ(missing.settings.directory, "/does/not/exist/")
        << "nothing checks the directory here; the run reports it and does not end the program";
}

TEST(CommandLine, EveryUnknownOptionShowsTheUsageInOrder) {
    const Outcome outcome = apply({"-x", "-t1", "-y"});
    EXPECT_EQ(outcome.shown.size(), 2u);
    EXPECT_TRUE(outcome.settings.switches.remove1);
    EXPECT_FALSE(outcome.flags.SaveSettings);
}

TEST(CommandLine, ParsedItemsKeepTheOptionAsGiven) {
    const auto items = parseCommandLine({"-T2", "-Zz", "music"});
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, CommandLineItemKind::remove2);
    EXPECT_EQ(items[1].kind, CommandLineItemKind::unknownOption);
    EXPECT_EQ(items[1].text, "-Zz");
    EXPECT_EQ(items[2].kind, CommandLineItemKind::directory);
    EXPECT_EQ(items[2].text, "music/");
}

TEST(CommandLine, ProgramDirectoryIsTheExecutablesDirectory) {
    EXPECT_EQ(directoryOf("/usr/bin/tagsnip"), "/usr/bin/");
    EXPECT_EQ(directoryOf("/tagsnip"), "/");
}

}  // namespace
}  // namespace tagsnip::test
