// The main window's construction, quit question and ordered shutdown.
#include "HostFixture.h"
#include "PtyPair.h"

#include <serial/cSerial.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLocale>
#include <QtTest>

#include <memory>

class TestWindowLife : public QObject
{
    Q_OBJECT

    // Each case starts from an empty store: the window reads it while it is built. The window
    // writes to the fixture's log and its errors to a file of their own.
    std::unique_ptr<HostFixture> fx;
    CapturedFile err;

    std::unique_ptr<cMainWindow> makeWindow() { return fx->makeWindow("/opt/corvane", nullptr, err.file()); }

private slots:
    void init()
    {
        fx = std::make_unique<HostFixture>();
        err.clear();
    }
    void cleanup() { fx.reset(); }

    void constructionOrderAndTitle()
    {
        StdStreamCapture so(1);
        auto w = makeWindow();
        so.stop();
        // The threads and the port are built on the console before the streams are handed over.
        QVERIFY(so.text().contains("Thread tag is 'GENERIC SERIAL PORT'\n"));
        QCOMPARE(so.text().count("Thread tag is 'GENERIC'\n"), 2);
        QVERIFY(so.text().indexOf("GENERIC SERIAL PORT") < so.text().indexOf("'GENERIC'"));
        // The setup dialog is made before the streams are handed over.
        QVERIFY(so.text().contains("cSetup: Connecting signals\n"));
        // Settings before the language they choose (1 on an empty store), then the menus.
        const QString locale = QLocale::system().name();
        QCOMPARE(fx->log.text(), QString("cMainWindow: Version 1.1\n"
                                     "cMainWindow: Loading application settings\n"
                                     "cMainWindow: Found system locale: " + locale + "\n"
                                     "cMainWindow: WARNING! QT system language file qt_en.qm was not found in "
                                     "/opt/corvane/lang\n"
                                     "cMainWindow: English will be used as QT system language\n"
                                     "cMainWindow: WARNING! Language file lang_en.qm was not found in "
                                     "/opt/corvane/lang\n"
                                     "cMainWindow: English will be used\n"
                                     "cSetup: Disconnecting signals\n"
                                     "cSetup: Connecting signals\n"
                                     "cMainWindow: Connecting signals\n"
                                     "cMainWindow: Disconnecting signals\n"
                                     "cMainWindow: Generating menus\n"
                                     "cMainWindow: Connecting signals\n"
                                     "cMainWindow: Ready\n"));
        QCOMPARE(w->windowTitle(), QString("Corvane 1.1 - Tessmark"));
        QCOMPARE(w->objectName(), QString("cMainWindow"));
        for (cThread* t : {static_cast<cThread*>(&w->mainGuiThread), static_cast<cThread*>(&w->mainThread),
                           static_cast<cThread*>(&w->genericPort)}) {
            QCOMPARE(t->out.load(), fx->log.file());
            QCOMPARE(t->err.load(), err.file());
            QVERIFY(!t->running);
        }
        QCOMPARE(w->logStream(), fx->log.file());
        QVERIFY(!w->debugMode);
        QVERIFY(!w->factoryMode);
        QVERIFY(w->popupBox && !w->popupBox->isVisible());
        QVERIFY(w->aboutDialog && !w->aboutDialog->parent());
        QVERIFY(w->pluginMenu);
        QVERIFY(w->portList.isEmpty());
        QVERIFY(!w->currentTreeItem);
        StdStreamCapture quiet(1), quietErr(2);
        w.reset();
    }

    void programPathGetsForwardSlashes()
    {
        StdStreamCapture so(1);
        QString path = "C:\\Tools\\Corvane\\app.exe";
        cMainWindow w(nullptr, qApp, path, fx->log.file(), err.file());
        QCOMPARE(w.appPath, QString("C:/Tools/Corvane/app.exe"));
        QCOMPARE(path, QString("C:/Tools/Corvane/app.exe"));
    }

    void nullStreamsMeanTheConsole()
    {
        StdStreamCapture so(1), se(2);
        QString path = "corvane";
        cMainWindow w(nullptr, qApp, path, nullptr, nullptr);
        QCOMPARE(w.mainGuiThread.out.load(), stdout);
        QCOMPARE(w.mainThread.err.load(), stderr);
        QCOMPARE(w.genericPort.out.load(), stdout);
        QVERIFY(so.text().contains("cMainWindow: Ready\n"));
    }

