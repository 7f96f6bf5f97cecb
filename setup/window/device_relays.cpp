// TDevice: the relay test of the group " Тестирование реле ": the three relays forced to the
// states ticked in TS2ChB0..TS2ChB2, or handed back to the instrument. Both run in the frame of
// the transfers.
#include "device_u.h"

#include "device_operation.h"
#include "global_u.h"
#include "main_form.h"
#include "main_u.h"

namespace {

// Sends the mask as it stands once the link is ours (the boxes may change while another
// program holds the link).
std::int32_t SendRelayMask(TDevice &device, const QString &question, const QString &completion,
                           std::function<std::uint8_t()> takeMask)
{
    return RunTransfer(device, {question, completion, nullptr,
                                [&]() -> std::optional<QString> {
                                    if (device.SetRelayStates(takeMask()) != 0)
                                        return LinkError(device);
                                    return std::nullopt;
                                }});
}

} // namespace

std::int32_t TDevice::ForceRelays()
{
    if (!FForm)
        return -1;
    return SendRelayMask(*this, QStringLiteral("Установить принудительные состояния реле прибора?"),
                         QStringLiteral("Принудительные состояния реле прибора установлены.\rПрибор больше не управляет реле!"),
                         [this] {
                             return RunOnWindowThread([this] {
                                 const Ui::TfMain &ui = *FForm->ui;
                                 // Bit 0 relay 1, bit 1 relay 2, bit 2 relay 3.
                                 return std::uint8_t((ui.TS2ChB0->isChecked() ? 1 : 0) | (ui.TS2ChB1->isChecked() ? 2 : 0)
                                                     | (ui.TS2ChB2->isChecked() ? 4 : 0));
                             });
                         });
}

std::int32_t TDevice::ReleaseRelays()
{
    return SendRelayMask(*this, QStringLiteral("Разрешить прибору управлять реле?"),
                         QStringLiteral("Теперь прибор управляет реле."), [] { return std::uint8_t(0); });
}
