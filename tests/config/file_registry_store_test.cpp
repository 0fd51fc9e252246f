#include "config/file_registry_store.h"
#include "config/settings.h"
#include "config/store_tree.h"
#include "store_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tagsnip::test {
namespace {

class FileStoreTest : public ::testing::Test {
protected:
    TempDir m_temp;
    std::string m_path = m_temp / "store/registry.txt";
    std::vector<std::string> m_notices;
    FileRegistryStore m_store{m_path,
                              [this](const std::string& text) { m_notices.push_back(text); }};
};

TEST_F(FileStoreTest, KeysAndValuesRoundTripThroughTheFile) {
    putString(m_store, "\\Software\\Tallowmere\\TAGSNIP\\", "Last Directory",
              "/m\"u\\s\ti\xc3\xa4/");
    putDword(m_store, "Software\\Tallowmere\\TAGSNIP", "Last PosX", 0xffffffffu);
    {
        ScopedStoreKey key(m_store);
        ASSERT_EQ(m_store.createKey(currentUserRoot, "\\Empty\\Key\\", key.handle()),
                  StoreStatus::success);
    }
    FileRegistryStore reopened(m_path, {});
    EXPECT_EQ(storedValue(reopened, SettingsKey, "last directory")->text, "/m\"u\\s\ti\xc3\xa4/");
    const auto number = storedValue(reopened, "\\SOFTWARE\\tallowmere\\tagsnip", "Last PosX");
    EXPECT_EQ(number->type, StoreValueType::dword);
    EXPECT_EQ(number->number, 0xffffffffu);
    ScopedStoreKey key(reopened);
    EXPECT_EQ(reopened.openKey(currentUserRoot, "Empty\\Key", key.handle()), StoreStatus::success);
    EXPECT_FALSE(keyExists(reopened, "\\Empty")) << "roots are kept apart";
}

TEST_F(FileStoreTest, FileIsReadableTextWithTypesApart) {
    putString(m_store, SettingsKey, "Last PosX", "221");
    putDword(m_store, SettingsKey, "Last PosY", 128);
    const std::string text = readFile(m_path);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Tallowmere\\TAGSNIP]\n"
                        "\"Last PosX\"=\"221\"\n"
                        "\"Last PosY\"=dword:00000080\n"),
              std::string::npos)
        << text;
}

TEST_F(FileStoreTest, StringsEndAtTheirFirstZeroByte) {
    putString(m_store, SettingsKey, "Last Directory", std::string("/a/\0/b/", 7));
    EXPECT_EQ(storedValue(m_store, SettingsKey, "Last Directory")->text, "/a/");
}

TEST_F(FileStoreTest, RegistryRulesForValuesAndKeys) {
    ScopedStoreKey key(m_store);
    StoreValue value;
    std::size_t count = 9;
    std::string name;
    EXPECT_EQ(m_store.openKey(localMachineRoot, SettingsKey, key.handle()), StoreStatus::notFound);
    ASSERT_EQ(m_store.createKey(localMachineRoot, "A\\B\\C", key.handle()), StoreStatus::success);
    EXPECT_EQ(m_store.queryValue(key.get(), "missing", value), StoreStatus::notFound);
    EXPECT_EQ(m_store.deleteValue(key.get(), "missing"), StoreStatus::notFound);
    EXPECT_EQ(m_store.deleteKey(localMachineRoot, "A\\B"), StoreStatus::failed)
        << "a key with subkeys stays";
    putDword(m_store, "A\\b\\zeta", "v", 1);
    putDword(m_store, "A\\B\\Alpha", "v", 1);
    EXPECT_EQ(m_store.countSubkeys(key.get(), count), StoreStatus::success);
    EXPECT_EQ(count, 0u);
    ScopedStoreKey parent(m_store);
    ASSERT_EQ(m_store.openKey(localMachineRoot, "a\\b", parent.handle()), StoreStatus::success);
    ASSERT_EQ(m_store.countSubkeys(parent.get(), count), StoreStatus::success);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(m_store.enumSubkey(parent.get(), 0, name), StoreStatus::success);
    EXPECT_EQ(name, "Alpha");
    ASSERT_EQ(m_store.enumSubkey(parent.get(), 2, name), StoreStatus::success);
    EXPECT_EQ(name, "zeta");
    EXPECT_EQ(m_store.enumSubkey(parent.get(), 3, name), StoreStatus::notFound);
    EXPECT_EQ(m_store.deleteKey(parent.get(), "C"), StoreStatus::success);
    EXPECT_EQ(m_store.setDwordValue(key.get(), "v", 1), StoreStatus::failed)
        << "the handle of a deleted key is dead";
    EXPECT_EQ(m_store.createKey(localMachineRoot, "bad\\\\path", key.handle()),
              StoreStatus::failed);
}

