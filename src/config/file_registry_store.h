#pragma once

#include "message_callback.h"
#include "registry_store.h"
#include "store_tree.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

class QLockFile;

namespace tagsnip {

// The store file: TAGSNIP_REGISTRY when set, else tagsnip/registry.txt in the user's
// configuration directory ($XDG_CONFIG_HOME, else ~/.config).
std::string defaultRegistryPath();

// The whole store in one human-readable file shared by every instance. From the first open key
// to the last close the file is locked against other processes and held in memory; changes are
// written atomically before the call that made them returns. A file that cannot be parsed reads
// as an empty store and is moved aside, with one message to the user, before a new store is
// written over its name.
//
// Not built on QSettings::registerFormat: with Qt 6.4 on Linux it ignores Qt::CaseInsensitive,
// splits names at "/", drops keys that hold no value, sorts values by name, writes over a file
// its reader rejected, and its sync() waits forever on the same "<file>.lock" that this store
// holds while keys are open.
class FileRegistryStore final : public RegistryStore {
public:
    FileRegistryStore(std::string path, MessageCallback notify);
    ~FileRegistryStore() override;
    FileRegistryStore(const FileRegistryStore&) = delete;
    FileRegistryStore& operator=(const FileRegistryStore&) = delete;

    const std::string& path() const { return m_path; }

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
    class Use;

    bool beginUse();
    void endUse();
    bool loadLocked();
    StoreStatus writeBack();
    bool moveCorruptFileAside();
    std::optional<StoreKeyPath> pathOf(StoreKey key) const;
    std::optional<StoreKeyPath> pathBelow(StoreKey parent, const std::string& path) const;
    bool isOpen(StoreKey key);
    StoreNode* resolve(StoreKey key);
    StoreKey addHandle(StoreKeyPath path);
    StoreStatus openOrCreate(StoreKey parent, const std::string& path, StoreKey& key, bool create);
    // Runs action on the key's node while the store is locked; fails for a dead handle.
    template <typename Action>
    StoreStatus withNode(StoreKey key, Action action);
    StoreStatus setValue(StoreKey key, const std::string& name, const StoreValue& value);

    std::string m_path;
    MessageCallback m_notify;
    std::unique_ptr<QLockFile> m_lock;
    int m_users = 0;
    bool m_corrupt = false;
    StoreTree m_tree;
    std::string m_pendingNotice;
    std::map<StoreKey, StoreKeyPath> m_handles;
    StoreKey m_nextHandle = 1;
};

}  // namespace tagsnip
