#pragma once
// TProjectControl: the project files of the setup program.
//
// A project keeps one job in one INI file (".prj"): the section "Project Settings" with the
// link and search settings, the relay test choice, the calibration references, the inspection
// settings, the readout decimals and the tab last shown, and the section "Device" with the
// instrument's memory blocks (written and read by TDevice). The controller carries out the five
// project commands, holds the project state and shows it in the status bar's third panel, and
// owns the project open and save dialogs.
//
// Everything here runs on the window thread. The commands ask their questions as forced
// program messages. A project write that the system refuses (ProfileWriteError) or a form field
// that is not a number (TConvertError) ends the command where it happened and leaves the
// exception to the caller: RunCommand() shows it as an error message.
//
// A save asked for while an exchange runs is made under the link lock, taken with tryLock, so
// that no worker changes a block or the form half-way through it; while a worker holds the lock
// the save is refused with a message and nothing is written.
#include "filedialog_u.h"
#include "prgctrl_u.h"

#include <QLabel>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

class TfMain;
namespace platform {
class ProfileBatch;
class UserFileError;
}

// The folder of a chosen path: up to and including its last "/", "\" or ":".
QString FolderPart(const QString &path);
// The user's message for a chosen file that cannot be opened, or is a pipe or a device.
QString UserFileMessage(const platform::UserFileError &e);

class TProjectControl {
public:
    // The texts of the questions and notices.
    static const QString CloseQuestion;
    static const QString SaveQuestion;
    static const QString CloseSaveQuestion;
    static const QString SaveAgainQuestion;
    static const QString NoProjectNotice;
    static const QString NameRefusal;
    static const QString ReadWarning;
    static const QString BusyRefusal;
    // The name of a project that was never saved under a name of its own.
    static const QString NoName;

    // Creates the dialogs and the status picture for the main window, whose form is set up;
    // the project state starts at None (the masks are not applied yet).
    explicit TProjectControl(TfMain *main);
    // Frees the picture, then the save dialog, then the open dialog.
    ~TProjectControl();
    TProjectControl(const TProjectControl &) = delete;
    TProjectControl &operator=(const TProjectControl &) = delete;

    TProjectState State() const { return static_cast<TProjectState>(FState.load()); }
    QString StatusText() const { return FStatusText; }
    TFileDialog *OpenDialog() const { return FOpenDialog; }
    TFileDialog *SaveDialog() const { return FSaveDialog; }
    QLabel *StateImage() const { return FStateImage; }

    // Stores the text (at most 255 characters) and shows it, after five blanks, in the third
    // status panel.
    void SetProjectStatusText(const QString &text);
    // Stores the state; for None, Saved and Modified also sets the picture and the status text.
    // Then applies the access masks. Any thread (the body runs on the window thread).
    void SetState(std::uint8_t state);

    // --- The five commands ---
    // 0. New, open and close save first when asked to; when that save does not happen (a
    // cancelled dialog, a refused name, a write refused during an exchange), they end there
    // and the project stays open.
    int NewProject();
    int OpenProject();
    // 0 when the project is saved at the end, -1 when it is not (none open, a cancelled
    // dialog, a refused name, a write refused during an exchange).
    int SaveProject();
    int SaveProjectAs();
    int CloseProject();

    // --- Steps ---
    // Settings and blocks of ProjectFileName onto the form; ends Modified (new) or Saved.
    int LoadNewProject();
    int LoadProject();
    // Both sections to ProjectFileName in one replacement of the file; ends Saved. -1 when
    // refused during an exchange.
    int WriteProject();
    // State None; the project name stays.
    int ResetProject();
    int ReadProjectSettings(const QString &fileName);
    int WriteProjectSettings(const QString &fileName);
    int WriteProjectSettings(platform::ProfileBatch &ini);

    // Runs a command on the window thread and shows what it throws (a refused write, a field
    // that is not a number, a chosen file that is a pipe) as an error message. True when the command ran to its end.
    bool RunCommand(const std::function<void()> &command);

private:
    enum class TSaved { Written, NotWritten };
    int Load(TProjectState state);
    // The save of SaveProject (state Modified), and the save inside close: by its own name, or
    // through the save dialog when it has none yet. keepDir: the chosen folder does not become
    // the save folder.
    TSaved SaveModified(bool keepDir);
    // Asks for a file with the dialog; empty when cancelled.
    static QString Choose(TFileDialog *dialog);
    // WriteProject to a file; the project takes the name only once it is written there.
    int WriteProjectTo(const QString &fileName);
    void SetChosenName(const QString &path);
    std::uint16_t Ask(const QString &text, std::uint8_t kind, std::uint16_t buttons);

    TfMain *FMain;
    QString FStatusText;
    std::atomic<std::uint8_t> FState{psNone};
    QPointer<TFileDialog> FOpenDialog;
    QPointer<TFileDialog> FSaveDialog;
    QPointer<QLabel> FStateImage;
};
