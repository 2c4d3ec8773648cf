#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QTransform>
#include <QtMath>

#include <cmath>

namespace art {

static QPainterPath cubic(QPointF a, QPointF c1, QPointF c2, QPointF b)
{
    QPainterPath path(a);
    path.cubicTo(c1, c2, b);
    return path;
}

// Drawn on a 100 x 100 grid inside `box`.
void drawMark(QPainter& p, const QRectF& box, MarkTone tone)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 100.0, box.height() / 100.0);
    const bool dark = tone == MarkTone::OnDark;

    // Three primaries of a wing that are also streamlines leaving the pipe: the longest on top.
    // Each swells from a slim root and runs out to a point, as a brush stroke would.
    struct Feather { QPainterPath centre; double width; QColor from, to; };
    const Feather feathers[] = {
        { cubic({ 14, 62 }, { 24, 28 }, { 56, 10 }, { 95, 8 }), 19,
          dark ? col::paper : col::teal900, dark ? col::teal100 : col::teal700 },
        { cubic({ 24, 64 }, { 36, 42 }, { 60, 30 }, { 90, 29 }), 15,
          dark ? col::teal100 : col::teal700, dark ? col::teal300 : col::teal500 },
        { cubic({ 34, 66 }, { 46, 54 }, { 64, 48 }, { 84, 48 }), 11.5,
          col::coral, dark ? col::coralLight : col::coral },
    };
    QPainterPath pipeShape;
    pipeShape.addRoundedRect(QRectF(8, 72, 84, 14), 2, 2);
    pipeShape.addRoundedRect(QRectF(3, 66, 9, 26), 2.2, 2.2);
    pipeShape.addRoundedRect(QRectF(88, 66, 9, 26), 2.2, 2.2);
    QPainterPath bands[3];
    for (int i = 0; i < 3; ++i) {
        const double w = feathers[i].width;
        bands[i] = profiledStroke(feathers[i].centre, [w](double t) {
            const double root = t < 0.22 ? 0.6 + 0.4 * std::sin(M_PI / 2 * t / 0.22) : 1.0;
            return qMax(0.5, w * root * std::pow(1 - t, 1.05));
        });
    }
    // Each lower feather lies over the one above it, with a hairline of air between them
    // and above the pipe, so that the shapes stay apart even where all are one colour.
    for (int i = 0; i < 3; ++i) {
        QPainterPath shape = bands[i].subtracted(grown(pipeShape, 2.2));
        for (int j = i + 1; j < 3; ++j)
            shape = shape.subtracted(grown(bands[j], 1.8));
        const Feather& f = feathers[i];
        QLinearGradient g(f.centre.pointAtPercent(0), f.centre.pointAtPercent(1));
        g.setColorAt(0, f.from);
        g.setColorAt(1, f.to);
        p.fillPath(shape, g);
    }

    // The pipe: a cylinder seen from the side, lit from above, with a flange at each end.
    QLinearGradient metal(0, 71, 0, 87);
    if (dark) {
        metal.setColorAt(0, col::paper);
        metal.setColorAt(1, col::teal100);
    } else {
        metal.setColorAt(0, col::teal500);
        metal.setColorAt(0.45, col::teal700);
        metal.setColorAt(1, col::teal900);
    }
    p.setBrush(metal);
    p.drawRoundedRect(QRectF(8, 72, 84, 14), 2, 2);
    QLinearGradient flange(0, 65, 0, 93);
    flange.setColorAt(0, dark ? col::paper : col::teal700);
    flange.setColorAt(1, dark ? col::teal100 : col::ink);
    p.setBrush(flange);
    p.drawRoundedRect(QRectF(3, 66, 9, 26), 2.2, 2.2);
    p.drawRoundedRect(QRectF(88, 66, 9, 26), 2.2, 2.2);
    if (!dark) {
        // A highlight along the top of the pipe; the light pipe on the tile needs none.
        p.setBrush(alpha(col::teal300, 0.55));
        p.drawRoundedRect(QRectF(12, 74, 76, 2.4), 1.2, 1.2);
    }
    p.restore();
}

