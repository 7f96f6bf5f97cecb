// The driver's main window: start-up and shut-down, the buttons, the readouts and status bar,
// the notification-area icon and its menu, the message hook and the closing rules.
#include "main_u.h"
#include "ui_main_u.h"

#include "ascii_chanclass.h"
#include "comexchange.h"
#include "prgcontrol.h"
#include "variableset.h"

#include "extlibs/comport/comport.h"

#include "platform/help.h"
#include "platform/messages.h"

#include <QApplication>
#include <QDialog>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kAction = QStringLiteral("&Action");
const QString kStop = QStringLiteral("&Stop");
const QString kWait = QStringLiteral("&Wait");
const QString kHide = QStringLiteral("&Hide");
const QString kSetup = QStringLiteral("&Setup");
constexpr platform::WPARAM kClockTimer = 0;

// The icon of the driver: a dial with its needle.
QIcon driverIcon()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkBlue, 2));
    painter.setBrush(QColor(255, 255, 224));
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    painter.setPen(QPen(Qt::darkRed, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(16, 16), QPointF(25, 8));
    painter.setBrush(Qt::darkBlue);
    painter.drawEllipse(QPointF(16, 16), 3, 3);
    return QIcon(picture);
}

// What the status panels show besides their first texts: the controller's state and result
// texts, and the clock in the system's time format.
const QStringList StateTexts = {QStringLiteral("Stay State"), QStringLiteral("Adjustment State"), QStringLiteral("Work State")};
const QStringList ResultTexts = {QStringLiteral("Ok"), QStringLiteral("Error")};

QStringList ClockTexts()
{
    QStringList texts{QStringLiteral("Time")};
    for (int hour = 0; hour < 24; ++hour)
        texts << LongTimeText(QTime(hour, 58, 58));
    return texts;
}

// The width a label (a status panel, a readout) needs to show each of its texts whole in its own
// font, and at least its designed width.
int LabelWidth(QLabel *panel, int designed, const QStringList &texts)
{
    const QString shown = panel->text();
    int width = designed;
    for (const QString &text : texts) {
        panel->setText(text);
        width = std::max(width, panel->sizeHint().width());
    }
    panel->setText(shown);
    return width;
}

// A warning box as the system's standard message dialog captions it.
void warn(QWidget *parent, const QString &text)
{
    QMessageBox::warning(parent, QStringLiteral("Warning"), text);
}

} // namespace

TMain::TMain(QWidget *parent) : QMainWindow(parent), ui(new Ui::TMain)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setWindowIcon(driverIcon());

    // The readout of the sensor number holds the largest one.
    ui->ST1->setFixedWidth(LabelWidth(ui->ST1, ui->ST1->maximumWidth(), {QString::number(TProgramControl::MaxSensors)}));

    const QString initial[3] = {QStringLiteral("Time"), QStringLiteral("Stay State"), QStringLiteral("Ok")};
    const int widths[3] = {50, 92, 50};
    const QStringList texts[3] = {ClockTexts(), StateTexts, ResultTexts};
    for (int i = 0; i < 3; ++i) {
        Panels[i] = new QLabel(initial[i], ui->SB1);
        Panels[i]->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
        Panels[i]->setAlignment(Qt::AlignCenter);
        Panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Panels[i]->setFixedWidth(LabelWidth(Panels[i], widths[i], texts[i]));
        ui->SB1->addWidget(Panels[i]);
    }

    PM1 = new QMenu(this);
    PM1->setObjectName(QStringLiteral("PM1"));
    auto addItem = [this](const char *name, const QString &text, void (TMain::*slot)()) {
        QAction *action = PM1->addAction(text, this, slot);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    PM1->setDefaultAction(addItem("PM1_1", QStringLiteral("&Tagpump"), &TMain::PM1_1Click));
    addItem("PM1_2", QStringLiteral("&About"), &TMain::PM1_2Click);
    addItem("PM1_3", QStringLiteral("&Help"), &TMain::PM1_3Click);
    PM1->addSeparator()->setObjectName(QStringLiteral("PM1_L1"));
    addItem("PM1_4", QStringLiteral("&Exit"), &TMain::PM1_4Click);

    // The icon's commands stay reachable from the window, also where no notification area exists.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { PM1->popup(mapToGlobal(at)); });

    TI = new QSystemTrayIcon(driverIcon(), this);
    TI->setObjectName(QStringLiteral("TI"));
    TI->setToolTip(QStringLiteral("Tagpump"));
    TI->setContextMenu(PM1);
    connect(TI, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            PM1_1Click();
    });

    connect(ui->Button1, &QPushButton::clicked, this, &TMain::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TMain::Button2Click);
    ShowHints(false);
    setFixedSize(sizeHint().expandedTo(QSize(200, 0)));
}

