#include "line_escaping.h"

namespace tagsnip {
namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xc0) == 0x80;
}

// Length of the valid UTF-8 sequence at the start of bytes, or 0 when it is not one. Overlong
// forms, surrogates and code points above U+10FFFF are invalid.
std::size_t utf8SequenceLength(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || bytes.size() < length) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(bytes[1]);
    if (second < low || second > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(bytes[i]))) {
            return 0;
        }
    }
    return length;
}

// Terminals act on C1 controls too: U+009B alone starts an escape sequence on some of them.
bool isC1Control(std::string_view sequence) {
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xc2 &&
           static_cast<unsigned char>(sequence[1]) < 0xa0;
}

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f;
}

void appendHexEscape(std::string& text, unsigned char byte) {
    static constexpr char digits[] = "0123456789abcdef";
    text += "\\x";
    text += digits[byte >> 4];
    text += digits[byte & 0x0f];
}

void appendAsciiByte(std::string& text, char byte) {
    switch (byte) {
        case '\\':
            text += "\\\\";
            return;
        case '\t':
            text += "\\t";
            return;
        case '\n':
            text += "\\n";
            return;
        case '\r':
            text += "\\r";
            return;
        default:
            break;
    }
    if (isControl(static_cast<unsigned char>(byte))) {
        appendHexEscape(text, static_cast<unsigned char>(byte));
        return;
    }
    text += byte;
}

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

// Reads the escape at the start of text (just after its backslash) into bytes; gives how many
// characters it took, or 0 when it is not one.
std::size_t takeEscape(std::string_view text, std::string& bytes) {
    if (text.empty()) {
        return 0;
    }
    switch (text[0]) {
        case '\\':
            bytes += '\\';
            return 1;
        case 't':
            bytes += '\t';
            return 1;
        case 'n':
            bytes += '\n';
            return 1;
        case 'r':
            bytes += '\r';
            return 1;
        case 'x':
            break;
        default:
            return 0;
    }
    if (text.size() < 3) {
        return 0;
    }
    const int high = hexValue(text[1]);
    const int low = hexValue(text[2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) {
        return 0;
    }
    bytes += static_cast<char>(high << 4 | low);
    return 3;
}

}  // namespace

std::string escapeForLine(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            appendAsciiByte(text, bytes[i]);
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(bytes.substr(i));
        const std::string_view sequence = bytes.substr(i, length);
        if (length == 0 || isC1Control(sequence)) {
            const std::size_t escaped = length == 0 ? 1 : length;
            for (std::size_t k = 0; k < escaped; ++k) {
                appendHexEscape(text, static_cast<unsigned char>(bytes[i + k]));
            }
            i += escaped;
            continue;
        }
        text += sequence;
        i += length;
    }
    return text;
}

bool unescapeLine(std::string_view text, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isControl(static_cast<unsigned char>(text[i]))) {
            return false;
        }
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        const std::size_t taken = takeEscape(text.substr(i + 1), bytes);
        if (taken == 0) {
            return false;
        }
        i += taken;
    }
    return true;
}

}  // namespace tagsnip
