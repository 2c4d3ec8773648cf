#include "artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPathStroker>
#include <QTransform>
#include <QtMath>

#include <cmath>

namespace art {

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void begin(QPainter& p, QImage& image, double unit)
{
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setPen(Qt::NoPen);
    if (unit > 0)
        p.scale(image.width() / unit, image.width() / unit);
}

QColor alpha(QColor c, double a)
{
    c.setAlphaF(float(a));
    return c;
}

QPainterPath taperedStroke(const QPainterPath& centre, double startWidth, double endWidth,
                           double taperPower, int steps)
{
    QPolygonF left, right;
    const double eps = 0.5 / steps;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const QPointF at = centre.pointAtPercent(t);
        const QPointF ahead = centre.pointAtPercent(qMin(1.0, t + eps));
        const QPointF behind = centre.pointAtPercent(qMax(0.0, t - eps));
        QPointF tangent = ahead - behind;
        const double len = std::hypot(tangent.x(), tangent.y());
        if (len > 0)
            tangent /= len;
        const QPointF normal(-tangent.y(), tangent.x());
        const double w = startWidth + (endWidth - startWidth) * std::pow(t, taperPower);
        left << at + normal * (w / 2);
        right << at - normal * (w / 2);
    }
    QPainterPath band;
    band.moveTo(left.first());
    for (int i = 1; i < left.size(); ++i)
        band.lineTo(left[i]);
    for (int i = right.size() - 1; i >= 0; --i)
        band.lineTo(right[i]);
    band.closeSubpath();
    // A round butt where the band starts wide, so feathers and flow lines look drawn, not cut.
    if (startWidth > 0) {
        QPainterPath cap;
        cap.addEllipse(centre.pointAtPercent(0), startWidth / 2, startWidth / 2);
        band = band.united(cap);
    }
    if (endWidth > 0) {
        QPainterPath cap;
        cap.addEllipse(centre.pointAtPercent(1), endWidth / 2, endWidth / 2);
        band = band.united(cap);
    }
    return band.simplified();
}

QPainterPath gear(QPointF c, double outer, double root, double hole, int teeth, double toothShare)
{
    QPolygonF outline;
    const double pitch = 2 * M_PI / teeth;
    // Teeth narrow towards their tips, as cut gears do: the flank starts wider at the root.
    const double rootHalf = pitch * toothShare * 0.5;
    const double tipHalf = rootHalf * 0.62;
    auto polar = [&](double r, double a) { return c + QPointF(r * std::sin(a), -r * std::cos(a)); };
    for (int i = 0; i < teeth; ++i) {
        const double a = i * pitch;
        outline << polar(root, a - rootHalf) << polar(outer, a - tipHalf)
                << polar(outer, a + tipHalf) << polar(root, a + rootHalf);
        const double gapStart = a + rootHalf, gapEnd = a + pitch - rootHalf;
        for (int k = 1; k < 8; ++k)
            outline << polar(root, gapStart + (gapEnd - gapStart) * k / 8);
    }
    QPainterPath body;
    body.addPolygon(outline);
    body.closeSubpath();
    // Rounded tips: the outline grown by a round-joined stroke, then the same amount taken off
    // again is what a machinist's chamfer would look like; growing alone is close enough.
    QPainterPathStroker soft;
    soft.setWidth(outer * 0.05);
    soft.setJoinStyle(Qt::RoundJoin);
    body = body.united(soft.createStroke(body));
    if (hole > 0) {
        QPainterPath h;
        h.addEllipse(c, hole, hole);
        body = body.subtracted(h);
    }
    return body.simplified();
}

static QPainterPath rawText(const QString& text, int weight, double letterSpacing,
                            const QString& family)
{
    QFont font(family);
    font.setPixelSize(100);
    font.setWeight(QFont::Weight(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    if (letterSpacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    QPainterPath path;
    path.addText(0, 0, font, text);
    return path;
}

QPainterPath textIn(const QString& text, const QRectF& box, int weight, double letterSpacing,
                    const QString& family)
{
    QPainterPath path = rawText(text, weight, letterSpacing, family);
    const QRectF r = path.boundingRect();
    const double k = qMin(box.width() / r.width(), box.height() / r.height());
    QTransform t;
    t.translate(box.center().x(), box.center().y());
    t.scale(k, k);
    t.translate(-r.center().x(), -r.center().y());
    return t.map(path);
}

QPainterPath textAt(const QString& text, QPointF baseLeft, double capHeight, int weight,
                    double letterSpacing, const QString& family)
{
    QPainterPath path = rawText(text, weight, letterSpacing * 100 / capHeight, family);
    // The cap height of the face, measured on a capital without overshoot.
    const double cap = -rawText("H", weight, 0, family).boundingRect().top();
    const double k = capHeight / cap;
    QTransform t;
    t.translate(baseLeft.x() - path.boundingRect().left() * k, baseLeft.y());
    t.scale(k, k);
    return t.map(path);
}

QPainterPath puzzlePiece(const QRectF& b, double knob)
{
    QPainterPath body;
    body.addRoundedRect(b, knob * 0.35, knob * 0.35);
    QPainterPath top, right, left;
    top.addEllipse(QPointF(b.center().x(), b.top() - knob * 0.45), knob * 0.62, knob * 0.62);
    right.addEllipse(QPointF(b.right() + knob * 0.45, b.center().y()), knob * 0.62, knob * 0.62);
    left.addEllipse(QPointF(b.left() + knob * 0.45, b.center().y()), knob * 0.62, knob * 0.62);
    QPainterPath neckTop, neckRight;
    neckTop.addRect(QRectF(b.center().x() - knob * 0.3, b.top() - knob * 0.3, knob * 0.6, knob * 0.6));
    neckRight.addRect(QRectF(b.right() - knob * 0.3, b.center().y() - knob * 0.3, knob * 0.6, knob * 0.6));
    return body.united(top).united(neckTop).united(right).united(neckRight).subtracted(left).simplified();
}

QPainterPath dogEaredPage(const QRectF& r, double fold, double radius)
{
    QPainterPath page;
    page.moveTo(r.left() + radius, r.top());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.right(), r.bottom() - radius);
    page.quadTo(r.right(), r.bottom(), r.right() - radius, r.bottom());
    page.lineTo(r.left() + radius, r.bottom());
    page.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - radius);
    page.lineTo(r.left(), r.top() + radius);
    page.quadTo(r.left(), r.top(), r.left() + radius, r.top());
    page.closeSubpath();
    return page;
}

QPainterPath arrowHead(QPointF tip, QPointF from, double length, double width)
{
    QPointF d = tip - from;
    const double len = std::hypot(d.x(), d.y());
    d /= len;
    const QPointF n(-d.y(), d.x());
    const QPointF base = tip - d * length;
    QPainterPath head;
    head.moveTo(tip);
    head.lineTo(base + n * (width / 2));
    head.lineTo(base + d * (length * 0.18));
    head.lineTo(base - n * (width / 2));
    head.closeSubpath();
    return head;
}

} // namespace art