TEST_F(FileStoreTest, AnOpenKeyHoldsTheLockUntilClosed) {
    ScopedStoreKey key(m_store);
    ASSERT_EQ(m_store.createKey(localMachineRoot, SettingsKey, key.handle()), StoreStatus::success);
    EXPECT_TRUE(exists(m_path + ".lock"));
    m_store.closeKey(key.handle());
    key.handle() = invalidStoreKey;
    EXPECT_FALSE(exists(m_path + ".lock"));
}

TEST_F(FileStoreTest, KeepsThePermissionsOfTheStoreFile) {
    putDword(m_store, SettingsKey, "Last PosX", 1);
    ASSERT_EQ(::chmod(m_path.c_str(), 0600), 0);
    putDword(m_store, SettingsKey, "Last PosX", 2);
    EXPECT_EQ(modeOf(m_path) & 0777, 0600u);
}

TEST_F(FileStoreTest, CorruptFileReadsAsMissingAndIsKeptAsideBeforeAWrite) {
    const std::string garbage = "[HKEY_LOCAL_MACHINE\\Software]\n\"half a value\n";
    makeDirectory(m_temp / "store");
    writeFile(m_path, garbage);

    WindowSettings settings;
    loadSettings(m_store, settings, "/prog/", {});
    EXPECT_EQ(settings.directory, "/prog/");
    EXPECT_EQ(readFile(m_path), garbage) << "a load never rewrites the file";
    EXPECT_TRUE(m_notices.empty());

    saveAtClose(m_store, settings, ProcessFlags{}, {});
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_NE(m_notices[0].find(m_path + ".corrupt"), std::string::npos) << m_notices[0];
    EXPECT_EQ(readFile(m_path + ".corrupt"), garbage);
    EXPECT_EQ(storedValue(m_store, SettingsKey, "Last PosX")->number, 221u);

    saveAtClose(m_store, settings, ProcessFlags{}, {});
    EXPECT_EQ(m_notices.size(), 1u) << "the user is told once";

    writeFile(m_path, garbage);
    putDword(m_store, SettingsKey, "Last PosY", 1);
    EXPECT_EQ(readFile(m_path + ".corrupt"), garbage);
    EXPECT_EQ(readFile(m_path + ".corrupt-2"), garbage) << "an earlier copy is not overwritten";
}

TEST(StoreFileFormat, RejectsMalformedText) {
    const char* malformed[] = {
        "\"Orphan\"=dword:00000001\n",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:0000001\n",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:0000001g\n",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"open\n",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\" trailing\n",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"\\q\"\n",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n\"V\"=\"2\"\n",
        "[HKEY_LOCAL_MACHINE\\\\A]\n",
        "[HKEY_LOCAL_MACHINE\\A\n",
        "plain words\n",
    };
    for (const char* text : malformed) {
        EXPECT_FALSE(parseStoreTree(text)) << text;
    }
}

// Numbers are read by exactly their hexadecimal digits: no sign, prefix, blank or spare digit
// that a lenient number reader would let through.
TEST(StoreFileFormat, NumbersAreOnlyHexDigits) {
    for (const char* number :
         {"-0000001", "+0000001", "0x00001f", " 0000001", "0000001 ", "000000001", "100000000"}) {
        const std::string text =
            std::string("[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:") + number + "\n";
        EXPECT_FALSE(parseStoreTree(text)) << text;
    }
    for (const char* escape : {"\\x-1", "\\x+1", "\\x 1", "\\x1", "\\x"}) {
        const std::string text = std::string("[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"") + escape + "\"\n";
        EXPECT_FALSE(parseStoreTree(text)) << text;
    }
    auto tree = parseStoreTree("[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:FFFFFFFF\n\"s\"=\"\\xfF\"\n");
    ASSERT_TRUE(tree);
    StoreNode* node = tree->find({"HKEY_LOCAL_MACHINE", {"A"}});
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->findValue("v")->value.number, 0xffffffffu);
    EXPECT_EQ(node->findValue("s")->value.text, "\xff");
}

