// The application and action locks, pop-ups, the reset and clearing of the window, and a
// plug-in's setup page from opening to Save or Discard, on a window with real test plug-ins.
#include "HostFixture.h"
#include "gui/Ui_cMainWindow.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include <QElapsedTimer>
#include <QMessageBox>

namespace {

// The busy and status flags of an action lock belong to the requester and are read by "MAIN".
void setFlag(bool* flag, bool value)
{
    __atomic_store_n(flag, value, __ATOMIC_RELEASE);
}

} // namespace

class TestLocksSetup : public QObject
{
    Q_OBJECT

    static bool lockedUi(cMainWindow* w)
    {
        return !w->ui->pluginTree->isEnabled() && !w->actionSetup->isEnabled() &&
               !w->actionPluginSetup->isEnabled() && !w->pluginMenu->isEnabled() && !w->ui->mainToolBar->isEnabled();
    }
    static bool actionsFree(cMainWindow* w)
    {
        return w->actionSetup->isEnabled() && w->actionPluginSetup->isEnabled() && w->pluginMenu->isEnabled() &&
               w->ui->mainToolBar->isEnabled();
    }

private slots:
    // Locking reaches the plug-in last; unlocking frees everything but the tree while the
    // Save/Discard row shows.
    void appLock()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}));
        cMainWindow* w = host.window.get();
        host.select(host.device(0, 0));
        host.log.clear();

        emit w->appLockSignal(true);
        QVERIFY(lockedUi(w));
        QVERIFY(inOrder(host.log.text(), {"cMainWindow: Locking application GUI\n", "Alpha plugin: call lockGui(1)\n"}));

        emit w->setButtonsVisibleSignal(true);
        emit w->appLockSignal(false);
        QVERIFY(actionsFree(w));
        QVERIFY(!w->ui->pluginTree->isEnabled());
        QVERIFY(host.log.text().contains("Alpha plugin: call lockGui(0)\n"));

        emit w->setButtonsVisibleSignal(false);
        emit w->appLockSignal(true);
        emit w->appLockSignal(true);
        emit w->appLockSignal(false);
        QVERIFY(w->ui->pluginTree->isEnabled());
        QVERIFY(actionsFree(w));
    }

    // The GUI is held while the requester's busy flag is set and let go when it clears, or
    // when the time-out ends; a request that does not fit is refused and nothing is queued.
    void actionLock()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}));
        cMainWindow* w = host.window.get();
        host.select(host.device(0, 0));
        // "MAIN" ends an action lock's wait at once while the window's own port thread does
        // not run, and the program never starts it; here it runs, so that the wait is seen.
        w->genericPort.startHandler(cThread::TYPE_TRANSACTION, &w->genericPort, std::string());
        QTreeWidget* tree = w->ui->pluginTree;
        char tag[] = "Zero";
        char text[] = "Zeroing the meter";
        bool busy = true;
        bool status = true;

        emit w->actionLockSignal(tag, 4, text, 17, &busy, &status, 5);
        QVERIFY(waitUntil([&] { return !tree->isEnabled(); }));
        QTest::qWait(300);
        QVERIFY(lockedUi(w));
        setFlag(&busy, false);
        QVERIFY(waitUntil([&] { return tree->isEnabled(); }, 2000));
        QVERIFY(host.log.text().contains("MAIN: Locking application condition @ "));

        // The six-argument form waits at most five seconds; a one-second time-out ends first.
        setFlag(&busy, true);
        QElapsedTimer t;
        t.start();
        emit w->actionLockSignal(tag, 4, text, 17, &busy, &status, 1);
        QVERIFY(waitUntil([&] { return !tree->isEnabled(); }));
        QVERIFY(waitUntil([&] { return tree->isEnabled(); }, 4000));
        QVERIFY2(t.elapsed() >= 900, qPrintable(QString::number(t.elapsed())));

        // 1000 + 1092 bytes with the header and two 8-byte pointers: 2112.
        host.log.clear();
        QByteArray longTag(1000, 'T');
        QByteArray longText(1092, 'X');
        emit w->actionLockSignal(longTag.data(), 1000, longText.data(), 1092, &busy, &status, 5);
        QVERIFY2(host.log.text().contains(" MAIN thread -> Buffer overflow 2112/2048 bytes\n"), qPrintable(host.log.text()));
        // A total past 65,535 is refused with its whole figure: narrowed to 16 bits first it
        // wrapped to 24 bytes, which were queued and run as a junk command.
        const uint16_t placedBefore = w->mainThread.writeIndex;
        QByteArray hugeTag(65530, 'T');
        emit w->actionLockSignal(hugeTag.data(), 65530, text, 10, &busy, &status, 5);
        QVERIFY2(host.log.text().contains(" MAIN thread -> Buffer overflow 65560/2048 bytes\n"), qPrintable(host.log.text()));
        QCOMPARE(w->mainThread.writeIndex.load(), placedBefore);
        // Each length travels in one byte: a tag of 256 bytes is refused, not cut.
        emit w->actionLockSignal(longTag.data(), 256, text, 17, &busy, &status, 5);
        QVERIFY(host.log.text().contains(
            "cMainWindow: WARNING -> Action lock refused, tag of 256 bytes or text of 17 bytes is over 255 bytes\n"));
        emit w->actionLockSignal(tag, -1, text, 17, &busy, &status, 5);
        QTest::qWait(300);
        QVERIFY(tree->isEnabled());
        QVERIFY(!host.log.text().contains("MAIN: Locking application condition"));
        QVERIFY(!host.log.text().contains("Locking application GUI"));
        setFlag(&busy, false);
    }

    void popupsShareOneBox()
    {
        HostFixture host;
        QVERIFY(host.load({}));
        cMainWindow* w = host.window.get();
        QMessageBox* box = w->popupBox;

        emit w->popupSignal(0, "First", "one", QMessageBox::Ok, 0, 0);
        QVERIFY(box->isVisible());
        QCOMPARE(box->icon(), QMessageBox::Information);
        emit w->popupSignal(7, "Second", "two", QMessageBox::Ok, 0, 0);
        QCOMPARE(box->icon(), QMessageBox::Information);
        emit w->popupSignal(4, "Third", "three?", QMessageBox::Yes, QMessageBox::No, 0);
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box->windowTitle(), QString("Third"));
        QCOMPARE(box->text(), QString("three?"));
        QCOMPARE(w->findChildren<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        box->hide();
    }

    // With plug-ins the tree and the selection stay; without, the window is empty again. The
    // menus lose the plug-in's entries either way.
    void resetAndClear()
    {
        {
            HostFixture host;
            QVERIFY(host.load({"tp_alpha"}));
            cMainWindow* w = host.window.get();
            QTreeWidgetItem* meter = host.device(0, 0);
            host.select(meter);
            StdStreamCapture err(2);
            emit w->resetGUIsignal();
            err.stop();
            QCOMPARE(err.text(), QString("onresetGUI start\nonresetGUI end\n"));
            QVERIFY(host.log.text().contains("cMainWindow: Resetting GUI\n"));
            QCOMPARE(w->ui->pluginTree->topLevelItemCount(), 1);
            QCOMPARE(w->currentTreeItem, meter);
            QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
            QVERIFY(!host.shown(w->ui->pluginInfoBox));
            QVERIFY(!host.shown(w->ui->buttonWidget));
            QCOMPARE(host.menuTitles(), QStringList({"File", "Help"}));
            QCOMPARE(w->fileMenu->actions().size(), 3);
            QCOMPARE(w->helpMenu->actions(), QList<QAction*>{w->actionAbout});
            QCOMPARE(w->ui->mainToolBar->actions(), QList<QAction*>{w->actionSetup});
        }
        {
            HostFixture host;
            QVERIFY(host.load({}));
            cMainWindow* w = host.window.get();
            w->ui->pluginTree->addTopLevelItem(new QTreeWidgetItem(QStringList{"Left over"}));
            w->currentTreeItem = w->ui->pluginTree->topLevelItem(0);
            StdStreamCapture err(2);
            emit w->resetGUIsignal();
            emit w->clearPluginsSignal();
            err.stop();
            QCOMPARE(err.text(), QString("onresetGUI start\nonresetGUI end\nin clear plugins\nhave cleard plugins\n"));
            QCOMPARE(w->ui->pluginTree->topLevelItemCount(), 0);
            QCOMPARE(w->currentTreeItem, nullptr);
            QCOMPARE(currentPlugin.load(), nullptr);
            QVERIFY(pluginList.isEmpty());
            QVERIFY(!host.log.text().contains("Unable to unlock mutex"));
        }
    }

    // A plug-in that deletes its selected item as it is unloaded moves the selection while
    // the list lock is held: the clearing neither waits on that lock nor complains of it.
    void clearingAPluginThatDeletesItsSelectedItem()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_tidy"}));
        cMainWindow* w = host.window.get();
        host.select(host.device(0, 0));
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
        emit w->clearPluginsSignal();
        QVERIFY(pluginList.isEmpty());
        QCOMPARE(w->ui->pluginTree->topLevelItemCount(), 0);
        QCOMPARE(w->currentTreeItem, nullptr);
        QCOMPARE(currentPlugin.load(), nullptr);
        QVERIFY(!host.log.text().contains("Unable to unlock mutex"));
    }

    // Save asks first: No keeps the page and only unlocks; Yes saves, then accepts with the
    // display page back, then tells the plug-in its device again.
    void saveAsksFirst()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}));
        cMainWindow* w = host.window.get();
        cPlugin* alpha = host.plugin(0);
        host.select(host.device(0, 0));
        ModalAnswerer answerer(QMessageBox::No);
        host.log.clear();

        emit w->showPlgSetupSignal();
        QVERIFY(host.shown(alpha->setupWidget));
        QVERIFY(!host.shown(alpha->displayWidget));
        QVERIFY(host.shown(w->ui->buttonWidget));
        QVERIFY(lockedUi(w));
        QString missing;
        QVERIFY2(inOrder(host.log.text(),
                         {"cMainWindow: Locking application GUI\n", "cMainWindow: Selected setup for Alpha\n",
                          "Alpha plugin: call selectItem(Meter)\n", "Alpha plugin: call prepareSetup()\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));

        host.log.clear();
        w->ui->buttonBox->button(QDialogButtonBox::Save)->click();
        QCOMPARE(answerer.titles, QStringList{"Corvane: Save settings"});
        QCOMPARE(answerer.texts, QStringList{"Do you really want save settings?\n"});
        QVERIFY(host.shown(alpha->setupWidget));
        QVERIFY(host.shown(w->ui->buttonWidget));
        QVERIFY(actionsFree(w));
        QVERIFY(!w->ui->pluginTree->isEnabled());
        QVERIFY(host.log.text().contains("cMainWindow: Unlocking application GUI\n"));
        QVERIFY(!host.log.text().contains("Alpha plugin: call saveSettings"));
        QVERIFY(!host.log.text().contains("Alpha plugin: call acceptSetup"));
        QVERIFY(!host.log.text().contains("Alpha plugin: call selectItem"));

        answerer.setAnswer(QMessageBox::Yes);
        host.log.clear();
        w->ui->buttonBox->button(QDialogButtonBox::Save)->click();
        QCOMPARE(answerer.count(), 2);
        QVERIFY2(inOrder(host.log.text(),
                         {"cMainWindow: Accepted Alpha -> Meter\n",
                          "cMainWindow: Executing saveSettings() method for Alpha -> Meter setup\n",
                          "Alpha plugin: call saveSettings()", "cMainWindow: Executing acceptSetup() method for Alpha -> Meter setup\n",
                          "Alpha plugin: call acceptSetup() display shown=1\n", "Alpha plugin: call selectItem(Meter)\n",
                          "cMainWindow: Unlocking application GUI\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));
        QVERIFY(host.shown(alpha->displayWidget));
        QVERIFY(!host.shown(alpha->setupWidget));
        QVERIFY(!host.shown(w->ui->buttonWidget));
        QVERIFY(w->ui->pluginTree->isEnabled());

        // Asked to accept with no setup open, the window asks nothing and only unlocks.
        host.log.clear();
        emit w->acceptPluginSetupSignal();
        QCOMPARE(answerer.count(), 2);
        QCOMPARE(host.log.text().count("cMainWindow: "), 1);
        QVERIFY(host.log.text().contains("cMainWindow: Unlocking application GUI\n"));
    }

    // Discard asks nothing: the plug-in rejects, is told its device, and its display returns.
    // Log lines over their buffer are cut and still end their line.
    void discardAsksNothing()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}));
        cMainWindow* w = host.window.get();
        cPlugin* alpha = host.plugin(0);
        QTreeWidgetItem* meter = host.device(0, 0);
        host.select(meter);
        ModalAnswerer answerer(QMessageBox::Yes);
        emit w->showPlgSetupSignal();
        meter->setText(0, QString(400, 'm'));
        host.log.clear();

        w->ui->buttonBox->button(QDialogButtonBox::Discard)->click();
        QCOMPARE(answerer.count(), 0);
        QString missing;
        QVERIFY2(inOrder(host.log.text(),
                         {"cMainWindow: Rejected Alpha -> mmm", "cMainWindow: Executing rejectSetup() method for Alpha -> mmm",
                          "Alpha plugin: call rejectSetup()\n", "Alpha plugin: call selectItem(mmm",
                          "cMainWindow: Unlocking application GUI\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));
        for (const QString& l : host.log.text().split('\n'))
            if (l.startsWith("cMainWindow: Rejected") || l.startsWith("cMainWindow: Executing rejectSetup"))
                QCOMPARE(l.size(), 253);
        QVERIFY(!host.log.text().contains("saveSettings"));
        QVERIFY(host.shown(alpha->displayWidget));
        QVERIFY(!host.shown(alpha->setupWidget));
        QVERIFY(!host.shown(w->ui->buttonWidget));
        QVERIFY(w->ui->pluginTree->isEnabled());
    }

    // A plug-in that asks for its setup page from inside prepareSetup meets the guard.
    void nestedSetupRequestReturnsAtOnce()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_nested"}));
        cMainWindow* w = host.window.get();
        host.select(host.device(0, 0));
        host.log.clear();
        StdStreamCapture err(2);
        emit w->showPlgSetupSignal();
        err.stop();
        QCOMPARE(err.text().count("onPluginSetup\n"), 1);
        QCOMPARE(host.log.text().count("cMainWindow: Selected setup for Nested\n"), 1);
        QCOMPARE(host.log.text().count("Nested plugin: call prepareSetup()\n"), 1);
        QVERIFY(inOrder(host.log.text(), {"Nested plugin: call prepareSetup()\n", "Nested plugin: call prepareSetup() nested request returned\n"}));
        QVERIFY(host.shown(host.plugin(0)->setupWidget));
        emit w->rejectPluginSetupSignal();
    }

    void aboutPlugin()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}));
        cMainWindow* w = host.window.get();
        ModalAnswerer answerer(QMessageBox::Ok);
        w->actionAboutPlugin->trigger();
        QCOMPARE(answerer.count(), 0);

        host.select(host.device(0, 0));
        w->actionAboutPlugin->trigger();
        QCOMPARE(answerer.titles, QStringList{"Alpha: About plugin"});
        QVERIFY(answerer.texts.value(0).startsWith(
            "<b>Plugin:</b> Alpha<br><b>Version:</b> 1.0<br><b>Description:</b> Records every call of the host<BR>"));
        QVERIFY(answerer.texts.value(0).contains(QChar(169)));
    }
};

QTEST_MAIN(TestLocksSetup)
#include "test_locks_setup.moc"
