#include "file_list_test.h"

#include "form_fixture.h"

#include "engine/path_text.h"
#include "ui/file_list.h"
#include "ui/result_list_model.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

using namespace tagsnip;
using namespace tagsnip::test;
using tagsnip::ui::FileList;

namespace {

struct ListFixture {
    ScriptedServices services;
    QWidget window;
    FileList* list;

    ListFixture() : list(new FileList(services, &window)) {
        window.resize(400, 300);
        list->setGeometry(0, 0, 400, 300);
    }
    void add(const std::string& name, const char* v1, const char* v2,
             const std::string& directory = "/music/") {
        list->rows().AddRow({name, v1, v2, directory + name});
        list->rows().flushPending();
    }
    QStringList column(int which) const {
        QStringList texts;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            texts << list->model()->index(row, which).data().toString();
        }
        return texts;
    }
    void clickHeader(int section) {
        QHeaderView* header = list->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    void focusRow(int row) { list->setCurrentIndex(list->model()->index(row, 0)); }
    QByteArray clipboardBytes() const {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        return data != nullptr ? data->data(QStringLiteral("text/plain")) : QByteArray();
    }
    void showActive() {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        list->setFocus();
    }
};

QUrl fileUrl(const std::string& path) {
    return ui::fileUrlOf(path);
}

}  // namespace

void FileListTest::textOrder_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("sign");
    QTest::newRow("a before B") << QByteArray("a.mp3") << QByteArray("B.mp3") << -1;
    QTest::newRow("B before c") << QByteArray("B.mp3") << QByteArray("c.mp3") << -1;
    QTest::newRow("case folded") << QByteArray("a.mp3") << QByteArray("A.MP3") << 0;
    QTest::newRow("dot before digit") << QByteArray("a.mp3") << QByteArray("a1.mp3") << -1;
    QTest::newRow("prefix first") << QByteArray("ab.mp3") << QByteArray("abc.mp3") << -1;
    QTest::newRow("folded to capitals") << QByteArray("[.mp3") << QByteArray("a.mp3") << 1;
    QTest::newRow("raw bytes above ASCII")
        << QByteArray("\xc3\xa9.mp3") << QByteArray("z.mp3") << 1;
    QTest::newRow("no folding of non-ASCII")
        << QByteArray("\xc3\xa4.mp3") << QByteArray("\xc3\x84.mp3") << 1;
    QTest::newRow("double-byte by raw value")
        << QByteArray("\xe6\x9c\x88.mp3") << QByteArray("\xe8\x8c\x89.mp3") << -1;
    QTest::newRow("dash before question mark") << QByteArray("-") << QByteArray("?") << -1;
    QTest::newRow("question mark before X") << QByteArray("?") << QByteArray("X") << -1;
    QTest::newRow("equal") << QByteArray("X") << QByteArray("X") << 0;
}

void FileListTest::textOrder() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, sign);
    const int forward = ui::compareListText(first.toStdString(), second.toStdString());
    const int backward = ui::compareListText(second.toStdString(), first.toStdString());
    QCOMPARE((forward > 0) - (forward < 0), sign);
    QCOMPARE((backward > 0) - (backward < 0), -sign);
}

void FileListTest::sortByEachColumn() {
    ListFixture fixture;
    fixture.add("c.mp3", "X", "-");
    fixture.add("a1.mp3", "-", "X");
    fixture.add("B.mp3", "?", "?");
    fixture.add("a.mp3", "X", "X");
    fixture.add("list.m3u", "-", "-");

    fixture.clickHeader(0);
    QCOMPARE(fixture.list->SortColumn(), 0);
    QCOMPARE(fixture.column(0), (QStringList{"a.mp3", "a1.mp3", "B.mp3", "c.mp3", "list.m3u"}));
    fixture.clickHeader(1);
    QCOMPARE(fixture.list->SortColumn(), 1);
    QCOMPARE(fixture.column(1), (QStringList{"-", "-", "?", "X", "X"}));
    fixture.clickHeader(2);
    QCOMPARE(fixture.column(2), (QStringList{"-", "-", "?", "X", "X"}));
    // Every row kept its marks and its path through the sorts.
    for (int row = 0; row < 5; ++row) {
        const ResultRow& listed = fixture.list->rows().row(row);
        QCOMPARE(listed.RowPath, "/music/" + listed.caption);
    }
    const ResultRow& b = fixture.list->rows().row(2);
    QCOMPARE(b.caption, std::string("B.mp3"));
    QCOMPARE(b.id3v1Mark, std::string("?"));
    // Clicking the same header again sorts ascending again: no toggle.
    fixture.clickHeader(0);
    fixture.clickHeader(0);
    QCOMPARE(fixture.column(0).first(), QStringLiteral("a.mp3"));
    QVERIFY(!fixture.list->horizontalHeader()->isSortIndicatorShown());
}

