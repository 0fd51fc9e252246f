#include "io_error_text.h"

#include "file_system.h"

#include <cerrno>

namespace tagsnip {

std::string ioErrorText(std::error_code error) {
    if (error.category() == make_error_code(EngineError::readBeyondEnd).category()) {
        return error.message();
    }
    switch (error.value()) {
        case ENOENT:
            return "File not found";
        case ENAMETOOLONG:
        case EINVAL:
            return "Invalid filename";
        case EMFILE:
        case ENFILE:
            return "Too many open files";
        case EACCES:
        case EPERM:
            return "File access denied";
        case ENOSPC:
        case EDQUOT:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(error.value());
    }
}

}  // namespace tagsnip
