// Preloaded into tagsnip-cli by the signal tests (LD_PRELOAD): raises a signal in the program
// right before its first call of one C library function whose name argument holds a given text,
// so that the signal comes at an exact moment of the run and the program needs no hook of its
// own. Read from the environment:
//   TAGSNIP_SIGNAL_CALL    open, openat, mkdirat, renameat (the new name), ftruncate, write (the
//                          bytes) or fcntl
//   TAGSNIP_SIGNAL_MATCH   the text; without it, the first call
//   TAGSNIP_SIGNAL_NUMBER  the signal
// It also gives the program a process group of its own, which its parent outside keeps from
// being orphaned: the kernel drops a stop by SIGTSTP in an orphaned group, as in a test run
// started in the background of a shell that has gone.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* wantedCall = nullptr;
const char* wantedText = nullptr;
int signalNumber = 0;
bool raised = false;

// Looked up before the program runs: fcntl is called from its signal handlers too.
decltype(&::open) realOpen = nullptr;
decltype(&::openat) realOpenAt = nullptr;
decltype(&::mkdirat) realMkdirAt = nullptr;
decltype(&::renameat) realRenameAt = nullptr;
decltype(&::ftruncate) realTruncate = nullptr;
decltype(&::write) realWrite = nullptr;
decltype(&::fcntl) realFcntl = nullptr;

template <typename Function>
void lookUp(Function& real, const char* name) {
    real = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

[[gnu::constructor]] void setUp() {
    setpgid(0, 0);
    lookUp(realOpen, "open");
    lookUp(realOpenAt, "openat");
    lookUp(realMkdirAt, "mkdirat");
    lookUp(realRenameAt, "renameat");
    lookUp(realTruncate, "ftruncate");
    lookUp(realWrite, "write");
    lookUp(realFcntl, "fcntl");
    wantedCall = std::getenv("TAGSNIP_SIGNAL_CALL");
    wantedText = std::getenv("TAGSNIP_SIGNAL_MATCH");
    const char* number = std::getenv("TAGSNIP_SIGNAL_NUMBER");
    signalNumber = number != nullptr ? std::atoi(number) : 0;
}

void raiseIfDue(const char* call, const void* text, std::size_t length) {
    if (raised || wantedCall == nullptr || std::strcmp(call, wantedCall) != 0) {
        return;
    }
    if (wantedText != nullptr &&
        (text == nullptr || memmem(text, length, wantedText, std::strlen(wantedText)) == nullptr)) {
        return;
    }
    raised = true;
    raise(signalNumber);
}

void raiseIfDue(const char* call, const char* name) {
    raiseIfDue(call, name, name != nullptr ? std::strlen(name) : 0);
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    raiseIfDue("open", path);
    return realOpen(path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    raiseIfDue("openat", path);
    return realOpenAt(directory, path, flags, mode);
}

int mkdirat(int directory, const char* path, mode_t mode) {
    raiseIfDue("mkdirat", path);
    return realMkdirAt(directory, path, mode);
}

int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
    raiseIfDue("renameat", to);
    return realRenameAt(fromDirectory, from, toDirectory, to);
}

int ftruncate(int fd, off_t length) {
    raiseIfDue("ftruncate", nullptr);
    return realTruncate(fd, length);
}

ssize_t write(int fd, const void* data, size_t length) {
    raiseIfDue("write", data, length);
    return realWrite(fd, data, length);
}

// As the C library itself reads it: one argument of pointer size, whatever the command.
int fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    raiseIfDue("fcntl", nullptr);
    return realFcntl(fd, command, argument);
}
}