void FileListTest::tipAndActionsFollowTheirRowAfterSort() {
    ListFixture fixture;
    fixture.add("zeta.mp3", "X", "X", "/srv/one/");
    fixture.add("alpha.mp3", "X", "X", "/srv/two/");
    fixture.add("mid.mp3", "X", "X", "/srv/three/");
    fixture.list->FileListColumnClick(0);
    ui::ResultListModel& rows = fixture.list->rows();
    QCOMPARE(rows.FileListInfoTip(0), QStringLiteral("/srv/two/alpha.mp3"));
    QCOMPARE(fixture.list->model()->index(2, 0).data(Qt::ToolTipRole).toString(),
             QStringLiteral("/srv/one/zeta.mp3"));

    fixture.focusRow(0);
    fixture.list->openfile1Click();
    fixture.list->copyfilepathtoclipboard1Click();
    fixture.list->openpathinexplorer1Click();
    QCOMPARE(fixture.services.opened,
             (std::vector<QUrl>{fileUrl("/srv/two/alpha.mp3"), fileUrl("/srv/two/")}));
    QCOMPARE(fixture.clipboardBytes(), QByteArray("/srv/two/alpha.mp3"));
}

void FileListTest::sortWhileRunAddsRows() {
    FormFixture fixture;
    fixture.create();
    for (const char* name : {"m.mp3", "c.mp3", "x.mp3", "a.mp3", "q.mp3", "b.mp3", "k.mp3"}) {
        writeMp3(fixture.music() + name, true, false);
    }
    fixture.setDirectory(fixture.music());
    FileList& list = fixture.form->fileList();
    std::size_t sortedRows = 0;
    DuringRun sort([&] { return list.rows().totalRows() >= 3; },
                   [&] {
                       list.FileListColumnClick(0);
                       sortedRows = static_cast<std::size_t>(list.model()->rowCount());
                   });
    fixture.clickStart();
    QVERIFY(sort.done());
    const ListedPaths& walkOrder = fixture.form->job().state().listedPaths;
    QCOMPARE(static_cast<std::size_t>(list.model()->rowCount()), walkOrder.size());
    for (int row = 0; row < list.model()->rowCount(); ++row) {
        const ResultRow& listed = list.rows().row(row);
        QCOMPARE(listed.RowPath, fixture.music() + listed.caption);
        QCOMPARE(list.rows().FileListInfoTip(row), QString::fromStdString(listed.RowPath));
        if (static_cast<std::size_t>(row) >= sortedRows) {
            // Rows added after the sort follow in walk order.
            QCOMPARE(listed.RowPath, walkOrder[static_cast<std::size_t>(row)]);
        } else if (row > 0) {
            QVERIFY(ui::compareListText(list.rows().row(row - 1).caption, listed.caption) <= 0);
        }
    }
    list.setCurrentIndex(list.model()->index(1, 0));
    list.copyfilepathtoclipboard1Click();
    QCOMPARE(QGuiApplication::clipboard()->mimeData()->data("text/plain").toStdString(),
             list.rows().row(1).RowPath);
}

