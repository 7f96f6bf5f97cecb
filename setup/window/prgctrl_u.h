#pragma once
// TProgramControl: the application controller of the setup program.
//
// It holds the access mode, the exchange state and the name of the open project; owns the
// status bar's exchange label and progress gauge, and the pending program message; knows the
// program folder, the settings file and the folder last used in a file dialog; reads the
// program settings at start-up and writes them at the end.
//
// Threads. Workers never touch a widget. Every call a worker may make here (SetExchangeState,
// SetExchangeText, SetProgress, SetSaveDir, SetProjectFileName, ApplyAccessMasks, the message
// option ticks) runs its whole body on the window thread: directly when called there, otherwise
// handed over in order and waited for (RunOnWindowThread). ShowProgramMessage blocks a worker
// until the window thread has answered; senders on several workers take turns.
#include "accessmask_u.h"
#include "platform/messages.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class QLabel;
class QObject;
class QProgressBar;
class TfMain;

enum TProgramMode : std::uint8_t { Admin = 0, Internal = 1, External = 2 };
enum TExchangeState : std::uint8_t { Idle = 0, Exchanging = 1 };
// The project state of the project controller: none open, saved, modified.
enum TProjectState : std::uint8_t { psNone = 0, psSaved = 1, psModified = 2 };

enum TMessageKind : std::uint8_t {
    mtWarning = 0,
    mtError = 1,
    mtInformation = 2,
    mtConfirmation = 3,
    mtCustom = 4,
};

// Button sets of a program message: one bit a button.
using TMessageButtons = std::uint16_t;
enum : TMessageButtons {
    mbYes = 1 << 0,
    mbNo = 1 << 1,
    mbOK = 1 << 2,
    mbCancel = 1 << 3,
    mbAbort = 1 << 4,
    mbRetry = 1 << 5,
    mbIgnore = 1 << 6,
    mbAll = 1 << 7,
    mbNoToAll = 1 << 8,
    mbYesToAll = 1 << 9,
    mbHelp = 1 << 10,
    mbYesNo = mbYes | mbNo,                    // 3
    mbYesNoCancel = mbYes | mbNo | mbCancel,   // 11
    mbOKCancel = mbOK | mbCancel,              // 12
};

// Results of a program message (the button pressed).
enum : std::uint16_t {
    mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
    mrYes = 6, mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10,
};

// The file-name part of a path: the text after its last "/", "\" or ":" (a stored project name
// may come from a Windows machine).
QString FileNamePart(const QString &path);

class TProgramControl {
public:
    // Builds the controller for the main window whose form is already set up: the exchange
    // label and gauge go over the status bar's second panel; caption and label get their
    // initial texts.
    explicit TProgramControl(TfMain *main);
    ~TProgramControl();
    TProgramControl(const TProgramControl &) = delete;
    TProgramControl &operator=(const TProgramControl &) = delete;

    // --- Access mode ---
    TProgramMode Mode() const { return static_cast<TProgramMode>(FMode.load()); }
    TProgramMode SavedMode() const { return FSavedMode; }
    void SetMode(TProgramMode mode);
    // The Admin gesture: Admin on (remembering the mode) or back to the remembered mode.
    void ToggleAdmin();
    // Sets the visibility and enabled state of the window's controls from the mode, the
    // project state and the exchange state; the page control shows only with a project open.
    // Does nothing while the window has no project controller yet.
    void ApplyAccessMasks();
    // The same, once the window has made controls it lacked (its sheets): they are looked up.
    void ApplyAccessMasksToNewControls();
    // The rule sets; a running loop keeps its stop button enabled through
    // AccessMasks().SetAlwaysEnabled(id, on), any thread, before its exchange-state change.
    TAccessMasks &AccessMasks() { return FMasks; }

    // --- Project name, caption ---
    QString ProjectFileName() const;
    void SetProjectFileName(const QString &name);

    // --- Exchange label, state and gauge ---
    QString ExchangeText() const;
    void SetExchangeText(const QString &text);
    TExchangeState ExchangeState() const { return static_cast<TExchangeState>(FExchangeState.load()); }
    void SetExchangeState(std::uint8_t state);
    // Show 0 hides and resets the gauge to 0..100 at 0. Show 1 shows it with the new range and
    // position when Min <= Position <= Max; otherwise nothing changes. Other values: nothing.
    void SetProgress(std::uint8_t show, int min, int max, int position);
    QLabel *ExchangeLabel() const;
    QProgressBar *ProgressGauge() const;

    // --- Folders and files ---
    QString ProgramDir() const { return FProgramDir; }             // ends with "/"
    QString SettingsFileName() const { return FSettingsFileName; }
    QString SaveDir() const;
    // Stores dir and makes it the initial folder of every file dialog of the main window.
    void SetSaveDir(const QString &dir);

    // --- Program settings (program settings file) ---
    // 0; the settings that cannot be read take their defaults.
    int LoadProgramSettings(const QString &path);
    // 0. All keys in one replacement of the file; a refused write throws
    // platform::ProfileWriteError and the file stays as it was.
    int SaveProgramSettings(const QString &path);
    int ParseCommandLine();
    int ReopenLastProject();
    // Bold (true) or plain text on the working controls of the six tabs.
    void ApplyFontStyle(bool bold);

    // --- Relay matrix ---
    // Sets a cell of the relay matrix to a mode (picture, hint and Tag): 0 done, -1 picture
    // file missing (mode and hint set), -2 refused. Any thread (relaymatrix_u.cpp).
    std::int32_t SetRelayImage(QObject *cell, std::uint8_t column, std::uint8_t mode);

    // --- Program messages ---
    // Any thread. Shows the message on the window thread (centred on the main window, unless
    // the message options suppress it) and returns the button pressed; a message not shown
    // counts as mrOk.
    std::uint16_t ShowProgramMessage(bool force, const QString &text, TMessageKind kind,
                                     TMessageButtons buttons);
    // Window thread: shows or skips the pending message and stores its result.
    void ExecuteProgramDialog();

private:
    struct TPendingMessage {
        bool Force = false;
        QString Text;
        std::uint8_t Kind = mtInformation;
        TMessageButtons Buttons = mbOK;
        std::uint16_t Result = mrOk;  // a message not shown counts as OK
    };

    bool MessageWanted(const TPendingMessage &message) const;
    std::uint16_t RunMessageDialog(const TPendingMessage &message);

    TfMain *FMain;
    std::atomic<std::uint8_t> FMode{External};
    TProgramMode FSavedMode = External;         // window thread
    QString FProjectFileName;                   // window thread
    QString FExchangeText;                      // window thread
    std::atomic<std::uint8_t> FExchangeState{Idle};
    QPointer<QLabel> FExchangeLabel;
    QPointer<QProgressBar> FProgressGauge;
    QString FProgramDir;
    QString FSettingsFileName;
    QString FSaveDir;                           // window thread
    TAccessMasks FMasks;

    // The pending program messages, newest last. A worker's message waits here until the
    // window thread shows it; a message raised on the window thread goes on top and is shown at
    // once, also while a worker's message is still queued or on screen. FMessageLock guards the
    // list and the messages' results for short moments only; FSenderLock lets one worker at a
    // time raise a message and is held while that worker waits for its answer.
    std::mutex FMessageLock;
    std::mutex FSenderLock;
    QList<TPendingMessage *> FPending;
};
