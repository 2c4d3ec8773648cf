// The application settings in a real INI store in a temporary folder: defaults, cleaning,
// the maximized window, the serial debug key, and stores that are broken.
#include "Contained.h"
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "gui/Ui_cMainWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

namespace {

// What a window left in the store (read through the same store the window uses).
QVariant stored(const char* key)
{
    QSettings s("Tessmark", "Corvane");
    return s.value(QString("cMainWindow/") + key);
}

void store(const QList<QPair<const char*, QVariant>>& values)
{
    QSettings s("Tessmark", "Corvane");
    for (const auto& v : values)
        s.setValue(QString("cMainWindow/") + v.first, v.second);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;

private slots:
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    void firstStartTakesTheDefaultsAndSavesTenKeys()
    {
        {
            auto w = fx->makeWindow();
            QCOMPARE(w->settingsVersion, 1);
            QCOMPARE(w->language, 1);
            QCOMPARE(w->serialPort, QString("COM1"));
            QCOMPARE(w->geometry(), QRect(20, 20, 500, 300));
            QVERIFY(!w->isMaximized());
            QCOMPARE(w->toolBarArea(w->ui->mainToolBar), Qt::TopToolBarArea);
            QVERIFY(!w->genericPort.debug);
            QVERIFY(!fx->log.text().contains("WARNING! Settings"));
        }
        QVERIFY(fx->log.text().contains("cMainWindow: Saving application settings\n"));
        QSettings s("Tessmark", "Corvane");
        s.beginGroup("cMainWindow");
        QStringList keys = s.childKeys();
        keys.sort();
        QCOMPARE(keys, QStringList({"Enable RS-485 debug", "Font", "Geometry", "Language", "Maximized",
                                    "Serial port", "Settings version", "Toolbar area", "Toolbar geometry",
                                    "Toolbar orientation"}));
        QCOMPARE(s.value("Toolbar area").toInt(), 4);
        QCOMPARE(s.value("Toolbar orientation").toString(), QString("1"));
        QCOMPARE(s.value("Geometry").toRect(), QRect(20, 20, 500, 300));
        QCOMPARE(s.value("Enable RS-485 debug").toBool(), false);
    }

    void portNamesAreCleaned_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("device path") << "\\\\.\\COM12" << "COM12";
        QTest::newRow("only junk") << " .\\. \\" << "COM1";
        QTest::newRow("empty") << "" << "COM1";
        QTest::newRow("tty") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
    }
    void portNamesAreCleaned()
    {
        QFETCH(QString, stored);
        QFETCH(QString, loaded);
        store({{"Serial port", stored}});
        auto w = fx->makeWindow();
        QCOMPARE(w->serialPort, loaded);
    }

    // Saving cleans the member itself too.
    void savingCleansThePortInPlace()
    {
        auto w = fx->makeWindow();
        w->serialPort = "COM 7.";
        w->saveAppSettings();
        QCOMPARE(w->serialPort, QString("COM7"));
        QCOMPARE(stored("Serial port").toString(), QString("COM7"));
    }

    void versionIsTruncatedAndCarriedBack()
    {
        store({{"Settings version", "2.9"}});
        {
            auto w = fx->makeWindow();
            QCOMPARE(w->settingsVersion, 2);
        }
        QCOMPARE(stored("Settings version").toString(), QString("2"));
    }

    void maximizedKeepsTheLastNormalGeometry()
    {
        const QRect normal(30, 40, 520, 310);
        store({{"Geometry", normal}});
        {
            auto w = fx->makeWindow();
            QCOMPARE(w->geometry(), normal);
            w->show();
            w->showMaximized();
            QTRY_VERIFY(w->isMaximized());
        }
        QCOMPARE(stored("Geometry").toRect(), normal);
        QCOMPARE(stored("Maximized").toBool(), true);
        auto again = fx->makeWindow();
        QVERIFY(again->isMaximized());
        QCOMPARE(again->normalGeometry(), normal);
    }

