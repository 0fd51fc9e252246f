#include "form_fixture.h"

#include "support/mp3_bytes.h"

#include "config/settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tagsnip::test {

FormFixture::FormFixture() {
    makeDirectory(root / "program");
    makeDirectory(root / "music");
    store = std::make_unique<FileRegistryStore>(root / "registry.txt", [](const std::string& text) {
        qWarning("store: %s", text.c_str());
    });
}

FormFixture::~FormFixture() {
    form.reset();
}

ui::TForm1& FormFixture::create(const std::vector<std::string>& arguments) {
    form = std::make_unique<ui::TForm1>(services, *store,
                                        ui::FormStartup{programDirectory(), arguments});
    return *form;
}

void FormFixture::showActive() {
    form->show();
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get())) {
        qFatal("window not active");
    }
}

QString FormFixture::text(const char* label) const {
    return child<QLabel>(label)->text();
}

void FormFixture::setDirectory(const std::string& directory) {
    child<QLineEdit>("directory")->setText(QString::fromUtf8(directory));
}

void FormFixture::clickStart() {
    child<QPushButton>("start")->click();
}

namespace {

std::optional<StoreValue> storedValue(RegistryStore& store, const std::string& name) {
    ScopedStoreKey key(store);
    if (store.openKey(localMachineRoot, SettingsKey, key.handle()) != StoreStatus::success) {
        return std::nullopt;
    }
    StoreValue value;
    if (store.queryValue(key.get(), name, value) != StoreStatus::success) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::string> FormFixture::storedString(const std::string& name) {
    const auto value = storedValue(*store, name);
    return value && value->type == StoreValueType::string ? std::optional(value->text)
                                                          : std::nullopt;
}

std::optional<std::uint32_t> FormFixture::storedNumber(const std::string& name) {
    const auto value = storedValue(*store, name);
    return value && value->type == StoreValueType::dword ? std::optional(value->number)
                                                         : std::nullopt;
}

void FormFixture::storeNumber(const std::string& name, std::uint32_t value) {
    ScopedStoreKey key(*store);
    QVERIFY2(store->createKey(localMachineRoot, SettingsKey, key.handle()) == StoreStatus::success,
             "create SettingsKey");
    QVERIFY(store->setDwordValue(key.get(), name, value) == StoreStatus::success);
}

void FormFixture::storeString(const std::string& name, const std::string& text) {
    ScopedStoreKey key(*store);
    QVERIFY2(store->createKey(localMachineRoot, SettingsKey, key.handle()) == StoreStatus::success,
             "create SettingsKey");
    QVERIFY(store->setStringValue(key.get(), name, text) == StoreStatus::success);
}

bool FormFixture::settingsKeyExists() {
    ScopedStoreKey key(*store);
    return store->openKey(localMachineRoot, SettingsKey, key.handle()) == StoreStatus::success;
}

void writeMp3(const std::string& path, bool id3v1, bool id3v2, unsigned seed) {
    std::string bytes;
    if (id3v2) {
        bytes += id3v2Tag(64);
    }
    bytes += mpegAudio(3, seed);
    if (id3v1) {
        bytes += id3v1Tag();
    }
    writeFile(path, bytes);
}

bool hasId3v1(const std::string& path) {
    const std::string bytes = readFile(path);
    return bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0;
}

bool hasId3v2(const std::string& path) {
    return readFile(path).rfind("ID3", 0) == 0;
}

DuringRun::DuringRun(std::function<bool()> condition, std::function<void()> action) {
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [this, condition, action] {
        if (!m_done && condition()) {
            m_done = true;
            m_timer.stop();
            action();
        }
    });
    m_timer.start();
}

}  // namespace tagsnip::test