    void quitQuestionNoKeepsTheWindow()
    {
        StdStreamCapture so(1);
        auto w = makeWindow();
        w->show();
        ModalAnswerer answer(QMessageBox::No);
        QVERIFY(!w->close());
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.titles.first(), QString("Corvane: Quit"));
        QCOMPARE(answer.texts.first(), QString("Do you really want to quit?"));
        QVERIFY(w->isVisible());
        // And it asks again next time.
        QVERIFY(!w->close());
        QCOMPARE(answer.count(), 2);
    }

    void quitQuestionYesCloses()
    {
        StdStreamCapture so(1);
        auto w = makeWindow();
        w->show();
        ModalAnswerer answer(QMessageBox::Yes);
        QVERIFY(w->close());
        QCOMPARE(answer.count(), 1);
        QVERIFY(!w->isVisible());
    }

    // A close that arrives while the question of an earlier close is open neither asks again
    // nor closes the window behind the user's back.
    void secondCloseWhileAskingDoesNotAskAgain()
    {
        StdStreamCapture so(1);
        auto w = makeWindow();
        w->show();
        ModalAnswerer answer(QMessageBox::No);
        answer.hold(true);
        bool secondAccepted = true;
        bool visibleAfterSecond = false;
        QTimer::singleShot(100, [&] {
            w->close();
            // Released first: were a second question opened, it would be answered and counted.
            answer.hold(false);
            // A close event delivered straight to the window, as a window manager would.
            QCloseEvent event;
            QApplication::sendEvent(w.get(), &event);
            secondAccepted = event.isAccepted();
            visibleAfterSecond = w->isVisible();
        });
        QVERIFY(!w->close());
        QVERIFY(!secondAccepted);
        QVERIFY(visibleAfterSecond);
        QCOMPARE(answer.count(), 1);
        QVERIFY(w->isVisible());
    }

    void exitActionAsksToo()
    {
        StdStreamCapture so(1);
        auto w = makeWindow();
        w->show();
        ModalAnswerer answer(QMessageBox::No);
        w->actionQuit->trigger();
        QCOMPARE(answer.count(), 1);
        QVERIFY(w->isVisible());
    }

    // A quit stops the plug-ins' threads before it closes the ports: a port closed under a
    // plug-in that still reads it looks to the plug-in like a device pulled out. The plug-ins
    // themselves stay loaded until the event loop has ended.
    void quitStopsThePluginsBeforeThePortsClose()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        StdStreamCapture so(1), se(2);
        QVERIFY(fx->load({"tp_alpha"}));
        cPlugin* plugin = HostFixture::plugin(0);
        QVERIFY(plugin->running);
        cSerial* port = fx->window->openPort(pty.slavePath());
        QVERIFY(port);
        const QString pluginId = QString::asprintf("cThread @ 0x%08X: ", plugin->id);
        const QString portId = QString::asprintf("cSerial @ 0x%08X: ", port->id);
        fx->answerBoxes(QMessageBox::Yes);
        QVERIFY(fx->window->close());
        so.stop();
        se.stop();
        QVERIFY(!plugin->running);
        QCOMPARE(pluginList.size(), 1);
        QVERIFY(fx->window->portList.isEmpty());
        QVERIFY(fx->log.text().contains("cMainWindow: Stopping the plugins' threads before the ports close\n"));
        // Both lines go to the console in the order they happened.
        const int stopped = so.text().indexOf(pluginId + "Alpha THREAD thread ->exited\n");
        const int closed = so.text().indexOf(portId + "Closed '" + QString::fromStdString(pty.slavePath()) + "'\n");
        QVERIFY2(stopped >= 0 && closed > stopped, qPrintable(so.text()));
    }

    // Running threads are stopped with the handshake before the window says goodbye.
    void shutdownOrder()
    {
        StdStreamCapture so(1), se(2);
        auto w = makeWindow();
        w->mainGuiThread.handler = mainGuiHandler;
        w->mainGuiThread.startHandler(cThread::TYPE_PLAIN, w.get(), "MAIN GUI");
        w->mainThread.startHandler(cThread::TYPE_TRANSACTION, w.get(), "MAIN");
        fx->log.clear();
        const QString gui = QString::asprintf("0x%08X", w->mainGuiThread.id);
        const QString main = QString::asprintf("0x%08X", w->mainThread.id);
        w.reset();
        so.stop();
        se.stop();
        const QString text = fx->log.text();
        const QStringList order = {
            "cMainWindow: Disconnecting signals\n",
            "cThread @ " + gui + ": MAIN GUI thread handler stopped\n",
            "cThread @ " + main + ": MAIN transaction thread handler stopped\n",
            "cMainWindow: Saving application settings\n",
            "cMainWindow: Bye!\n",
            "cThread @ " + gui + ": MAIN GUI thread destroyed\n",
            "cThread @ " + main + ": MAIN thread destroyed\n",
            "GENERIC SERIAL PORT thread destroyed\n",
        };
        int at = 0;
        for (const QString& line : order) {
            const int found = text.indexOf(line, at);
            QVERIFY2(found >= 0, qPrintable("missing in order: " + line + "\n" + text));
            at = found + line.size();
        }
        QVERIFY(se.text().contains("cThread @ " + gui + ": MAIN GUI thread -> is trying exit and waiting on confirm\n"));
        QVERIFY(se.text().indexOf(gui) < se.text().indexOf(main));
        // Once after the stop and once more from the destructor.
        QCOMPARE(so.text().count("cThread @ " + main + ": MAIN thread ->exited\n"), 2);
    }
};

QTEST_MAIN(TestWindowLife)
#include "test_window_life.moc"
