#include "run_cli.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iostream>

namespace {

volatile std::sig_atomic_t interruptRequested = 0;

void onInterrupt(int) {
    interruptRequested = 1;
}

std::size_t terminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    tagsnip::cli::CliEnvironment environment;
    environment.interrupt = &interruptRequested;
    if (isatty(STDERR_FILENO) != 0) {
        environment.progressWidth = terminalWidth();
    }
    return tagsnip::cli::runCli({argv + 1, argv + argc}, std::cout, std::cerr, environment);
}
