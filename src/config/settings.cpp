#include "settings.h"

#include <array>
#include <optional>

namespace tagsnip {

namespace {

struct SwitchValue {
    const char* name;
    bool SwitchStates::*state;
};

// In the order in which the switches are read and written.
constexpr std::array<SwitchValue, 8> switchValues{{
    {"Remove ID3v1", &SwitchStates::remove1},
    {"Remove ID3v2", &SwitchStates::remove2},
    {"Clean M3U", &SwitchStates::cleanM3U},
    {"Clean PLS", &SwitchStates::cleanPLS},
    {"Popup", &SwitchStates::msgwhenfinished},
    {"Ignore Attributes", &SwitchStates::ignoreattributes},
    {"Modified Only", &SwitchStates::modonly},
    {"Include Subdirectories", &SwitchStates::subdirectories},
}};

std::string invalidDataType(const std::string& name) {
    return "Invalid data type for '" + name + "'";
}
std::string failedToGet(const std::string& name) {
    return "Failed to get data for '" + name + "'";
}
std::string failedToSet(const std::string& name) {
    return "Failed to set data for '" + name + "'";
}

// A failed read or write stops the operation: the failure's message, or nothing while all goes
// well.
using StoreError = std::optional<std::string>;

StoreError readString(RegistryStore& store, StoreKey key, const std::string& name,
                      std::string& text) {
    StoreValue value;
    switch (store.queryValue(key, name, value)) {
        case StoreStatus::notFound:
            text.clear();
            return std::nullopt;
        case StoreStatus::failed:
            return failedToGet(name);
        case StoreStatus::success:
            break;
    }
    if (value.type == StoreValueType::dword) {
        return invalidDataType(name);
    }
    text = value.text;
    return std::nullopt;
}

// Leaves number as it is when the value does not exist.
StoreError readInteger(RegistryStore& store, StoreKey key, const std::string& name,
                       std::optional<std::uint32_t>& number) {
    StoreValue value;
    switch (store.queryValue(key, name, value)) {
        case StoreStatus::notFound:
            number.reset();
            return std::nullopt;
        case StoreStatus::failed:
            return failedToGet(name);
        case StoreStatus::success:
            break;
    }
    if (value.type != StoreValueType::dword) {
        return invalidDataType(name);
    }
    number = value.number;
    return std::nullopt;
}

StoreError readPosition(RegistryStore& store, StoreKey key, const std::string& name,
                        int& position) {
    std::optional<std::uint32_t> number;
    StoreError error = readInteger(store, key, name, number);
    if (!error && number) {
        position = static_cast<std::int32_t>(*number);
    }
    return error;
}

StoreError readStoredSettings(RegistryStore& store, StoreKey key, WindowSettings& settings) {
    if (StoreError error = readString(store, key, "Last Directory", settings.directory)) {
        return error;
    }
    if (StoreError error = readPosition(store, key, "Last PosX", settings.posX)) {
        return error;
    }
    if (StoreError error = readPosition(store, key, "Last PosY", settings.posY)) {
        return error;
    }
    for (const SwitchValue& value : switchValues) {
        std::optional<std::uint32_t> number;
        if (StoreError error = readInteger(store, key, value.name, number)) {
            return error;
        }
        if (number) {
            settings.switches.*value.state = *number != 0;
        }
    }
    return std::nullopt;
}

StoreError writeInteger(RegistryStore& store, StoreKey key, const std::string& name,
                        std::uint32_t number) {
    if (store.setDwordValue(key, name, number) != StoreStatus::success) {
        return failedToSet(name);
    }
    return std::nullopt;
}

StoreError writeStoredSettings(RegistryStore& store, StoreKey key, const WindowSettings& settings) {
    if (StoreError error =
            writeInteger(store, key, "Last PosX", static_cast<std::uint32_t>(settings.posX))) {
        return error;
    }
    if (StoreError error =
            writeInteger(store, key, "Last PosY", static_cast<std::uint32_t>(settings.posY))) {
        return error;
    }
    for (const SwitchValue& value : switchValues) {
        const bool state = settings.switches.*value.state;
        if (state == layoutSwitchStates.*value.state) {
            // A value that is already gone is no failure.
            (void)store.deleteValue(key, value.name);
        } else if (StoreError error = writeInteger(store, key, value.name, state ? 1 : 0)) {
            return error;
        }
    }
    return std::nullopt;
}

// Deletes subkeys from the last to the first, depth first, then the key itself.
void deleteKeyTree(RegistryStore& store, StoreKey parent, const std::string& path) {
    {
        ScopedStoreKey key(store);
        if (store.openKey(parent, path, key.handle()) != StoreStatus::success) {
            return;
        }
        std::size_t count = 0;
        if (store.countSubkeys(key.get(), count) != StoreStatus::success) {
            return;
        }
        for (std::size_t index = count; index-- > 0;) {
            std::string name;
            if (store.enumSubkey(key.get(), index, name) == StoreStatus::success) {
                deleteKeyTree(store, key.get(), name);
            }
        }
    }
    (void)store.deleteKey(parent, path);
}

void report(const StoreError& error, const MessageCallback& showError) {
    if (error && showError) {
        showError(*error);
    }
}

}  // namespace

void loadSettings(RegistryStore& store, WindowSettings& settings,
                  const std::string& programDirectory, const MessageCallback& showError) {
    StoreError error;
    {
        ScopedStoreKey key(store);
        if (store.openKey(localMachineRoot, SettingsKey, key.handle()) == StoreStatus::success) {
            error = readStoredSettings(store, key.get(), settings);
        }
    }
    // The key is closed before the box opens, so another instance is not kept waiting.
    report(error, showError);
    if (settings.directory.empty()) {
        settings.directory = programDirectory;
    }
}

void saveAtClose(RegistryStore& store, const WindowSettings& settings, const ProcessFlags& flags,
                 const MessageCallback& showError) {
    if (!flags.SaveSettings) {
        return;
    }
    StoreError error;
    {
        ScopedStoreKey key(store);
        if (store.createKey(localMachineRoot, SettingsKey, key.handle()) == StoreStatus::success) {
            error = writeStoredSettings(store, key.get(), settings);
        }
    }
    report(error, showError);
}

void wipeSettings(RegistryStore& store) {
    deleteKeyTree(store, localMachineRoot, SettingsKey);
    bool makerKeyEmpty = false;
    {
        ScopedStoreKey key(store);
        std::size_t count = 0;
        makerKeyEmpty =
            store.openKey(localMachineRoot, MakerKey, key.handle()) == StoreStatus::success &&
            store.countSubkeys(key.get(), count) == StoreStatus::success && count == 0;
    }
    if (makerKeyEmpty) {
        (void)store.deleteKey(localMachineRoot, MakerKey);
    }
}

void RegistryStartDirectoryStore::WriteStartDirectory(const std::string& directory) {
    StoreError error;
    {
        ScopedStoreKey key(m_store);
        if (m_store.createKey(localMachineRoot, SettingsKey, key.handle()) ==
                StoreStatus::success &&
            m_store.setStringValue(key.get(), "Last Directory", directory) !=
                StoreStatus::success) {
            error = failedToSet("Last Directory");
        }
    }
    report(error, m_showError);
}

}  // namespace tagsnip
