#pragma once

#include <QObject>

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void controlsAndTexts_data();
    void controlsAndTexts();
    void windowLookAndInitialStates();
    void tabOrderAndFirstFocus();
    void accelerators();
    void shapesThroughRuns();
    void captionCycleAndSummary();
    void secondPressStopsTheWalk();
    void enteringDirectoryMidRunClearsListAndCounts();
    void switchChangedMidRunTakesEffect();
    void enterStartsOneRunAndEscapeDoesNothing();
    void rejectedDirectoryShowsNotice();
    void directoryNormalisation_data();
    void directoryNormalisation();
    void helpPage();
    void installedHelpPage();
    void browseButton();
    void startUpWithStoredSettings();
    void startUpCommandLine_data();
    void startUpCommandLine();
    void startUpRunBeforeShow();
    void startUpRunAndQuit();
    void startUpRunOnMissingDirectory();
    void closeSavesSettings();
    void closeDuringRun();
    void wipeAnsweredCancel();
    void wipeAnsweredYes();
    void manyRowsAllArriveInTheList();
    void faultsShowTheSystemsOwnTexts_data();
    void faultsShowTheSystemsOwnTexts();
};
