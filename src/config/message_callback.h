#pragma once

#include <functional>
#include <string>

namespace tagsnip {

// Shows one text to the user in a modal box and returns once the box is closed.
using MessageCallback = std::function<void(const std::string& text)>;

}  // namespace tagsnip
