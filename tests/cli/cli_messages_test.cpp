#include "cli/cli_host.h"
#include "support/message_cases.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

namespace tagsnip::test {

void PrintTo(const MessageCase& messageCase, std::ostream* os) {
    *os << messageCase.name;
}

}  // namespace tagsnip::test

namespace tagsnip::cli {
namespace {

using test::MessageCase;
using test::PreparedCase;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        found.push_back(line);
    }
    return found;
}

class CliMessages : public ::testing::TestWithParam<MessageCase> {};

// The tool keeps each text's leading words and gives the cause in words where the window gives
// a number or nothing.
TEST_P(CliMessages, CarryTheCauseInWords) {
    PreparedCase prepared(GetParam());
    if (!prepared.skipReason().empty()) {
        GTEST_SKIP() << prepared.skipReason();
    }
    RunRequest request;
    request.directory = prepared.library();
    request.switches[GetParam().on] = true;
    std::ostringstream out;
    std::ostringstream err;
    CliHost host(request, out, err, nullptr, nullptr);
    prepared.run(host);

    const std::vector<std::string> shown = lines(err.str());
    EXPECT_EQ(shown, std::vector<std::string>{prepared.expected(MessageStyle::words)});
    for (const std::string& line : shown) {
        EXPECT_FALSE(!line.empty() && std::isdigit(static_cast<unsigned char>(line.back())))
            << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, CliMessages, ::testing::ValuesIn(test::messageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::cli
