#pragma once

#include "scripted_services.h"
#include "support/temp_dir.h"

#include "config/file_registry_store.h"
#include "ui/main_window.h"

#include <QTest>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tagsnip::test {

// One window on a fresh settings store, a fresh program directory and a fresh music directory.
class FormFixture {
public:
    FormFixture();
    ~FormFixture();

    TempDir root;
    ScriptedServices services;
    std::unique_ptr<FileRegistryStore> store;
    std::unique_ptr<ui::TForm1> form;

    std::string music() const { return root / "music/"; }
    std::string programDirectory() const { return root / "program/"; }

    ui::TForm1& create(const std::vector<std::string>& arguments = {});
    // Shown and active, so that focus changes reach the controls.
    void showActive();

    template <typename Widget>
    Widget* child(const char* name) const {
        Widget* widget = form->findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr) {
            qFatal("no control %s", name);
        }
        return widget;
    }
    QString text(const char* label) const;
    void setDirectory(const std::string& directory);
    void clickStart();

    std::optional<std::string> storedString(const std::string& name);
    std::optional<std::uint32_t> storedNumber(const std::string& name);
    void storeNumber(const std::string& name, std::uint32_t value);
    void storeString(const std::string& name, const std::string& text);
    bool settingsKeyExists();
};

// An MP3 file with the tags asked for.
void writeMp3(const std::string& path, bool id3v1, bool id3v2, unsigned seed = 1);
bool hasId3v1(const std::string& path);
bool hasId3v2(const std::string& path);

// Calls action from the walk's event pumping as soon as condition holds, once.
class DuringRun {
public:
    DuringRun(std::function<bool()> condition, std::function<void()> action);
    bool done() const { return m_done; }

private:
    QTimer m_timer;
    bool m_done = false;
};

}  // namespace tagsnip::test