TMain::~TMain()
{
    if (Exchange) {
        // The run must be over before the controller goes; its thread never waits for us.
        if (!Exchange->StopAndWait(StopDeadlineMs()))
            std::quick_exit(EXIT_FAILURE);
    }
    if (auto *window = platform::ApplicationWindow::instance()) {
        window->killTimer(kClockTimer);
        if (HookId >= 0)
            window->removeHook(HookId);
    }
    if (Started && PrgControl) {
        PrgControl->SaveSettings();
        delete PrgControl;
    }
    delete ui;
}

TMain::StartResult TMain::InitializeDriver(const QStringList &arguments, const QString &service)
{
    platform::ApplicationWindow *window = platform::ApplicationWindow::instance();
    HookId = window->addHook([this](platform::Message &message) {
        PublishMessage(message);
        if (message.msg == platform::WM_TIMER)
            ShowClock();
        return false;  // every message goes on to its normal handling
    });
    window->setTimer(kClockTimer, 100);
    HelpFile = QDir::currentPath() + QStringLiteral("/tagpump.hlp");

    auto *control = new TProgramControl(this, window->handle());
    connect(control, &TProgramControl::StateChanged, this, &TMain::ShowState);
    connect(control, &TProgramControl::StateTextChanged, this, [this](const QString &text) {
        Panels[1]->setText(text);
        TI->setToolTip(QStringLiteral("Tagpump / ") + text);
    });
    connect(control, &TProgramControl::ResultTextChanged, Panels[2], &QLabel::setText);
    // Why the port cannot be used, while it cannot: over the panels of the status line, which
    // come back when the port can be used again; the whole text in the line's tooltip.
    connect(control, &TProgramControl::PortProblemChanged, ui->SB1, [this](const QString &text) {
        const QString reason = text.section(QStringLiteral(": "), 1);
        for (QLabel *panel : Panels)
            panel->setVisible(text.isEmpty());
        text.isEmpty() ? ui->SB1->clearMessage() : ui->SB1->showMessage(reason.left(1).toUpper() + reason.mid(1));
        ui->SB1->setToolTip(text);
    });
    connect(control, &TProgramControl::HintsChanged, this, &TMain::ShowHints);
    connect(control, &TProgramControl::ReadingShown, this, [this](std::uint16_t number, const QString &text) {
        ui->ST1->setText(QString::number(number));
        ui->ST2->setText(text);
    });
    // What creation showed before the window listened.
    ShowState(control->GetState());
    Panels[1]->setText(control->GetStateText());
    Panels[2]->setText(control->GetResultText());
    TI->setToolTip(QStringLiteral("Tagpump / ") + control->GetStateText());

    QString error;
    bool alreadyRunning = false;
    if (!control->Serve(service, &error, &alreadyRunning)) {
        if (alreadyRunning) {
            StartupDone = true;
            delete control;
            warn(this, QStringLiteral("Программа уже запущена (DDE сервис \"%1\").").arg(service));
            return StartResult::AlreadyRunning;
        }
        warn(this, QStringLiteral("DDE сервис \"%1\" недоступен:\r%2").arg(service, error).replace(u'\r', u'\n'));
    }
    Started = true;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        TI->show();

    control->LoadSettings();
    control->SetState(dsIdle);
    const bool setupMode = !arguments.isEmpty() && (arguments.first() == QLatin1String("/s")
                                                    || arguments.first() == QLatin1String("/S"));
    ui->Button2->setText(setupMode ? kSetup : kHide);
    if (!setupMode && control->AutoRunExchange)
        Button1Click();
    control->ConnectManagement();
    StartupDone = true;
    return StartResult::Started;
}

