#pragma once

#include "config/registry_store.h"

#include <optional>
#include <set>
#include <string>

namespace tagsnip::test {

// Reads one value of a key below HKEY_LOCAL_MACHINE; nothing when the key or value is missing.
std::optional<StoreValue> storedValue(RegistryStore& store, const std::string& keyPath,
                                      const std::string& name);
bool keyExists(RegistryStore& store, const std::string& keyPath);
void putString(RegistryStore& store, const std::string& keyPath, const std::string& name,
               const std::string& text);
void putDword(RegistryStore& store, const std::string& keyPath, const std::string& name,
              std::uint32_t number);

// Passes every call on, except that reading or writing one named value fails, and counts the
// keys left open.
class FailingStore final : public RegistryStore {
public:
    explicit FailingStore(RegistryStore& inner) : m_inner(inner) {}

    std::string failQuery;
    std::string failSet;
    bool failCreate = false;
    int openKeys = 0;
    std::set<std::string> written;

    StoreStatus openKey(StoreKey parent, const std::string& path, StoreKey& key) override;
    StoreStatus createKey(StoreKey parent, const std::string& path, StoreKey& key) override;
    StoreStatus queryValue(StoreKey key, const std::string& name, StoreValue& value) override;
    StoreStatus setStringValue(StoreKey key, const std::string& name,
                               const std::string& text) override;
    StoreStatus setDwordValue(StoreKey key, const std::string& name, std::uint32_t number) override;
    StoreStatus deleteValue(StoreKey key, const std::string& name) override;
    StoreStatus countSubkeys(StoreKey key, std::size_t& count) override;
    StoreStatus enumSubkey(StoreKey key, std::size_t index, std::string& name) override;
    StoreStatus deleteKey(StoreKey parent, const std::string& path) override;
    void closeKey(StoreKey key) override;

private:
    RegistryStore& m_inner;
};

}  // namespace tagsnip::test
