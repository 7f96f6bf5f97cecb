// TDevice: the device search of the search group (" Поиск приборов ").
//
// The worker identifies every address of the range at the search group's own port and baud
// rate, inside one call of the link library; the library reports each address to the
// application window, whose hook moves the gauge and lists the addresses found (TfMain::
// AppMessageHook). The button stops it from the window thread (TfMain::ToggleClick) while the
// worker still waits in the library; a stop that comes before the search has begun (while the
// worker waits for the link lock or opens the port) is kept by the library for it.
#include "device_u.h"

#include "device_operation.h"
#include "extlibs/ex_com/ex_com.h"
#include "global_u.h"
#include "loop_control.h"
#include "main_form.h"
#include "main_u.h"
#include "prgctrl_u.h"

#include <QProgressBar>

#include <mutex>
#include <vector>

namespace {

constexpr int SearchButtonId = 214;  // TS0Button2

// The search group as the window shows it.
struct TSearchSettings {
    int First = 0;
    int Last = 0;
    QString Port;
    QString Baud;
};

} // namespace

std::int32_t TDevice::SearchDevices()
{
    if (!FForm)
        return -1;
    TfMain &form = *FForm;
    Ui::TfMain &ui = *form.ui;
    TProgramControl &control = *form.ProgramControl;
    const auto report = [&](const QString &text, TMessageKind kind) {
        control.ShowProgramMessage(false, text, kind, mbOK);
    };
    const QString failed = QStringLiteral("Ошибка поиска приборов!");
    const QString done = QStringLiteral("Поиск приборов завершен.");

    // Made first: a declined question, too, gives the button its start caption back.
    TButtonRun run(form, {ui.TS0Button2, QStringLiteral("Начать поиск"), QStringLiteral("Остановить поиск"), SearchButtonId});
    if (!Accepted(control.ShowProgramMessage(false, QStringLiteral("Начать поиск приборов?"), mtConfirmation, mbYesNo)))
        return -1;
    std::lock_guard<platform::NamedLock> lock(COMPortMutex());
    QProgressBar *gauge = control.ProgressGauge();
    struct TCleanup {
        TDevice &Device;
        QProgressBar *Gauge;
        ~TCleanup()
        {
            Device.ClosePort();
            // The range stays as the search set it.
            RunOnWindowThread([this] { Gauge->hide(); });
        }
    } cleanup{*this, gauge};
    const TSearchSettings settings = RunOnWindowThread([&ui] {
        ui.TS0LB0->clear();
        return TSearchSettings{ui.TS0SE1->value(), ui.TS0SE2->value(), ui.TS0CB2->currentText(),
                               ui.TS0CB3->currentText()};
    });
    run.BeginExchange();

    if (settings.First > settings.Last) {
        report(failed, mtError);
        return -1;
    }
    RunOnWindowThread([&] {
        gauge->setRange(settings.First, settings.Last);
        gauge->setValue(settings.First);
        gauge->show();
    });
    // A stop left on the link from the end of an earlier search (clicked as it ended) is
    // discarded by closing; a stop clicked for this search before now shows on the button.
    ClosePort();
    try {
        if (OpenPort(settings.Baud, settings.Port) != 0) {
            report(failed, mtError);
            return -1;
        }
    } catch (const TConvertError &) {
        // No baud rate chosen in the search group.
        report(failed, mtError);
        return -1;
    }
    if (RunOnWindowThread([&ui] { return ui.TS0Button2->text() == WaitCaption(); })) {
        report(done, mtInformation);
        return 0;
    }
    // The program is ending: the search is not begun (a later end stops it in the library).
    if (RefusesReading()) {
        report(failed, mtError);
        return -1;
    }
    std::vector<char> found(EX_SEARCH_TEXT_SIZE, '\0');
    char *text = found.data();
    LastError = EX_SearchAvailableDevices(LinkHandle, 1, platform_ApplicationWindowHandle(), DeviceTypeCode,
                                          std::uint8_t(settings.First), std::uint8_t(settings.Last), &text);
    if (LastError != 0) {
        report(failed, mtError);
        return -1;
    }
    report(done, mtInformation);
    return 0;
}
