#pragma once

#include "engine/process_flags.h"
#include "engine/start_directory_store.h"
#include "engine/switch_states.h"
#include "message_callback.h"
#include "registry_store.h"

#include <string>
#include <utility>

namespace tagsnip {

inline constexpr const char* SettingsKey = "\\Software\\Tallowmere\\TAGSNIP\\";
inline constexpr const char* MakerKey = "\\Software\\Tallowmere\\";

// What the store keeps of the main window: the window copies its controls in and back out.
struct WindowSettings {
    SwitchStates switches = layoutSwitchStates;
    std::string directory;
    int posX = 221;
    int posY = 128;
};

// Loads the stored settings over the layout states in settings, then falls back to
// programDirectory when the directory is still empty. A value of the wrong type, or one that
// cannot be read, stops the load there with a message through showError; the values read
// before it stay.
void loadSettings(RegistryStore& store, WindowSettings& settings,
                  const std::string& programDirectory, const MessageCallback& showError);

// The close handler's save: nothing while SaveSettings is clear. Writes the position, and each
// switch only while it differs from its layout state. "Last Directory" is not written here.
void saveAtClose(RegistryStore& store, const WindowSettings& settings, const ProcessFlags& flags,
                 const MessageCallback& showError);

// Removes SettingsKey with everything below it, then the maker key when no other product's key
// is left in it. The confirmation, the switch resets and the close are the window's.
void wipeSettings(RegistryStore& store);

// Writes "Last Directory" when a run starts; the run calls it only while SaveSettings is set.
class RegistryStartDirectoryStore final : public StartDirectoryStore {
public:
    RegistryStartDirectoryStore(RegistryStore& store, MessageCallback showError)
        : m_store(store), m_showError(std::move(showError)) {}

    void WriteStartDirectory(const std::string& directory) override;

private:
    RegistryStore& m_store;
    MessageCallback m_showError;
};

}  // namespace tagsnip
