#pragma once

#include <string>
#include <system_error>

namespace tagsnip {

// The text shown for an input/output error on a file, chosen by the error's meaning.
std::string ioErrorText(std::error_code error);

}  // namespace tagsnip
