#pragma once

#include <cstdint>

namespace tagsnip {

enum class TagState : std::int32_t {
    notExamined = 0,
    found = 1,
    absent = 2,
};

inline const char* markOf(TagState state) {
    switch (state) {
        case TagState::found:
            return "X";
        case TagState::absent:
            return "-";
        case TagState::notExamined:
            break;
    }
    return "?";
}

}  // namespace tagsnip