    void toolBarArea_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("area");
        QTest::newRow("left") << QVariant(1) << int(Qt::LeftToolBarArea);
        QTest::newRow("right") << QVariant(2) << int(Qt::RightToolBarArea);
        QTest::newRow("bottom") << QVariant(8) << int(Qt::BottomToolBarArea);
        QTest::newRow("top") << QVariant(4) << int(Qt::TopToolBarArea);
        QTest::newRow("unknown") << QVariant(3) << int(Qt::TopToolBarArea);
        QTest::newRow("not a number") << QVariant("left") << int(Qt::TopToolBarArea);
    }
    void toolBarArea()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, area);
        store({{"Toolbar area", stored}});
        {
            auto w = fx->makeWindow();
            QCOMPARE(int(w->toolBarArea(w->ui->mainToolBar)), area);
            QCOMPARE(w->ui->mainToolBar->orientation(),
                     area == Qt::LeftToolBarArea || area == Qt::RightToolBarArea ? Qt::Vertical : Qt::Horizontal);
        }
        QCOMPARE(::stored("Toolbar area").toInt(), area);
    }

    // With a log file the switch is read (and says so) and written back.
    void serialDebugWithALogFile()
    {
        store({{"Enable RS-485 debug", true}});
        {
            auto w = fx->makeWindow();
            QVERIFY(w->genericPort.debug);
            QVERIFY(fx->log.text().contains(QString::asprintf(
                "cThread @ 0x%08X: GENERIC SERIAL PORT thread -> Enabeling debug output\n", w->genericPort.id)));
            w->genericPort.debug = false;
        }
        QCOMPARE(stored("Enable RS-485 debug").toBool(), false);
    }

    // On the console the key is neither read nor written.
    void serialDebugWithoutALogFile()
    {
        store({{"Enable RS-485 debug", true}});
        {
            auto w = fx->makeWindow(ProgramRunner::binDir(), stdout);
            QVERIFY(!w->genericPort.debug);
            w->genericPort.debug = false;
        }
        QCOMPARE(stored("Enable RS-485 debug").toBool(), true);
        QSettings s("Tessmark", "Corvane");
        s.remove("cMainWindow/Enable RS-485 debug");
        s.sync();
        {
            auto w = fx->makeWindow(ProgramRunner::binDir(), stdout);
            w->genericPort.debug = true;
        }
        QVERIFY(!stored("Enable RS-485 debug").isValid());
    }

    // A store that does not parse is not used at all; the next save replaces it with a sound one.
    void corruptStoreStartsWithDefaults_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        const QString invalid = " are not used: it is not a valid settings file\n";
        QTest::newRow("broken section") << QByteArray("[cMainWindow\nLanguage=2\nSerial%20port=COM9\n") << invalid;
        // Which of the two an image is depends on where Qt's reader stumbles.
        QTest::newRow("an image") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x14", 20) << QString();
        // Qt reads this as an INI file of odd keys; ours are simply not there.
        QByteArray noise;
        for (int i = 0; i < 512; ++i)
            noise.append(char((i * 151 + 7) & 0xff));
        QTest::newRow("binary noise") << noise << " hold no application settings\n";
    }
    void corruptStoreStartsWithDefaults()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        fx->store.writeRaw(bytes);
        {
            auto w = fx->makeWindow();
            QCOMPARE(w->language, 1);
            QCOMPARE(w->serialPort, QString("COM1"));
            QCOMPARE(w->geometry(), QRect(20, 20, 500, 300));
            const QString text = fx->log.text();
            const QString warning = "cMainWindow: WARNING! Settings in " + fx->store.file();
            QVERIFY2(text.contains(warning), qPrintable(text));
            QVERIFY(text.contains("\ncMainWindow: Default settings will be used\n"));
            if (!why.isEmpty())
                QVERIFY2(text.contains(warning + why), qPrintable(text));
        }
        QVERIFY(!fx->log.text().contains("could not be saved"));
        QSettings reread(fx->store.file(), QSettings::IniFormat);
        QCOMPARE(reread.status(), QSettings::NoError);
        QCOMPARE(reread.value("cMainWindow/Language").toInt(), 1);
    }

    // What stands at the store's name but is no file: a FIFO held the GUI thread in open() for
    // ever, a link to /dev/zero was read without end. Each is moved aside unread, as the store
    // was not there, and the next save writes a sound one.
    void storeThatIsNoFileIsMovedAsideUnread_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("what");
        QTest::newRow("FIFO") << "fifo" << "not a regular file (a FIFO)";
        QTest::newRow("link to /dev/zero") << "zero" << "not a regular file (a character device)";
        QTest::newRow("larger than any store") << "large" << "larger than 268435456 bytes";
    }
    void storeThatIsNoFileIsMovedAsideUnread()
    {
        QFETCH(QString, kind);
        QFETCH(QString, what);
        const QString file = fx->store.file();
        fx->store.writeRaw("[cMainWindow]\nLanguage=2\n");
        if (kind == "large") {
            QFile f(file);
            QVERIFY(f.resize(300 * 1024 * 1024));
        } else {
            QVERIFY(QFile::remove(file));
            if (kind == "fifo")
                QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
            else {
                const QString zero = Contained::zeroDevice(fx->store.dir());
                if (zero.isEmpty())
                    QSKIP("no device of the test's own can be made here (not root)");
                QVERIFY(QFile::link(zero, file));
            }
        }
        const Contained::Outcome o = Contained::run(
            [&] {
                {
                    auto w = fx->makeWindow();
                    CONTAINED_CHECK(w->language == 1, 1);
                }
                const QString text = fx->log.text();
                std::fprintf(stderr, "%s", qPrintable(text));
                const QStringList aside = QDir(QFileInfo(file).path()).entryList({"Corvane.conf.unusable-*"}, QDir::System | QDir::Files);
                CONTAINED_CHECK(aside.size() == 1, 2);
                CONTAINED_CHECK(text.contains("cMainWindow: WARNING! Settings in " + file + " are not used: it is " + what +
                                              "; moved to " + QFileInfo(file).path() + "/" + aside[0] + "\n"),
                                3);
                CONTAINED_CHECK(text.contains("\ncMainWindow: Default settings will be used\n"), 4);
                CONTAINED_CHECK(!text.contains("could not be saved"), 5);
                CONTAINED_CHECK(QFileInfo(file).isFile() && !QFileInfo(file).isSymLink(), 6);
                CONTAINED_CHECK(QSettings(file, QSettings::IniFormat).value("cMainWindow/Language").toInt() == 1, 7);
                return 0;
            },
            60000, 1024LL * 1024 * 1024);
        QVERIFY2(o.ok(), qPrintable(o.what()));
    }

    // A store that cannot be opened at all (here a folder where the file should be).
    void unreadableStoreIsReported()
    {
        QVERIFY(QDir().mkpath(fx->store.file()));
        {
            auto w = fx->makeWindow();
            QCOMPARE(w->language, 1);
            QVERIFY(fx->log.text().contains("cMainWindow: WARNING! Settings in " + fx->store.file() +
                                           " are not used: it cannot be accessed\n"));
        }
        QVERIFY(fx->log.text().contains("cMainWindow: WARNING! Settings could not be saved to " + fx->store.file() +
                                       "\n"));
    }

    // Saving into a store that cannot be written (its folder is a regular file, which stops root
    // too) is said at once, in the status bar and the log; the window keeps what it was given.
    void failedSaveIsSaidAtOnce()
    {
        auto w = fx->makeWindow();
        const QString folder = fx->store.dir() + "/Tessmark";
        QVERIFY(!QFileInfo::exists(folder) || QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSignalSpy status(w.get(), &cMainWindow::statusBarMsgSignal);
        w->language = 2;
        w->saveAppSettings();
        const QString said = "WARNING! Settings could not be saved to " + fx->store.file();
        QCOMPARE(status.size(), 1);
        QCOMPARE(status.at(0).at(0).toString(), said);
        QCOMPARE(w->ui->statusBar->currentMessage(), said);
        QVERIFY(fx->log.text().endsWith("cMainWindow: " + said + "\n"));
        QCOMPARE(w->language, 2);
        // Writable again: the next save keeps it.
        QVERIFY(QFile::remove(folder));
        w->saveAppSettings();
        QCOMPARE(status.size(), 1);
        QCOMPARE(stored("Language").toInt(), 2);
    }

    // A value far longer than any the window writes is refused by its length, before anything
    // converts it, with a line naming the key; the default is used.
    void overlongValuesTakeTheDefault()
    {
        const QByteArray huge(8 * 1024 * 1024, 'C');
        fx->store.writeRaw("[cMainWindow]\nLanguage=2\nSerial%20port=" + huge + "\nToolbar%20area=" + huge + "\n");
        auto w = fx->makeWindow();
        QCOMPARE(w->serialPort, QString("COM1"));
        QCOMPARE(w->language, 2);
        QCOMPARE(w->toolBarArea(w->ui->mainToolBar), Qt::TopToolBarArea);
        const QString text = fx->log.text();
        QVERIFY2(text.contains("cMainWindow: WARNING! Setting \"Serial port\" is 8388608 characters long (more than "
                               "4096), the default is used\n"),
                 qPrintable(text.left(2000)));
        QVERIFY(text.contains("cMainWindow: WARNING! Setting \"Toolbar area\" is 8388608 characters long"));
    }

    // A window without area could be neither seen nor grabbed.
    void unusableGeometryFallsBackToTheDefault()
    {
        fx->store.writeRaw("[cMainWindow]\nGeometry=@Rect(0 0 0 0)\nLanguage=2\n");
        auto w = fx->makeWindow();
        QCOMPARE(w->geometry(), QRect(20, 20, 500, 300));
        QCOMPARE(w->language, 2);
        QVERIFY(fx->log.text().contains("cMainWindow: WARNING! Stored window geometry is not usable, the default is used\n"));
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
