#include "config/file_registry_store.h"
#include "ui/main_window.h"
#include "ui/program_setup.h"
#include "ui/ui_services.h"

#include <QApplication>

int main(int argc, char** argv) {
    if (!tagsnip::ui::displayAvailable()) {
        return tagsnip::ui::reportNoDisplay();
    }
    QApplication application(argc, argv);
    tagsnip::ui::setUpApplication();
    tagsnip::ui::DesktopServices services;
    tagsnip::FileRegistryStore store(tagsnip::defaultRegistryPath(),
                                     tagsnip::ui::errorBoxCallback(services));
    tagsnip::ui::TForm1 Form1(services, store, tagsnip::ui::startupOf(argc, argv));
    // A run under -r -q has ended the program already: the window is never shown.
    if (Form1.endRequested()) {
        return 0;
    }
    Form1.show();
    return QApplication::exec();
}
