#include "store_tree.h"

#include "engine/ascii_case.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace tagsnip {

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

bool validKeyName(std::string_view name) {
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        return isControl(static_cast<unsigned char>(c));
    });
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (isControl(byte)) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string formattedValue(const StoreValue& value) {
    switch (value.type) {
        case StoreValueType::string:
            return quoted(value.text);
        case StoreValueType::expandString:
            return "expand:" + quoted(value.text);
        case StoreValueType::dword:
            break;
    }
    char number[9];
    std::snprintf(number, sizeof number, "%08x", value.number);
    return std::string("dword:") + number;
}

void formatNode(const StoreNode& node, const std::string& path, std::string& out) {
    out += "[" + path + "]\n";
    for (const NamedValue& value : node.values) {
        out += quoted(value.name) + "=" + formattedValue(value.value) + "\n";
    }
    for (const auto& [name, subkey] : node.subkeys) {
        formatNode(*subkey, path + "\\" + name, out);
    }
}

// All of digits as one hexadecimal number; a number too large for Number is malformed too.
template <typename Number>
std::optional<Number> parseHex(std::string_view digits) {
    Number number = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, number, 16);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return number;
}

// \" and \\ stand for themselves, \xHH for any byte. Consumes the escape from rest.
std::optional<char> readEscape(std::string_view& rest) {
    if (rest.starts_with('"') || rest.starts_with('\\')) {
        const char escaped = rest.front();
        rest.remove_prefix(1);
        return escaped;
    }
    if (!rest.starts_with('x') || rest.size() < 3) {
        return std::nullopt;
    }
    const auto byte = parseHex<unsigned char>(rest.substr(1, 2));
    rest.remove_prefix(3);
    return byte ? std::optional<char>(static_cast<char>(*byte)) : std::nullopt;
}

// Reads a quoted string at the front of rest and consumes it, closing quote included.
std::optional<std::string> readQuoted(std::string_view& rest) {
    if (!rest.starts_with('"')) {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    std::string text;
    while (!rest.empty()) {
        const char c = rest.front();
        rest.remove_prefix(1);
        if (c == '"') {
            return text;
        }
        if (c != '\\') {
            text += c;
        } else if (const auto escaped = readEscape(rest)) {
            text += *escaped;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<StoreValue> readValue(std::string_view rest) {
    if (rest.starts_with("dword:")) {
        rest.remove_prefix(6);
        // Always eight digits, as a registry export writes them.
        const auto number = rest.size() == 8 ? parseHex<std::uint32_t>(rest) : std::nullopt;
        if (!number) {
            return std::nullopt;
        }
        return StoreValue{.type = StoreValueType::dword, .text = {}, .number = *number};
    }
    StoreValue value;
    if (rest.starts_with("expand:")) {
        value.type = StoreValueType::expandString;
        rest.remove_prefix(7);
    }
    auto text = readQuoted(rest);
    if (!text || !rest.empty()) {
        return std::nullopt;
    }
    value.text = std::move(*text);
    return value;
}

bool parseValueLine(std::string_view line, StoreNode& node) {
    auto name = readQuoted(line);
    if (!name || !line.starts_with('=')) {
        return false;
    }
    auto value = readValue(line.substr(1));
    if (!value || node.findValue(*name) != nullptr) {
        return false;
    }
    node.values.push_back({std::move(*name), std::move(*value)});
    return true;
}

// line starts with "[".
StoreNode* parseSection(std::string_view line, StoreTree& tree) {
    if (!line.ends_with(']')) {
        return nullptr;
    }
    const std::string_view inner = line.substr(1, line.size() - 2);
    const std::size_t separator = inner.find('\\');
    StoreKeyPath path;
    path.root = inner.substr(0, separator);
    auto names = splitKeyPath(separator == std::string_view::npos ? std::string_view()
                                                                  : inner.substr(separator));
    if (!validKeyName(path.root) || !names) {
        return nullptr;
    }
    path.names = std::move(*names);
    return tree.create(path);
}

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

bool NameLess::operator()(const std::string& left, const std::string& right) const {
    return lessIgnoringAsciiCase(left, right);
}

NamedValue* StoreNode::findValue(const std::string& valueName) {
    auto found = std::find_if(values.begin(), values.end(), [&](const NamedValue& value) {
        return equalIgnoringAsciiCase(value.name, valueName);
    });
    return found == values.end() ? nullptr : &*found;
}

StoreNode* StoreTree::find(const StoreKeyPath& path) {
    auto root = roots.find(path.root);
    if (root == roots.end()) {
        return nullptr;
    }
    StoreNode* node = root->second.get();
    for (const std::string& name : path.names) {
        auto subkey = node->subkeys.find(name);
        if (subkey == node->subkeys.end()) {
            return nullptr;
        }
        node = subkey->second.get();
    }
    return node;
}

StoreNode* StoreTree::create(const StoreKeyPath& path) {
    auto& root = roots[path.root];
    if (!root) {
        root = std::make_unique<StoreNode>();
    }
    StoreNode* node = root.get();
    for (const std::string& name : path.names) {
        auto& subkey = node->subkeys[name];
        if (!subkey) {
            subkey = std::make_unique<StoreNode>();
        }
        node = subkey.get();
    }
    return node;
}

std::optional<std::string> rootName(StoreKey key) {
    switch (key) {
        case currentUserRoot:
            return "HKEY_CURRENT_USER";
        case localMachineRoot:
            return "HKEY_LOCAL_MACHINE";
        default:
            return std::nullopt;
    }
}

std::optional<std::vector<std::string>> splitKeyPath(std::string_view path) {
    if (path.starts_with('\\')) {
        path.remove_prefix(1);
    }
    if (path.ends_with('\\')) {
        path.remove_suffix(1);
    }
    std::vector<std::string> names;
    if (path.empty()) {
        return names;
    }
    while (true) {
        const std::size_t end = path.find('\\');
        names.emplace_back(path.substr(0, end));
        if (!validKeyName(names.back())) {
            return std::nullopt;
        }
        if (end == std::string_view::npos) {
            return names;
        }
        path.remove_prefix(end + 1);
    }
}

std::string formatStoreTree(const StoreTree& tree) {
    std::string out =
        "; Tallowmere registry store. Keys: [ROOT\\key\\subkey]. Values: \"name\"=\"text\", "
        "\"name\"=expand:\"text\", \"name\"=dword:0000012c.\n";
    for (const auto& [name, root] : tree.roots) {
        formatNode(*root, name, out);
    }
    return out;
}

std::optional<StoreTree> parseStoreTree(std::string_view text) {
    StoreTree tree;
    StoreNode* section = nullptr;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (blank(line) || line.starts_with(';')) {
            continue;
        }
        if (line.starts_with('[')) {
            section = parseSection(line, tree);
            if (section == nullptr) {
                return std::nullopt;
            }
        } else if (section == nullptr || !parseValueLine(line, *section)) {
            return std::nullopt;
        }
    }
    return tree;
}

}  // namespace tagsnip
