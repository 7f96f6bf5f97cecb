// TDevice: the indicator test of the group " Тестирование индикаторов ": every segment lit or
// dark, one segment at a time on all positions (by hand or cyclically), and the indicators back
// to the measurements. TS4I0 shows what the instrument should show after each command.
//
// The single steps run on a worker in the frame of the transfers, like every other command that
// takes the link lock: the window thread never waits for the lock, which another copy of the
// program may hold for a long time. The cyclic test is a loop of its own button (loop_control).
#include "device_u.h"

#include "device_loops.h"
#include "device_operation.h"
#include "indicator_pictures.h"
#include "loop_control.h"
#include "main_form.h"
#include "main_u.h"

#include <chrono>

namespace {

constexpr std::uint8_t Positions = 9;    // the pattern writes fill positions 0 to 8
constexpr std::uint8_t NoSegment = 255;
constexpr int CyclicButtonId = 617;      // TS4Button5
constexpr std::chrono::milliseconds CyclicPause{500};

const QString SegmentsLit = QStringLiteral("Сегменты индикаторов зажжены.");

// The same pattern on every position from 0: 0, or the failing result.
std::int32_t FillPositions(TDevice &device, std::uint8_t pattern)
{
    if (device.SetIndicatorPosition(0) != 0)
        return device.LastError;
    for (std::uint8_t i = 0; i < Positions; ++i) {
        if (device.WriteIndicatorByte(pattern) != 0)
            return device.LastError;
    }
    return 0;
}

std::optional<QString> Failure(TDevice &device, std::int32_t result)
{
    if (result == 0)
        return std::nullopt;
    return LinkError(device);
}

// A single-step command: its question and done text, and its work with the port open (0 or
// the failing result).
std::int32_t IndicatorStep(TDevice &device, const QString &question, const QString &completion,
                           const std::function<std::int32_t()> &work)
{
    return RunTransfer(device, {question, completion, nullptr, [&] { return Failure(device, work()); }});
}

// Every position with one pattern, then the picture.
std::int32_t AllIndicators(TDevice &device, const QString &question, const QString &completion, std::uint8_t pattern,
                           int picture)
{
    return IndicatorStep(device, question, completion, [&] {
        const std::int32_t result = FillPositions(device, pattern);
        if (result == 0)
            indicator_pictures::Show(*device.Form(), picture);
        return result;
    });
}

std::uint8_t Next(std::uint8_t segment)
{
    return std::uint8_t((segment + 1) % 8);  // from none (255) too: 0
}

std::uint8_t Previous(std::uint8_t segment)
{
    return segment == 0 ? 7 : std::uint8_t((segment - 1) % 8);  // from none (255): 6
}

} // namespace

std::int32_t TDevice::LightSegment(std::uint8_t segment)
{
    const std::int32_t result = FillPositions(*this, std::uint8_t(1u << (segment & 7)));
    if (result == 0 && FForm)
        indicator_pictures::Show(*FForm, indicator_pictures::FirstSegment + (segment & 7));
    return result;
}

std::int32_t TDevice::RestoreIndicators()
{
    if (ResetIndicators() == 0 && FForm)
        indicator_pictures::Show(*FForm, indicator_pictures::Normal);
    return LastError;
}

std::int32_t TDevice::AllIndicatorsOn()
{
    return AllIndicators(*this, QStringLiteral("Зажечь все индикаторы?"), QStringLiteral("Все индикаторы зажжены."), 0xFF,
                         indicator_pictures::AllLit);
}

std::int32_t TDevice::AllIndicatorsOff()
{
    return AllIndicators(*this, QStringLiteral("Потушить все индикаторы?"), QStringLiteral("Все индикаторы потушены."), 0,
                         indicator_pictures::Dark);
}

std::int32_t TDevice::NextSegment()
{
    return IndicatorStep(*this, QStringLiteral("Зажечь следующие сегменты индикаторов?"), SegmentsLit, [this] {
        // Kept even when the lighting fails.
        Segment = Next(Segment);
        return LightSegment(Segment);
    });
}

std::int32_t TDevice::PrevSegment()
{
    return IndicatorStep(*this, QStringLiteral("Зажечь предыдущие сегменты индикаторов?"), SegmentsLit, [this] {
        Segment = Previous(Segment);
        return LightSegment(Segment);
    });
}

std::int32_t TDevice::FinishIndicatorTest()
{
    return IndicatorStep(*this, QStringLiteral("Завершить тестирование индикаторов?"),
                         QStringLiteral("Тестирование индикаторов завершено."), [this] {
                             const std::int32_t result = RestoreIndicators();
                             if (result == 0)
                                 Segment = NoSegment;
                             return result;
                         });
}

std::int32_t TDevice::CyclicIndicatorTest()
{
    if (!FForm)
        return -1;
    TLoop loop;
    loop.Button = FForm->ui->TS4Button5;
    loop.StartText = QStringLiteral("Запустить циклический тест индикаторов");
    loop.StopText = QStringLiteral("Остановить циклический тест индикаторов");
    loop.AccessId = CyclicButtonId;
    loop.PauseMs = unsigned(CyclicPause.count());
    // From none the first step lights segment 0; after a segment lit by hand, the one after it.
    // A port that cannot be opened leaves the segment as it was.
    loop.Opened = [this] {
        if (Segment > 7)
            Segment = 7;
    };
    loop.Sample = [this] {
        Segment = Next(Segment);
        LightSegment(Segment);  // a failed step is skipped; the loop goes on
    };
    RunLoop(*this, loop);  // a port that cannot be opened ends it at once, silently
    return 0;
}
