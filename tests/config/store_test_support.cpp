#include "store_test_support.h"

#include <gtest/gtest.h>

namespace tagsnip::test {

std::optional<StoreValue> storedValue(RegistryStore& store, const std::string& keyPath,
                                      const std::string& name) {
    ScopedStoreKey key(store);
    if (store.openKey(localMachineRoot, keyPath, key.handle()) != StoreStatus::success) {
        return std::nullopt;
    }
    StoreValue value;
    if (store.queryValue(key.get(), name, value) != StoreStatus::success) {
        return std::nullopt;
    }
    return value;
}

bool keyExists(RegistryStore& store, const std::string& keyPath) {
    ScopedStoreKey key(store);
    return store.openKey(localMachineRoot, keyPath, key.handle()) == StoreStatus::success;
}

void putString(RegistryStore& store, const std::string& keyPath, const std::string& name,
               const std::string& text) {
    ScopedStoreKey key(store);
    ASSERT_EQ(store.createKey(localMachineRoot, keyPath, key.handle()), StoreStatus::success);
    ASSERT_EQ(store.setStringValue(key.get(), name, text), StoreStatus::success);
}

void putDword(RegistryStore& store, const std::string& keyPath, const std::string& name,
              std::uint32_t number) {
    ScopedStoreKey key(store);
    ASSERT_EQ(store.createKey(localMachineRoot, keyPath, key.handle()), StoreStatus::success);
    ASSERT_EQ(store.setDwordValue(key.get(), name, number), StoreStatus::success);
}

StoreStatus FailingStore::openKey(StoreKey parent, const std::string& path, StoreKey& key) {
    const StoreStatus status = m_inner.openKey(parent, path, key);
    openKeys += status == StoreStatus::success ? 1 : 0;
    return status;
}

StoreStatus FailingStore::createKey(StoreKey parent, const std::string& path, StoreKey& key) {
    if (failCreate) {
        return StoreStatus::failed;
    }
    const StoreStatus status = m_inner.createKey(parent, path, key);
    openKeys += status == StoreStatus::success ? 1 : 0;
    return status;
}

StoreStatus FailingStore::queryValue(StoreKey key, const std::string& name, StoreValue& value) {
    return name == failQuery ? StoreStatus::failed : m_inner.queryValue(key, name, value);
}

StoreStatus FailingStore::setStringValue(StoreKey key, const std::string& name,
                                         const std::string& text) {
    if (name == failSet) {
        return StoreStatus::failed;
    }
    written.insert(name);
    return m_inner.setStringValue(key, name, text);
}

StoreStatus FailingStore::setDwordValue(StoreKey key, const std::string& name,
                                        std::uint32_t number) {
    if (name == failSet) {
        return StoreStatus::failed;
    }
    written.insert(name);
    return m_inner.setDwordValue(key, name, number);
}

StoreStatus FailingStore::deleteValue(StoreKey key, const std::string& name) {
    return m_inner.deleteValue(key, name);
}

StoreStatus FailingStore::countSubkeys(StoreKey key, std::size_t& count) {
    return m_inner.countSubkeys(key, count);
}

StoreStatus FailingStore::enumSubkey(StoreKey key, std::size_t index, std::string& name) {
    return m_inner.enumSubkey(key, index, name);
}

StoreStatus FailingStore::deleteKey(StoreKey parent, const std::string& path) {
    return m_inner.deleteKey(parent, path);
}

void FailingStore::closeKey(StoreKey key) {
    --openKeys;
    m_inner.closeKey(key);
}

}  // namespace tagsnip::test
