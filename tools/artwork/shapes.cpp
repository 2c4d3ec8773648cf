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

QPainterPath profiledStroke(const QPainterPath& centre, const std::function<double(double)>& width,
                            int steps)
{
    QPolygonF left, right;
    const double eps = 0.5 / steps;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const QPointF at = centre.pointAtPercent(t);
        QPointF tangent = centre.pointAtPercent(qMin(1.0, t + eps)) - centre.pointAtPercent(qMax(0.0, t - eps));
        const double len = std::hypot(tangent.x(), tangent.y());
        if (len > 0)
            tangent /= len;
        const QPointF normal(-tangent.y(), tangent.x());
        const double w = width(t);
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
    // Round ends, so feathers and flow lines look drawn, not cut.
    for (double t : { 0.0, 1.0 }) {
        const double w = width(t);
        if (w > 0) {
            QPainterPath cap;
            cap.addEllipse(centre.pointAtPercent(t), w / 2, w / 2);
            band = band.united(cap);
        }
    }
    return band.simplified();
}

QPainterPath taperedStroke(const QPainterPath& centre, double startWidth, double endWidth,
                           double taperPower, int steps)
{
    return profiledStroke(centre, [=](double t) {
        return startWidth + (endWidth - startWidth) * std::pow(t, taperPower);
    }, steps);
}

QPainterPath grown(const QPainterPath& shape, double margin)
{
    QPainterPathStroker s;
    s.setWidth(2 * margin);
    s.setJoinStyle(Qt::RoundJoin);
    return shape.united(s.createStroke(shape)).simplified();
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
    // Sharp tooth corners shimmer when scaled down; a thin round-joined rim softens them.
    body = grown(body, outer * 0.025);
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

QPainterPath textAt(const QString& text, QPointF baseLeft, double capHeight, int weight,
                    double letterSpacing, const QString& family)
{
    // The cap height of the face, measured on a capital without overshoot.
    const double cap = -rawText("H", weight, 0, family).boundingRect().top();
    const double k = capHeight / cap;
    const QPainterPath path = rawText(text, weight, letterSpacing / k, family);
    QTransform t;
    t.translate(baseLeft.x() - path.boundingRect().left() * k, baseLeft.y());
    t.scale(k, k);
    return t.map(path);
}

QPainterPath puzzlePiece(const QRectF& b, double knob, bool socket)
{
    QPainterPath piece;
    piece.addRoundedRect(b, knob * 0.25, knob * 0.25);
    const double r = knob / 2;
    const double out = r * 0.95;
    // A knob sits on a neck narrower than itself, so it reads as a tab and not as a bump.
    auto tab = [&](QPointF centre, QRectF neck) {
        QPainterPath round, stem;
        round.addEllipse(centre, r, r);
        stem.addRect(neck);
        return round.united(stem);
    };
    const double cx = b.center().x(), cy = b.center().y();
    piece = piece.united(tab(QPointF(cx, b.top() - out), QRectF(cx - r * 0.55, b.top() - out, r * 1.1, out + 0.5)));
    piece = piece.united(tab(QPointF(b.right() + out, cy), QRectF(b.right() - 0.5, cy - r * 0.55, out + 0.5, r * 1.1)));
    if (socket) {
        QPainterPath hole = tab(QPointF(b.left() + out, cy), QRectF(b.left() - 0.5, cy - r * 0.55, out + 0.5, r * 1.1));
        piece = piece.subtracted(hole);
    }
    return piece.simplified();
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
