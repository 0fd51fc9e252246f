#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tagsnip {

// A handle to an open key. The predefined roots are always open and are never closed.
using StoreKey = std::uint32_t;
inline constexpr StoreKey invalidStoreKey = 0;
inline constexpr StoreKey currentUserRoot = 0x80000001u;
inline constexpr StoreKey localMachineRoot = 0x80000002u;

enum class StoreStatus {
    success,
    notFound,
    // Not accessible, not writable, or the key was removed while open.
    failed,
};

enum class StoreValueType {
    string,
    // A string that a registry would expand on request; read unexpanded.
    expandString,
    dword,
};

struct StoreValue {
    StoreValueType type = StoreValueType::string;
    std::string text;
    std::uint32_t number = 0;

    bool operator==(const StoreValue&) const = default;
};

// A hierarchical key/value store with the operations of a registry. Key paths are relative to
// the parent key, their parts separated by "\"; a leading or trailing "\" is allowed. Key and
// value names compare without regard to ASCII case.
class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    // Opens an existing key.
    [[nodiscard]] virtual StoreStatus openKey(StoreKey parent, const std::string& path,
                                              StoreKey& key) = 0;
    // Opens a key, creating it and every missing parent.
    [[nodiscard]] virtual StoreStatus createKey(StoreKey parent, const std::string& path,
                                                StoreKey& key) = 0;
    [[nodiscard]] virtual StoreStatus queryValue(StoreKey key, const std::string& name,
                                                 StoreValue& value) = 0;
    // A string is stored up to its first zero byte.
    [[nodiscard]] virtual StoreStatus setStringValue(StoreKey key, const std::string& name,
                                                     const std::string& text) = 0;
    [[nodiscard]] virtual StoreStatus setDwordValue(StoreKey key, const std::string& name,
                                                    std::uint32_t number) = 0;
    [[nodiscard]] virtual StoreStatus deleteValue(StoreKey key, const std::string& name) = 0;
    [[nodiscard]] virtual StoreStatus countSubkeys(StoreKey key, std::size_t& count) = 0;
    // The name of the subkey at index, subkeys sorted by name.
    [[nodiscard]] virtual StoreStatus enumSubkey(StoreKey key, std::size_t index,
                                                 std::string& name) = 0;
    // Deletes a key with its values; fails while it still has subkeys.
    [[nodiscard]] virtual StoreStatus deleteKey(StoreKey parent, const std::string& path) = 0;
    virtual void closeKey(StoreKey key) = 0;
};

// Closes its key on every path out of a scope.
class ScopedStoreKey {
public:
    explicit ScopedStoreKey(RegistryStore& store) : m_store(store) {}
    ~ScopedStoreKey() {
        if (m_key != invalidStoreKey) {
            m_store.closeKey(m_key);
        }
    }
    ScopedStoreKey(const ScopedStoreKey&) = delete;
    ScopedStoreKey& operator=(const ScopedStoreKey&) = delete;

    StoreKey& handle() { return m_key; }
    StoreKey get() const { return m_key; }

private:
    RegistryStore& m_store;
    StoreKey m_key = invalidStoreKey;
};

}  // namespace tagsnip
