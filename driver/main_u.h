#pragma once
// TMain: the driver's main window, a narrow strip with the start/stop button, the readouts of
// the latest reading, the second button and the status bar (clock, state, result), and the
// notification-area icon with its menu.
//
// It runs the start-up (InitializeDriver) and the shut-down of the driver, starts and stops the
// polling runs, hooks the application window's messages (readings and states reach the DDE items
// there, on the window thread) and keeps the closing rules. Minimising leaves only the icon when
// the desktop has a notification area; without one the window minimises as usual, and the
// icon's menu is the window's context menu as well.
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <cstdint>

class QLabel;
class QMenu;
class QSystemTrayIcon;
#include "comexchange.h"

namespace Ui {
class TMain;
}

class QDialog;

class TMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TMain(QWidget *parent = nullptr);
    ~TMain() override;  // the shut-down: a run is ended, the settings written, the controller freed

    enum class StartResult { Started, AlreadyRunning };
    // The start-up routine: hook, messages, controller, settings, idle state, then the command
    // line ("/s" or "/S" as first argument opens the way to the settings window and holds back
    // the automatic start). `service` is the DDE service to serve. A service that another copy
    // serves ends the start-up with a message naming it; that copy's settings file stays
    // untouched.
    StartResult InitializeDriver(const QStringList &arguments, const QString &service);

    QSystemTrayIcon *TrayIcon() const { return TI; }
    QMenu *TrayMenu() const { return PM1; }
    TCOMExchange *CurrentExchange() const { return Exchange; }
    // The About box that "&About" shows; made by the main block after this window.
    void SetAboutBox(QDialog *about) { FAbout = about; }

public slots:
    void Button1Click();
    void Button2Click();
    void PM1_1Click();  // restore and bring to the front
    void PM1_2Click();  // the About box, modal
    void PM1_3Click();  // help contents
    void PM1_4Click();  // close, by the closing rules
    // The end asked for from outside (SIGTERM, SIGINT, SIGHUP): as "&Exit" with nobody to answer.
    // Open dialogs are dismissed, the settings window closes dropping edits not applied, a run
    // is stopped, and the program ends when it has ended, with the settings saved.
    void EndUnattended();
    // The end when the process is already exiting (Qt lost its display): the run stopped and
    // logged, the settings written, with no event loop left to serve anything.
    void EndAtExit();

signals:
    // The window closed for good: the program ends.
    void Finished();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    QDialog *FAbout = nullptr;
    void StartPolling();
    void StopPolling();
    void ExchangeEnded();
    void EndAfterRun();
    void HideAppWindow();
    void ShowState(std::uint8_t state);
    void ShowHints(bool hints);
    void ShowClock();
    void DockSetupWindow();
    int StopDeadlineMs() const;

    Ui::TMain *ui;
    QLabel *Panels[3];
    QMenu *PM1;
    QSystemTrayIcon *TI;
    QPointer<TCOMExchange> Exchange;
    int HookId = -1;
    bool ClosePending = false;   // a close waits for the end of the run
    bool Started = false;        // the controller is ours to save and free
    bool StartupDone = false;    // InitializeDriver has returned
    bool Ending = false;         // the end has begun: no run starts any more
    QString HelpFile;
};
