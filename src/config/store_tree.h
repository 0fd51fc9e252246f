#pragma once

#include "registry_store.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagsnip {

struct NameLess {
    bool operator()(const std::string& left, const std::string& right) const;
};

struct NamedValue {
    std::string name;
    StoreValue value;
};

// A key; its name is the key it is filed under in its parent's map.
struct StoreNode {
    // In the order they were first written.
    std::vector<NamedValue> values;
    std::map<std::string, std::unique_ptr<StoreNode>, NameLess> subkeys;

    NamedValue* findValue(const std::string& valueName);
};

// A root's name ("HKEY_LOCAL_MACHINE") followed by the key names below it.
struct StoreKeyPath {
    std::string root;
    std::vector<std::string> names;
};

// Every root with its keys, other products' keys included.
struct StoreTree {
    std::map<std::string, std::unique_ptr<StoreNode>, NameLess> roots;

    StoreNode* find(const StoreKeyPath& path);
    StoreNode* create(const StoreKeyPath& path);
};

std::optional<std::string> rootName(StoreKey key);
// Splits "\Software\Tallowmere\" into its names; nothing when a name is empty in the middle.
std::optional<std::vector<std::string>> splitKeyPath(std::string_view path);

// The file's text: one "[ROOT\key\subkey]" section per key, each followed by its values as
// "name"="text", "name"=expand:"text" or "name"=dword:0000012c.
std::string formatStoreTree(const StoreTree& tree);
// Nothing when the text is not a well-formed store file.
std::optional<StoreTree> parseStoreTree(std::string_view text);

}  // namespace tagsnip
