#include "main_window_test.h"

#include "form_fixture.h"

#include "config/command_line.h"
#include "support/message_cases.h"
#include "ui/message_boxes.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace tagsnip;
using namespace tagsnip::test;

namespace {

const QString startIdle = QStringLiteral("开始(&G)");

QSize fixedSizeOf(const QWidget& window) {
    return window.minimumSize() == window.maximumSize() ? window.minimumSize() : QSize();
}

void fillMusic(const FormFixture& fixture, int files) {
    for (int i = 0; i < files; ++i) {
        writeMp3(fixture.music() + "track" + std::to_string(100 + i) + ".mp3", true, true,
                 static_cast<unsigned>(i + 1));
    }
}

}  // namespace

void MainWindowTest::controlsAndTexts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    auto row = [](const char* name, QRect geometry, const char* caption, const char* hint) {
        QTest::newRow(name) << QString::fromLatin1(name) << geometry << QString::fromUtf8(caption)
                            << QString::fromUtf8(hint);
    };
    row("directory", {8, 8, 270, 20}, "", "输入路径");
    row("BitBtn1", {278, 8, 24, 20}, "", "浏览");
    row("subdirectories", {8, 30, 129, 17}, "包含子目录(&S)", "");
    row("GroupBox1", {8, 52, 138, 57}, " 标签 ", "");
    row("remove1", {8, 16, 125, 17}, "移除 ID3v1 标签(&1)", "");
    row("remove2", {8, 32, 125, 17}, "移除 ID3v2 标签(&2)", "");
    row("GroupBox3", {152, 52, 145, 57}, " 播放列表 ", "");
    row("cleanM3U", {16, 16, 115, 17}, "清除 M3U 列表(&M)", "移除 M3U 文件的每一行 (eg. EXTINF)");
    row("cleanPLS", {16, 32, 115, 17}, "清除 PLS 列表(&P)",
        "从 PLS 文件移除 '标题' 和 '长度' 信息");
    row("GroupBox2", {8, 109, 289, 56}, " 选项 ", "");
    row("modonly", {160, 16, 121, 17}, "列出已修改文件(&L)", "");
    row("ignoreattributes", {12, 16, 113, 17}, "忽略文件属性(&I)", "如果你希望忽略 '只读' 属性");
    row("msgwhenfinished", {12, 33, 173, 17}, "完成后弹出消息框(&P)", "完成后弹出消息框");
    row("start", {8, 172, 65, 25}, "开始(&G)", "开始移除");
    row("Button1", {78, 172, 67, 25}, "退出(&Q)", "退出 TAGSNIP");
    row("help", {152, 172, 66, 25}, "帮助(&H)", "打开 HTML 帮助");
    row("CleanRegistry", {226, 172, 72, 25}, "清除(&C)", "移除 TAGSNIP 注册表项");
    row("Panel_Main", {0, 0, 313, 220}, "", "");
    row("Panel_Top", {0, 0, 313, 220}, "", "");
    row("Panel_Count", {0, 220, 313, 56}, "", "");
}

void MainWindowTest::controlsAndTexts() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    FormFixture fixture;
    fixture.create();
    auto* widget = fixture.form->findChild<QWidget*>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->toolTip(), hint);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QCOMPARE(button->text(), caption);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        QCOMPARE(group->title(), caption);
    }
}

