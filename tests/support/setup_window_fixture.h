#pragma once
// What the main window's tests share: the process set up as the program's main block does it,
// the settings file beside the test executable, and answering the window's message boxes.
#include "device_u.h"
#include "global_u.h"
#include "main_form.h"
#include "main_u.h"
#include "platform/messages.h"
#include "prgctrl_u.h"
#include "prjctrl_u.h"
#include "tests/support/file_bytes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

inline void InitResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace fixture {

// The program's first argument, as the window will read it; set before making a window.
inline char FirstArgument[64] = "";

inline void SetFirstArgument(const char *text)
{
    std::strncpy(FirstArgument, text, sizeof FirstArgument - 1);
}

// Runs a QtTest object in a process set up as the main block sets up the program, with the
// command line {program, FirstArgument}.
template <class Test>
int Run(int argc, char **argv)
{
    InitGlobals();
    int appArgc = 2;
    char *appArgv[] = {argv[0], FirstArgument, nullptr};
    QApplication app(appArgc, appArgv);
    InitResources();
    InitApplication(app);
    platform::ApplicationWindow appWindow;
    Test test;
    const int result = QTest::qExec(&test, argc, argv);
    DoneGlobals();
    return result;
}

inline QString SettingsPath()
{
    return QCoreApplication::applicationFilePath() + QStringLiteral(".ini");
}

inline QString ProgramDir()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

inline void RemoveSettings()
{
    QFile::remove(ProgramDir() + QStringLiteral("noname.prj"));
    QFile::remove(SettingsPath());
    QDir(SettingsPath()).removeRecursively();
}

inline void WriteSettings(const QByteArray &content)
{
    RemoveSettings();
    QVERIFY(putFile(SettingsPath(), content));
}

inline QByteArray ReadSettings()
{
    return fileBytes(SettingsPath());
}

// The modal message box on screen, or null.
inline QMessageBox *ActiveMessageBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

// Runs handle on each message box the window shows from now on, from the event loop that runs
// while the box is modal (a test cannot wait for a modal box from outside: showing it does not
// return before it closes). handle answers the box and returns true when no more are awaited.
inline void WatchMessages(std::function<bool(QMessageBox *)> handle)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handle] {
        QMessageBox *box = ActiveMessageBox();
        if (!box || !box->isVisible())
            return;
        if (handle(box)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

// Runs handle once on the next file dialog the window shows, while it is modal.
inline void WatchNextFileDialog(std::function<void(QFileDialog *)> handle)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handle] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        handle(dialog);
    });
    timer->start();
}

// Clicks a button of the next message box and remembers what it showed.
struct TAnswer {
    QString Title;
    QString Text;
    bool Answered = false;
};

inline std::shared_ptr<TAnswer> AnswerNextMessage(QMessageBox::StandardButton button)
{
    auto answer = std::make_shared<TAnswer>();
    WatchMessages([answer, button](QMessageBox *box) {
        answer->Title = box->windowTitle();
        answer->Text = box->text();
        answer->Answered = true;
        if (QAbstractButton *b = box->button(button))
            b->click();
        else
            box->close();
        return true;
    });
    return answer;
}

// Opens a new project as the user does (File, New project, OK to its warning): the tabs show
// and their controls are enabled.
inline void NewProject(TfMain &window)
{
    AnswerNextMessage(QMessageBox::Ok);
    window.ui->M0N1->trigger();
    QVERIFY(window.ui->PC0->isVisible());
}

} // namespace fixture
