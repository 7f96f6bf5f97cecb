// The polling run: priorities, the shared or individual port mode, the walk over the sensors
// with the waits between them, and the end handler.
#include "comexchange.h"

#include "ascii_chanclass.h"
#include "prgcontrol.h"
#include "priority.h"

#include "extlibs/comport/comport.h"
#include "platform/codepage.h"

#include <chrono>

namespace {

// Why the port cannot be used, in the user's words; the access refusal comes from the port
// library, which names the device and the group that may open it.
QString PortProblemReason(std::int32_t code)
{
    switch (code) {
    case COMPORT_ERR_ARGUMENT: return QStringLiteral("настройка порта не принята (имя порта или скорость)");
    case COMPORT_ERR_UNKNOWN_PORT: return QStringLiteral("такого порта нет");
    case COMPORT_ERR_PORT_BUSY: return QStringLiteral("порт занят другой программой");
    case COMPORT_ERR_OPEN: return QStringLiteral("порт не открывается или не принимает настройку");
    case COMPORT_ERR_NOT_OPEN: return QStringLiteral("порт не открыт");
    case COMPORT_ERR_IO: return QStringLiteral("обрыв связи с портом (устройство отключено)");
    case COMPORT_ERR_WRITE_TIMEOUT: return QStringLiteral("запрос не удалось передать вовремя");
    default: return QString::fromUtf8(GetCOMErrorText(code));
    }
}

} // namespace

void TProgramControl::NotePortResult(std::int32_t code)
{
    if (code == PortResult)
        return;
    PortResult = code;
    const QString text = code == COMPORT_OK
                             ? QString()
                             : QStringLiteral("Порт %1 не может быть использован: %2").arg(PortName, PortProblemReason(code));
    WriteLog(QStringLiteral("Tagpump"), code == COMPORT_OK ? QStringLiteral("Порт %1 снова доступен").arg(PortName) : text);
    emit PortProblemChanged(text);
}

void TAutoResetEvent::Set()
{
    {
        std::lock_guard lock(mutex);
        set = true;
    }
    signalled.notify_one();
}

bool TAutoResetEvent::Wait(std::uint32_t milliseconds)
{
    std::unique_lock lock(mutex);
    const bool wasSet = signalled.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set; });
    set = false;
    return wasSet;
}

TCOMExchange::TCOMExchange(QObject *parent) : QThread(parent)
{
    connect(this, &QThread::finished, this, &TCOMExchange::ExchangeTerminated);
}

TCOMExchange *TCOMExchange::Start(QObject *parent)
{
    auto *exchange = new TCOMExchange(parent);
    PrgControl->RunActive = true;
    exchange->start();
    return exchange;
}

void TCOMExchange::Stop()
{
    Running = false;
    Event.Set();
}

bool TCOMExchange::StopAndWait(int ms)
{
    Stop();
    // wait() ends with run(); the flag carries the ordering to the caller in a form that the
    // thread sanitizer sees too.
    if (!wait(ms) || !Done.load(std::memory_order_acquire))
        return false;
    if (PrgControl)
        PrgControl->RunActive = false;  // the end handler will not come before the shut-down
    return true;
}

void TCOMExchange::run()
{
    TProgramControl &control = *PrgControl;
    RaiseProcessPriority();
    SetThreadTimeCritical();
    control.SetState(dsPolling);
    control.PortResult = COMPORT_OK;
    for (const TSensorEntry &entry : control.SensorList) {
        if (entry.Channel)
            entry.Channel->StepCounter = std::uint16_t(entry.Channel->Step - 1);
    }

    if (control.IndividualTimeOutState) {
        RunPollingCycle(true);
    } else {
        SetCOMCfg(control.PortHandle, platform::toCp1251(control.PortName).constData(), control.PortBaudRate(),
                  control.TimeOut1, control.TimeOut2, control.TimeOut3);
        OpenCOM(control.PortHandle);
        RunPollingCycle(false);
        CloseCOM(control.PortHandle);
    }
    SetPriorityClass(control.SavedPriorityClass);
    Done.store(true, std::memory_order_release);
}

// Polls the sensor at Index, waits, and moves on, while the run goes on. The wait after the last
// sensor of the list is the cycle interval.
void TCOMExchange::RunPollingCycle(bool individual)
{
    TProgramControl &control = *PrgControl;
    while (Running) {
        if (TASCIIChannel *channel = control.Sensor(Index))
            individual ? channel->PollIndividual() : channel->PollShared();
        const bool last = Index + 1 >= control.SensorCount();
        Event.Wait(last ? control.SensorCircleInterval : control.SensorTimeInterval);
        const int count = control.SensorCount();
        Index = count > 0 ? std::uint16_t((Index + 1) % count) : 0;
    }
}

// On the window thread, once run() has returned.
void TCOMExchange::ExchangeTerminated()
{
    // run() has returned (this comes after QThread::finished). Reading its flag carries that
    // ordering to the window thread in a form the thread sanitizer sees too: whatever the window
    // thread does with the controller from here on comes after the run's last read of it.
    const bool done = Done.load(std::memory_order_acquire);
    Q_ASSERT(done);
    Q_UNUSED(done);
    Running = false;
    if (PrgControl) {
        PrgControl->RunActive = false;
        PrgControl->SetState(dsIdle);
    }
    emit Ended();
    deleteLater();
}