void MainWindowTest::windowLookAndInitialStates() {
    FormFixture fixture;
    ui::TForm1& form = fixture.create();
    QCOMPARE(form.objectName(), QStringLiteral("Form1"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Tallowmere TagSnip v1.4"));
    QVERIFY(!form.windowIcon().isNull());
    QCOMPARE(form.pos(), QPoint(221, 128));
    const QFontInfo font(form.font());
    QCOMPARE(font.pixelSize(), 12);
    QVERIFY2(font.family() == "SimSun" || font.family().startsWith("AR PL UMing"),
             qPrintable(font.family()));

    const std::vector<std::pair<const char*, bool>> states = {
        {"subdirectories", true},    {"remove1", true},         {"remove2", true},
        {"cleanM3U", true},          {"cleanPLS", true},        {"modonly", true},
        {"ignoreattributes", false}, {"msgwhenfinished", true},
    };
    for (const auto& [name, checked] : states) {
        QCOMPARE(fixture.child<QCheckBox>(name)->isChecked(), checked);
    }
    // With no stored settings the field shows the program's own directory.
    QCOMPARE(fixture.child<QLineEdit>("directory")->text().toStdString(),
             fixture.programDirectory());

    const std::vector<std::pair<const char*, const char*>> labels = {
        {"Label9", "MP3 文件:"}, {"Label10", "ID3v1标签:"}, {"Label1", "ID3v2 标签:"},
        {"Label3", "M3U 列表:"}, {"Label5", "PLS 列表:"},   {"filesfound", "0"},
        {"id3v1tags", "0"},      {"id3v2tags", "0"},        {"M3Ufound", "-"},
        {"PLSfound", "-"},       {"Label2", "免费软件"},    {"homepage", "www.tallowmere.example"},
    };
    for (const auto& [name, caption] : labels) {
        QCOMPARE(fixture.text(name), QString::fromUtf8(caption));
    }
    auto* homepage = fixture.child<QLabel>("homepage");
    QVERIFY(homepage->font().underline());
    QCOMPARE(homepage->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
    QCOMPARE(homepage->toolTip(), QStringLiteral("打开 www.tallowmere.example"));
    QCOMPARE(fixture.child<QLabel>("Label2")->toolTip(), homepage->toolTip());
    QVERIFY(homepage->geometry().right() < 313);
    QCOMPARE(fixture.child<QLabel>("filesfound")->pos(), QPoint(73, 6));
    QCOMPARE(fixture.child<QLabel>("PLSfound")->pos(), QPoint(246, 22));

    auto* list = fixture.child<QTableView>("FileList");
    QCOMPARE(list->model()->columnCount(), 3);
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("文件名"));
    QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("ID3v1"));
    QCOMPARE(list->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("ID3v2"));
    QCOMPARE(list->columnWidth(1), 38);
    QCOMPARE(list->columnWidth(2), 38);
    QVERIFY(list->showGrid());
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(fixture.child<QPushButton>("start")->isDefault());
}

void MainWindowTest::tabOrderAndFirstFocus() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    QCOMPARE(QApplication::focusWidget(), fixture.child<QWidget>("start"));
    const QStringList expected = {
        "directory",     "BitBtn1",  "subdirectories", "remove2",          "remove1",
        "CleanRegistry", "Button1",  "modonly",        "ignoreattributes", "msgwhenfinished",
        "cleanM3U",      "cleanPLS", "help",           "FileList",         "start"};
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);
}

void MainWindowTest::accelerators() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    auto* remove1 = fixture.child<QCheckBox>("remove1");
    QTest::keyClick(fixture.form.get(), Qt::Key_1, Qt::AltModifier);
    QTRY_VERIFY(!remove1->isChecked());
    QCOMPARE(QApplication::focusWidget(), remove1);
    auto* modonly = fixture.child<QCheckBox>("modonly");
    QTest::keyClick(fixture.form.get(), Qt::Key_L, Qt::AltModifier);
    QTRY_VERIFY(!modonly->isChecked());
    // Alt+H clicks help: without a help page that is its error box.
    QTest::keyClick(fixture.form.get(), Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(fixture.services.boxes.size(), std::size_t(1));
    QCOMPARE(fixture.services.boxes.back().title, QStringLiteral("Error"));
}

