#include "store_tree.h"

#include <algorithm>
#include <cstdio>

namespace tagsnip {

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

bool validKeyName(const std::string& name) {
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

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = lowerAscii(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

// Reads a quoted string at position; on success leaves position after the closing quote.
std::optional<std::string> readQuoted(const std::string& line, std::size_t& position) {
    if (position >= line.size() || line[position] != '"') {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = position + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            position = i + 1;
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (i + 1 >= line.size()) {
            return std::nullopt;
        }
        const char escaped = line[++i];
        if (escaped == '"' || escaped == '\\') {
            text += escaped;
        } else if (escaped == 'x' && i + 2 < line.size() && hexDigit(line[i + 1]) >= 0 &&
                   hexDigit(line[i + 2]) >= 0) {
            text += static_cast<char>(hexDigit(line[i + 1]) * 16 + hexDigit(line[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> readDword(const std::string& digits) {
    if (digits.size() != 8) {
        return std::nullopt;
    }
    std::uint32_t number = 0;
    for (char c : digits) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return number;
}

std::optional<StoreValue> readValue(const std::string& line, std::size_t position) {
    StoreValue value;
    const std::string rest = line.substr(position);
    if (rest.rfind("dword:", 0) == 0) {
        const auto number = readDword(rest.substr(6));
        if (!number) {
            return std::nullopt;
        }
        value.type = StoreValueType::dword;
        value.number = *number;
        return value;
    }
    if (rest.rfind("expand:", 0) == 0) {
        value.type = StoreValueType::expandString;
        position += 7;
    }
    auto text = readQuoted(line, position);
    if (!text || position != line.size()) {
        return std::nullopt;
    }
    value.text = std::move(*text);
    return value;
}

bool parseValueLine(const std::string& line, StoreNode& node) {
    std::size_t position = 0;
    auto name = readQuoted(line, position);
    if (!name || position >= line.size() || line[position] != '=') {
        return false;
    }
    auto value = readValue(line, position + 1);
    if (!value || node.findValue(*name) != nullptr) {
        return false;
    }
    node.values.push_back({std::move(*name), std::move(*value)});
    return true;
}

StoreNode* parseSection(const std::string& line, StoreTree& tree) {
    if (line.size() < 3 || line.back() != ']') {
        return nullptr;
    }
    const std::string inner = line.substr(1, line.size() - 2);
    const std::size_t separator = inner.find('\\');
    StoreKeyPath path;
    path.root = inner.substr(0, separator);
    auto names = splitKeyPath(separator == std::string::npos ? "" : inner.substr(separator));
    if (!validKeyName(path.root) || !names) {
        return nullptr;
    }
    path.names = std::move(*names);
    return tree.create(path);
}

bool blank(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

}  // namespace

bool NameLess::operator()(const std::string& left, const std::string& right) const {
    return std::lexicographical_compare(
        left.begin(), left.end(), right.begin(), right.end(),
        [](char a, char b) { return lowerAscii(a) < lowerAscii(b); });
}

bool sameName(const std::string& left, const std::string& right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

NamedValue* StoreNode::findValue(const std::string& valueName) {
    auto found = std::find_if(values.begin(), values.end(), [&](const NamedValue& value) {
        return sameName(value.name, valueName);
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

std::optional<std::vector<std::string>> splitKeyPath(const std::string& path) {
    std::string trimmed = path;
    if (!trimmed.empty() && trimmed.front() == '\\') {
        trimmed.erase(0, 1);
    }
    if (!trimmed.empty() && trimmed.back() == '\\') {
        trimmed.pop_back();
    }
    std::vector<std::string> names;
    if (trimmed.empty()) {
        return names;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = trimmed.find('\\', start);
        names.push_back(trimmed.substr(start, end - start));
        if (!validKeyName(names.back())) {
            return std::nullopt;
        }
        if (end == std::string::npos) {
            return names;
        }
        start = end + 1;
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

std::optional<StoreTree> parseStoreTree(const std::string& text) {
    StoreTree tree;
    StoreNode* section = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (blank(line) || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
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
