#include "cli/cli_options.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace tagsnip::cli {
namespace {

// Plain string work instead of <regex>: GCC 12 warns inside std::regex under the sanitizers.
using Options = std::set<std::string>;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream stream(line);
    for (std::string word; stream >> word;) {
        result.push_back(word);
    }
    return result;
}

std::string without(std::string text, const std::string& characters) {
    std::erase_if(text, [&](char c) { return characters.find(c) != std::string::npos; });
    return text;
}

// The options --help lists: the first column of its indented lines, "-h, --help" being two, and
// an option's value ("--restore DIR/RUN") left out.
Options helpOptions() {
    Options found;
    for (const std::string& line : split(cliUsageText, '\n')) {
        if (line.rfind("  -", 0) != 0) {
            continue;
        }
        for (const std::string& option : split(line.substr(2, line.find("  ", 2) - 2), ',')) {
            found.insert(words(option).front());
        }
    }
    return found;
}

// The manual's OPTIONS section: the words beginning with "\-" on the line after every .TP.
Options manualOptions(const std::string& text) {
    const std::vector<std::string> lines = split(text, '\n');
    Options found;
    bool inOptions = false;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind(".SH", 0) == 0) {
            inOptions = lines[i] == ".SH OPTIONS";
        }
        if (!inOptions || lines[i] != ".TP") {
            continue;
        }
        for (const std::string& word : words(lines[i + 1])) {
            if (word.rfind("\\-", 0) == 0) {
                found.insert(without(word, "\\"));
            }
        }
    }
    return found;
}

// The word list given to compgen -W; "--" ends the options and is no option itself.
Options bashOptions(const std::string& text) {
    const std::size_t begin = text.find("-W '") + 4;
    const std::vector<std::string> list = words(text.substr(begin, text.find('\'', begin) - begin));
    Options found(list.begin(), list.end());
    found.erase("--");
    return found;
}

// The _arguments specs: what stands before "[", without the "(...)" exclusion list.
Options zshOptions(const std::string& text) {
    Options found;
    for (std::string line : split(text, '\n')) {
        const std::size_t description = line.find('[');
        if (description == std::string::npos) {
            continue;
        }
        line.resize(description);
        if (const std::size_t open = line.find('('); open != std::string::npos) {
            line.erase(open, line.find(')') - open + 1);
        }
        for (const std::string& option : split(without(line, " '{}"), ',')) {
            found.insert(option);
        }
    }
    return found;
}

// complete's -o (old style, "-t1"), -s (short) and -l (long) arguments.
Options fishOptions(const std::string& text) {
    const std::map<std::string, std::string> prefixes = {{"-o", "-"}, {"-s", "-"}, {"-l", "--"}};
    Options found;
    for (const std::string& line : split(text, '\n')) {
        const std::vector<std::string> list = words(line);
        for (std::size_t i = 0; i + 1 < list.size(); ++i) {
            if (const auto prefix = prefixes.find(list[i]); prefix != prefixes.end()) {
                found.insert(prefix->second + list[i + 1]);
            }
        }
    }
    return found;
}

struct Listing {
    const char* file;
    std::function<Options(const std::string&)> options;
};

TEST(Documentation, ManualAndCompletionsOfferExactlyTheOptionsOfHelp) {
    const Options expected = helpOptions();
    ASSERT_EQ(expected, (Options{"-s", "-t1", "-t2", "-a", "--all-tags", "--formats", "-i", "-l",
                                 "-m", "-p", "-x", "--one-file-system", "-0", "--null",
                                 "--keep-removed", "--restore", "-h", "--help", "--version"}));
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