void MainWindowTest::shapesThroughRuns() {
    FormFixture fixture;
    ui::TForm1& form = fixture.create();
    fixture.showActive();
    QCOMPARE(fixedSizeOf(form), QSize(313, 220));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

    // A run that lists nothing stays fixed, at the counting height.
    makeDirectory(fixture.music() + "empty");
    fixture.setDirectory(fixture.music() + "empty");
    QSize duringRun;
    DuringRun probe([] { return true; }, [&] { duringRun = fixedSizeOf(form); });
    writeFile(fixture.music() + "empty/plain.mp3", "not tagged");
    fixture.clickStart();
    QCOMPARE(duringRun, QSize(313, 276));
    QCOMPARE(fixedSizeOf(form), QSize(313, 276));

    fillMusic(fixture, 3);
    fixture.setDirectory(fixture.music());
    fixture.clickStart();
    QCOMPARE(form.size(), QSize(313, 526));
    QVERIFY(fixedSizeOf(form).isEmpty());
    QCOMPARE(form.minimumSize(), QSize(313, 276));
    QVERIFY(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    auto* list = fixture.child<QTableView>("FileList");
    QCOMPARE(list->geometry(), QRect(0, 276, 313, 250));

    // The user widens the window: the list and its first column take the room.
    form.resize(500, 600);
    QTRY_COMPARE(list->geometry(), QRect(0, 276, 500, 324));
    QCOMPARE(list->columnWidth(0), list->viewport()->width() - 2 * 38);

    // Entering the field collapses it and empties the list and the counts.
    QCOMPARE(list->model()->rowCount(), 3);
    fixture.child<QLineEdit>("directory")->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(fixedSizeOf(form), QSize(313, 220));
    QCOMPARE(list->model()->rowCount(), 0);
    QCOMPARE(fixture.text("filesfound"), QStringLiteral("0"));
    QCOMPARE(fixture.text("id3v1tags"), QStringLiteral("0"));
    QCOMPARE(fixture.text("M3Ufound"), QStringLiteral("-"));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

    // Every listing run opens the list at 526 again, whatever size the user left.
    fixture.child<QPushButton>("start")->setFocus();
    fillMusic(fixture, 3);
    fixture.clickStart();
    QCOMPARE(form.size(), QSize(313, 526));
}

void MainWindowTest::captionCycleAndSummary() {
    FormFixture fixture;
    fixture.create();
    fillMusic(fixture, 3);
    fixture.setDirectory(fixture.music().substr(0, fixture.music().size() - 1));
    auto* start = fixture.child<QPushButton>("start");
    QCOMPARE(start->text(), startIdle);
    QString captionDuringRun;
    DuringRun probe([] { return true; }, [&] { captionDuringRun = start->text(); });
    fixture.clickStart();
    QCOMPARE(captionDuringRun, QStringLiteral("稍等"));
    QCOMPARE(start->text(), QStringLiteral("继续"));
    // The field got its trailing "/" before the run, and the run stored it.
    QCOMPARE(fixture.child<QLineEdit>("directory")->text().toStdString(), fixture.music());
    QCOMPARE(fixture.storedString("Last Directory"), std::optional(fixture.music()));
    QCOMPARE(fixture.text("filesfound"), QStringLiteral("3"));
    QCOMPARE(fixture.text("id3v1tags"), QStringLiteral("3"));
    QCOMPARE(fixture.text("id3v2tags"), QStringLiteral("3"));
    QCOMPARE(fixture.text("M3Ufound"), QStringLiteral("-"));
    QCOMPARE(fixture.services.boxes.size(), std::size_t(1));
    const ScriptedServices::ShownBox& summary = fixture.services.boxes.front();
    QCOMPARE(summary.title, QStringLiteral("Information"));
    QCOMPARE(summary.icon, QMessageBox::Information);
    QCOMPARE(summary.buttons, QStringList{QStringLiteral("确定")});
    QCOMPARE(summary.text,
             QStringLiteral("已经移除 3 个 ID3v1 标签和 3 个 ID3v2 标签，共计 3 个 MP3 "
                            "文件。\n已经检查和清除 0 个 M3U 文件和 0 个 PLS 文件。"));
    for (int i = 0; i < 3; ++i) {
        const std::string path = fixture.music() + "track" + std::to_string(100 + i) + ".mp3";
        QVERIFY(!hasId3v1(path) && !hasId3v2(path));
    }
    // "继续" starts the next run.
    fixture.clickStart();
    QCOMPARE(fixture.services.boxes.size(), std::size_t(2));
}

void MainWindowTest::secondPressStopsTheWalk() {
    FormFixture fixture;
    fixture.create();
    fillMusic(fixture, 30);
    fixture.setDirectory(fixture.music());
    auto* start = fixture.child<QPushButton>("start");
    auto* filesfound = fixture.child<QLabel>("filesfound");
    DuringRun stop([&] { return fixture.form->job().state().counters.mp3Files >= 2; },
                   [&] { start->click(); });
    fixture.clickStart();
    QVERIFY(stop.done());
    QCOMPARE(start->text(), QStringLiteral("继续"));
    const int counted = filesfound->text().toInt();
    QVERIFY2(counted >= 2 && counted < 30, qPrintable(filesfound->text()));
    // The stop still ends with the summary of what was done.
    QCOMPARE(fixture.services.textsTitled("Information").size(), 1);
    QVERIFY(fixture.services.boxes.back().text.contains(QStringLiteral("共计 %1 个").arg(counted)));
}

void MainWindowTest::enteringDirectoryMidRunClearsListAndCounts() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    fillMusic(fixture, 12);
    fixture.setDirectory(fixture.music());
    fixture.child<QCheckBox>("msgwhenfinished")->setChecked(false);
    ui::TForm1& form = *fixture.form;
    auto* list = fixture.child<QTableView>("FileList");
    std::size_t rowsBefore = 0;
    DuringRun enter([&] { return form.fileList().rows().totalRows() >= 5; },
                    [&] {
                        rowsBefore = form.fileList().rows().totalRows();
                        fixture.child<QLineEdit>("directory")->setFocus(Qt::MouseFocusReason);
                        QCOMPARE(form.fileList().rows().totalRows(), std::size_t(0));
                        QCOMPARE(fixture.text("filesfound"), QStringLiteral("0"));
                        QCOMPARE(fixedSizeOf(form), QSize(313, 220));
                    });
    fixture.clickStart();
    QVERIFY(enter.done());
    // The walk went on; its counts started again from zero and the list reopened.
    const int rowsAfter = list->model()->rowCount();
    QVERIFY(rowsAfter > 0);
    QCOMPARE(std::size_t(rowsAfter) + rowsBefore, std::size_t(12));
    // The file counted just before the clear is listed just after it.
    QCOMPARE(fixture.text("filesfound"), QString::number(rowsAfter - 1));
    QCOMPARE(form.size(), QSize(313, 526));
    QVERIFY(form.flags().SaveSettings);
}