// ---------------------------------------------------------------------------------------------
// Polling runs

void TMain::Button1Click()
{
    const QString caption = ui->Button1->text();
    if (caption == kAction)
        StartPolling();
    else if (caption == kStop)
        StopPolling();
    // "&Wait": the run is finishing; its end handler gives the start text back.
}

void TMain::StartPolling()
{
    // Once the end has begun, a start held for later (a remote "1") is dropped.
    if (Ending || !PrgControl || PrgControl->GetState() != dsIdle || PrgControl->SensorCount() == 0)
        return;
    ui->Button1->setText(kStop);
    // Not left to the polling thread's state change, which comes later: "&Setup" goes at once.
    ui->Button2->setEnabled(ui->Button2->text() == kHide);
    Exchange = TCOMExchange::Start(this);
    connect(Exchange, &TCOMExchange::Ended, this, &TMain::ExchangeEnded);
}

void TMain::StopPolling()
{
    ui->Button1->setText(kWait);
    if (Exchange)
        Exchange->Stop();
}

void TMain::ExchangeEnded()
{
    ui->Button1->setText(kAction);
    if (ClosePending) {
        ClosePending = false;
        close();
    }
}

// The longest a poll under way can take: one exchange by the port's own time-out rule, with the
// longest answer time-out of any measuring point, and a margin.
int TMain::StopDeadlineMs() const
{
    if (!PrgControl)
        return 5000;
    std::uint16_t answer = PrgControl->TimeOut3;
    for (const TSensorEntry &entry : PrgControl->SensorList) {
        if (entry.Channel)
            answer = std::max(answer, entry.Channel->TimeOut);
    }
    const std::uint16_t baud = std::max<std::uint16_t>(PrgControl->BaudR, 300);
    return int(GetCOMExchangeLimit(baud, PrgControl->TimeOut1, PrgControl->TimeOut2, answer)) + 2000;
}

// ---------------------------------------------------------------------------------------------
// Buttons, menu, icon

void TMain::Button2Click()
{
    const QString caption = ui->Button2->text();
    if (caption == kHide)
        HideAppWindow();
    else if (caption == kSetup)
        OpenSetupWindow();
}

void TMain::HideAppWindow()
{
    if (TI->isVisible())
        hide();
    else
        showMinimized();
}

void TMain::PM1_1Click()
{
    showNormal();
    raise();
    activateWindow();
}

void TMain::PM1_2Click()
{
    if (FAbout)
        FAbout->exec();
}

void TMain::PM1_3Click()
{
    switch (platform::WinHelp(HelpFile, platform::HELP_CONTENTS, 0)) {
    case platform::HelpResult::Opened:
        break;
    case platform::HelpResult::FileMissing:
        warn(this, platform::HelpFileMissingText(HelpFile));
        break;
    case platform::HelpResult::NotOpened:
        warn(this, QStringLiteral("No program is set up to open %1.").arg(HelpFile));
        break;
    }
}

void TMain::PM1_4Click()
{
    close();
}

// ---------------------------------------------------------------------------------------------
// What the controller shows

void TMain::ShowState(std::uint8_t state)
{
    switch (state) {
    case dsIdle:
        ui->Button1->setEnabled(true);
        ui->Button2->setEnabled(true);
        break;
    case dsSettings:
        ui->Button1->setEnabled(false);
        ui->Button2->setEnabled(false);
        break;
    case dsPolling:
        ui->Button1->setEnabled(true);
        ui->Button2->setEnabled(ui->Button2->text() == kHide);
        break;
    default:
        break;
    }
}

