// TDevice: the link check of the link group's button "Проверить связь с прибором".
//
// It identifies the instrument at the link group's port, baud rate and address and, when the
// technician wants it, reads all settings at once. That read is the ordinary transfer on the
// same worker: it takes the (re-entrant) link lock a second time and opens the port itself, and
// runs with the confirmations option switched off, which is given back however the read ends.
#include "device_u.h"

#include "device_operation.h"
#include "global_u.h"
#include "main_form.h"
#include "main_u.h"
#include "prgctrl_u.h"

#include <mutex>

namespace {

// The confirmations option switched off for as long as the object lives.
class TConfirmationsOff {
public:
    explicit TConfirmationsOff(TfMain &form) : FForm(form)
    {
        FWasChecked = RunOnWindowThread([this] {
            const bool checked = FForm.ui->M1N3->isChecked();
            FForm.ui->M1N3->setChecked(false);
            return checked;
        });
    }
    ~TConfirmationsOff()
    {
        RunOnWindowThread([this] { FForm.ui->M1N3->setChecked(FWasChecked); });
    }
    TConfirmationsOff(const TConfirmationsOff &) = delete;
    TConfirmationsOff &operator=(const TConfirmationsOff &) = delete;

private:
    TfMain &FForm;
    bool FWasChecked = false;
};

// The reply of Identify names this program's instrument: a decimal integer, nothing else, whose
// low byte is the device type.
bool NamesOurType(const QString &reply)
{
    try {
        return (TDevice::ToInteger(reply) & 0xFF) == TDevice::DeviceTypeCode;
    } catch (const TConvertError &) {
        return false;
    }
}

} // namespace

std::int32_t TDevice::Identify(QString &reply)
{
    Command(cmdIdentify);
    reply = LastError == 0 ? QString::fromUtf8(LinkBuffer.data()) : QString();
    return LastError;
}

std::int32_t TDevice::CheckLink()
{
    if (!FForm)
        return -1;
    TProgramControl &control = *FForm->ProgramControl;
    const auto show = [&](const QString &text, TMessageKind kind, TMessageButtons buttons) {
        return control.ShowProgramMessage(true, text, kind, buttons);
    };

    std::lock_guard<platform::NamedLock> lock(COMPortMutex());
    struct TCleanup {
        TDevice &Device;
        TProgramControl &Control;
        ~TCleanup()
        {
            Device.ClosePort();
            Control.SetExchangeState(Idle);
        }
    } cleanup{*this, control};
    control.SetExchangeState(Exchanging);

    QString reply;
    try {
        if (OpenPort() != 0 || Identify(reply) != 0) {
            show(QStringLiteral("Нет связи с прибором!"), mtError, mbOK);
            return -1;
        }
    } catch (const TConvertError &e) {
        // No baud rate chosen: no link either, and the text says why.
        show(QStringLiteral("Нет связи с прибором!\r%1").arg(e.Message()), mtError, mbOK);
        return -1;
    }
    if (!NamesOurType(reply)) {
        show(QStringLiteral("Неверный тип прибора!"), mtWarning, mbOK);
        return -1;
    }
    if (!Accepted(show(QStringLiteral("Связь установлена!\rСчитать настройки из прибора?"), mtConfirmation, mbYesNo)))
        return 0;
    ClosePort();
    TConfirmationsOff quiet(*FForm);
    return ReadAllSettings();
}
