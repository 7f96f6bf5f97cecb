// The pictures of the indicator test, drawn with QPainter on demand (they are small and cheap),
// and their display on TS4I0.
#include "indicator_pictures.h"

#include "global_u.h"
#include "main_form.h"
#include "main_u.h"

#include <QPainter>
#include <QPixmap>

#include <array>
#include <cstdint>

namespace indicator_pictures {

namespace {

const QColor Bezel(58, 60, 66);
const QColor BezelEdge(110, 112, 120);
const QColor Window(14, 14, 16);
const QColor MainLit(255, 48, 36);
const QColor MainUnlit(44, 17, 16);
const QColor ExtraLit(70, 235, 70);
const QColor ExtraUnlit(15, 40, 17);
const QColor LedLit(90, 255, 90);
const QColor LedUnlit(24, 44, 26);

constexpr int Digits = 4;
constexpr int Leds = 3;

// Segment patterns of the decimal digits (bit 0 top ... bit 6 middle).
constexpr std::array<std::uint8_t, 10> DigitPattern{0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
constexpr std::uint8_t DecimalPoint = 0x80;

// The sample reading of the normal display: " 25.3" above, "100.0" below.
constexpr std::array<std::uint8_t, Digits> NormalMain{0, DigitPattern[2], std::uint8_t(DigitPattern[5] | DecimalPoint),
                                                      DigitPattern[3]};
constexpr std::array<std::uint8_t, Digits> NormalExtra{DigitPattern[1], DigitPattern[0],
                                                       std::uint8_t(DigitPattern[0] | DecimalPoint), DigitPattern[0]};

struct TIndicator {
    QRectF Area;      // the dark window behind the digits
    qreal DigitWidth;
    qreal DigitHeight;
    qreal Thickness;  // of a segment
    QColor Lit;
    QColor Unlit;
};

const TIndicator MainIndicator{QRectF(22, 4, 93, 35), 15, 25, 3.4, MainLit, MainUnlit};
const TIndicator ExtraIndicator{QRectF(34, 43, 69, 23), 11, 17, 2.4, ExtraLit, ExtraUnlit};

// One digit at the top left corner given, its segments lit as pattern says.
void DrawDigit(QPainter &p, QPointF at, const TIndicator &ind, std::uint8_t pattern)
{
    const qreal x = at.x(), y = at.y(), w = ind.DigitWidth, h = ind.DigitHeight, t = ind.Thickness;
    const qreal half = h / 2;
    const qreal gap = t * 0.35;  // between neighbouring segments
    const std::array<QRectF, 7> segments{
        QRectF(x + t, y, w - 2 * t, t),                                      // 0 top
        QRectF(x + w - t, y + t / 2 + gap, t, half - t - 2 * gap),           // 1 upper right
        QRectF(x + w - t, y + half + t / 2 + gap, t, half - t - 2 * gap),    // 2 lower right
        QRectF(x + t, y + h - t, w - 2 * t, t),                              // 3 bottom
        QRectF(x, y + half + t / 2 + gap, t, half - t - 2 * gap),            // 4 lower left
        QRectF(x, y + t / 2 + gap, t, half - t - 2 * gap),                   // 5 upper left
        QRectF(x + t, y + half - t / 2, w - 2 * t, t),                       // 6 middle
    };
    p.setPen(Qt::NoPen);
    for (std::size_t bit = 0; bit < segments.size(); ++bit) {
        p.setBrush((pattern >> bit) & 1 ? ind.Lit : ind.Unlit);
        p.drawRoundedRect(segments[bit], t / 3, t / 3);
    }
    p.setBrush(pattern & DecimalPoint ? ind.Lit : ind.Unlit);
    const qreal r = t * 0.6;
    p.drawEllipse(QPointF(x + w + t * 0.9, y + h - r), r, r);
}

void DrawIndicator(QPainter &p, const TIndicator &ind, const std::array<std::uint8_t, Digits> &patterns)
{
    p.setPen(QPen(BezelEdge, 1));
    p.setBrush(Window);
    p.drawRect(ind.Area);
    // The digits with room for a point after each, centred in the window.
    const qreal pitch = ind.DigitWidth + ind.Thickness * 2.2;
    const qreal width = Digits * pitch - ind.Thickness * 0.8;
    const qreal left = ind.Area.left() + (ind.Area.width() - width) / 2;
    const qreal top = ind.Area.top() + (ind.Area.height() - ind.DigitHeight) / 2;
    for (int i = 0; i < Digits; ++i)
        DrawDigit(p, QPointF(left + i * pitch, top), ind, patterns[std::size_t(i)]);
}

void DrawLed(QPainter &p, int i, bool lit)
{
    const QPointF centre(10, 17 + 18 * i);
    p.setPen(QPen(BezelEdge, 1));
    p.setBrush(Window);
    p.drawEllipse(centre, 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(lit ? LedLit : LedUnlit);
    p.drawEllipse(centre, 3.5, 3.5);
}

} // namespace

QImage Draw(int index)
{
    std::array<std::uint8_t, Digits> mainPatterns{}, extraPatterns{};
    std::array<bool, Leds> leds{};
    if (index == Normal) {
        mainPatterns = NormalMain;
        extraPatterns = NormalExtra;
        leds.fill(true);
    } else if (index == AllLit) {
        mainPatterns.fill(0xFF);
        extraPatterns.fill(0xFF);
        leds.fill(true);
    } else if (index >= FirstSegment && index < Count) {
        const int segment = index - FirstSegment;
        mainPatterns.fill(std::uint8_t(1u << segment));
        extraPatterns.fill(std::uint8_t(1u << segment));
        if (segment < Leds)
            leds[std::size_t(segment)] = true;
    }

    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Bezel);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(BezelEdge, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, Width - 1, Height - 1));
    for (int i = 0; i < Leds; ++i)
        DrawLed(p, i, leds[std::size_t(i)]);
    DrawIndicator(p, MainIndicator, mainPatterns);
    DrawIndicator(p, ExtraIndicator, extraPatterns);
    return image;
}

void Show(TfMain &form, int index)
{
    RunOnWindowThread([&form, index] {
        form.ui->TS4I0->setPixmap(QPixmap::fromImage(Draw(index)));
        form.ui->TS4I0->setProperty("ImageIndex", index);
    });
}

} // namespace indicator_pictures
