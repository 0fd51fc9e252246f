#include "descriptor_output.h"
#include "exit_status.h"
#include "run_cli.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
}

// Before main and the program's own static initialisers, so that a signal sent right after the
// program was started already finds the handler. Only while the dynamic loader runs, before any
// code of the program, does a signal still meet the default action.
[[gnu::constructor(101)]] void handleStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(signal, &action, &previous);
        // Ignored by whoever started us (nohup, a background job of a script): it stays so.
        if (previous.sa_handler == SIG_IGN) {
            sigaction(signal, &previous, nullptr);
        }
    }
}

// The status is final once the output is complete: a stop signal that comes later waits, blocked,
// and goes with the process; one that came after the run last looked still makes it 128+N.
int finalStatus(int status) {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stops, signal);
    }
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    if (status == tagsnip::cli::exitDone && stopSignal != 0) {
        return tagsnip::cli::exitSignalBase + stopSignal;
    }
    return status;
}

// A closed standard descriptor would be handed to the next file the run opens, and the report
// would be written into a user's MP3 file. Hold it with /dev/null opened read-only instead, so
// that every write to it fails and is reported.
void holdClosedStandardDescriptors() {
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            const int held = open("/dev/null", O_RDONLY);
            if (held >= 0 && held != descriptor) {
                dup2(held, descriptor);
                close(held);
            }
        }
    }
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
    holdClosedStandardDescriptors();
    std::ios::sync_with_stdio(false);
    tagsnip::cli::DescriptorOutput standardOutput(STDOUT_FILENO);
    std::ostream out(&standardOutput);

    tagsnip::cli::CliEnvironment environment;
    environment.interrupt = &stopSignal;
    environment.outputError = &standardOutput.error();
    if (isatty(STDERR_FILENO) != 0) {
        environment.progressWidth = terminalWidth();
    }
    return finalStatus(tagsnip::cli::runCli({argv + 1, argv + argc}, out, std::cerr, environment));
}