void FileListTest::focusedRowOnlyWithSeveralSelected() {
    ListFixture fixture;
    for (const char* name : {"one.mp3", "two.mp3", "three.mp3", "four.mp3"}) {
        fixture.add(name, "X", "X");
    }
    fixture.showActive();
    fixture.focusRow(0);
    QTest::mouseClick(fixture.list->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      fixture.list->visualRect(fixture.list->model()->index(2, 0)).center());
    QCOMPARE(fixture.list->selectionModel()->selectedRows().size(), 3);
    QCOMPARE(fixture.list->currentIndex().row(), 2);
    QTest::keyClick(fixture.list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(fixture.clipboardBytes(), QByteArray("/music/three.mp3"));
    QTest::keyClick(fixture.list, Qt::Key_Return);
    QTest::keyClick(fixture.list, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(fixture.services.opened,
             (std::vector<QUrl>{fileUrl("/music/three.mp3"), fileUrl("/music/")}));
}

void FileListTest::emptyListAndNoFocusDoNothing() {
    FormFixture fixture;
    fixture.create();
    fixture.showActive();
    FileList& list = fixture.form->fileList();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    list.setFocus();
    QCOMPARE(QApplication::focusWidget(), &list);
    auto pressAll = [&] {
        QTest::keyClick(&list, Qt::Key_Return);
        QTest::keyClick(&list, Qt::Key_Enter);
        QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(&list, Qt::Key_E, Qt::ControlModifier);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, {20, 20});
    };
    pressAll();
    // Enter on the list is the menu's, never the Start button's.
    QCOMPARE(fixture.child<QPushButton>("start")->text(), QStringLiteral("开始(&G)"));
    QVERIFY(fixture.services.boxes.empty());

    list.rows().AddRow({"a.mp3", "X", "X", "/music/a.mp3"});
    list.rows().flushPending();
    list.setCurrentIndex({});
    list.setFocus();
    QVERIFY(!list.currentIndex().isValid());
    QTest::keyClick(&list, Qt::Key_Return);
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&list, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(fixture.services.opened.empty());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QCOMPARE(fixture.child<QPushButton>("start")->text(), QStringLiteral("开始(&G)"));
}

void FileListTest::doubleClickBelowLastRow() {
    ListFixture fixture;
    fixture.add("first.mp3", "X", "X");
    fixture.add("second.mp3", "X", "X");
    fixture.showActive();
    fixture.focusRow(0);
    const QRect last = fixture.list->visualRect(fixture.list->model()->index(1, 0));
    const QPoint below(last.center().x(), last.bottom() + 40);
    QVERIFY(!fixture.list->indexAt(below).isValid());
    QTest::mouseClick(fixture.list->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(fixture.list->viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(fixture.services.opened, std::vector<QUrl>{fileUrl("/music/first.mp3")});
    // On a row, the first click of the double click makes it the focused row.
    QTest::mouseClick(fixture.list->viewport(), Qt::LeftButton, {}, last.center());
    QTest::mouseDClick(fixture.list->viewport(), Qt::LeftButton, {}, last.center());
    QCOMPARE(fixture.services.opened.back(), fileUrl("/music/second.mp3"));
}

void FileListTest::rootDirectoryFolder() {
    QCOMPARE(directoryOf("/a.mp3"), std::string("/"));
    QCOMPARE(directoryOf("/srv/music/a.mp3"), std::string("/srv/music/"));
    ListFixture fixture;
    fixture.add("a.mp3", "X", "X", "/");
    fixture.focusRow(0);
    fixture.list->openpathinexplorer1Click();
    QCOMPARE(fixture.services.opened, std::vector<QUrl>{QUrl(QStringLiteral("file:///"))});
}

void FileListTest::nameThatIsNotUtf8() {
    ListFixture fixture;
    const std::string name = "caf\xe9.mp3";
    fixture.add(name, "X", "X", "/srv/m\xfc/");
    fixture.add("cafe.mp3", "X", "X", "/srv/");
    const QString shown = fixture.list->model()->index(0, 0).data().toString();
    QVERIFY(shown.contains(QChar(0xfffd)));
    QVERIFY(shown.endsWith(QStringLiteral(".mp3")));
    // Sorted by its own bytes: 0xE9 comes after every ASCII letter.
    fixture.list->FileListColumnClick(0);
    QCOMPARE(fixture.list->rows().row(1).caption, name);
    fixture.focusRow(1);
    fixture.list->copyfilepathtoclipboard1Click();
    QCOMPARE(fixture.clipboardBytes(), QByteArray("/srv/m\xfc/caf\xe9.mp3"));
    fixture.list->openfile1Click();
    fixture.list->openpathinexplorer1Click();
    QCOMPARE(fixture.services.opened[0].toEncoded(), QByteArray("file:///srv/m%FC/caf%E9.mp3"));
    QCOMPARE(fixture.services.opened[1].toEncoded(), QByteArray("file:///srv/m%FC/"));
}

void FileListTest::sortColumnSurvivesNewRun() {
    FormFixture fixture;
    fixture.create();
    FileList& list = fixture.form->fileList();
    list.FileListColumnClick(1);
    QCOMPARE(list.SortColumn(), 1);
    for (const char* name : {"z.mp3", "a.mp3", "m.mp3", "b.mp3"}) {
        writeMp3(fixture.music() + name, true, true);
    }
    fixture.setDirectory(fixture.music());
    fixture.clickStart();
    QCOMPARE(list.SortColumn(), 1);
    const ListedPaths& walkOrder = fixture.form->job().state().listedPaths;
    QCOMPARE(walkOrder.size(), std::size_t(4));
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(list.rows().row(row).RowPath, walkOrder[static_cast<std::size_t>(row)]);
    }
}

void FileListTest::popupMenuItems() {
    ListFixture fixture;
    QMenu* menu = fixture.list->popupMenu();
    QCOMPARE(menu->objectName(), QStringLiteral("PopupMenu1"));
    const QList<QAction*> items = menu->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->objectName(), QStringLiteral("openfile1"));
    QCOMPARE(items[0]->text(), QStringLiteral("打开/运行 文件"));
    QCOMPARE(items[0]->shortcut().toString(), QStringLiteral("Enter"));
    QCOMPARE(items[1]->objectName(), QStringLiteral("copyfilepathtoclipboard1"));
    QCOMPARE(items[1]->text(), QStringLiteral("将路径复制到剪贴板"));
    QCOMPARE(items[1]->shortcut().toString(), QStringLiteral("Ctrl+C"));
    QCOMPARE(items[2]->objectName(), QStringLiteral("openpathinexplorer1"));
    QCOMPARE(items[2]->text(), QStringLiteral("在浏览器中打开路径"));
    QCOMPARE(items[2]->shortcut().toString(), QStringLiteral("Ctrl+E"));
    for (QAction* item : items) {
        QVERIFY(item->isEnabled());
    }
    QCOMPARE(fixture.list->contextMenuPolicy(), Qt::CustomContextMenu);
}

void FileListTest::sortingManyRowsOrdersEveryColumn() {
    ListFixture fixture;
    ui::ResultListModel& rows = fixture.list->rows();
    const char* marks[] = {"X", "-", "?"};
    for (int i = 0; i < 100000; ++i) {
        const std::string name = "track" + std::to_string((i * 7919) % 100000) + ".mp3";
        rows.AddRow({name, marks[i % 3], marks[(i / 3) % 3], "/music/" + name});
    }
    rows.flushPending();
    for (int column = 0; column < 3; ++column) {
        QElapsedTimer clock;
        clock.start();
        fixture.list->FileListColumnClick(column);
        // A figure for the reader, not a pass mark: timings belong to benchmarks.
        qInfo("sorting 100000 rows by column %d took %lld ms", column, clock.elapsed());
        for (int row = 1; row < 100000; row += 997) {
            QVERIFY(ui::compareListText(ui::columnText(rows.row(row - 1), column),
                                        ui::columnText(rows.row(row), column)) <= 0);
        }
    }
    QCOMPARE(rows.row(0).RowPath, "/music/" + rows.row(0).caption);
}

// Qt's own checker watches every signal and answer of the model while a run fills it, sorts it
// and a new run clears it.
void FileListTest::modelKeepsItsContractThroughARun() {
    ui::ResultListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int i = 0; i < 50; ++i) {
        const std::string name = "song" + std::to_string((i * 37) % 50) + ".mp3";
        model.AddRow({name, i % 2 == 0 ? "X" : "-", i % 3 == 0 ? "?" : "X", "/music/" + name});
        if (i % 10 == 9) {
            model.flushPending();
        }
    }
    model.flushPending();
    QCOMPARE(model.rowCount(), 50);
    for (int column = 0; column < model.columnCount(); ++column) {
        model.sortBy(column);
    }
    model.removeAllRows();
    QCOMPARE(model.rowCount(), 0);
}