void MainWindowTest::switchChangedMidRunTakesEffect() {
    FormFixture fixture;
    fixture.create();
    fillMusic(fixture, 10);
    fixture.setDirectory(fixture.music());
    auto* remove1 = fixture.child<QCheckBox>("remove1");
    DuringRun uncheck([&] { return fixture.form->job().state().counters.mp3Files >= 4; },
                      [&] { remove1->setChecked(false); });
    fixture.clickStart();
    int stripped = 0;
    for (int i = 0; i < 10; ++i) {
        stripped += hasId3v1(fixture.music() + "track" + std::to_string(100 + i) + ".mp3") ? 0 : 1;
    }
    QVERIFY2(stripped >= 3 && stripped < 10, qPrintable(QString::number(stripped)));
    // The summary reads the switch as it is at the end.
    QVERIFY(!fixture.services.boxes.back().text.contains(QStringLiteral("ID3v1")));
}

void MainWindowTest::enterStartsOneRunAndEscapeDoesNothing() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    fillMusic(fixture, 2);
    auto* directory = fixture.child<QLineEdit>("directory");
    directory->setFocus(Qt::MouseFocusReason);
    fixture.setDirectory(fixture.music());
    QTest::keyClick(directory, Qt::Key_Return);
    QCOMPARE(fixture.services.textsTitled("Information").size(), 1);

    // Enter on a check box clicks the default button.
    fixture.child<QCheckBox>("modonly")->setFocus();
    QTest::keyClick(fixture.child<QCheckBox>("modonly"), Qt::Key_Return);
    QCOMPARE(fixture.services.textsTitled("Information").size(), 2);

    QTest::keyClick(fixture.form.get(), Qt::Key_Escape);
    QTest::keyClick(fixture.child<QWidget>("modonly"), Qt::Key_Escape);
    QVERIFY(fixture.form->isVisible());
    QCOMPARE(fixture.services.boxes.size(), std::size_t(2));
}

void MainWindowTest::rejectedDirectoryShowsNotice() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    fixture.setDirectory("");
    fixture.clickStart();
    QCOMPARE(fixture.services.boxes.size(), std::size_t(1));
    const ScriptedServices::ShownBox& notice = fixture.services.boxes.front();
    QCOMPARE(notice.title, QStringLiteral("Tallowmere TAGSNIP"));
    QCOMPARE(notice.icon, QMessageBox::NoIcon);
    QCOMPARE(notice.buttons, QStringList{QStringLiteral("确定")});
    QCOMPARE(notice.text, QStringLiteral("Directory  not found or empty."));
    QTRY_COMPARE(QApplication::focusWidget(), fixture.child<QWidget>("directory"));
    QCOMPARE(fixture.child<QPushButton>("start")->text(), startIdle);
}

