#include "file_registry_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdlib>
#include <utility>

namespace tagsnip {

namespace {

// Long enough for another instance to finish its own write, short enough not to hang a close.
constexpr int lockTimeoutMilliseconds = 10000;

QString qPath(const std::string& path) {
    return QString::fromStdString(path);
}

}  // namespace

// Keeps the store locked and loaded for the length of one operation.
class FileRegistryStore::Use {
public:
    explicit Use(FileRegistryStore& store) : m_store(store), m_ready(store.beginUse()) {}
    ~Use() {
        if (m_ready) {
            m_store.endUse();
        }
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    bool ready() const { return m_ready; }

private:
    FileRegistryStore& m_store;
    bool m_ready;
};

std::string defaultRegistryPath() {
    if (const char* path = std::getenv("TAGSNIP_REGISTRY"); path != nullptr && *path != '\0') {
        return path;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (config + "/tagsnip/registry.txt").toStdString();
}

FileRegistryStore::FileRegistryStore(std::string path, MessageCallback notify)
    : m_path(std::move(path)), m_notify(std::move(notify)) {}

FileRegistryStore::~FileRegistryStore() {
    while (!m_handles.empty()) {
        closeKey(m_handles.begin()->first);
    }
}

bool FileRegistryStore::beginUse() {
    if (m_users > 0) {
        ++m_users;
        return true;
    }
    if (!QDir().mkpath(QFileInfo(qPath(m_path)).absolutePath())) {
        return false;
    }
    m_lock = std::make_unique<QLockFile>(qPath(m_path + ".lock"));
    if (!m_lock->tryLock(lockTimeoutMilliseconds) || !loadLocked()) {
        m_lock.reset();
        return false;
    }
    m_users = 1;
    return true;
}

void FileRegistryStore::endUse() {
    if (--m_users > 0) {
        return;
    }
    m_tree = StoreTree();
    m_lock.reset();
    // Told only now, so that no other instance waits for the lock while the box is open.
    if (!m_pendingNotice.empty() && m_notify) {
        m_notify(std::exchange(m_pendingNotice, std::string()));
    }
}

bool FileRegistryStore::loadLocked() {
    m_tree = StoreTree();
    m_corrupt = false;
    QFile file(qPath(m_path));
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return false;
    }
    auto tree = parseStoreTree(std::string_view(bytes.constData(), bytes.size()));
    m_corrupt = !tree;
    if (tree) {
        m_tree = std::move(*tree);
    }
    return true;
}

bool FileRegistryStore::moveCorruptFileAside() {
    QString aside = qPath(m_path + ".corrupt");
    for (int number = 2; QFile::exists(aside); ++number) {
        aside = qPath(m_path + ".corrupt-" + std::to_string(number));
    }
    if (!QFile::rename(qPath(m_path), aside)) {
        return false;
    }
    m_corrupt = false;
    m_pendingNotice = "The settings store " + m_path + " could not be read; it has been kept as " +
                      aside.toStdString() + " and a new store started.";
    return true;
}

// Every change reaches the disk before the call that made it returns, so a failure can be
// reported as the failure of that call. On failure the file is unchanged and reloaded.
StoreStatus FileRegistryStore::writeBack() {
    QSaveFile file(qPath(m_path));
    const std::string text = formatStoreTree(m_tree);
    const bool written = (!m_corrupt || moveCorruptFileAside()) &&
                         file.open(QIODevice::WriteOnly) &&
                         file.write(text.data(), static_cast<qint64>(text.size())) ==
                             static_cast<qint64>(text.size()) &&
                         file.commit();
    if (!written) {
        loadLocked();
        return StoreStatus::failed;
    }
    return StoreStatus::success;
}

std::optional<StoreKeyPath> FileRegistryStore::pathOf(StoreKey key) const {
    if (auto root = rootName(key)) {
        return StoreKeyPath{*root, {}};
    }
    auto handle = m_handles.find(key);
    if (handle == m_handles.end()) {
        return std::nullopt;
    }
    return handle->second;
}

std::optional<StoreKeyPath> FileRegistryStore::pathBelow(StoreKey parent,
                                                         const std::string& path) const {
    auto parentPath = pathOf(parent);
    auto names = splitKeyPath(path);
    if (!parentPath || !names) {
        return std::nullopt;
    }
    parentPath->names.insert(parentPath->names.end(), names->begin(), names->end());
    return parentPath;
}

// A root is open even while nothing is stored under it; a handle only while its key exists.
bool FileRegistryStore::isOpen(StoreKey key) {
    return rootName(key) || resolve(key) != nullptr;
}

StoreNode* FileRegistryStore::resolve(StoreKey key) {
    auto path = pathOf(key);
    return path ? m_tree.find(*path) : nullptr;
}

StoreKey FileRegistryStore::addHandle(StoreKeyPath path) {
    while (m_nextHandle == invalidStoreKey || rootName(m_nextHandle) ||
           m_handles.count(m_nextHandle) != 0) {
        ++m_nextHandle;
    }
    const StoreKey key = m_nextHandle++;
    m_handles.emplace(key, std::move(path));
    // An open key keeps the store locked until it is closed.
    ++m_users;
    return key;
}

StoreStatus FileRegistryStore::openOrCreate(StoreKey parent, const std::string& path, StoreKey& key,
                                            bool create) {
    Use use(*this);
    const auto keyPath = pathBelow(parent, path);
    if (!use.ready() || !keyPath || !isOpen(parent)) {
        return StoreStatus::failed;
    }
    if (m_tree.find(*keyPath) == nullptr) {
        if (!create) {
            return StoreStatus::notFound;
        }
        m_tree.create(*keyPath);
        if (writeBack() != StoreStatus::success) {
            return StoreStatus::failed;
        }
    }
    key = addHandle(*keyPath);
    return StoreStatus::success;
}

StoreStatus FileRegistryStore::openKey(StoreKey parent, const std::string& path, StoreKey& key) {
    return openOrCreate(parent, path, key, false);
}

StoreStatus FileRegistryStore::createKey(StoreKey parent, const std::string& path, StoreKey& key) {
    return openOrCreate(parent, path, key, true);
}

template <typename Action>
StoreStatus FileRegistryStore::withNode(StoreKey key, Action action) {
    Use use(*this);
    StoreNode* node = use.ready() ? resolve(key) : nullptr;
    return node == nullptr ? StoreStatus::failed : action(*node);
}

StoreStatus FileRegistryStore::queryValue(StoreKey key, const std::string& name,
                                          StoreValue& value) {
    return withNode(key, [&](StoreNode& node) {
        const NamedValue* found = node.findValue(name);
        if (found == nullptr) {
            return StoreStatus::notFound;
        }
        value = found->value;
        return StoreStatus::success;
    });
}

StoreStatus FileRegistryStore::setValue(StoreKey key, const std::string& name,
                                        const StoreValue& value) {
    return withNode(key, [&](StoreNode& node) {
        NamedValue* existing = node.findValue(name);
        if (existing == nullptr) {
            node.values.push_back({name, value});
        } else if (existing->value == value) {
            return StoreStatus::success;
        } else {
            existing->value = value;
        }
        return writeBack();
    });
}

StoreStatus FileRegistryStore::setStringValue(StoreKey key, const std::string& name,
                                              const std::string& text) {
    return setValue(key, name,
                    {.type = StoreValueType::string, .text = text.substr(0, text.find('\0'))});
}

StoreStatus FileRegistryStore::setDwordValue(StoreKey key, const std::string& name,
                                             std::uint32_t number) {
    return setValue(key, name, {.type = StoreValueType::dword, .text = {}, .number = number});
}

StoreStatus FileRegistryStore::deleteValue(StoreKey key, const std::string& name) {
    return withNode(key, [&](StoreNode& node) {
        const NamedValue* found = node.findValue(name);
        if (found == nullptr) {
            return StoreStatus::notFound;
        }
        node.values.erase(node.values.begin() + (found - node.values.data()));
        return writeBack();
    });
}

StoreStatus FileRegistryStore::countSubkeys(StoreKey key, std::size_t& count) {
    return withNode(key, [&](StoreNode& node) {
        count = node.subkeys.size();
        return StoreStatus::success;
    });
}

StoreStatus FileRegistryStore::enumSubkey(StoreKey key, std::size_t index, std::string& name) {
    return withNode(key, [&](StoreNode& node) {
        if (index >= node.subkeys.size()) {
            return StoreStatus::notFound;
        }
        name = std::next(node.subkeys.begin(), static_cast<std::ptrdiff_t>(index))->first;
        return StoreStatus::success;
    });
}

StoreStatus FileRegistryStore::deleteKey(StoreKey parent, const std::string& path) {
    Use use(*this);
    auto keyPath = pathBelow(parent, path);
    if (!use.ready() || !keyPath || keyPath->names.empty()) {
        return StoreStatus::failed;
    }
    const std::string name = keyPath->names.back();
    keyPath->names.pop_back();
    StoreNode* owner = m_tree.find(*keyPath);
    if (owner == nullptr) {
        return StoreStatus::notFound;
    }
    auto found = owner->subkeys.find(name);
    if (found == owner->subkeys.end()) {
        return StoreStatus::notFound;
    }
    if (!found->second->subkeys.empty()) {
        return StoreStatus::failed;
    }
    owner->subkeys.erase(found);
    return writeBack();
}

void FileRegistryStore::closeKey(StoreKey key) {
    if (m_handles.erase(key) != 0) {
        endUse();
    }
}

}  // namespace tagsnip
