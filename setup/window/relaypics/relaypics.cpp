// Draws the thirteen pictures of the relay matrix into a folder (the build puts them into
// Resources/Relay beside the program):
//
//   relay0.bmp, relay1.bmp          43 x 92   the relay not used / used
//   ust<N>_0 .. ust<N>_2.bmp       120 x 23 (N = 1) or 120 x 19   no change / below / above setpoint N
//   break_0.bmp, break_1.bmp       120 x 31   no break control / operate on a sensor break
//
// Mode 0 is grey on grey, like the pictures built into the form; an active mode is coloured:
// blue for "below", red for "above" and for the sensor break, green for a used relay.
//
//     relaypics <folder>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

const QColor Idle(128, 128, 128);
const QColor IdleBack(240, 240, 240);
const QColor Frame(160, 160, 160);
const QColor Below(0, 70, 200);
const QColor BelowBack(222, 233, 255);
const QColor Above(200, 30, 30);
const QColor AboveBack(255, 228, 220);
const QColor Used(0, 128, 0);
const QColor UsedBack(225, 245, 225);

QImage Canvas(int width, int height, const QColor &back)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(back);
    QPainter p(&image);
    p.setPen(Frame);
    p.drawRect(0, 0, width - 1, height - 1);
    return image;
}

QFont TextFont(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// A relay contact between x0 and x1 on the line y: open (the blade lifted) or closed.
void Contact(QPainter &p, int x0, int x1, int y, bool closed, const QColor &colour)
{
    p.setPen(QPen(colour, closed ? 2 : 1));
    p.setBrush(colour);
    const int gap0 = x0 + (x1 - x0) / 3;
    const int gap1 = x1 - (x1 - x0) / 3;
    p.drawLine(x0, y, gap0, y);
    p.drawLine(gap1, y, x1, y);
    if (closed)
        p.drawLine(gap0, y, gap1, y);
    else
        p.drawLine(gap0, y, gap1, y - 4);
    p.drawEllipse(QPoint(gap0, y), 1, 1);
    p.drawEllipse(QPoint(gap1, y), 1, 1);
}

// An arrow pointing down (below) or up (above), centred on x, spanning the picture's height.
void Arrow(QPainter &p, int x, int height, bool down, const QColor &colour)
{
    const int top = 3, bottom = height - 4, half = 4;
    p.setPen(QPen(colour, 2));
    p.drawLine(x, top + 1, x, bottom - 1);
    QPainterPath head;
    if (down) {
        head.moveTo(x - half, bottom - half);
        head.lineTo(x + half, bottom - half);
        head.lineTo(x, bottom + 1);
    } else {
        head.moveTo(x - half, top + half);
        head.lineTo(x + half, top + half);
        head.lineTo(x, top - 1);
    }
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(head, colour);
}

// A setpoint cell: the setpoint's name, the comparison and the contact.
QImage Setpoint(int number, int mode)
{
    const int width = 120, height = number == 1 ? 23 : 19;
    const QColor colour = mode == 0 ? Idle : mode == 1 ? Below : Above;
    QImage image = Canvas(width, height, mode == 0 ? IdleBack : mode == 1 ? BelowBack : AboveBack);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(mode == 0 ? Idle : Qt::black);
    p.setFont(TextFont(11));
    p.drawText(QRect(4, 0, 66, height), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Уставка %1").arg(number));
    if (mode != 0) {
        p.setPen(colour);
        p.setFont(TextFont(13, true));
        p.drawText(QRect(68, 0, 14, height), Qt::AlignCenter, mode == 1 ? QStringLiteral("<") : QStringLiteral(">"));
        Arrow(p, 87, height, mode == 1, colour);
    }
    Contact(p, 94, 116, height / 2 + 2, mode != 0, colour);
    return image;
}

// The sensor-break cell: its caption, a broken wire when it is watched, and the contact.
QImage Break(int mode)
{
    const int width = 120, height = 31;
    const QColor colour = mode == 0 ? Idle : Above;
    QImage image = Canvas(width, height, mode == 0 ? IdleBack : AboveBack);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(mode == 0 ? Idle : Qt::black);
    p.setFont(TextFont(11));
    p.drawText(QRect(4, 1, 62, height - 2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Обрыв\nдатчика"));
    if (mode != 0) {
        // A wire with a jagged gap.
        p.setPen(QPen(colour, 2));
        const int y = height / 2;
        p.drawLine(66, y, 73, y);
        p.drawLine(73, y, 76, y - 6);
        p.drawLine(79, y + 6, 82, y);
        p.drawLine(82, y, 89, y);
    }
    Contact(p, 94, 116, height / 2 + 2, mode != 0, colour);
    return image;
}

// The usage picture: a relay's contact over its coil. The top third stays free for the
// caption "Реле N" that the form lays over it.
QImage Relay(int mode)
{
    const int width = 43, height = 92;
    const QColor colour = mode == 0 ? Idle : Used;
    QImage image = Canvas(width, height, mode == 0 ? IdleBack : UsedBack);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, mode == 0 ? 1 : 2));
    const int x = width / 2;
    // Contact: fixed terminal on the left, blade from the right terminal.
    p.drawLine(8, 44, 15, 44);
    p.drawLine(28, 44, 35, 44);
    if (mode == 0)
        p.drawLine(28, 44, 16, 37);
    else
        p.drawLine(28, 44, 15, 44);
    p.setBrush(colour);
    p.drawEllipse(QPoint(15, 44), 1, 1);
    p.drawEllipse(QPoint(28, 44), 1, 1);
    // The coil's pull on the blade (dashed) and the coil with its leads.
    p.setPen(QPen(colour, 1, Qt::DashLine));
    p.drawLine(x, mode == 0 ? 41 : 45, x, 61);
    p.setPen(QPen(colour, mode == 0 ? 1 : 2));
    p.setBrush(mode == 0 ? QBrush(Qt::NoBrush) : QBrush(QColor(170, 220, 170)));
    p.drawRect(QRect(11, 61, 21, 13));
    p.drawLine(14, 65, 29, 71);
    p.drawLine(x - 6, 74, x - 6, 84);
    p.drawLine(x + 6, 74, x + 6, 84);
    return image;
}

bool Save(const QImage &image, const QDir &folder, const QString &name)
{
    const QString path = folder.filePath(name);
    if (image.save(path, "BMP"))
        return true;
    std::fprintf(stderr, "relaypics: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    // Drawing text needs the fonts of a GUI application, but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: relaypics <folder>\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "relaypics: cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    for (int mode = 0; mode <= 1; ++mode) {
        ok = Save(Relay(mode), folder, QStringLiteral("relay%1.bmp").arg(mode)) && ok;
        ok = Save(Break(mode), folder, QStringLiteral("break_%1.bmp").arg(mode)) && ok;
    }
    for (int number = 1; number <= 3; ++number) {
        for (int mode = 0; mode <= 2; ++mode)
            ok = Save(Setpoint(number, mode), folder, QStringLiteral("ust%1_%2.bmp").arg(number).arg(mode)) && ok;
    }
    return ok ? 0 : 1;
}
