#pragma once
// TfMain: the setup program's main window.
//
// It owns the controller (TProgramControl), the instrument model (TDevice) and the program's
// file dialogs, carries every control of the form (ui->NAME by component name) and routes
// every command of its menu, toolbar and tab buttons (MyClick). Commands that keep the
// instrument busy run on a TExchange worker, which the window starts and never waits for.
//
// The commands are attached to their senders (menu item, toolbar button or tab button) with
// SetCommand(): an action on the window thread, or an operation started on a new worker. The
// command table and MyClick are in main_commands.cpp, the rest of the window in main_u.cpp.
#include "exchange_u.h"
#include "platform/messages.h"

#include <QMainWindow>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class QAbstractButton;
class QAbstractSlider;
class QAction;
class QLineEdit;
class TDevice;
class TFileDialog;
class TProgramControl;
class TProjectControl;

namespace Ui {
class TfMain;
class TfMainFrame;
}

class TfMain : public QMainWindow {
    Q_OBJECT
public:
    // OnReader: on a worker too, for an operation that only reads from the instrument; it stops
    // at its next exchange when the program is ended from outside (EndUnattended).
    enum TRunsOn { OnWindowThread, OnWorker, OnReader };

    explicit TfMain(QWidget *parent = nullptr);
    ~TfMain() override;

    // The form's controls, named by their component names (ui->TS0CB0, ui->M1N1, ...). The
    // window is shown with its frame alone (menus, toolbar, status bar, the page control); the
    // several hundred controls of its six sheets are made right after its first paint, or at
    // once when anything reaches a control through ui before that (BuildSheets).
    class TControls {
    public:
        Ui::TfMain *operator->() const;
        Ui::TfMain &operator*() const { return *operator->(); }

    private:
        friend class TfMain;
        explicit TControls(TfMain *window) : FWindow(window) {}
        TfMain *const FWindow;
    };
    const TControls ui;
    // The frame's controls (menus, toolbar, status bar, the page control and its sheets as
    // pages), reached without making the sheets' controls.
    Ui::TfMainFrame &Frame() const;
    // Makes the sheets' controls, once, and gives them what the window gives its controls:
    // handlers, commands, the port lists, the font style and the access masks. Any thread (a
    // worker has the window thread do it and waits).
    void BuildSheets();
    bool SheetsBuilt() const { return FSheetsBuilt; }

    TProgramControl *ProgramControl = nullptr;
    TProjectControl *ProjectControl = nullptr;
    TDevice *Device = nullptr;

    // The device's file dialogs, owned by the window (the project controller owns its two).
    // SetSaveDir gives every file dialog of the window one initial folder.
    TFileDialog *EEPROMOpenDialog = nullptr;
    TFileDialog *EEPROMSaveDialog = nullptr;
    TFileDialog *CalibOpenDialog = nullptr;
    TFileDialog *CalibSaveDialog = nullptr;

    // Left by the latest mouse press on the status bar: the press armed the Admin gesture.
    bool AdminArmed = false;
    // Where the arming press must lie (status bar coordinates, inside the clock panel) and the
    // modifier keys that must be held with it.
    static QRect AdminRect();
    static constexpr Qt::KeyboardModifiers AdminModifiers = Qt::ControlModifier | Qt::ShiftModifier;

    // Attaches the action of one sender of MyClick. An OnWorker action is started on a new
    // TExchange each time; for the start/stop buttons it is the start of their operation.
    void SetCommand(QObject *sender, TRunsOn runsOn, std::function<void()> action);

    // The handlers of the window.
    int InitMainForm();   // 0, or -1 when the program settings could not be read
    int DoneMainForm();   // 0, or -1 when the program settings could not be written
    bool AppMessageHook(platform::Message &message);
    static bool IsFloatKeyAllowed(const QString &text, QChar key);
    // Help: contents (F1, M9N1, TB19) or the topic of one tab (its "Справка" button).
    void ShowHelp(unsigned command, unsigned context);

    // A change of a data field, a tab or a relay cell: marks the project modified (and presets
    // what depends on the field). Window thread.
    void MyChange(QObject *sender);
    // The end of a move of a brightness slider: the three together stay at most 25.
    void MySliderChanged(QAbstractSlider *slider);
    // A press on a relay cell: its next mode, and the usage column brought up to date.
    void MyMouseDown(QObject *sender);

    // The end asked for from outside (SIGTERM, SIGINT, SIGHUP), with nobody to answer: as
    // "Выход", but a running loop is stopped and the program waits for its operations instead
    // of refusing, open dialogs are dismissed, and a modified project is not saved (its file
    // stays as last saved), which standard error says. The program settings are saved.
    void EndUnattended(int signal);

    // The link group's port and baud texts as the window showed them last; any thread.
    QString LinkPortText() const;
    QString LinkBaudText() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Ui::TfMain *const FForm;
    std::atomic<bool> FSheetsBuilt{false};
    bool FSheetsQueued = false;  // their making is queued after the first paint

    void MyClick(QObject *sender);
    void MM0Change();
    void SB0MouseDown(const QPoint &pos, Qt::KeyboardModifiers modifiers);
    void SB0DblClick();
    bool FormClose();
    int FEndSignal = 0;  // the signal that ends the program unattended, 0 for none
    bool FSettingsSaved = false;  // by an accepted close; the teardown does not save them again
    void FormKeyDown(QKeyEvent *event, bool &handled);
    bool ToggleClick(QAbstractButton *button);
    struct TCommand;
    void StartOperation(const TCommand &command);
    void ConnectHandlers();
    void ConnectSheetHandlers();
    void ConnectCommands();
    void UpdateLinkTexts();
    void UseNarrowNumberFields();

    struct TCommand {
        TRunsOn RunsOn;
        std::function<void()> Action;
    };
    std::map<QObject *, TCommand> FCommands;
    int FHookId = 0;
    bool FHooked = false;
    bool FInMenuChange = false;
    QList<QLineEdit *> FFloatFields;

    mutable std::mutex FLinkTextLock;
    QString FLinkPortText;  // guarded by FLinkTextLock
    QString FLinkBaudText;  // guarded by FLinkTextLock
};
