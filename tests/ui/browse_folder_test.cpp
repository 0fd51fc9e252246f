#include "browse_folder_test.h"

#include "support/temp_dir.h"

#include "ui/browse_folder.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace tagsnip;
using namespace tagsnip::test;
using tagsnip::ui::BrowseFolderDialog;
using tagsnip::ui::TBrowseFolder;

namespace {

std::string withoutSlash(const std::string& directory) {
    return directory.substr(0, directory.size() - 1);
}

}  // namespace

void BrowseFolderTest::shortenPath_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("shown");
    auto row = [](const char* name, const char* path, const char* shown) {
        QTest::newRow(name) << QByteArray(path) << QByteArray(shown);
    };
    row("short", "C:/Music", "C:/Music");
    row("parts deleted", "D:/Music/Albums/Various Artists/Greatest Hits 1999/CD2",
        "D:/.../Greatest Hits 1999/CD2");
    row("two deleted", "E:/mp3/new/2002/October/Week 41/incoming",
        "E:/.../October/Week 41/incoming");
    row("leading double slash", "//server/share/music/albums/rock/classic 1970-1979",
        "/.../albums/rock/classic 1970-1979");
    row("only two parts", "C:/A very long folder name that goes on and on",
        "C:/A very long folder name that goes on and on");
    row("three parts stay longer", "C:/x/A very long folder name that goes on and on",
        "C:/.../A very long folder name that goes on and on");
    row("exactly 35 bytes", "/home/someone/music/albums/abcdefgh",
        "/home/someone/music/albums/abcdefgh");
    row("36 bytes", "/home/someone/music/albums/abcdefghi", "/.../someone/music/albums/abcdefghi");
    row("bytes, not characters", "/home/音乐/专辑/二零零二/十月/第四十一周",
        "/.../十月/第四十一周");
    row("trailing slash kept as a part", "/srv/media/library/music/albums/2002/",
        "/.../library/music/albums/2002/");
}

void BrowseFolderTest::shortenPath() {
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, shown);
    QCOMPARE(QByteArray::fromStdString(ui::ShortenPath(path.toStdString())), shown);
}

void BrowseFolderTest::placement_data() {
    QTest::addColumn<QRect>("front");
    QTest::addColumn<QSize>("dialog");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("centred, a quarter down")
        << QRect(100, 50, 400, 300) << QSize(320, 400) << QPoint(140, 125);
    QTest::newRow("odd sizes truncate")
        << QRect(221, 128, 313, 527) << QSize(321, 401) << QPoint(217, 259);
    QTest::newRow("left of the screen")
        << QRect(-500, -40, 301, 203) << QSize(101, 100) << QPoint(-400, 10);
}

void BrowseFolderTest::placement() {
    QFETCH(QRect, front);
    QFETCH(QSize, dialog);
    QFETCH(QPoint, position);
    QCOMPARE(ui::placeOver(front, dialog), position);
}

void BrowseFolderTest::placedOverTheFrontWindow() {
    QWidget owner;
    owner.setGeometry(200, 150, 313, 526);
    owner.show();
    owner.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    TBrowseFolder browse(&owner);
    const auto dialog = browse.prepareDialog();
    const QRect front = owner.frameGeometry();
    const QSize outer = dialog->size() + (front.size() - owner.size());
    QCOMPARE(dialog->pos(), ui::placeOver(front, outer));
    QVERIFY(dialog->isModal());
}

void BrowseFolderTest::nothingPreselectedAtFirst() {
    TBrowseFolder browse(nullptr);
    browse.Title = QStringLiteral("选择移除 ID3 的文件夹");
    browse.ShowPathInStatusArea = true;
    const auto dialog = browse.prepareDialog();
    QCOMPARE(dialog->selectedPath(), std::string());
    QVERIFY(!dialog->okEnabled());
    QCOMPARE(dialog->findChild<QLabel*>("title")->text(), QStringLiteral("选择移除 ID3 的文件夹"));
    QCOMPARE(dialog->findChild<QPushButton*>("ok")->text(), QStringLiteral("确定"));
    QCOMPARE(dialog->findChild<QPushButton*>("cancel")->text(), QStringLiteral("取消"));
    // The tree starts at the root of the file system.
    auto* tree = dialog->findChild<QTreeView*>("folderTree");
    QCOMPARE(tree->model()->index(0, 0, tree->rootIndex()).data().toString(), QStringLiteral("/"));
}

void BrowseFolderTest::preselectsAnExistingDirectory() {
    TempDir root;
    makeDirectory(root / "a long folder name for the status line");
    const std::string chosen = root / "a long folder name for the status line";
    TBrowseFolder browse(nullptr);
    browse.ShowPathInStatusArea = true;
    browse.Directory = chosen;
    const auto dialog = browse.prepareDialog();
    QCOMPARE(dialog->selectedPath(), chosen);
    QVERIFY(dialog->okEnabled());
    QCOMPARE(dialog->statusText(), QString::fromStdString(ui::ShortenPath(chosen)));
    QVERIFY(dialog->statusText().startsWith(QStringLiteral("/.../")));

    browse.Directory = root / "gone";
    const auto second = browse.prepareDialog();
    QCOMPARE(second->selectedPath(), std::string());
    QVERIFY(!second->okEnabled());
}

void BrowseFolderTest::cancelChangesNothing() {
    TempDir root;
    TBrowseFolder browse(nullptr);
    browse.Directory = withoutSlash(root.path());
    const auto dialog = browse.prepareDialog();
    QVERIFY(dialog->selectDirectory("/"));
    QVERIFY(!browse.takeResult(*dialog, QDialog::Rejected));
    QCOMPARE(browse.Directory, withoutSlash(root.path()));
}

void BrowseFolderTest::confirmedChoice() {
    TempDir root;
    makeDirectory(root / "music");
    TBrowseFolder browse(nullptr);
    browse.ShowPathInStatusArea = true;
    auto dialog = browse.prepareDialog();
    // Given with or without its trailing "/", the folder comes back as the file system names it.
    QVERIFY(dialog->selectDirectory(root / "music/"));
    QVERIFY(browse.takeResult(*dialog, QDialog::Accepted));
    QCOMPARE(browse.Directory, root / "music");
    dialog = browse.prepareDialog();
    QCOMPARE(dialog->selectedPath(), root / "music");
    QVERIFY(dialog->selectDirectory("/"));
    QCOMPARE(dialog->statusText(), QStringLiteral("/"));
    QVERIFY(browse.takeResult(*dialog, QDialog::Accepted));
    QCOMPARE(browse.Directory, std::string("/"));
}

void BrowseFolderTest::executeRunsTheModalDialog() {
    TempDir root;
    makeDirectory(root / "picked");
    QWidget owner;
    owner.show();
    TBrowseFolder browse(&owner);
    browse.Directory = root / "picked";
    bool answered = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<BrowseFolderDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        QVERIFY(dialog->okEnabled());
        answered = true;
        dialog->findChild<QPushButton*>("ok")->click();
    });
    QVERIFY(browse.Execute());
    QVERIFY(answered);
    QCOMPARE(browse.Directory, root / "picked");

    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<BrowseFolderDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->findChild<QPushButton*>("cancel")->click();
    });
    QVERIFY(!browse.Execute());
    QCOMPARE(browse.Directory, root / "picked");
}
