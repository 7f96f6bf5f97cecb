// The driver's controller: creation, the states with their texts, hints, the sensor list's
// growth, and the window thread's publishing of readings and states to the DDE items.
#include "prgcontrol.h"

#include "ascii_chanclass.h"
#include "priority.h"
#include "variableset.h"

#include "extlibs/comport/comport.h"
#include "platform/dde_client.h"
#include "platform/dde_server.h"

#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QMutexLocker>
#include <QWidget>

TProgramControl *PrgControl = nullptr;

TProgramControl::TProgramControl(QWidget *owner, std::uint32_t ownerHandle) : Owner(owner)
{
    PrgControl = this;
    WorkingDir = QDir::currentPath() + u'/';
    SavedPriorityClass = GetPriorityClass();

    Server = new platform::DdeServer(owner);
    ServerConv = Server->createTopic(QStringLiteral("ORVANT"));
    ChannelItem = ServerConv->createItem(QStringLiteral("CHANNEL"));
    ValueItem = ServerConv->createItem(QStringLiteral("VALUE"));
    ChannelValueItem = ServerConv->createItem(QStringLiteral("CHANNELVALUE"));
    StatusItem = ServerConv->createItem(QStringLiteral("TAGPUMPSTATUS"));
    ManageConv = new platform::DdeClient(owner);
    ManageConv->setObjectName(QStringLiteral("DdeCCManage"));

    LogFileDIR = WorkingDir + QStringLiteral("Logs");
    PortHandle = CreateCOM(ownerHandle);
    ApplyPortConfig();
    FreeSensors();
    AddSensor();
    SetState(dsIdle);
    SetResultText(QStringLiteral("Ok"));
    SetHints(false);
}

TProgramControl::~TProgramControl()
{
    FreeSensors();
    delete ManageConv;
    delete Server;  // its topic and items with it
    if (PrgControl == this)
        PrgControl = nullptr;
}

bool TProgramControl::Serve(const QString &service, QString *error, bool *alreadyRunning)
{
    *alreadyRunning = false;
    if (Server->listen(service))
        return true;
    *error = Server->errorString();
    // The service's lock is held by a live server: another copy of the driver.
    *alreadyRunning = error->contains(QStringLiteral("already served"));
    return false;
}

std::uint8_t TProgramControl::GetState() const
{
    QMutexLocker lock(&TextLock);
    return State;
}

QString TProgramControl::GetStateText() const
{
    QMutexLocker lock(&TextLock);
    return StateText;
}

QString TProgramControl::GetResultText() const
{
    QMutexLocker lock(&TextLock);
    return ResultText;
}

bool TProgramControl::GetHints() const
{
    return Hints;
}

void TProgramControl::SetState(std::uint8_t newState)
{
    std::uint8_t oldState;
    {
        QMutexLocker lock(&TextLock);
        oldState = State;
        State = newState;
    }
    if (oldState == dsPolling && newState == dsIdle)
        WriteLog(QStringLiteral("Tagpump"), QStringLiteral("Обмен прекращен"));

    switch (newState) {
    case dsIdle:
    case dsSettings:
        emit StateChanged(newState);
        SetStateText(newState == dsIdle ? QStringLiteral("Stay State") : QStringLiteral("Adjustment State"));
        if (StatusItem)
            PostStatusMessage(newState == dsIdle ? 0 : 2);
        break;
    case dsPolling:
        emit StateChanged(newState);
        SetStateText(QStringLiteral("Work State"));
        if (StatusItem)
            PostStatusMessage(1);
        WriteLog(QStringLiteral("Tagpump"), QStringLiteral("Обмен инициирован"));
        break;
    default:
        break;
    }
}

void TProgramControl::SetStateText(const QString &text)
{
    {
        QMutexLocker lock(&TextLock);
        StateText = text.left(255);
    }
    emit StateTextChanged(text.left(255));
}

void TProgramControl::SetResultText(const QString &text)
{
    QString shown;
    {
        QMutexLocker lock(&TextLock);
        ResultText = StateText == QLatin1String("Work State") ? text.left(255) : QStringLiteral("Ok");
        shown = ResultText;
    }
    emit ResultTextChanged(shown);
}

void TProgramControl::SetHints(bool hints)
{
    Hints = hints;
    emit HintsChanged(hints);
}

void TProgramControl::PublishValue(std::uint16_t number, const QString &text)
{
    TASCIIChannel *channel = Sensor(int(number) - 1);
    if (!channel)
        return;  // a reading of a sensor that is no longer in the list
    if (channel->ServerItem)
        channel->ServerItem->setText(text);
    const QString sensor = QString::number(number);
    ChannelItem->setText(sensor);
    ValueItem->setText(text);
    ChannelValueItem->setText(sensor + u'|' + text);
}

void TProgramControl::PublishStatus(std::uint8_t status)
{
    if (StatusItem)
        StatusItem->setText(QString::number(status));
}

TASCIIChannel *TProgramControl::AddSensor()
{
    const auto number = std::uint16_t(SensorList.size() + 1);
    auto *channel = new TASCIIChannel(Owner, ObjectName, ServerConv, PortHandle, number);
    SensorList.append({QStringLiteral("Sensor") + QString::number(number), channel});
    return channel;
}

TASCIIChannel *TProgramControl::Sensor(int index) const
{
    return index >= 0 && index < SensorList.size() ? SensorList[index].Channel : nullptr;
}

QString TProgramControl::ErrorValueText() const
{
    // Fifteen significant digits without exponent or group separators below 1e15, as the
    // settings file has always held it: 1000 reads 1000, 12.5 reads 12.5.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(ErrorValue, 'g', 15);
}

QString TProgramControl::TopicName() const
{
    return ServerConv ? ServerConv->name() : QString();
}

void TProgramControl::WarnAtLoad(const QString &text)
{
    // The log has one entry a line: each line of the warning is one.
    for (const QString &line : text.split(u'\n'))
        WriteLog(QStringLiteral("Tagpump"), line);
    if (Unattended)
        return;
    // The box does not hold the start-up: a driver started at login polls while it waits.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok, Owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}
