#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <functional>

class QPainter;

namespace art {

// One palette for every image: the deep teal of the brand, the window's own accent red
// (225, 58, 62, the header text colour) as the warm counterpart, an amber for folders, and
// slate greys for metal, paper edges and everything switched off.
namespace col {
const QColor ink(8, 44, 56);
const QColor teal900(10, 62, 77);
const QColor teal700(14, 96, 114);
const QColor teal500(20, 136, 150);
const QColor teal300(62, 186, 192);
const QColor teal100(212, 239, 240);
const QColor coral(225, 58, 62);
const QColor coralDark(176, 34, 44);
const QColor coralLight(246, 118, 110);
const QColor amber(245, 178, 58);
const QColor amberDark(206, 130, 28);
const QColor green(40, 170, 92);
const QColor greenDark(22, 120, 62);
const QColor greenLight(120, 222, 150);
const QColor slate900(36, 44, 52);
const QColor slate700(66, 78, 88);
const QColor slate500(112, 124, 134);
const QColor slate300(178, 188, 195);
const QColor slate100(232, 237, 240);
const QColor paper(252, 253, 253);
} // namespace col

// A transparent image of the given size.
QImage canvas(int width, int height);
// A painter with antialiasing on and, if unit > 0, a scale so that the image's width spans
// `unit` design units; icons are drawn once on a design grid and land on their pixel size.
void begin(QPainter& p, QImage& image, double unit = 0);

QColor alpha(QColor c, double a);

// A filled band along `centre` whose width runs from `startWidth` to `endWidth`: feathers,
// flow lines and arrows with tapering ends.
QPainterPath taperedStroke(const QPainterPath& centre, double startWidth, double endWidth,
                           double taperPower = 1.0, int steps = 96);
// The same with any width along the band (t runs from 0 to 1); both ends are rounded.
QPainterPath profiledStroke(const QPainterPath& centre, const std::function<double(double)>& width,
                            int steps = 96);
// Grown by `margin` all round, for cutting gaps between overlapping shapes.
QPainterPath grown(const QPainterPath& shape, double margin);
QPainterPath gear(QPointF centre, double outer, double root, double hole, int teeth,
                  double toothShare = 0.5);
// A glyph run as outlines, its capitals `capHeight` tall, standing on `baseLeft`; spacing is
// in pixels. Outlines take gradients and do not depend on hinting.
QPainterPath textAt(const QString& text, QPointF baseLeft, double capHeight, int weight = 700,
                    double letterSpacing = 0, const QString& family = "DejaVu Sans");
QPainterPath puzzlePiece(const QRectF& body, double knob, bool socket);
QPainterPath dogEaredPage(const QRectF& r, double fold, double radius);
QPainterPath arrowHead(QPointF tip, QPointF from, double length, double width);

// The brand mark: a corvid's wing of three flow lines over a flanged pipe.
enum class MarkTone { OnLight, OnDark };
void drawMark(QPainter& p, const QRectF& box, MarkTone tone);

QImage appIcon();
QImage logo();
QImage m3();

QImage menuSetup();
QImage menuExitApp();
QImage menuAbout();
QImage pluginSetup();
QImage logSetup();
QImage menuStat();
QImage menuSave();
QImage menuOpenFile();
QImage idCard();
QImage menuPrint();
QImage menuMA();
QImage plus();
QImage minus();
QImage changeMode();

enum class State { Online, Offline, Alarm };
QImage stateDot(State state, int size);
QImage cloud(int size);
QImage logPage(int size);
QImage defaultPlugin();

QImage flagEn();
QImage flagFr();
QImage flagSv();

} // namespace art
