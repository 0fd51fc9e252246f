#pragma once

#include <QObject>

class FileListTest : public QObject {
    Q_OBJECT

private slots:
    void textOrder_data();
    void textOrder();
    void sortByEachColumn();
    void tipAndActionsFollowTheirRowAfterSort();
    void sortWhileRunAddsRows();
    void focusedRowOnlyWithSeveralSelected();
    void emptyListAndNoFocusDoNothing();
    void doubleClickBelowLastRow();
    void rootDirectoryFolder();
    void nameThatIsNotUtf8();
    void sortColumnSurvivesNewRun();
    void popupMenuItems();
    void sortingManyRowsOrdersEveryColumn();
    void modelKeepsItsContractThroughARun();
};
