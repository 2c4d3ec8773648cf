// Paints every image of the program at its fixed size and writes it below the output folder,
// in the folders that the resource paths name. With --sheet it also writes contact sheets for
// looking at the set: every image enlarged without smoothing, on a light and a dark ground.

#include "artwork.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Image {
    const char* file; // below the output folder
    int width;
    int height;
    std::function<QImage()> paint;
};

const std::vector<Image>& images()
{
    using namespace art;
    static const std::vector<Image> list = {
        { "Pixmaps/appIcon.png", 197, 216, appIcon },
        { "Pixmaps/logo.png", 200, 74, logo },
        { "Pixmaps/MenuSetup.png", 256, 256, menuSetup },
        { "Pixmaps/MenuExitApp.png", 16, 16, menuExitApp },
        { "Pixmaps/MenuAbout.png", 256, 256, menuAbout },
        { "Pixmaps/PluginSetup.png", 32, 32, pluginSetup },
        { "Pixmaps/Flags/en.png", 20, 14, flagEn },
        { "Pixmaps/Flags/fr.png", 20, 14, flagFr },
        { "Pixmaps/Flags/sv.png", 20, 14, flagSv },
        { "Pixmaps/logSetup.png", 32, 32, logSetup },
        { "Pixmaps/MenuStat.png", 256, 256, menuStat },
        { "Pixmaps/MenuSave.png", 128, 128, menuSave },
        { "Pixmaps/MenuOpenFile.png", 128, 128, menuOpenFile },
        { "Pixmaps/id.png", 128, 128, idCard },
        { "Pixmaps/MenuPrint.png", 16, 16, menuPrint },
        { "Pixmaps/MenuMA.png", 24, 16, menuMA },
        { "Pixmaps/plus.png", 48, 48, plus },
        { "Pixmaps/minus.png", 48, 48, minus },
        { "Pixmaps/chMode.png", 228, 227, changeMode },
        { "Pixmaps/online.png", 12, 12, [] { return stateDot(State::Online, 12); } },
        { "Pixmaps/offline.png", 12, 12, [] { return stateDot(State::Offline, 12); } },
        { "Pixmaps/alarm.png", 12, 12, [] { return stateDot(State::Alarm, 12); } },
        { "Pixmaps/cloud.png", 12, 12, [] { return cloud(12); } },
        { "Pixmaps/online22.png", 22, 22, [] { return stateDot(State::Online, 22); } },
        { "Pixmaps/offline22.png", 22, 22, [] { return stateDot(State::Offline, 22); } },
        { "Pixmaps/alarm22.png", 22, 22, [] { return stateDot(State::Alarm, 22); } },
        { "Pixmaps/cloud22.png", 22, 22, [] { return cloud(22); } },
        { "Pixmaps/log22.png", 22, 22, [] { return logPage(22); } },
        { "Pixmaps/log.png", 128, 128, [] { return logPage(128); } },
        { "Pixmaps/defaultPlugin.png", 16, 16, defaultPlugin },
        { "Pixmaps/m3.png", 224, 177, m3 },
    };
    return list;
}

// A row of images enlarged by `scale`, each with its real-size self beside it, once on a light
// and once on a dark ground: the light one is the tool bar, the dark one catches edges that
// only look clean on white.
QImage sheet(const std::vector<std::pair<QString, QImage>>& group, int scale)
{
    const int gap = 16;
    int width = gap, tallest = 0;
    for (const auto& [name, img] : group) {
        width += img.width() * scale + gap + img.width() + gap;
        tallest = qMax(tallest, img.height() * scale);
    }
    const int band = tallest + 2 * gap + 14;
    QImage out(width, 2 * band, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&out);
    const QColor grounds[] = { QColor(244, 246, 248), QColor(30, 35, 40) };
    for (int g = 0; g < 2; ++g) {
        p.fillRect(0, g * band, width, band, grounds[g]);
        int x = gap;
        for (const auto& [name, img] : group) {
            const int top = g * band + gap;
            // Nearest-neighbour enlargement shows every pixel as painted.
            p.drawImage(QRect(x, top, img.width() * scale, img.height() * scale), img);
            p.drawImage(QPoint(x + img.width() * scale + gap / 2, top), img);
            p.setPen(g == 0 ? QColor(90, 90, 90) : QColor(200, 200, 200));
            QFont f("DejaVu Sans");
            f.setPixelSize(11);
            p.setFont(f);
            p.drawText(QPoint(x, g * band + band - gap / 2), name);
            x += img.width() * scale + gap + img.width() + gap;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription("Paints the Corvane images.");
    cli.addHelpOption();
    cli.addPositionalArgument("out", "Folder that receives Pixmaps/...");
    QCommandLineOption sheetOption("sheet", "Also write contact sheets into <dir>.", "dir");
    cli.addOption(sheetOption);
    cli.process(app);
    if (cli.positionalArguments().size() != 1)
        cli.showHelp(2);
    const QDir out(cli.positionalArguments().first());

    std::vector<std::pair<QString, QImage>> painted;
    for (const Image& entry : images()) {
        const QImage img = entry.paint();
        if (img.width() != entry.width || img.height() != entry.height) {
            std::fprintf(stderr, "make-artwork: %s painted at %dx%d, must be %dx%d\n", entry.file,
                         img.width(), img.height(), entry.width, entry.height);
            return 1;
        }
        const QString path = out.filePath(entry.file);
        QDir().mkpath(QFileInfo(path).path());
        if (!img.save(path, "PNG")) {
            std::fprintf(stderr, "make-artwork: cannot write %s\n", qPrintable(path));
            return 1;
        }
        painted.emplace_back(QFileInfo(entry.file).completeBaseName(), img);
    }
    std::printf("make-artwork: %zu images written below %s\n", painted.size(),
                qPrintable(out.absolutePath()));

    if (cli.isSet(sheetOption)) {
        const QDir dir(cli.value(sheetOption));
        QDir().mkpath(dir.path());
        std::vector<std::pair<QString, QImage>> small, medium, large;
        for (const auto& item : painted) {
            const int side = qMax(item.second.width(), item.second.height());
            (side <= 48 ? small : side <= 128 ? medium : large).push_back(item);
        }
        auto half = [](const std::vector<std::pair<QString, QImage>>& v, bool first) {
            const size_t mid = (v.size() + 1) / 2;
            return first ? std::vector<std::pair<QString, QImage>>(v.begin(), v.begin() + mid)
                         : std::vector<std::pair<QString, QImage>>(v.begin() + mid, v.end());
        };
        sheet(half(small, true), 4).save(dir.filePath("sheet-small-1.png"));
        sheet(half(small, false), 4).save(dir.filePath("sheet-small-2.png"));
        sheet(medium, 2).save(dir.filePath("sheet-medium.png"));
        sheet(half(large, true), 1).save(dir.filePath("sheet-large-1.png"));
        sheet(half(large, false), 1).save(dir.filePath("sheet-large-2.png"));
        for (const auto& [name, img] : large)
            sheet({ { name, img } }, 4).save(dir.filePath("sheet-4x-" + name + ".png"));
        for (const auto& [name, img] : medium)
            sheet({ { name, img } }, 4).save(dir.filePath("sheet-4x-" + name + ".png"));
        std::printf("make-artwork: contact sheets in %s\n", qPrintable(dir.absolutePath()));
    }
    return 0;
}
