#pragma once
// What the project tests share: a script that answers the window's modal boxes and file
// dialogs in turn, and file helpers.
#include "tests/support/setup_window_fixture.h"

#include "device_u.h"
#include "platform/codepage.h"
#include "tests/support/file_bytes.h"
#include "prjctrl_u.h"

#include <QFileDialog>
#include <QTemporaryDir>

#include <deque>
#include <memory>

namespace project {

// Answers each modal box (with a button) or file dialog (with a path; empty: cancel) in order.
// Seen() lists the text of each box and "<name>" of each dialog, taken when it is shown: one that
// the program itself closes before the script's next look (as it does when it is ended from
// outside) is listed all the same. A modal beyond the script is cancelled and listed, so a test
// never hangs on it.
class TScript : public QObject {
public:
    TScript()
    {
        qApp->installEventFilter(this);
        connect(&FTimer, &QTimer::timeout, this, &TScript::Poll);
        FTimer.start(5);
    }
    TScript &Answer(QMessageBox::StandardButton button) { return Add({button, {}}); }
    TScript &Choose(const QString &path) { return Add({QMessageBox::NoButton, path}); }
    TScript &Cancel() { return Choose(QString()); }
    QStringList Seen() const { return FSeen; }
    bool Done() const { return FSteps.empty(); }

private:
    struct TStep {
        QMessageBox::StandardButton Button;
        QString Path;
    };
    TScript &Add(const TStep &step)
    {
        FSteps.push_back(step);
        return *this;
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget->isWindow() && widget->isModal()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                FSeen << (box ? box->text() : QLatin1Char('<') + widget->objectName() + QLatin1Char('>'));
            }
        }
        return false;
    }
    void Poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == FLast)
            return;
        FLast = modal;
        const TStep step = FSteps.empty() ? TStep{QMessageBox::Cancel, {}} : FSteps.front();
        if (!FSteps.empty())
            FSteps.pop_front();
        auto *box = qobject_cast<QMessageBox *>(modal);
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (box && box->button(step.Button)) {
            box->button(step.Button)->click();
        } else if (dialog && !step.Path.isEmpty()) {
            dialog->selectFile(step.Path);
            QMetaObject::invokeMethod(dialog, "accept");
        } else {
            modal->close();
        }
    }
    std::deque<TStep> FSteps;
    QStringList FSeen;
    QPointer<QWidget> FLast;
    QTimer FTimer;
};

// Lines joined with CR LF, in Windows-1251, as the programs write their files on Windows.
inline QByteArray WindowsText(const QStringList &lines)
{
    return platform::toCp1251(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

// The main window a project test drives, its project controller and the folder of the test's
// files. Ports, when set, replace the ports of this machine in the link and search port lists.
struct TProjectWindow {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TfMain> window;
    TProjectControl *pc = nullptr;
    QStringList Ports;

    QString Path(const QString &name) const { return dir->filePath(name); }
    // A new window, shown, started with the program argument firstArgument.
    void MakeWindow(const char *firstArgument = "")
    {
        fixture::SetFirstArgument(firstArgument);
        window = std::make_unique<TfMain>();
        window->show();
        pc = window->ProjectControl;
        if (Ports.isEmpty())
            return;
        for (QComboBox *list : {window->ui->TS0CB0, window->ui->TS0CB2}) {
            const QSignalBlocker quiet(list);
            list->clear();
            list->addItems(Ports);
        }
    }
};

// The settings file that points the window's dialogs and new projects at dir.
inline void UseSaveDir(const QString &dir, const QString &lastProject = QString())
{
    fixture::WriteSettings(WindowsText({QStringLiteral("[Program Settings]"),
                                        QStringLiteral("ProjectFileName=") + lastProject,
                                        QStringLiteral("SaveDir=") + dir + QLatin1Char('/')}));
}

} // namespace project
