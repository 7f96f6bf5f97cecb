#include "driver_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

QPixmap DriverPicture(const QSize &size)
{
    QPixmap picture(size);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(24, 52, 96));
    sky.setColorAt(1, QColor(8, 20, 40));
    p.fillRect(picture.rect(), sky);

    // The dial: a scale arc with ticks and a needle.
    const QPointF centre(w / 2, h * 0.38);
    const qreal radius = w * 0.36;
    p.setPen(QPen(QColor(230, 236, 245), 3));
    p.setBrush(QColor(40, 72, 120));
    p.drawEllipse(centre, radius, radius);
    const auto at = [&](qreal degrees, qreal r) {
        const qreal a = degrees * std::numbers::pi / 180;
        return centre + QPointF(std::cos(a) * r, -std::sin(a) * r);
    };
    for (int i = 0; i <= 10; ++i) {
        const qreal degrees = 210 - 24 * i;
        p.setPen(QPen(i >= 8 ? QColor(230, 80, 60) : QColor(230, 236, 245), i % 5 == 0 ? 3 : 1.5));
        p.drawLine(at(degrees, radius * 0.78), at(degrees, radius * (i % 5 == 0 ? 0.55 : 0.65)));
    }
    p.setPen(QPen(QColor(255, 200, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, at(70, radius * 0.72));
    p.setBrush(QColor(255, 200, 40));
    p.drawEllipse(centre, 5, 5);

    // The line of measuring points and the readings they give.
    const qreal base = h * 0.86;
    const qreal readings[] = {0.30, 0.55, 0.42, 0.75, 0.62};
    QPainterPath trend;
    for (int i = 0; i < 5; ++i) {
        const QPointF point(w * (0.14 + 0.18 * i), base - h * 0.16 * readings[i]);
        i == 0 ? trend.moveTo(point) : trend.lineTo(point);
    }
    p.setPen(QPen(QColor(120, 220, 140), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trend);
    p.setPen(QPen(QColor(230, 236, 245), 2));
    p.drawLine(QPointF(w * 0.08, base), QPointF(w * 0.92, base));
    for (int i = 0; i < 5; ++i) {
        const QRectF box(w * (0.14 + 0.18 * i) - 7, base - 5, 14, 10);
        p.setBrush(QColor(60, 110, 180));
        p.drawRect(box);
    }
    return picture;
}
