#include "browse_folder_test.h"
#include "file_list_test.h"
#include "main_window_test.h"

#include <QApplication>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTest>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    int failures = 0;
    {
        MainWindowTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
    {
        FileListTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
    {
        BrowseFolderTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