TEST(StoreFileFormat, KeyPathsHaveNoEmptyNames) {
    EXPECT_EQ(splitKeyPath("\\A\\b\\"), (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(splitKeyPath("\\"), std::vector<std::string>{});
    for (const char* path : {"A\\\\", "\\\\A", "A\\\\b", "A\\\x01"}) {
        EXPECT_FALSE(splitKeyPath(path)) << path;
    }
}

TEST(StoreFileFormat, AcceptsHandEditedText) {
    auto tree = parseStoreTree(
        "; comment\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=dword:0000ABcd\r\n"
        "[HKEY_LOCAL_MACHINE\\A]\n\"e\"=expand:\"%x%\\x41\"\n");
    ASSERT_TRUE(tree);
    StoreNode* b = tree->find({"HKEY_LOCAL_MACHINE", {"a", "b"}});
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->findValue("V")->value.number, 0xabcdu);
    const NamedValue* e = tree->find({"HKEY_LOCAL_MACHINE", {"A"}})->findValue("e");
    EXPECT_EQ(e->value.type, StoreValueType::expandString);
    EXPECT_EQ(e->value.text, "%x%A");
    EXPECT_EQ(formatStoreTree(*parseStoreTree(formatStoreTree(*tree))), formatStoreTree(*tree));
}

TEST(StoreLocation, FollowsTagsnipRegistryThenTheConfigDirectory) {
    TempDir temp;
    const char* previous = std::getenv("TAGSNIP_REGISTRY");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("TAGSNIP_REGISTRY", (temp / "elsewhere.txt").c_str(), 1);
    EXPECT_EQ(defaultRegistryPath(), temp / "elsewhere.txt");
    ::unsetenv("TAGSNIP_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", (temp / "config").c_str(), 1);
    EXPECT_EQ(defaultRegistryPath(), temp / "config/tagsnip/registry.txt");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("TAGSNIP_REGISTRY", saved.c_str(), 1);
}

// Each child records its own round numbers under its own key and saves the shared settings in
// between, as instances closing at the same moment do.
void hammer(const std::string& path, int child, int rounds) {
    FileRegistryStore store(path, {});
    const std::string ownKey = "\\Software\\Tester" + std::to_string(child);
    for (int round = 0; round < rounds; ++round) {
        {
            ScopedStoreKey key(store);
            if (store.createKey(localMachineRoot, ownKey, key.handle()) != StoreStatus::success ||
                store.setDwordValue(key.get(), "Round " + std::to_string(round),
                                    static_cast<std::uint32_t>(round)) != StoreStatus::success) {
                ::_exit(1);
            }
        }
        WindowSettings settings;
        settings.posX = child;
        settings.switches.modonly = (round % 2) == 0;
        saveAtClose(store, settings, ProcessFlags{}, [](const std::string&) { ::_exit(2); });
    }
}

TEST_F(FileStoreTest, TwoProcessesSavingAtOnceLoseNothing) {
    constexpr int children = 2;
    constexpr int rounds = 60;
    std::vector<pid_t> pids;
    for (int child = 0; child < children; ++child) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            hammer(m_path, child, rounds);
            ::_exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ASSERT_TRUE(parseStoreTree(readFile(m_path)));
    for (int child = 0; child < children; ++child) {
        for (int round = 0; round < rounds; ++round) {
            const auto value = storedValue(m_store, "\\Software\\Tester" + std::to_string(child),
                                           "Round " + std::to_string(round));
            ASSERT_TRUE(value) << child << " " << round;
            EXPECT_EQ(value->number, static_cast<std::uint32_t>(round));
        }
    }
    EXPECT_EQ(storedValue(m_store, SettingsKey, "Modified Only")->number, 0u);
    EXPECT_LT(storedValue(m_store, SettingsKey, "Last PosX")->number, 2u);
    EXPECT_TRUE(m_notices.empty());
}

}  // namespace
}  // namespace tagsnip::test
