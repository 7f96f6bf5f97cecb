// Remote management: the driver's link to a controlling application (ConnectManagement) and
// the change handler of the item it watches there (ManagementItemChange). The controlling
// application starts polling by setting that item to a text beginning with "1" and stops it with
// one beginning with "0"; the driver never writes to it.
//
// Commands are the item's changes after the link is taken: the text it already holds then is
// not one, so that a restart of the driver or an Apply of its settings does not start a run by
// itself. A start that comes while the settings window is open is held and carried out when the
// window closes (the settings may change under an open window, a run must not); so is a start
// that comes while a run is stopping ("&Wait"), carried out once it has ended. A "0" that comes
// first, or a link dropped or moved to another application, drops a held start.
#include "prgcontrol.h"

#include "platform/dde_client.h"

#include <QMessageBox>
#include <QPushButton>

#include <optional>

namespace {

const QString kAction = QStringLiteral("&Action");
const QString kStop = QStringLiteral("&Stop");
const QString kWait = QStringLiteral("&Wait");

// The link's own state beside the controller's Connected flag; it lives with ManageConv.
class TManagementLink : public QObject {
public:
    explicit TManagementLink(TProgramControl &control) : QObject(control.ManageConv), Control(control)
    {
        setObjectName(QStringLiteral("ManagementLink"));
        connect(control.ManageConv, &platform::DdeClient::itemChanged, this,
                [this](const QString &, const QString &text) {
                    if (LinkedText) {
                        const bool asLinked = *LinkedText == text;
                        LinkedText.reset();
                        if (asLinked)
                            return;  // the text the item held when the link was taken
                    }
                    Control.ManagementItemChange(text);
                });
        // The controlling application went away: remote management is off until the next Apply.
        connect(control.ManageConv, &platform::DdeClient::disconnected, this, [this] {
            Control.Connected = false;
            HeldStart = false;
        });
        // Queued, so that the settings window has closed when a held start is carried out.
        connect(&control, &TProgramControl::StateChanged, this,
                [this](std::uint8_t state) {
                    if (state == dsIdle)
                        ReleaseHeldStart();
                },
                Qt::QueuedConnection);
    }

    static TManagementLink &Of(TProgramControl &control)
    {
        auto *link = control.ManageConv->findChild<TManagementLink *>(QStringLiteral("ManagementLink"),
                                                                      Qt::FindDirectChildrenOnly);
        return link ? *link : *new TManagementLink(control);
    }

    // The main window's start/stop button; its caption says what a command may do.
    QPushButton *Button1() const
    {
        return Control.Owner ? Control.Owner->findChild<QPushButton *>(QStringLiteral("Button1")) : nullptr;
    }
    QString Caption() const
    {
        QPushButton *button = Button1();
        return button ? button->text() : QString();
    }
    // As a click of the button: a start on "&Action", a stop on "&Stop".
    void Press() const
    {
        if (QPushButton *button = Button1())
            button->click();
    }

    void ReleaseHeldStart()
    {
        if (!HeldStart || Control.GetState() != dsIdle)
            return;
        HeldStart = false;
        if (Control.UseDdeManagement && Control.Connected && Caption() == kAction)
            Press();
    }

    TProgramControl &Control;
    bool HeldStart = false;
    QString Target;                    // service program, topic and item of the link
    std::optional<QString> LinkedText; // the item's text when the link was taken
};

} // namespace

bool TProgramControl::ConnectManagement()
{
    TManagementLink &link = TManagementLink::Of(*this);
    ManageConv->disconnectFromServer();
    Connected = false;
    link.LinkedText.reset();
    const QString target = DdeService + u'\n' + DdeTopic + u'\n' + DdeItem;
    if (!UseDdeManagement || target != link.Target)
        link.HeldStart = false;
    link.Target = target;
    if (!UseDdeManagement)
        return false;

    // Starts the program once when its service does not answer, and waits a bounded time for it.
    if (ManageConv->connectToProgram(DdeService, DdeTopic) && ManageConv->advise(DdeItem)) {
        // The item's text follows the link at once; reading it back tells that text from a change.
        link.LinkedText = ManageConv->request(DdeItem);
        Connected = ManageConv->isConnected();
    }
    if (Connected)
        return true;
    ManageConv->disconnectFromServer();
    link.HeldStart = false;
    QMessageBox::warning(Owner, QStringLiteral("Warning"),
                         QStringLiteral("Невозможно установить DDE соединение с управляющим приложением!\n"
                                        "Удаленное управление программой недоступно."));
    return false;
}

void TProgramControl::ManagementItemChange(const QString &text)
{
    if (!UseDdeManagement || !Connected || text.isEmpty())
        return;
    TManagementLink &link = TManagementLink::Of(*this);
    const QString caption = link.Caption();
    if (text.front() == u'0') {
        link.HeldStart = false;
        if (caption == kStop)
            link.Press();
    } else if (text.front() == u'1' && caption == kAction) {
        if (GetState() == dsSettings)
            link.HeldStart = true;  // carried out when the settings window closes
        else
            link.Press();
    } else if (text.front() == u'1' && caption == kWait) {
        link.HeldStart = true;  // carried out when the run has ended
    }
}
