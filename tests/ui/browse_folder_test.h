#pragma once

#include <QObject>

class BrowseFolderTest : public QObject {
    Q_OBJECT

private slots:
    void shortenPath_data();
    void shortenPath();
    void placement_data();
    void placement();
    void placedOverTheFrontWindow();
    void nothingPreselectedAtFirst();
    void preselectsAnExistingDirectory();
    void cancelChangesNothing();
    void confirmedChoice();
    void executeRunsTheModalDialog();
};
