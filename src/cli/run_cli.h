#pragma once

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

namespace tagsnip::cli {

struct CliEnvironment {
    // Draw a progress line on err, which is a terminal of this many columns; 0 for none.
    std::size_t progressWidth = 0;
    // The number of the signal (SIGINT, SIGTERM, SIGHUP) that asked the program to stop, set by
    // its handler: the walk stops after the file at hand.
    const volatile std::sig_atomic_t* interrupt = nullptr;
    // Where out keeps the errno of a failed write, so that the message can say why.
    const int* outputError = nullptr;
};

// The whole tagsnip-cli program; arguments exclude the program name. Returns the exit status.
int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment = {});

}  // namespace tagsnip::cli