void TMain::ShowHints(bool hints)
{
    for (QWidget *control : {static_cast<QWidget *>(ui->Button1), static_cast<QWidget *>(ui->Button2),
                             static_cast<QWidget *>(ui->ST1), static_cast<QWidget *>(ui->ST2),
                             static_cast<QWidget *>(ui->SB1)})
        control->setToolTip(hints ? control->whatsThis() : QString());
}

void TMain::ShowClock()
{
    Panels[0]->setText(LongTimeText(QTime::currentTime()));
}

// The window goes at once; the program ends when the run has ended.
void TMain::EndAfterRun()
{
    Ending = true;
    hide();
    TI->hide();
    if (ClosePending)
        return;
    ClosePending = true;
    if (ui->Button1->text() == kStop)
        StopPolling();
    QTimer::singleShot(StopDeadlineMs(), this, [this] {
        if (ClosePending && Exchange && Exchange->isRunning()) {
            PrgControl->SaveSettings();
            std::quick_exit(EXIT_FAILURE);  // a poll that never returns: the controller stays in use
        }
    });
}

void TMain::EndUnattended()
{
    Ending = true;
    if (PrgControl)
        PrgControl->Unattended = true;
    // A dialog waiting for an answer gets none; its caller goes on as after Cancel. The end
    // itself comes once those waits have returned, and once the start-up has run to its end.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->reject();
    }
    QTimer::singleShot(0, this, [this] {
        if (!StartupDone) {
            QTimer::singleShot(20, this, &TMain::EndUnattended);
            return;
        }
        if (!Started || !PrgControl) {
            emit Finished();
            return;
        }
        CloseSetupWindowUnasked();
        if (Exchange || ui->Button1->text() != kAction)
            EndAfterRun();
        else
            close();
    });
}

// ---------------------------------------------------------------------------------------------
// Window events

void TMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimised with a notification area present, only the icon stays.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TI->isVisible())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

void TMain::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    DockSetupWindow();
}

// The settings window stands beside the main window's right edge, top edges level.
void TMain::DockSetupWindow()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (qstrcmp(window->metaObject()->className(), "TSetup") == 0)
            window->move(frameGeometry().right() + 1, frameGeometry().top());
    }
}

void TMain::closeEvent(QCloseEvent *event)
{
    const std::uint8_t state = PrgControl && Started ? PrgControl->GetState() : std::uint8_t(dsIdle);
    if (state == dsSettings) {
        event->ignore();
        warn(this, QStringLiteral("Невозможно завершить работу.\nПрограмма находится в режиме настройки."));
        return;
    }
    if (state == dsPolling || ui->Button1->text() != kAction) {
        event->ignore();
        if (!PrgControl->AutoRunExchange) {
            warn(this, QStringLiteral("Невозможно завершить работу.\nИдет обмен...."));
            return;
        }
        EndAfterRun();
        return;
    }
    Ending = true;
    if (Started && PrgControl)
        PrgControl->SaveSettings();
    event->accept();
    TI->hide();
    emit Finished();
}

void TMain::EndAtExit()
{
    Ending = true;
    // A start-up cut short before its run began has loaded nothing that could be saved whole.
    if (!Started || !PrgControl || (!StartupDone && !Exchange))
        return;
    // No event loop runs any more: nothing may wait for an answer or for a queued call. Nor may
    // the window show anything: a call to the lost display would end the program here, before
    // the settings are written.
    PrgControl->Unattended = true;
    PrgControl->disconnect(this);
    PrgControl->disconnect(Panels[2]);
    if (Exchange) {
        if (!Exchange->StopAndWait(StopDeadlineMs())) {
            PrgControl->SaveSettings();
            std::fflush(nullptr);
            std::_Exit(EXIT_FAILURE);  // a poll that never returns: the controller stays in use
        }
        PrgControl->SetState(dsIdle);  // the run's end, logged as every end of a run is
    }
    PrgControl->SaveSettings();
}
