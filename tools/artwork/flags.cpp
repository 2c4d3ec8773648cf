#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>

namespace art {

// Flags are 20 x 14: fields are placed on whole pixels where the design allows it, and every
// flag gets the same faint edge and light, so the three sit together in the language list.
static void finish(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient light(0, 0, 0, 14);
    light.setColorAt(0, alpha(Qt::white, 0.18));
    light.setColorAt(0.5, alpha(Qt::white, 0));
    light.setColorAt(1, alpha(Qt::black, 0.10));
    p.fillRect(QRect(0, 0, 20, 14), light);
    p.setPen(QPen(alpha(Qt::black, 0.22), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, 19, 13));
    p.end();
}

QImage flagFr()
{
    QImage image = canvas(20, 14);
    QPainter p;
    begin(p, image);
    p.fillRect(QRect(0, 0, 7, 14), QColor(0, 85, 164));
    p.fillRect(QRect(7, 0, 6, 14), QColor(255, 255, 255));
    p.fillRect(QRect(13, 0, 7, 14), QColor(239, 65, 53));
    finish(p);
    return image;
}

QImage flagSv()
{
    QImage image = canvas(20, 14);
    QPainter p;
    begin(p, image);
    const QColor blue(0, 106, 167), yellow(254, 204, 0);
    p.fillRect(QRect(0, 0, 20, 14), blue);
    // The Nordic cross, its upright set towards the hoist; two pixels keep the bar centred.
    p.fillRect(QRect(6, 0, 2, 14), yellow);
    p.fillRect(QRect(0, 6, 20, 2), yellow);
    finish(p);
    return image;
}

QImage flagEn()
{
    QImage image = canvas(20, 14);
    QPainter p;
    begin(p, image);
    const QColor blue(1, 33, 105), red(200, 16, 46), white(255, 255, 255);
    p.fillRect(QRect(0, 0, 20, 14), blue);
    // Saltires first, the St George cross over them.
    auto diagonals = [&](double width, QColor c) {
        p.setPen(QPen(c, width, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(-1, -0.7), QPointF(21, 14.7));
        p.drawLine(QPointF(-1, 14.7), QPointF(21, -0.7));
    };
    diagonals(3.2, white);
    diagonals(1.1, red);
    p.setPen(Qt::NoPen);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(0, 5, 20, 4), white);
    p.fillRect(QRect(8, 0, 4, 14), white);
    p.fillRect(QRect(0, 6, 20, 2), red);
    p.fillRect(QRect(9, 0, 2, 14), red);
    finish(p);
    return image;
}

} // namespace art
