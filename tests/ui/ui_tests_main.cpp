#include "browse_folder_test.h"
#include "file_list_test.h"
#include "main_window_test.h"

#include <QApplication>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTest>

namespace {

// Runs the test class when no class was asked for or this one was.
template <typename TestClass>
int runIfAsked(const char* name, const QString& asked, const QStringList& arguments) {
    if (!asked.isEmpty() && asked != QLatin1String(name)) {
        return 0;
    }
    TestClass test;
    return QTest::qExec(&test, arguments);
}

}  // namespace

// ui_tests [TestClass] [Qt Test options]
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QStringList arguments = QApplication::arguments();
    QString asked;
    if (arguments.size() > 1 && !arguments[1].startsWith(QLatin1Char('-'))) {
        asked = arguments.takeAt(1);
    }
    int failures = 0;
    failures += runIfAsked<MainWindowTest>("MainWindowTest", asked, arguments);
    failures += runIfAsked<FileListTest>("FileListTest", asked, arguments);
    failures += runIfAsked<BrowseFolderTest>("BrowseFolderTest", asked, arguments);
    return failures == 0 ? 0 : 1;
}