QImage appIcon()
{
    QImage image = canvas(197, 216);
    QPainter p;
    begin(p, image);
    // A tall tile, as the image is taller than wide; a soft shadow lifts it from any desktop.
    const QRectF tile(6, 4, 185, 204);
    for (int i = 6; i >= 1; --i) {
        p.setBrush(alpha(col::ink, 0.035));
        p.drawRoundedRect(tile.translated(0, 3).adjusted(-i * 0.5, -i * 0.2, i * 0.5, i * 0.8), 44, 44);
    }
    QLinearGradient bg(tile.topLeft(), tile.bottomRight());
    bg.setColorAt(0, col::teal500);
    bg.setColorAt(0.55, col::teal700);
    bg.setColorAt(1, col::teal900);
    p.setBrush(bg);
    p.drawRoundedRect(tile, 42, 42);
    // A glow behind the mark.
    QRadialGradient glow(QPointF(98, 92), 96);
    glow.setColorAt(0, alpha(col::teal300, 0.45));
    glow.setColorAt(1, alpha(col::teal300, 0));
    p.setBrush(glow);
    p.drawRoundedRect(tile, 42, 42);
    // Gentle light on the upper edge.
    QLinearGradient sheen(0, tile.top(), 0, tile.top() + 60);
    sheen.setColorAt(0, alpha(Qt::white, 0.22));
    sheen.setColorAt(1, alpha(Qt::white, 0));
    p.setBrush(sheen);
    p.drawRoundedRect(tile.adjusted(2, 2, -2, -2), 40, 40);

    drawMark(p, QRectF(30, 38, 137, 137), MarkTone::OnDark);
    return image;
}

QImage logo()
{
    QImage image = canvas(200, 74);
    QPainter p;
    begin(p, image);
    drawMark(p, QRectF(1, 3, 66, 66), MarkTone::OnLight);

    const QPointF base(72, 44);
    QPainterPath word = textAt("Corvane", base, 25, 700, -0.8);
    const double room = 198 - base.x();
    if (word.boundingRect().width() > room) {
        const double k = room / word.boundingRect().width();
        word = QTransform().translate(base.x(), base.y()).scale(k, k).translate(-base.x(), -base.y()).map(word);
    }
    QLinearGradient ink(0, 18, 0, 44);
    ink.setColorAt(0, col::teal700);
    ink.setColorAt(1, col::teal900);
    p.fillPath(word, ink);

    // The line under the name is tracked out to the name's width, one block of type.
    const QString tagline = "FLOW INSTRUMENTS";
    const QPointF tagBase(base.x() + 1, 59);
    const double w0 = textAt(tagline, tagBase, 7, 600, 0).boundingRect().width();
    const double w1 = textAt(tagline, tagBase, 7, 600, 1).boundingRect().width();
    const double tracking = (word.boundingRect().width() - 1 - w0) / (w1 - w0);
    p.fillPath(textAt(tagline, tagBase, 7, 600, tracking), col::slate500);
    return image;
}