void MainWindowTest::directoryNormalisation_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    QTest::newRow("empty becomes the root") << ""
                                            << "/";
    QTest::newRow("slash appended") << "/srv/music"
                                    << "/srv/music/";
    QTest::newRow("kept") << "/srv/music/"
                          << "/srv/music/";
    QTest::newRow("blanks kept") << "  "
                                 << "  /";
    QTest::newRow("non-ASCII") << "/音乐"
                               << "/音乐/";
}

void MainWindowTest::directoryNormalisation() {
    QFETCH(QString, typed);
    QFETCH(QString, left);
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    auto* directory = fixture.child<QLineEdit>("directory");
    directory->setFocus(Qt::MouseFocusReason);
    directory->setText(typed);
    fixture.child<QWidget>("subdirectories")->setFocus(Qt::TabFocusReason);
    QCOMPARE(directory->text(), left);
}

void MainWindowTest::helpPage() {
    FormFixture fixture;
    fixture.create();
    fixture.child<QPushButton>("help")->click();
    QCOMPARE(fixture.services.opened.size(), std::size_t(0));
    QCOMPARE(fixture.services.boxes.size(), std::size_t(1));
    QCOMPARE(fixture.services.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(fixture.services.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(fixture.services.boxes[0].text,
             QStringLiteral("readme.html not found in TAGSNIP directory."));
    QCOMPARE(fixedSizeOf(*fixture.form), QSize(313, 220));

    writeFile(fixture.programDirectory() + "readme.html", "<html></html>");
    fixture.child<QPushButton>("help")->click();
    QCOMPARE(fixture.services.opened.size(), std::size_t(1));
    QCOMPARE(
        fixture.services.opened[0],
        QUrl::fromLocalFile(QString::fromStdString(fixture.programDirectory() + "readme.html")));
    QCOMPARE(fixture.services.boxes.size(), std::size_t(1));

    QTest::mouseClick(fixture.child<QLabel>("homepage"), Qt::LeftButton);
    QTest::mouseClick(fixture.child<QLabel>("Label2"), Qt::LeftButton);
    QCOMPARE(fixture.services.opened.size(), std::size_t(3));
    QCOMPARE(fixture.services.opened[1].host(), QStringLiteral("www.tallowmere.example"));
    QCOMPARE(fixture.services.opened[2], fixture.services.opened[1]);
}

void MainWindowTest::installedHelpPage() {
    FormFixture fixture;
    makeDirectory(fixture.root / "bin");
    makeDirectory(fixture.root / "share");
    makeDirectory(fixture.root / "share/doc");
    makeDirectory(fixture.root / "share/doc/tagsnip");
    writeFile(fixture.root / "share/doc/tagsnip/readme.html", "<html></html>");
    fixture.form = std::make_unique<ui::TForm1>(fixture.services, *fixture.store,
                                                ui::FormStartup{fixture.root / "bin/", {}});
    fixture.child<QPushButton>("help")->click();
    QCOMPARE(fixture.services.boxes.size(), std::size_t(0));
    QCOMPARE(fixture.services.opened.size(), std::size_t(1));
    QVERIFY(fixture.services.opened[0].path().endsWith("share/doc/tagsnip/readme.html"));
}

void MainWindowTest::browseButton() {
    FormFixture fixture;
    fixture.create();
    auto* directory = fixture.child<QLineEdit>("directory");
    const QString before = directory->text();
    fixture.services.folderAnswers = {std::nullopt, fixture.root / "music", std::string("/")};
    auto* browse = fixture.child<QPushButton>("BitBtn1");
    browse->click();
    QCOMPARE(directory->text(), before);
    browse->click();
    QCOMPARE(directory->text().toStdString(), fixture.music());
    browse->click();
    QCOMPARE(directory->text(), QStringLiteral("/"));
    QCOMPARE(fixture.services.folderDialogs, 3);
    QVERIFY(!browse->icon().isNull());
}

void MainWindowTest::startUpWithStoredSettings() {
    FormFixture fixture;
    fixture.storeString("Last Directory", "/srv/stored");
    fixture.storeNumber("Last PosX", 40);
    fixture.storeNumber("Last PosY", 50);
    fixture.storeNumber("Remove ID3v1", 0);
    fixture.storeNumber("Ignore Attributes", 5);
    fixture.create();
    QCOMPARE(fixture.child<QLineEdit>("directory")->text(), QStringLiteral("/srv/stored"));
    QCOMPARE(fixture.form->pos(), QPoint(40, 50));
    QVERIFY(!fixture.child<QCheckBox>("remove1")->isChecked());
    QVERIFY(fixture.child<QCheckBox>("ignoreattributes")->isChecked());
    QVERIFY(fixture.child<QCheckBox>("remove2")->isChecked());
    QCOMPARE(fixedSizeOf(*fixture.form), QSize(313, 220));
    QVERIFY(fixture.services.boxes.empty());
}

void MainWindowTest::startUpCommandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<bool>("remove1");
    QTest::addColumn<bool>("subdirectories");
    QTest::addColumn<int>("usageBoxes");
    QTest::addColumn<bool>("saveSettings");
    QTest::newRow("none") << QStringList{} << "/srv/stored" << false << false << 0 << true;
    QTest::newRow("directory gets its slash")
        << QStringList{"/srv/given"} << "/srv/given/" << false << false << 0 << true;
    QTest::newRow("last directory wins")
        << QStringList{"/a", "/b/"} << "/b/" << false << false << 0 << true;
    QTest::newRow("-t1 over a stored 0")
        << QStringList{"-t1"} << "/srv/stored" << true << false << 0 << true;
    QTest::newRow("-S is -s") << QStringList{"-S"} << "/srv/stored" << false << true << 0 << true;
    QTest::newRow("two unknown options")
        << QStringList{"-x", "-y"} << "/srv/stored" << false << false << 2 << false;
    QTest::newRow("-q alone") << QStringList{"-q"} << "/srv/stored" << false << false << 0 << false;
}

void MainWindowTest::startUpCommandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, directory);
    QFETCH(bool, remove1);
    QFETCH(bool, subdirectories);
    QFETCH(int, usageBoxes);
    QFETCH(bool, saveSettings);
    FormFixture fixture;
    fixture.storeString("Last Directory", "/srv/stored");
    fixture.storeNumber("Remove ID3v1", 0);
    fixture.storeNumber("Include Subdirectories", 0);
    std::vector<std::string> args;
    for (const QString& argument : arguments) {
        args.push_back(argument.toStdString());
    }
    fixture.create(args);
    QCOMPARE(fixture.child<QLineEdit>("directory")->text(), directory);
    QCOMPARE(fixture.child<QCheckBox>("remove1")->isChecked(), remove1);
    QCOMPARE(fixture.child<QCheckBox>("subdirectories")->isChecked(), subdirectories);
    QCOMPARE(fixture.services.textsTitled("Information").size(), usageBoxes);
    for (const QString& text : fixture.services.textsTitled("Information")) {
        QCOMPARE(text, ui::displayText(std::string(usageText)));
    }
    QCOMPARE(fixture.form->flags().SaveSettings, saveSettings);
    QVERIFY(!fixture.form->endRequested());
    // Unless the user enters the field, a cleared SaveSettings writes nothing at close.
    fixture.form->close();
    QCOMPARE(fixture.storedNumber("Last PosX").has_value(), saveSettings);
}

