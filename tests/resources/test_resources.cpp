// The images are part of the plug-in interface: plug-ins load them by path and lay out their
// pages around the sizes. This test links the library and nothing else, and never calls
// Q_INIT_RESOURCE, so it also shows that loading the library is enough to register them.

#include <QDirIterator>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QtTest>

namespace {

struct Listed {
    const char* path;
    int width;
    int height;
};

const Listed listed[] = {
    { ":/Other/Pixmaps/appIcon.png", 197, 216 },
    { ":/Other/Pixmaps/logo.png", 200, 74 },
    { ":/Menu/Pixmaps/MenuSetup.png", 256, 256 },
    { ":/Menu/Pixmaps/MenuExitApp.png", 16, 16 },
    { ":/Menu/Pixmaps/MenuAbout.png", 256, 256 },
    { ":/Menu/Pixmaps/PluginSetup.png", 32, 32 },
    { ":/Flags/Pixmaps/Flags/en.png", 20, 14 },
    { ":/Flags/Pixmaps/Flags/fr.png", 20, 14 },
    { ":/Flags/Pixmaps/Flags/sv.png", 20, 14 },
    { ":/Menu/Pixmaps/logSetup.png", 32, 32 },
    { ":/Menu/Pixmaps/MenuStat.png", 256, 256 },
    { ":/Menu/Pixmaps/MenuSave.png", 128, 128 },
    { ":/Menu/Pixmaps/MenuOpenFile.png", 128, 128 },
    { ":/Menu/Pixmaps/id.png", 128, 128 },
    { ":/Menu/Pixmaps/MenuPrint.png", 16, 16 },
    { ":/Menu/Pixmaps/MenuMA.png", 24, 16 },
    { ":/Menu/Pixmaps/plus.png", 48, 48 },
    { ":/Menu/Pixmaps/minus.png", 48, 48 },
    { ":/Menu/Pixmaps/chMode.png", 228, 227 },
    { ":/Other/Pixmaps/online.png", 12, 12 },
    { ":/Other/Pixmaps/offline.png", 12, 12 },
    { ":/Other/Pixmaps/alarm.png", 12, 12 },
    { ":/Other/Pixmaps/cloud.png", 12, 12 },
    { ":/Other/Pixmaps/online22.png", 22, 22 },
    { ":/Other/Pixmaps/offline22.png", 22, 22 },
    { ":/Other/Pixmaps/alarm22.png", 22, 22 },
    { ":/Other/Pixmaps/cloud22.png", 22, 22 },
    { ":/Other/Pixmaps/log22.png", 22, 22 },
    { ":/Other/Pixmaps/log.png", 128, 128 },
    { ":/Other/Pixmaps/defaultPlugin.png", 16, 16 },
    { ":/Other/Pixmaps/m3.png", 224, 177 },
};

bool isFlag(const QString& path)
{
    return path.startsWith(":/Flags/");
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void loadsAtListedSize_data();
    void loadsAtListedSize();
    void nothingBesidesTheListed();
};

void TestResources::loadsAtListedSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (const Listed& image : listed)
        QTest::newRow(image.path) << QString(image.path) << QSize(image.width, image.height);
}

void TestResources::loadsAtListedSize()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);

    QVERIFY2(QFile::exists(path), qPrintable(path + " is not registered"));
    const QPixmap pixmap(path);
    QVERIFY2(!pixmap.isNull(), qPrintable(path + " does not decode"));
    QCOMPARE(pixmap.size(), size);

    // Icons sit on tool bars, tree rows and the white header, whatever their colour: their
    // corners must be see-through. Flags are the exception, a flag is a full rectangle.
    const QImage image = pixmap.toImage();
    const QPoint corners[] = { { 0, 0 }, { size.width() - 1, 0 }, { 0, size.height() - 1 },
                               { size.width() - 1, size.height() - 1 } };
    for (const QPoint& corner : corners) {
        const int alpha = qAlpha(image.pixel(corner));
        if (isFlag(path))
            QVERIFY2(alpha == 255, qPrintable(QString("%1: corner (%2, %3) not opaque")
                                                  .arg(path).arg(corner.x()).arg(corner.y())));
        else
            QVERIFY2(alpha == 0, qPrintable(QString("%1: corner (%2, %3) not transparent")
                                                .arg(path).arg(corner.x()).arg(corner.y())));
    }
}

void TestResources::nothingBesidesTheListed()
{
    // An image listed under a wrong prefix or name is one that no caller will ever find.
    QSet<QString> expected;
    for (const Listed& image : listed)
        expected.insert(image.path);
    QSet<QString> found;
    for (const char* root : { ":/Other/Pixmaps", ":/Menu/Pixmaps", ":/Flags/Pixmaps" }) {
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.insert(it.next());
    }
    QCOMPARE(found.size(), 31);
    QCOMPARE(found, expected);
}

QTEST_MAIN(TestResources)
#include "test_resources.moc"