// A side view of an electromagnetic flow meter: flanged spool with the transmitter head on
// its neck, the display showing a flow in cubic metres per hour.
QImage m3()
{
    QImage image = canvas(224, 177);
    QPainter p;
    begin(p, image);

    auto steel = [](double top, double bottom, QColor light, QColor mid, QColor dark) {
        QLinearGradient g(0, top, 0, bottom);
        g.setColorAt(0, mid);
        g.setColorAt(0.25, light);
        g.setColorAt(0.6, mid);
        g.setColorAt(1, dark);
        return g;
    };

    // Ground shadow.
    QRadialGradient shade(QPointF(112, 168), 100);
    shade.setColorAt(0, alpha(col::ink, 0.22));
    shade.setColorAt(1, alpha(col::ink, 0));
    p.save();
    p.scale(1, 0.09);
    p.setBrush(shade);
    p.drawEllipse(QPointF(112, 168 / 0.09), 104, 100);
    p.restore();

    // Pipe stubs.
    p.setBrush(steel(112, 146, col::slate100, col::slate300, col::slate500));
    p.drawRect(QRectF(0, 112, 30, 34));
    p.drawRect(QRectF(194, 112, 30, 34));

    // Flanges with bolt heads.
    for (double x : { 22.0, 184.0 }) {
        p.setBrush(steel(92, 166, col::slate100, col::slate300, col::slate700));
        p.drawRoundedRect(QRectF(x, 92, 18, 74), 3, 3);
        p.setBrush(alpha(col::slate900, 0.18));
        p.drawRect(QRectF(x + 17, 95, 1, 68));
        for (double y : { 99.0, 151.0 }) {
            QRadialGradient bolt(QPointF(x + 8, y + 3), 6);
            bolt.setColorAt(0, col::slate100);
            bolt.setColorAt(1, col::slate500);
            p.setBrush(bolt);
            p.drawEllipse(QPointF(x + 9, y + 4), 4.2, 4.2);
        }
    }

    // Meter body: a painted spool between the flanges.
    p.setBrush(steel(100, 158, col::teal300, col::teal700, col::teal900));
    p.drawRoundedRect(QRectF(40, 100, 144, 58), 6, 6);
    // Flow arrow on the body, in the brand's warm red.
    QPainterPath shaft;
    shaft.moveTo(62, 136);
    shaft.lineTo(150, 136);
    p.fillPath(taperedStroke(shaft, 5, 5), col::paper);
    p.fillPath(arrowHead(QPointF(166, 136), QPointF(150, 136), 20, 20), col::paper);
    p.setBrush(alpha(col::paper, 0.9));
    p.drawRoundedRect(QRectF(60, 112, 44, 9), 2, 2);
    p.setBrush(col::teal700);
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(64 + i * 9, 115, 6, 3));

    // Neck.
    QLinearGradient neck(96, 0, 128, 0);
    neck.setColorAt(0, col::slate500);
    neck.setColorAt(0.35, col::slate100);
    neck.setColorAt(1, col::slate500);
    p.setBrush(neck);
    p.drawRect(QRectF(98, 74, 28, 28));
    p.setBrush(alpha(col::slate900, 0.25));
    p.drawRect(QRectF(98, 74, 28, 3));

    // Transmitter head.
    const QRectF head(50, 6, 124, 72);
    p.setBrush(alpha(col::ink, 0.25));
    p.drawRoundedRect(head.translated(0, 2), 14, 14);
    QLinearGradient housing(0, head.top(), 0, head.bottom());
    housing.setColorAt(0, col::teal500);
    housing.setColorAt(0.5, col::teal700);
    housing.setColorAt(1, col::teal900);
    p.setBrush(housing);
    p.drawRoundedRect(head, 14, 14);
    QLinearGradient rim(0, head.top(), 0, head.top() + 20);
    rim.setColorAt(0, alpha(Qt::white, 0.3));
    rim.setColorAt(1, alpha(Qt::white, 0));
    p.setBrush(rim);
    p.drawRoundedRect(head.adjusted(2, 1.5, -2, -40), 12, 12);

    // Display.
    const QRectF lcd(64, 16, 96, 44);
    p.setBrush(col::ink);
    p.drawRoundedRect(lcd, 6, 6);
    QLinearGradient glass(0, lcd.top(), 0, lcd.bottom());
    glass.setColorAt(0, QColor(226, 248, 246));
    glass.setColorAt(1, QColor(178, 226, 222));
    p.setBrush(glass);
    p.drawRoundedRect(lcd.adjusted(3, 3, -3, -3), 4, 4);
    p.fillPath(textAt("12.48", QPointF(72, 44), 18, 700, 0.55, "DejaVu Sans Mono"), col::ink);
    p.fillPath(textAt("m\u00B3/h", QPointF(128, 53), 7.2, 700, 0.3), col::teal700);
    // A small bar of the flow against range, under the figure.
    p.setBrush(alpha(col::teal700, 0.25));
    p.drawRoundedRect(QRectF(72, 50, 50, 4), 2, 2);
    p.setBrush(col::teal700);
    p.drawRoundedRect(QRectF(72, 50, 32, 4), 2, 2);

    // Status lamp and two keys.
    p.setBrush(col::green);
    p.drawEllipse(QPointF(76, 68), 3, 3);
    p.setBrush(alpha(col::paper, 0.75));
    p.drawRoundedRect(QRectF(126, 65, 12, 6), 3, 3);
    p.drawRoundedRect(QRectF(142, 65, 12, 6), 3, 3);
    return image;
}

} // namespace art