void MainWindowTest::startUpRunBeforeShow() {
    FormFixture fixture;
    fillMusic(fixture, 3);
    fixture.create({fixture.music(), "-r"});
    ui::TForm1& form = *fixture.form;
    QVERIFY(!form.isVisible());
    QVERIFY(!form.endRequested());
    QCOMPARE(fixture.child<QPushButton>("start")->text(), QStringLiteral("继续"));
    QCOMPARE(fixture.child<QTableView>("FileList")->model()->rowCount(), 3);
    QCOMPARE(fixture.services.textsTitled("Information").size(), 1);
    QCOMPARE(form.size(), QSize(313, 526));
    QCOMPARE(fixture.storedString("Last Directory"), std::optional(fixture.music()));
    fixture.showActive();
    QCOMPARE(QApplication::focusWidget(), fixture.child<QWidget>("start"));
    QCOMPARE(fixture.child<QTableView>("FileList")->model()->rowCount(), 3);
}

void MainWindowTest::startUpRunAndQuit() {
    FormFixture fixture;
    fillMusic(fixture, 2);
    fixture.create({"-q", fixture.music(), "-r"});
    QVERIFY(fixture.form->endRequested());
    QVERIFY(!fixture.form->isVisible());
    QCOMPARE(fixture.services.textsTitled("Information").size(), 1);
    QVERIFY(!hasId3v1(fixture.music() + "track100.mp3"));
    // -q wrote nothing, not even the start directory.
    QVERIFY(!fixture.settingsKeyExists());
}

