// Renders the main window, the setup dialog and the about dialog on the offscreen platform to
// PNG files (in the build folder, or where CORVANE_SCREENSHOT_DIR says), and checks that each
// picture shows its window whole. scripts/screenshots runs it.
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "gui/Ui_cMainWindow.h"

#include <QDir>
#include <QPixmap>
#include <QSettings>
#include <QtTest>

class TestScreenshots : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;
    QString dir;

    // Saves the widget as it is painted and checks the picture is not a blank page.
    void shoot(QWidget* w, const QString& name)
    {
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(50);
        const QPixmap picture = w->grab();
        QCOMPARE(picture.size(), w->size());
        const QImage img = picture.toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < img.height(); y += 7)
            for (int x = 0; x < img.width(); x += 7)
                colours.insert(img.pixel(x, y));
        QVERIFY2(colours.size() > 8, qPrintable(name));
        const QString file = dir + "/" + name + ".png";
        QVERIFY(picture.save(file, "PNG"));
        qInfo("%s", qPrintable(file));
    }

private slots:
    void initTestCase()
    {
        dir = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
        if (dir.isEmpty())
            dir = QStringLiteral(CORVANE_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
    }
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    void mainWindowAndDialogs()
    {
        auto w = fx->makeWindow();
        w->resize(760, 520);
        w->show();
        emit w->statusBarMsgSignal("Ready");
        shoot(w.get(), "main-window");

        w->actionSetup->trigger();
        shoot(w->setupDialog, "setup-dialog");
        w->setupDialog->hide();

        w->actionAbout->trigger();
        shoot(w->aboutDialog, "about-dialog");
    }

    // The same in Swedish, to see that the longer texts still fit.
    void inSwedish()
    {
        QSettings("Tessmark", "Corvane").setValue("cMainWindow/Language", 2);
        auto w = fx->makeWindow();
        w->resize(760, 520);
        w->show();
        shoot(w.get(), "main-window-sv");
        w->actionSetup->trigger();
        shoot(w->setupDialog, "setup-dialog-sv");
    }
};

QTEST_MAIN(TestScreenshots)
#include "test_screenshots.moc"
