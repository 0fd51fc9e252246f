#include "program_setup.h"

#include "ui_font.h"
#include "ui_services.h"

#include "config/command_line.h"
#include "engine/path_text.h"

#include <QApplication>
#include <QFile>
#include <QStyleFactory>

#include <cstdlib>
#include <iostream>

namespace tagsnip::ui {

bool displayAvailable() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

int reportNoDisplay() {
    std::cerr << "tagsnip: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "The window needs a graphical desktop. In a terminal or a script use "
                 "tagsnip-cli, which does the same work: tagsnip-cli --help\n";
    return 1;
}

void setUpApplication() {
    QApplication::setApplicationName(QString::fromUtf8(applicationTitle));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(uiFont());
}

FormStartup startupOf(int argc, char** argv) {
    FormStartup startup;
    startup.programDirectory =
        directoryOf(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString());
    for (int i = 1; i < argc; ++i) {
        startup.arguments.emplace_back(argv[i]);
    }
    return startup;
}

MessageCallback errorBoxCallback(UiServices& services) {
    return [&services](const std::string& text) {
        const auto box = makeMessageBox(MessageKind::error, text, nullptr);
        services.runMessageBox(*box);
    };
}

}  // namespace tagsnip::ui
