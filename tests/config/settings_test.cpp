#include "config/settings.h"
#include "config/file_registry_store.h"
#include "store_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <vector>

namespace tagsnip::test {
namespace {

const std::string programDir = "/opt/tagsnip/";

class SettingsTest : public ::testing::Test {
protected:
    TempDir m_temp;
    std::vector<std::string> m_messages;
    FileRegistryStore m_store{m_temp / "registry.txt",
                              [this](const std::string& text) { m_messages.push_back(text); }};
    std::vector<std::string> m_errors;
    MessageCallback m_showError = [this](const std::string& text) { m_errors.push_back(text); };

    WindowSettings load() {
        WindowSettings settings;
        loadSettings(m_store, settings, programDir, m_showError);
        return settings;
    }
    std::optional<StoreValue> stored(const std::string& name) {
        return storedValue(m_store, SettingsKey, name);
    }
    std::optional<std::uint32_t> storedNumber(const std::string& name) {
        auto value = stored(name);
        if (!value || value->type != StoreValueType::dword) {
            return std::nullopt;
        }
        return value->number;
    }
};

bool layoutSwitches(const SwitchStates& s) {
    return s.subdirectories && s.remove1 && s.remove2 && !s.ignoreattributes && s.modonly &&
           s.msgwhenfinished && s.cleanM3U && s.cleanPLS;
}

TEST_F(SettingsTest, MissingKeyKeepsLayoutAndFallsBackToProgramDirectory) {
    const WindowSettings settings = load();
    EXPECT_TRUE(layoutSwitches(settings.switches));
    EXPECT_EQ(settings.posX, 221);
    EXPECT_EQ(settings.posY, 128);
    EXPECT_EQ(settings.directory, programDir);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_FALSE(exists(m_temp / "registry.txt")) << "a load writes nothing";
}

TEST_F(SettingsTest, LoadsStoredValuesAsTheyAre) {
    putString(m_store, SettingsKey, "Last Directory", "/music/no-slash");
    putDword(m_store, SettingsKey, "Last PosX", static_cast<std::uint32_t>(-40));
    putDword(m_store, SettingsKey, "Last PosY", 9000);
    putDword(m_store, SettingsKey, "Modified Only", 0);
    putDword(m_store, SettingsKey, "Ignore Attributes", 5);
    putDword(m_store, SettingsKey, "Popup", 0);
    const WindowSettings settings = load();
    EXPECT_EQ(settings.directory, "/music/no-slash");
    EXPECT_EQ(settings.posX, -40);
    EXPECT_EQ(settings.posY, 9000);
    EXPECT_FALSE(settings.switches.modonly);
    EXPECT_TRUE(settings.switches.ignoreattributes) << "any non-zero value reads as checked";
    EXPECT_FALSE(settings.switches.msgwhenfinished);
    EXPECT_TRUE(settings.switches.remove1);
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(SettingsTest, EmptyOrMissingLastDirectoryFallsBack) {
    putDword(m_store, SettingsKey, "Last PosX", 5);
    EXPECT_EQ(load().directory, programDir);
    putString(m_store, SettingsKey, "Last Directory", "");
    EXPECT_EQ(load().directory, programDir);
}

TEST_F(SettingsTest, ExpandableStringReadsUnexpanded) {
    writeFile(m_temp / "registry.txt",
              "[HKEY_LOCAL_MACHINE\\Software\\Tallowmere\\TAGSNIP]\n"
              "\"Last Directory\"=expand:\"$HOME/music/\"\n");
    EXPECT_EQ(load().directory, "$HOME/music/");
}

TEST_F(SettingsTest, TypeMismatchStopsTheLoadAtThatValue) {
    putString(m_store, SettingsKey, "Last Directory", "/music/");
    putDword(m_store, SettingsKey, "Last PosX", 10);
    putString(m_store, SettingsKey, "Last PosY", "20");
    putDword(m_store, SettingsKey, "Remove ID3v1", 0);
    const WindowSettings settings = load();
    EXPECT_EQ(m_errors, std::vector<std::string>{"Invalid data type for 'Last PosY'"});
    EXPECT_EQ(settings.directory, "/music/");
    EXPECT_EQ(settings.posX, 10);
    EXPECT_EQ(settings.posY, 128);
    EXPECT_TRUE(settings.switches.remove1) << "values after the failure are not read";
}

TEST_F(SettingsTest, NumberWhereStringExpectedStopsBeforeEverything) {
    putDword(m_store, SettingsKey, "Last Directory", 1);
    putDword(m_store, SettingsKey, "Last PosX", 10);
    const WindowSettings settings = load();
    EXPECT_EQ(m_errors, std::vector<std::string>{"Invalid data type for 'Last Directory'"});
    EXPECT_EQ(settings.posX, 221);
    EXPECT_EQ(settings.directory, programDir);
}

TEST_F(SettingsTest, UnreadableValueStopsTheLoadAndClosesTheKey) {
    putDword(m_store, SettingsKey, "Last PosX", 10);
    putDword(m_store, SettingsKey, "Clean M3U", 0);
    putDword(m_store, SettingsKey, "Clean PLS", 0);
    FailingStore failing(m_store);
    failing.failQuery = "Clean PLS";
    WindowSettings settings;
    loadSettings(failing, settings, programDir, m_showError);
    EXPECT_EQ(m_errors, std::vector<std::string>{"Failed to get data for 'Clean PLS'"});
    EXPECT_EQ(settings.posX, 10);
    EXPECT_FALSE(settings.switches.cleanM3U);
    EXPECT_TRUE(settings.switches.cleanPLS);
    EXPECT_EQ(failing.openKeys, 0);
}

TEST_F(SettingsTest, SaveAtCloseDeletesDefaultsAndWritesTheRest) {
    for (const char* name : {"Remove ID3v1", "Remove ID3v2", "Clean M3U", "Clean PLS", "Popup",
                             "Modified Only", "Include Subdirectories"}) {
        putDword(m_store, SettingsKey, name, 0);
    }
    putDword(m_store, SettingsKey, "Ignore Attributes", 1);
    putString(m_store, SettingsKey, "Last Directory", "/kept/");
    WindowSettings settings;
    settings.posX = -3;
    settings.posY = 77;
    settings.directory = "/never/written/at/close/";
    saveAtClose(m_store, settings, ProcessFlags{}, m_showError);

    EXPECT_EQ(storedNumber("Last PosX"), static_cast<std::uint32_t>(-3));
    EXPECT_EQ(storedNumber("Last PosY"), 77u);
    for (const char* name : {"Remove ID3v1", "Remove ID3v2", "Clean M3U", "Clean PLS", "Popup",
                             "Ignore Attributes", "Modified Only", "Include Subdirectories"}) {
        EXPECT_FALSE(stored(name)) << name;
    }
    EXPECT_EQ(stored("Last Directory")->text, "/kept/");
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(SettingsTest, SaveAtCloseStoresNonDefaultsAsZeroOrOne) {
    WindowSettings settings;
    settings.switches.modonly = false;
    settings.switches.ignoreattributes = true;
    settings.switches.cleanPLS = false;
    saveAtClose(m_store, settings, ProcessFlags{}, m_showError);
    EXPECT_EQ(storedNumber("Modified Only"), 0u);
    EXPECT_EQ(storedNumber("Ignore Attributes"), 1u);
    EXPECT_EQ(storedNumber("Clean PLS"), 0u);
    EXPECT_FALSE(stored("Clean M3U"));
    EXPECT_EQ(storedNumber("Last PosX"), 221u);
    EXPECT_FALSE(stored("Last Directory"));

    const WindowSettings reloaded = load();
    EXPECT_FALSE(reloaded.switches.modonly);
    EXPECT_TRUE(reloaded.switches.ignoreattributes);
    EXPECT_FALSE(reloaded.switches.cleanPLS);
    EXPECT_TRUE(reloaded.switches.cleanM3U);
}

TEST_F(SettingsTest, NothingIsWrittenWhileSaveSettingsIsClear) {
    WindowSettings settings;
    settings.switches.remove2 = false;
    ProcessFlags flags;
    flags.SaveSettings = false;
    saveAtClose(m_store, settings, flags, m_showError);
    EXPECT_FALSE(exists(m_temp / "registry.txt"));
}

TEST_F(SettingsTest, FailedWriteStopsTheSaveWithItsMessage) {
    WindowSettings settings;
    settings.switches.remove1 = false;
    settings.switches.remove2 = false;
    FailingStore failing(m_store);
    failing.failSet = "Last PosY";
    saveAtClose(failing, settings, ProcessFlags{}, m_showError);
    EXPECT_EQ(m_errors, std::vector<std::string>{"Failed to set data for 'Last PosY'"});
    EXPECT_EQ(storedNumber("Last PosX"), 221u);
    EXPECT_FALSE(stored("Remove ID3v1"));
    EXPECT_EQ(failing.openKeys, 0);
}

TEST_F(SettingsTest, UncreatableKeyWritesNothingAndSaysNothing) {
    FailingStore failing(m_store);
    failing.failCreate = true;
    saveAtClose(failing, WindowSettings{}, ProcessFlags{}, m_showError);
    RegistryStartDirectoryStore(failing, m_showError).WriteStartDirectory("/music/");
    EXPECT_TRUE(failing.written.empty());
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(SettingsTest, StartDirectoryIsWrittenAsAString) {
    RegistryStartDirectoryStore startStore(m_store, m_showError);
    startStore.WriteStartDirectory("/music/a b/");
    startStore.WriteStartDirectory("/music/second/");
    const auto value = stored("Last Directory");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, StoreValueType::string);
    EXPECT_EQ(value->text, "/music/second/");
    EXPECT_FALSE(stored("Last PosX")) << "only the directory is written when a run starts";

    FailingStore failing(m_store);
    failing.failSet = "Last Directory";
    RegistryStartDirectoryStore(failing, m_showError).WriteStartDirectory("/x/");
    EXPECT_EQ(m_errors, std::vector<std::string>{"Failed to set data for 'Last Directory'"});
    EXPECT_EQ(failing.openKeys, 0);
}

TEST_F(SettingsTest, WipeRemovesSettingsKeyAndAnEmptyMakerKey) {
    putDword(m_store, SettingsKey, "Last PosX", 1);
    putDword(m_store, "\\Software\\Tallowmere\\TAGSNIP\\Deeper\\Deepest", "Extra", 2);
    putDword(m_store, "\\Software\\Tallowmere\\TAGSNIP\\Another", "Extra", 3);
    putString(m_store, MakerKey, "Maker value", "gone with its key");
    putString(m_store, "\\Software\\Other", "Keep", "me");
    wipeSettings(m_store);
    EXPECT_FALSE(keyExists(m_store, SettingsKey));
    EXPECT_FALSE(keyExists(m_store, MakerKey));
    EXPECT_TRUE(keyExists(m_store, "\\Software"));
    EXPECT_EQ(storedValue(m_store, "\\Software\\Other", "Keep")->text, "me");
    EXPECT_EQ(load().posX, 221);
}

TEST_F(SettingsTest, WipeKeepsAMakerKeyHoldingAnotherProduct) {
    putDword(m_store, SettingsKey, "Last PosX", 1);
    putDword(m_store, "\\Software\\Tallowmere\\OTHERTOOL", "Size", 7);
    wipeSettings(m_store);
    EXPECT_FALSE(keyExists(m_store, SettingsKey));
    EXPECT_EQ(storedValue(m_store, "\\Software\\Tallowmere\\OTHERTOOL", "Size")->number, 7u);
}

TEST_F(SettingsTest, WipeOfAnEmptyStoreIsHarmless) {
    wipeSettings(m_store);
    EXPECT_FALSE(exists(m_temp / "registry.txt"));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(SettingsTest, WipeFollowedByCloseWritesNothingBack) {
    putDword(m_store, SettingsKey, "Last PosX", 1);
    wipeSettings(m_store);
    ProcessFlags flags;
    flags.SaveSettings = false;
    saveAtClose(m_store, WindowSettings{}, flags, m_showError);
    EXPECT_FALSE(keyExists(m_store, MakerKey));
}

}  // namespace
}  // namespace tagsnip::test
