#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRadialGradient>

namespace art {

// Item states are lamps: a lit dome with a darker rim, so that they read on white tree rows and
// on the blue of a selected row alike.
QImage stateDot(State state, int size)
{
    QColor light, mid, rim;
    switch (state) {
    case State::Online:
        light = col::greenLight, mid = col::green, rim = col::greenDark;
        break;
    case State::Offline:
        light = col::slate100, mid = col::slate300, rim = col::slate500;
        break;
    case State::Alarm:
        light = col::coralLight, mid = col::coral, rim = col::coralDark;
        break;
    }
    QImage image = canvas(size, size);
    QPainter p;
    begin(p, image);
    const double c = size / 2.0;
    const double r = c - 0.5;
    p.setBrush(rim);
    p.drawEllipse(QPointF(c, c), r, r);
    QRadialGradient dome(QPointF(c - r * 0.3, c - r * 0.35), r * 1.25);
    dome.setColorAt(0, light);
    dome.setColorAt(0.55, mid);
    dome.setColorAt(1, mid.darker(112));
    p.setBrush(dome);
    const double inner = r - (size >= 20 ? 1.5 : 1.0);
    p.drawEllipse(QPointF(c, c), inner, inner);
    if (size >= 20) {
        // The larger lamps have room for a highlight and, on alarm, an exclamation mark.
        QLinearGradient sheen(0, c - inner, 0, c);
        sheen.setColorAt(0, alpha(Qt::white, 0.55));
        sheen.setColorAt(1, alpha(Qt::white, 0));
        p.setBrush(sheen);
        p.drawEllipse(QPointF(c, c - inner * 0.42), inner * 0.62, inner * 0.45);
        if (state == State::Alarm) {
            p.setBrush(col::paper);
            p.drawRoundedRect(QRectF(c - 1.5, c - 6.5, 3, 8.5), 1.5, 1.5);
            p.drawEllipse(QPointF(c, c + 5), 1.6, 1.6);
        }
    }
    return image;
}

QImage cloud(int size)
{
    QImage image = canvas(size, size);
    QPainter p;
    begin(p, image, 22);
    // A flat foot with three puffs, the middle one highest. The small cloud gets fuller puffs:
    // at twelve pixels the dips between them would otherwise vanish into a dome.
    const bool small = size < 20;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(1, 11.5, 20, 7.5), 3.75, 3.75);
    QPainterPath puffLeft, puffTop, puffRight;
    puffLeft.addEllipse(QPointF(6.3, 12.2), small ? 5.2 : 4.6, small ? 5.2 : 4.6);
    puffTop.addEllipse(QPointF(12.4, 9), small ? 6.2 : 5.4, small ? 6.2 : 5.4);
    puffRight.addEllipse(QPointF(16.8, 12.8), 4.2, 4.2);
    shape = shape.united(puffLeft).united(puffTop).united(puffRight).simplified();
    p.fillPath(shape, col::teal700);
    QPainterPathStroker s;
    s.setWidth(small ? 3.4 : 2.4);
    QPainterPath inner = shape.subtracted(s.createStroke(shape));
    QLinearGradient g(0, 3, 0, 18);
    g.setColorAt(0, col::teal100);
    g.setColorAt(1, col::teal300);
    p.fillPath(inner, g);
    return image;
}

} // namespace art
