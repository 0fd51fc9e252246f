#include "cli/cli_options.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>

namespace tagsnip::cli {
namespace {

using Options = std::set<std::string>;

Options matches(const std::string& text, const std::string& pattern, const std::string& prefix) {
    Options found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it) {
        found.insert(prefix + (*it)[1].str());
    }
    return found;
}

// The options --help lists: the first column of its indented lines.
Options helpOptions() {
    return matches(cliUsageText, R"((?:^|\n  |, )(-[-a-z0-9]+))", "");
}

// The manual's OPTIONS section: the line after every .TP, where "\-" is a hyphen.
Options manualOptions(const std::string& text) {
    const std::size_t begin = text.find(".SH OPTIONS");
    const std::size_t end = text.find(".SH", begin + 1);
    std::string section = text.substr(begin, end - begin);
    section = std::regex_replace(section, std::regex(R"(\\-)"), "-");
    Options found;
    for (const std::string& line : matches(section, R"(\.TP\n(.*))", "")) {
        found.merge(matches(line, R"( (-[-a-z0-9]+))", ""));
    }
    return found;
}

// The word list given to compgen -W; "--" ends the options and is no option itself.
Options bashOptions(const std::string& text) {
    std::smatch words;
    std::regex_search(text, words, std::regex(R"(-W '([^']*)')"));
    Options found = matches(words[1].str(), R"((-[-a-z0-9]*))", "");
    found.erase("--");
    return found;
}

Options zshOptions(const std::string& text) {
    Options found = matches(text, R"('(-[-a-z0-9]+)\[)", "");
    found.merge(matches(text, R"(\)'?\{(-[-a-z0-9]+),)", ""));
    found.merge(matches(text, R"(,(-[-a-z0-9]+)\}')", ""));
    found.merge(matches(text, R"(\)(--[a-z]+)\[)", ""));
    return found;
}

Options fishOptions(const std::string& text) {
    Options found = matches(text, R"( -o ([a-z0-9]+))", "-");
    found.merge(matches(text, R"( -s ([a-z0-9]))", "-"));
    found.merge(matches(text, R"( -l ([a-z0-9-]+))", "--"));
    return found;
}

struct Listing {
    const char* file;
    std::function<Options(const std::string&)> options;
};

TEST(Documentation, ManualAndCompletionsOfferExactlyTheOptionsOfHelp) {
    const Options expected = helpOptions();
    ASSERT_EQ(expected, (Options{"-s", "-t1", "-t2", "-i", "-l", "-m", "-p", "-0", "--null", "-h",
                                 "--help", "--version"}));
    const std::vector<Listing> listings = {
        {"docs/man/tagsnip-cli.1.in", manualOptions},
        {"data/completion/tagsnip-cli.bash", bashOptions},
        {"data/completion/_tagsnip-cli", zshOptions},
        {"data/completion/tagsnip-cli.fish", fishOptions},
    };
    for (const Listing& listing : listings) {
        const std::string text = test::readFile(std::string(TAGSNIP_SOURCE_DIR "/") + listing.file);
        EXPECT_EQ(listing.options(text), expected) << listing.file;
    }
}

}  // namespace
}  // namespace tagsnip::cli
