#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QtMath>

#include <cmath>

namespace art {

static QLinearGradient vertical(double top, double bottom, QColor a, QColor b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

// A soft drop shadow under a shape, so the large icons sit on a surface the same way.
static void shadow(QPainter& p, const QPainterPath& shape, double drop, double spread)
{
    for (int i = 4; i >= 1; --i) {
        QPainterPathStroker s;
        s.setWidth(spread * i / 2);
        s.setJoinStyle(Qt::RoundJoin);
        p.fillPath(shape.united(s.createStroke(shape)).translated(0, drop), alpha(col::ink, 0.05));
    }
}

static QPainterPath gearAt(QPointF c, double r)
{
    return gear(c, r, r * 0.76, r * 0.34, 8);
}

static void paintGear(QPainter& p, QPointF c, double r, QColor light, QColor dark)
{
    QLinearGradient g(c.x(), c.y() - r, c.x(), c.y() + r);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.fillPath(gearAt(c, r), g);
}

QImage menuSetup()
{
    QImage image = canvas(256, 256);
    QPainter p;
    begin(p, image);
    const QPointF c(128, 126);
    const QPainterPath body = gear(c, 118, 92, 0, 10, 0.52);
    shadow(p, body, 5, 4);
    QLinearGradient metal(c.x() - 90, c.y() - 118, c.x() + 90, c.y() + 118);
    metal.setColorAt(0, col::teal300);
    metal.setColorAt(0.5, col::teal500);
    metal.setColorAt(1, col::teal900);
    p.fillPath(body, metal);
    // A raised hub ring with a bore, lit from the upper left.
    QPainterPath ring;
    ring.addEllipse(c, 70, 70);
    QPainterPath bore;
    bore.addEllipse(c, 34, 34);
    QLinearGradient hub(c.x() - 70, c.y() - 70, c.x() + 70, c.y() + 70);
    hub.setColorAt(0, col::teal700);
    hub.setColorAt(1, col::teal300);
    p.fillPath(ring.subtracted(bore), hub);
    QPainterPath face;
    face.addEllipse(c, 62, 62);
    p.fillPath(face.subtracted(bore), vertical(c.y() - 62, c.y() + 62, col::teal300, col::teal700));
    // The bore is cut through: transparent, so the icon shows what is behind it.
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillPath(bore, Qt::black);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPainterPathStroker edge;
    edge.setWidth(4);
    p.fillPath(edge.createStroke(bore).intersected(face), alpha(col::ink, 0.35));
    return image;
}

QImage menuExitApp()
{
    QImage image = canvas(16, 16);
    QPainter p;
    begin(p, image);
    // Door frame, open door leaf, and the way out.
    p.setBrush(col::slate500);
    p.drawRect(QRectF(1, 1, 9, 14));
    p.setBrush(col::slate100);
    p.drawRect(QRectF(2, 2, 7, 12));
    QPainterPath leaf;
    leaf.moveTo(2, 2);
    leaf.lineTo(7, 3.5);
    leaf.lineTo(7, 15);
    leaf.lineTo(2, 14);
    leaf.closeSubpath();
    p.fillPath(leaf, vertical(2, 15, col::teal500, col::teal900));
    p.setBrush(col::amber);
    p.drawRect(QRectF(5, 8, 1, 2));
    p.setBrush(col::coral);
    p.drawRect(QRectF(8, 7, 4, 2));
    p.fillPath(arrowHead(QPointF(15.5, 8), QPointF(8, 8), 4.5, 7), col::coral);
    return image;
}

QImage menuAbout()
{
    QImage image = canvas(256, 256);
    QPainter p;
    begin(p, image);
    const QPointF c(128, 126);
    QPainterPath disc;
    disc.addEllipse(c, 116, 116);
    shadow(p, disc, 5, 4);
    QLinearGradient g(c.x() - 80, c.y() - 116, c.x() + 80, c.y() + 116);
    g.setColorAt(0, col::teal300);
    g.setColorAt(0.45, col::teal500);
    g.setColorAt(1, col::teal900);
    p.fillPath(disc, g);
    // Sheen on the upper half.
    QPainterPath sheen;
    sheen.addEllipse(QPointF(c.x(), c.y() - 50), 84, 58);
    p.fillPath(sheen.intersected(disc), vertical(c.y() - 108, c.y() - 2, alpha(Qt::white, 0.32), alpha(Qt::white, 0)));
    // The letter: a dot over a stem with a small lead-in serif and a foot.
    p.setBrush(col::paper);
    p.drawEllipse(QPointF(c.x(), 70), 17, 17);
    QPainterPath stem;
    stem.addRoundedRect(QRectF(c.x() - 15, 104, 30, 92), 6, 6);
    QPainterPath lead;
    lead.addRoundedRect(QRectF(c.x() - 34, 104, 36, 20), 6, 6);
    QPainterPath foot;
    foot.addRoundedRect(QRectF(c.x() - 34, 182, 68, 20), 6, 6);
    p.fillPath(stem.united(lead).united(foot), col::paper);
    return image;
}

// A plug-in is a puzzle piece; its setup adds the gear in the accent colour.
static void paintPuzzle(QPainter& p, const QRectF& body, double knob, double edge, bool socket)
{
    const QPainterPath piece = puzzlePiece(body, knob, socket);
    const QRectF r = piece.boundingRect();
    p.fillPath(piece, vertical(r.top(), r.bottom(), col::teal300, col::teal700));
    if (edge > 0) {
        // The stroke is centred on the outline; keeping its inner half gives a crisp edge.
        QPainterPathStroker s;
        s.setWidth(2 * edge);
        p.fillPath(s.createStroke(piece).intersected(piece), col::teal900);
    }
}

static void paintSmallGear(QPainter& p, QPointF c, double r, QColor light, QColor dark)
{
    // A light ring first, so the gear reads on the piece it overlaps.
    QPainterPath halo = gear(c, r + 1.4, r * 0.76 + 1.4, 0, 8);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillPath(halo, Qt::black);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    paintGear(p, c, r, light, dark);
}

QImage pluginSetup()
{
    QImage image = canvas(32, 32);
    QPainter p;
    begin(p, image);
    paintPuzzle(p, QRectF(2, 9, 17, 17), 7.5, 0, true);
    paintSmallGear(p, QPointF(24, 24), 7.5, col::coralLight, col::coralDark);
    return image;
}

static void paintLogSheet(QPainter& p, const QRectF& r, double fold, double line, double gap,
                          double edge)
{
    const QPainterPath page = dogEaredPage(r, fold, fold * 0.25);
    p.fillPath(page, vertical(r.top(), r.bottom(), col::paper, col::slate100));
    QPainterPathStroker s;
    s.setWidth(edge);
    p.fillPath(s.createStroke(page).intersected(page), col::slate500);
    QPainterPath ear;
    ear.moveTo(r.right() - fold, r.top());
    ear.lineTo(r.right() - fold, r.top() + fold);
    ear.lineTo(r.right(), r.top() + fold);
    ear.closeSubpath();
    p.fillPath(ear, col::slate300);
    // Lines of entries, each starting with a time stamp in the brand colour.
    const double left = r.left() + edge + gap;
    const double right = r.right() - edge - gap;
    double y = r.top() + fold + gap * 0.6;
    int n = 0;
    while (y + line <= r.bottom() - edge - gap * 0.5) {
        const double stamp = (right - left) * 0.28;
        const double end = right - (n % 3 == 1 ? (right - left) * 0.22 : 0);
        p.fillRect(QRectF(left, y, stamp, line), col::teal500);
        p.fillRect(QRectF(left + stamp + line, y, end - left - stamp - line, line), col::slate300);
        y += line + gap;
        ++n;
    }
}

QImage logSetup()
{
    QImage image = canvas(32, 32);
    QPainter p;
    begin(p, image);
    p.setRenderHint(QPainter::Antialiasing, false);
    paintLogSheet(p, QRectF(3, 1, 20, 26), 6, 2, 2, 1);
    p.setRenderHint(QPainter::Antialiasing, true);
    paintSmallGear(p, QPointF(23.5, 23.5), 8, col::teal300, col::teal900);
    return image;
}

QImage menuStat()
{
    QImage image = canvas(256, 256);
    QPainter p;
    begin(p, image);
    // A rounded panel carries the chart so it holds together on any background.
    const QRectF panel(10, 16, 236, 224);
    QPainterPath card;
    card.addRoundedRect(panel, 28, 28);
    shadow(p, card, 5, 4);
    p.fillPath(card, vertical(panel.top(), panel.bottom(), col::paper, col::slate100));
    QPainterPathStroker edge;
    edge.setWidth(5);
    p.fillPath(edge.createStroke(card).intersected(card), col::slate300);

    const double base = 206;
    p.setBrush(col::slate300);
    p.drawRoundedRect(QRectF(34, base, 188, 7), 3.5, 3.5);
    const double heights[] = { 58, 96, 76, 132 };
    for (int i = 0; i < 4; ++i) {
        const QRectF bar(44 + i * 46, base - 4 - heights[i], 32, heights[i] + 4);
        QPainterPath b;
        b.addRoundedRect(bar, 7, 7);
        QLinearGradient g(bar.topLeft(), bar.topRight());
        g.setColorAt(0, col::teal300);
        g.setColorAt(1, col::teal500);
        if (i == 3) {
            g.setColorAt(0, col::teal500);
            g.setColorAt(1, col::teal700);
        }
        p.fillPath(b, g);
    }
    // Trend line with its readings.
    const QPointF pts[] = { { 60, 116 }, { 106, 88 }, { 152, 98 }, { 198, 46 } };
    QPainterPath trend(pts[0]);
    for (int i = 1; i < 4; ++i)
        trend.lineTo(pts[i]);
    QPainterPathStroker line;
    line.setWidth(9);
    line.setJoinStyle(Qt::RoundJoin);
    line.setCapStyle(Qt::RoundCap);
    QPainterPathStroker outline;
    outline.setWidth(17);
    outline.setJoinStyle(Qt::RoundJoin);
    outline.setCapStyle(Qt::RoundCap);
    p.fillPath(outline.createStroke(trend), col::paper);
    p.fillPath(line.createStroke(trend), col::coral);
    for (const QPointF& pt : pts) {
        p.setBrush(col::paper);
        p.drawEllipse(pt, 13, 13);
        p.setBrush(col::coral);
        p.drawEllipse(pt, 8.5, 8.5);
    }
    return image;
}

QImage menuSave()
{
    QImage image = canvas(128, 128);
    QPainter p;
    begin(p, image);
    // A diskette: the symbol everyone still reads as "save".
    QPainterPath body;
    body.moveTo(14, 8);
    body.lineTo(100, 8);
    body.lineTo(120, 28);
    body.lineTo(120, 112);
    body.quadTo(120, 120, 112, 120);
    body.lineTo(16, 120);
    body.quadTo(8, 120, 8, 112);
    body.lineTo(8, 14);
    body.quadTo(8, 8, 14, 8);
    body.closeSubpath();
    shadow(p, body, 3, 2);
    QLinearGradient g(8, 8, 120, 120);
    g.setColorAt(0, col::teal500);
    g.setColorAt(1, col::teal900);
    p.fillPath(body, g);
    // Shutter with its window.
    QPainterPath shutter;
    shutter.addRoundedRect(QRectF(30, 8, 62, 38), 4, 4);
    QPainterPath top;
    top.addRect(QRectF(30, 8, 62, 8));
    p.fillPath(shutter.united(top), vertical(8, 46, col::slate100, col::slate300));
    p.setBrush(col::teal900);
    p.drawRoundedRect(QRectF(72, 15, 12, 24), 2.5, 2.5);
    // Label.
    p.setBrush(col::paper);
    p.drawRoundedRect(QRectF(22, 62, 84, 50), 6, 6);
    p.setBrush(col::coral);
    p.drawRoundedRect(QRectF(22, 62, 84, 9), 4, 4);
    p.drawRect(QRectF(22, 66, 84, 5));
    p.setBrush(col::slate300);
    p.drawRoundedRect(QRectF(32, 81, 64, 5), 2.5, 2.5);
    p.drawRoundedRect(QRectF(32, 93, 46, 5), 2.5, 2.5);
    return image;
}

QImage menuOpenFile()
{
    QImage image = canvas(128, 128);
    QPainter p;
    begin(p, image);
    // Back of the folder with its tab.
    QPainterPath back;
    back.moveTo(8, 26);
    back.quadTo(8, 18, 16, 18);
    back.lineTo(44, 18);
    back.lineTo(54, 28);
    back.lineTo(104, 28);
    back.quadTo(112, 28, 112, 36);
    back.lineTo(112, 104);
    back.quadTo(112, 112, 104, 112);
    back.lineTo(16, 112);
    back.quadTo(8, 112, 8, 104);
    back.closeSubpath();
    shadow(p, back, 3, 2);
    p.fillPath(back, vertical(18, 112, col::amberDark, QColor(176, 104, 16)));
    // A document sticking out.
    QPainterPath sheet = dogEaredPage(QRectF(26, 10, 66, 80), 16, 3);
    p.fillPath(sheet, vertical(10, 90, col::paper, col::slate100));
    QPainterPathStroker s;
    s.setWidth(3);
    p.fillPath(s.createStroke(sheet).intersected(sheet), col::slate300);
    p.setBrush(col::teal500);
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(36, 34 + i * 11, i == 2 ? 28 : 44, 5), 2.5, 2.5);
    // The front flap, swung open: its foot on the folder's foot, its top leaning out.
    QPainterPath front;
    front.moveTo(26, 50);
    front.lineTo(120, 50);
    front.quadTo(125, 50, 123.6, 55);
    front.lineTo(111, 106);
    front.quadTo(109.5, 112, 103, 112);
    front.lineTo(14, 112);
    front.quadTo(7, 112, 8.4, 106);
    front.lineTo(20.5, 55);
    front.quadTo(21.5, 50, 26, 50);
    front.closeSubpath();
    p.fillPath(front, vertical(50, 112, QColor(255, 208, 106), col::amber));
    QPainterPath lip;
    lip.addRect(QRectF(0, 50, 128, 4));
    p.fillPath(front.intersected(lip), alpha(Qt::white, 0.45));
    return image;
}

QImage idCard()
{
    QImage image = canvas(128, 128);
    QPainter p;
    begin(p, image);
    const QRectF card(6, 22, 116, 84);
    QPainterPath outline;
    outline.addRoundedRect(card, 10, 10);
    shadow(p, outline, 3, 2);
    p.fillPath(outline, vertical(card.top(), card.bottom(), col::paper, col::slate100));
    // Header band in the brand colour with a lanyard slot.
    QPainterPath band;
    band.addRect(QRectF(card.left(), card.top(), card.width(), 20));
    p.fillPath(outline.intersected(band), vertical(card.top(), card.top() + 20, col::teal500, col::teal700));
    p.setBrush(col::paper);
    p.drawRoundedRect(QRectF(52, 28, 24, 6), 3, 3);
    QPainterPathStroker edge;
    edge.setWidth(3);
    p.fillPath(edge.createStroke(outline).intersected(outline), alpha(col::slate500, 0.6));
    // Photo: head and shoulders.
    const QRectF photo(16, 50, 38, 46);
    p.setBrush(col::teal100);
    p.drawRoundedRect(photo, 5, 5);
    QPainterPath person;
    person.addEllipse(QPointF(35, 66), 9, 10);
    QPainterPath shoulders;
    shoulders.addRoundedRect(QRectF(20, 79, 30, 26), 13, 13);
    QPainterPath clip;
    clip.addRoundedRect(photo, 5, 5);
    p.fillPath(person.united(shoulders).intersected(clip), col::teal500);
    // Name and number lines.
    p.setBrush(col::slate700);
    p.drawRoundedRect(QRectF(62, 54, 50, 7), 3.5, 3.5);
    p.setBrush(col::slate300);
    p.drawRoundedRect(QRectF(62, 68, 42, 5), 2.5, 2.5);
    p.drawRoundedRect(QRectF(62, 79, 48, 5), 2.5, 2.5);
    p.setBrush(col::coral);
    p.drawRoundedRect(QRectF(62, 89, 26, 5), 2.5, 2.5);
    return image;
}

QImage menuPrint()
{
    QImage image = canvas(16, 16);
    QPainter p;
    begin(p, image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Paper in, body, paper out with a printed line.
    p.fillRect(QRect(4, 1, 8, 5), col::slate300);
    p.fillRect(QRect(5, 2, 6, 4), col::paper);
    p.fillRect(QRect(1, 5, 14, 7), col::slate700);
    p.fillRect(QRect(2, 6, 12, 2), col::slate500);
    p.fillRect(QRect(12, 6, 1, 1), col::green);
    p.fillRect(QRect(3, 10, 10, 6), col::slate500);
    p.fillRect(QRect(4, 10, 8, 5), col::paper);
    p.fillRect(QRect(5, 11, 6, 1), col::teal500);
    p.fillRect(QRect(5, 13, 4, 1), col::teal500);
    return image;
}

QImage menuMA()
{
    QImage image = canvas(24, 16);
    QPainter p;
    begin(p, image);
    // A badge, as for a unit on an instrument panel.
    p.setBrush(vertical(1, 15, col::teal500, col::teal900));
    p.drawRoundedRect(QRectF(0.5, 1.5, 23, 13), 3, 3);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Letters drawn on the pixel grid: at this size outlines of a font turn to mush.
    const QColor w = col::paper;
    // M: two stems and a V between them.
    p.fillRect(QRect(3, 4, 2, 8), w);
    p.fillRect(QRect(10, 4, 2, 8), w);
    p.fillRect(QRect(5, 5, 1, 2), w);
    p.fillRect(QRect(6, 6, 1, 2), w);
    p.fillRect(QRect(7, 7, 1, 2), w);
    p.fillRect(QRect(8, 6, 1, 2), w);
    p.fillRect(QRect(9, 5, 1, 2), w);
    // A: an arch with a bar.
    p.fillRect(QRect(13, 6, 2, 6), w);
    p.fillRect(QRect(19, 6, 2, 6), w);
    p.fillRect(QRect(14, 5, 6, 1), w);
    p.fillRect(QRect(15, 4, 4, 1), w);
    p.fillRect(QRect(15, 8, 4, 2), w);
    return image;
}

static QImage roundButton(QColor light, QColor dark, bool withStem)
{
    QImage image = canvas(48, 48);
    QPainter p;
    begin(p, image);
    const QPointF c(24, 23.5);
    p.setBrush(alpha(col::ink, 0.16));
    p.drawEllipse(QPointF(c.x(), c.y() + 1.5), 21.5, 21.5);
    QLinearGradient g(0, 2, 0, 45);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.setBrush(g);
    p.drawEllipse(c, 21, 21);
    QPainterPath sheen;
    sheen.addEllipse(QPointF(c.x(), c.y() - 9), 15, 10);
    p.fillPath(sheen, vertical(4, 24, alpha(Qt::white, 0.35), alpha(Qt::white, 0)));
    p.setBrush(col::paper);
    p.drawRoundedRect(QRectF(12, 21, 24, 6), 3, 3);
    if (withStem)
        p.drawRoundedRect(QRectF(21, 9, 6, 30), 3, 3);
    return image;
}

QImage plus()
{
    return roundButton(col::teal300, col::teal700, true);
}

QImage minus()
{
    return roundButton(col::coralLight, col::coralDark, false);
}

QImage changeMode()
{
    QImage image = canvas(228, 227);
    QPainter p;
    begin(p, image);
    const QPointF c(114, 113.5);
    const double r = 80;
    const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
    auto onCircle = [&](double deg) {
        return c + QPointF(r * std::cos(qDegreesToRadians(deg)), -r * std::sin(qDegreesToRadians(deg)));
    };
    // Two arrows chasing each other round a circle: one mode hands over to the other. Angles run
    // counter-clockwise from three o'clock; both arms turn clockwise.
    struct Arm { double from, span; QColor light, dark; };
    const Arm arms[] = {
        { 198, -118, col::teal300, col::teal700 },
        { 18, -118, col::coralLight, col::coralDark },
    };
    for (const Arm& a : arms) {
        QPainterPath centre;
        centre.arcMoveTo(box, a.from);
        centre.arcTo(box, a.from, a.span);
        const double endDeg = a.from + a.span;
        // The head bends with the circle: its tip lies on the circle, 40 degrees on.
        const QPointF base = onCircle(endDeg + 1);
        const QPointF tip = onCircle(endDeg - 40);
        const QPointF d = tip - base;
        QPainterPath band = taperedStroke(centre, 32, 32);
        band = band.united(arrowHead(tip, base, std::hypot(d.x(), d.y()), 80)).simplified();
        p.fillPath(band.translated(0, 4), alpha(col::ink, 0.10));
        const QRectF bb = band.boundingRect();
        QLinearGradient g(bb.topLeft(), bb.bottomRight());
        g.setColorAt(0, a.light);
        g.setColorAt(1, a.dark);
        p.fillPath(band, g);
    }
    return image;
}

QImage logPage(int size)
{
    QImage image = canvas(size, size);
    QPainter p;
    begin(p, image);
    if (size <= 24) {
        p.setRenderHint(QPainter::Antialiasing, false);
        paintLogSheet(p, QRectF(3, 1, 16, 20), 5, 2, 1, 1);
    } else {
        const double k = size / 128.0;
        QPainterPath page = dogEaredPage(QRectF(18 * k, 6 * k, 92 * k, 116 * k), 26 * k, 6 * k);
        shadow(p, page, 3 * k, 2 * k);
        paintLogSheet(p, QRectF(18 * k, 6 * k, 92 * k, 116 * k), 26 * k, 7 * k, 7 * k, 3 * k);
    }
    return image;
}

QImage defaultPlugin()
{
    QImage image = canvas(16, 16);
    QPainter p;
    begin(p, image);
    paintPuzzle(p, QRectF(1, 5, 10, 10), 4.6, 0, false);
    return image;
}

} // namespace art