void MainWindowTest::startUpRunOnMissingDirectory() {
    FormFixture fixture;
    fixture.create({"-q", "-r", fixture.root / "missing"});
    ui::TForm1& form = *fixture.form;
    QVERIFY(!form.endRequested());
    QCOMPARE(fixture.services.boxes.size(), std::size_t(1));
    QCOMPARE(fixture.services.boxes[0].text,
             QString::fromStdString("Directory " + (fixture.root / "missing/") +
                                    " not found or empty."));
    QVERIFY(!form.flags().SaveSettings);
    fixture.showActive();
    QTRY_COMPARE(QApplication::focusWidget(), fixture.child<QWidget>("directory"));
    // Entering the field sets SaveSettings again.
    QVERIFY(form.flags().SaveSettings);
    fillMusic(fixture, 1);
    fixture.setDirectory(fixture.music());
    fixture.clickStart();
    QVERIFY(form.endRequested());
}

void MainWindowTest::closeSavesSettings() {
    FormFixture fixture;
    fixture.storeNumber("Remove ID3v2", 0);
    fixture.create();
    fixture.child<QCheckBox>("remove2")->setChecked(true);
    fixture.child<QCheckBox>("modonly")->setChecked(false);
    fixture.child<QCheckBox>("ignoreattributes")->setChecked(true);
    fixture.form->move(300, 200);
    fixture.child<QPushButton>("Button1")->click();
    QVERIFY(!fixture.form->isVisible());
    QCOMPARE(fixture.storedNumber("Last PosX"), std::optional<std::uint32_t>(300));
    QCOMPARE(fixture.storedNumber("Last PosY"), std::optional<std::uint32_t>(200));
    QCOMPARE(fixture.storedNumber("Remove ID3v2"), std::nullopt);
    QCOMPARE(fixture.storedNumber("Modified Only"), std::optional<std::uint32_t>(0));
    QCOMPARE(fixture.storedNumber("Ignore Attributes"), std::optional<std::uint32_t>(1));
    QCOMPARE(fixture.storedString("Last Directory"), std::nullopt);
}

void MainWindowTest::closeDuringRun() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    fillMusic(fixture, 30);
    fixture.setDirectory(fixture.music());
    ui::TForm1& form = *fixture.form;
    std::size_t rowsAtClose = 0;
    DuringRun close([&] { return form.job().state().counters.mp3Files >= 3; },
                    [&] {
                        form.close();
                        rowsAtClose = form.fileList().rows().totalRows();
                        // The walk has not returned: its rows are still alive.
                        QVERIFY(form.job().walking());
                        QVERIFY(rowsAtClose > 0);
                    });
    fixture.clickStart();
    QVERIFY(close.done());
    QVERIFY(!form.isVisible());
    QVERIFY(!form.job().walking());
    QVERIFY(form.job().state().counters.mp3Files < 30);
    QVERIFY(fixture.storedNumber("Last PosX").has_value());
    // Released once the walk returned; no summary pops up over a closed window.
    QCOMPARE(form.fileList().rows().totalRows(), std::size_t(0));
    QCOMPARE(fixture.services.textsTitled("Information").size(), 0);
    QCOMPARE(fixture.child<QPushButton>("start")->text(), QStringLiteral("继续"));
}

