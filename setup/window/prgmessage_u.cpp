// TProgramControl: program messages, raised on any thread and shown on the window thread.
#include "prgctrl_u.h"

#include "global_u.h"
#include "main_form.h"
#include "main_u.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <mutex>

namespace {

// A message box that places itself centred on the main window once it knows its own size.
class TMessageDialog : public QMessageBox {
public:
    explicit TMessageDialog(QWidget *main) : QMessageBox(main), FMain(main) {}

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        const QRect main = FMain->frameGeometry();
        const QRect self = frameGeometry();
        move(main.x() + main.width() / 2 - self.width() / 2,
             main.y() + main.height() / 2 - self.height() / 2);
    }

private:
    QWidget *FMain;
};

struct TButtonKind {
    TMessageButtons Bit;
    QMessageBox::StandardButton Standard;  // NoButton: a button of our own
    std::uint16_t Result;
};

const TButtonKind ButtonKinds[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
    {mbAll, QMessageBox::NoButton, mrAll},
    {mbNoToAll, QMessageBox::NoToAll, mrNoToAll},
    {mbYesToAll, QMessageBox::YesToAll, mrYesToAll},
    {mbHelp, QMessageBox::Help, mrNone},
};

} // namespace

std::uint16_t TProgramControl::ShowProgramMessage(bool force, const QString &text, TMessageKind kind,
                                                  TMessageButtons buttons)
{
    TPendingMessage message;
    message.Force = force;
    message.Text = text;
    message.Kind = kind;
    message.Buttons = buttons;

    // Workers take turns; the window thread never waits for one.
    std::unique_lock turn(FSenderLock, std::defer_lock);
    if (!IsWindowThread())
        turn.lock();

    {
        std::lock_guard guard(FMessageLock);
        FPending.append(&message);
    }
    // Runs the window's hook at once on the window thread; a worker waits here until the
    // window thread has shown the message. Without the hook nobody takes the message.
    if (platform::ApplicationWindow *window = platform::ApplicationWindow::instance())
        window->sendMessage(SX_ProgramDialog, 0, 0);

    std::lock_guard guard(FMessageLock);
    FPending.removeOne(&message);
    return message.Result;
}

void TProgramControl::ExecuteProgramDialog()
{
    TPendingMessage *pending = nullptr;
    TPendingMessage message;
    {
        std::lock_guard guard(FMessageLock);
        if (FPending.isEmpty())
            return;
        pending = FPending.takeLast();
        message = *pending;
    }
    const std::uint16_t result = MessageWanted(message) ? RunMessageDialog(message) : std::uint16_t(mrOk);
    std::lock_guard guard(FMessageLock);
    pending->Result = result;
}

bool TProgramControl::MessageWanted(const TPendingMessage &message) const
{
    if (message.Force)
        return true;
    const Ui::TfMainFrame &ui = FMain->Frame();
    switch (message.Kind) {
    case mtWarning:
    case mtError:
        return ui.M1N2->isChecked();
    case mtInformation:
        return ui.M1N1->isChecked();
    case mtConfirmation:
        return ui.M1N3->isChecked();
    default:
        return true;
    }
}

std::uint16_t TProgramControl::RunMessageDialog(const TPendingMessage &message)
{
    TMessageDialog dialog(FMain);
    dialog.setObjectName(QStringLiteral("ProgramDialog"));
    switch (message.Kind) {
    case mtWarning:
        dialog.setIcon(QMessageBox::Warning);
        dialog.setWindowTitle(QStringLiteral("Warning"));
        break;
    case mtError:
        dialog.setIcon(QMessageBox::Critical);
        dialog.setWindowTitle(QStringLiteral("Error"));
        break;
    case mtInformation:
        dialog.setIcon(QMessageBox::Information);
        dialog.setWindowTitle(QStringLiteral("Information"));
        break;
    case mtConfirmation:
        dialog.setIcon(QMessageBox::Question);
        dialog.setWindowTitle(QStringLiteral("Confirm"));
        break;
    default:
        dialog.setWindowTitle(ApplicationTitle());
        break;
    }
    // A carriage return breaks the line.
    QString text = message.Text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    dialog.setTextFormat(Qt::PlainText);
    dialog.setText(text);

    QHash<QAbstractButton *, std::uint16_t> results;
    for (const TButtonKind &kind : ButtonKinds) {
        if (!(message.Buttons & kind.Bit))
            continue;
        QAbstractButton *button = kind.Standard != QMessageBox::NoButton
                                      ? dialog.addButton(kind.Standard)
                                      : dialog.addButton(QStringLiteral("&All"), QMessageBox::YesRole);
        results.insert(button, kind.Result);
    }
    dialog.exec();
    // Closed without a button (the close box): Cancel.
    return results.value(dialog.clickedButton(), mrCancel);
}