void MainWindowTest::wipeAnsweredCancel() {
    FormFixture fixture;
    fixture.storeNumber("Popup", 0);
    fixture.create();
    fixture.showActive();
    fixture.child<QCheckBox>("subdirectories")->setChecked(false);
    fixture.services.answers = {QMessageBox::RejectRole};
    fixture.child<QPushButton>("CleanRegistry")->click();
    QCOMPARE(fixture.services.boxes.size(), std::size_t(1));
    const ScriptedServices::ShownBox& question = fixture.services.boxes[0];
    QCOMPARE(question.title, QStringLiteral("Warning"));
    QCOMPARE(question.icon, QMessageBox::Warning);
    // The desktop's button layout decides their order on screen.
    QStringList buttons = question.buttons;
    buttons.sort();
    QCOMPARE(buttons, (QStringList{QStringLiteral("取消"), QStringLiteral("是(&Y)")}));
    QCOMPARE(question.text, ui::displayText(ui::wipeQuestionText));
    QVERIFY(
        question.text.endsWith(QStringLiteral("步骤。                        \n你确实要移除所有 "
                                              "TAGSNIP 注册表项吗？")));
    QVERIFY(fixture.form->isVisible());
    QVERIFY(fixture.settingsKeyExists());
    QVERIFY(!fixture.child<QCheckBox>("subdirectories")->isChecked());
    QTRY_COMPARE(QApplication::focusWidget(), fixture.child<QWidget>("start"));
}

void MainWindowTest::wipeAnsweredYes() {
    FormFixture fixture;
    fixture.storeNumber("Popup", 0);
    fixture.storeString("Last Directory", "/srv/stored/");
    fixture.create();
    fixture.showActive();
    fixture.child<QCheckBox>("subdirectories")->setChecked(false);
    fixture.child<QCheckBox>("ignoreattributes")->setChecked(true);
    fixture.child<QCheckBox>("cleanM3U")->setChecked(false);
    fixture.services.answers = {QMessageBox::YesRole};
    fixture.child<QPushButton>("CleanRegistry")->click();
    QVERIFY(!fixture.form->isVisible());
    QVERIFY(!fixture.form->flags().SaveSettings);
    // Nothing was written back at the close.
    QVERIFY(!fixture.settingsKeyExists());
    QVERIFY(fixture.child<QCheckBox>("subdirectories")->isChecked());
    QVERIFY(!fixture.child<QCheckBox>("ignoreattributes")->isChecked());
    QVERIFY(!fixture.child<QCheckBox>("cleanM3U")->isChecked());
}

void MainWindowTest::manyRowsAllArriveInTheList() {
    FormFixture fixture;
    ui::TForm1& form = fixture.create();
    fixture.showActive();
    // The host side of a run of 20,000 rows, without the disk: rows wait in batches.
    form.ShowCountPanel();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 20000; ++i) {
        // Not "f" + std::to_string(i): GCC 12 at -O3 sees a false overlap in that (-Wrestrict).
        std::string name = std::to_string(i);
        name.insert(0, 1, 'f');
        name += ".mp3";
        form.ShowCount(CountLabel::filesfound, std::to_string(i + 1));
        form.PumpEvents();
        form.ExpandForRows();
        form.AddRow({name, "X", "-", "/x/" + name});
    }
    form.StartCaption("继续");
    QCOMPARE(fixture.child<QTableView>("FileList")->model()->rowCount(), 20000);
    QCOMPARE(fixture.text("filesfound"), QStringLiteral("20000"));
    qInfo("20000 rows through the window host took %lld ms", clock.elapsed());
}

// The window words every fault as the system does, error numbers included; the cases that only
// the command-line tool meets (keeping what a run removes) have no such text.
void MainWindowTest::faultsShowTheSystemsOwnTexts_data() {
    QTest::addColumn<int>("index");
    const std::vector<MessageCase>& cases = messageCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].systemText != nullptr) {
            QTest::newRow(cases[i].name) << static_cast<int>(i);
        }
    }
}

void MainWindowTest::faultsShowTheSystemsOwnTexts() {
    QFETCH(int, index);
    const MessageCase& messageCase = messageCases()[static_cast<std::size_t>(index)];
    PreparedCase prepared(messageCase);
    if (!prepared.skipReason().empty()) {
        QSKIP(prepared.skipReason().c_str());
    }
    FormFixture fixture;
    fixture.create();
    const char* const boxes[] = {"subdirectories",   "remove1", "remove2",
                                 "ignoreattributes", "modonly", "msgwhenfinished",
                                 "cleanM3U",         "cleanPLS"};
    for (std::size_t i = 0; i < std::size(allSwitches); ++i) {
        fixture.child<QCheckBox>(boxes[i])->setChecked(allSwitches[i] == messageCase.on);
    }
    fixture.setDirectory(prepared.library());

    prepared.run(*fixture.form);

    QCOMPARE(fixture.services.textsTitled(QStringLiteral("Error")),
             QStringList{ui::displayText(prepared.expected(MessageStyle::system))});
}
