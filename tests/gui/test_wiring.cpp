// The window's interface for threads and plug-ins: its meta-object, the connection set, the
// menus without a plug-in, and the small slots (about, buttons).
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "ModalAnswerer.h"
#include "gui/Ui_cMainWindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextBlock>
#include <QtTest>

namespace {

struct Method
{
    QMetaMethod::MethodType type;
    const char* signature;
    QList<QByteArray> names;
};

// The contract as plug-ins see it: 20 signals, then 25 slots, in this order.
const QList<Method> expectedMethods = {
    {QMetaMethod::Signal, "translateSignal(int)", {"language"}},
    {QMetaMethod::Signal, "statusBarMsgSignal(QString)", {"m"}},
    {QMetaMethod::Signal, "statusBarProgressSignal(QString,int)", {"t", "v"}},
    {QMetaMethod::Signal, "appLockSignal(bool)", {"lock"}},
    {QMetaMethod::Signal, "loadPlgSignal(void*)", {"pPlgHandler"}},
    {QMetaMethod::Signal, "selectPluginSignal(int)", {"indx"}},
    {QMetaMethod::Signal, "updatePluginTreeTopLevelItemSignal(void*)", {"topItem"}},
    {QMetaMethod::Signal, "updateGUISignal()", {}},
    {QMetaMethod::Signal, "updatePluginItemSignal(QTreeWidgetItem*,QString,bool)", {"item", "iconPath", "enable"}},
    {QMetaMethod::Signal, "setButtonsVisibleSignal(bool)", {"visible"}},
    {QMetaMethod::Signal, "popupSignal(int,QString,QString,int,int,int)",
     {"type", "title", "msg", "button1", "button2", "button3"}},
    {QMetaMethod::Signal, "actionLockSignal(char*,int,char*,int,bool*,bool*,uchar)",
     {"tag", "tagLen", "txt", "txtLen", "pBzy", "pStatus", "timeout"}},
    {QMetaMethod::Signal, "actionLockSignal(char*,int,char*,int,bool*,bool*)",
     {"tag", "tagLen", "txt", "txtLen", "pBzy", "pStatus"}},
    {QMetaMethod::Signal, "updateTreeSignal(void*)", {"pPlugin"}},
    {QMetaMethod::Signal, "showPlgSetupSignal()", {}},
    {QMetaMethod::Signal, "clearPluginsSignal()", {}},
    {QMetaMethod::Signal, "rejectPluginSetupSignal()", {}},
    {QMetaMethod::Signal, "acceptPluginSetupSignal()", {}},
    {QMetaMethod::Signal, "resetGUIsignal()", {}},
    {QMetaMethod::Signal, "showApplicationSetupSignal()", {}},
    {QMetaMethod::Slot, "closeEvent(QCloseEvent*)", {"event"}},
    {QMetaMethod::Slot, "onAbout()", {}},
    {QMetaMethod::Slot, "onSetup()", {}},
    {QMetaMethod::Slot, "onPluginSetup()", {}},
    {QMetaMethod::Slot, "onExit()", {}},
    {QMetaMethod::Slot, "onTranslate(int)", {"language"}},
    {QMetaMethod::Slot, "onSetStatusBarMsg(QString)", {"m"}},
    {QMetaMethod::Slot, "onSetStatusBarProgress(QString,int)", {"t", "v"}},
    {QMetaMethod::Slot, "onPluginTreeItemSelectionChanged()", {}},
    {QMetaMethod::Slot, "onAppLock(bool)", {"lock"}},
    {QMetaMethod::Slot, "onLoadPlugin(void*)", {"pPlgHandler"}},
    {QMetaMethod::Slot, "onSelectPlugin(int)", {"indx"}},
    {QMetaMethod::Slot, "onUpdatePluginTreeTopLevelItem(void*)", {"topItem"}},
    {QMetaMethod::Slot, "onAccept()", {}},
    {QMetaMethod::Slot, "onReject()", {}},
    {QMetaMethod::Slot, "onClicked(QAbstractButton*)", {"button"}},
    {QMetaMethod::Slot, "onUpdateGUI()", {}},
    {QMetaMethod::Slot, "onUpdatePluginItem(QTreeWidgetItem*,QString,bool)", {"item", "iconPath", "enable"}},
    {QMetaMethod::Slot, "onSetButtonsVisible(bool)", {"visible"}},
    {QMetaMethod::Slot, "onPopup(int,QString,QString,int,int,int)",
     {"type", "title", "message", "button1", "button2", "button3"}},
    {QMetaMethod::Slot, "onActionLock(char*,int,char*,int,bool*,bool*,uchar)",
     {"tag", "tagLen", "txt", "txtLen", "pBzy", "pStatus", "timeout"}},
    {QMetaMethod::Slot, "onUpdateTree(void*)", {"pPlugin"}},
    {QMetaMethod::Slot, "onClearPlugins()", {}},
    {QMetaMethod::Slot, "onAboutPlugin()", {}},
    {QMetaMethod::Slot, "onResetGUI()", {}},
};

// The window's own signals among the 28 connections (the other nine come from actions, the
// tree and the button box).
const QList<const char*> windowSignals = {
    SIGNAL(showApplicationSetupSignal()),
    SIGNAL(showPlgSetupSignal()),
    SIGNAL(translateSignal(int)),
    SIGNAL(statusBarMsgSignal(QString)),
    SIGNAL(statusBarProgressSignal(QString, int)),
    SIGNAL(appLockSignal(bool)),
    SIGNAL(loadPlgSignal(void*)),
    SIGNAL(selectPluginSignal(int)),
    SIGNAL(updatePluginTreeTopLevelItemSignal(void*)),
    SIGNAL(acceptPluginSetupSignal()),
    SIGNAL(rejectPluginSetupSignal()),
    SIGNAL(updateGUISignal()),
    SIGNAL(updatePluginItemSignal(QTreeWidgetItem*, QString, bool)),
    SIGNAL(setButtonsVisibleSignal(bool)),
    SIGNAL(popupSignal(int, QString, QString, int, int, int)),
    SIGNAL(actionLockSignal(char*, int, char*, int, bool*, bool*, unsigned char)),
    SIGNAL(updateTreeSignal(void*)),
    SIGNAL(clearPluginsSignal()),
    SIGNAL(resetGUIsignal()),
};

QStringList titles(const QList<QAction*>& actions)
{
    QStringList t;
    for (QAction* a : actions)
        t << (a->isSeparator() ? QString("|") : a->text());
    return t;
}

} // namespace

class TestWiring : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;

    void expectConnections(const cMainWindow& w, int n)
    {
        for (const char* s : windowSignals)
            QVERIFY2(HostFixture::receivers(&w, s) == n, qPrintable(QString("%1: %2").arg(s + 1).arg(HostFixture::receivers(&w, s))));
    }

private slots:
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    void metaObjectIsTheContract()
    {
        const QMetaObject* mo = &cMainWindow::staticMetaObject;
        QCOMPARE(QByteArray(mo->className()), QByteArray("cMainWindow"));
        QCOMPARE(mo->superClass(), &QMainWindow::staticMetaObject);
        QCOMPARE(mo->propertyCount(), mo->propertyOffset());
        QCOMPARE(mo->methodCount() - mo->methodOffset(), int(expectedMethods.size()));
        for (int i = 0; i < expectedMethods.size(); ++i) {
            const QMetaMethod m = mo->method(mo->methodOffset() + i);
            const Method& e = expectedMethods[i];
            QCOMPARE(m.methodSignature(), QByteArray(e.signature));
            QCOMPARE(m.methodType(), e.type);
            QCOMPARE(m.parameterNames(), e.names);
            if (e.type == QMetaMethod::Slot)
                QCOMPARE(m.access(), QMetaMethod::Private);
        }
    }

    // Made by the constructor, broken and made as one set; made twice, every signal reaches its
    // slot twice until the next break.
    void connectionSetMadeBrokenAndDoubled()
    {
        auto w = fx->makeWindow();
        expectConnections(*w, 1);
        w->connectSignals(false);
        expectConnections(*w, 0);
        QVERIFY(fx->log.text().endsWith("cMainWindow: Disconnecting signals\n"));
        emit w->showApplicationSetupSignal();
        QVERIFY(!w->setupDialog->isVisible());
        w->connectSignals(true);
        w->connectSignals(true);
        expectConnections(*w, 2);
        fx->log.clear();
        emit w->showApplicationSetupSignal();
        QVERIFY(w->setupDialog->isVisible());
        // Each run of the setup slot opens the dialog anew.
        QCOMPARE(fx->log.text().count("cSetup: Disconnecting signals\n"), 2);
        w->connectSignals(false);
        expectConnections(*w, 0);
        // A rebuild of the menus leaves exactly one set.
        w->connectSignals(true);
        w->mkMenus();
        expectConnections(*w, 1);
    }

    // The six-argument form is the seven-argument signal with the time-out 5.
    void sixArgumentActionLockCarriesTimeoutFive()
    {
        auto w = fx->makeWindow();
        // Both forms reach the one slot, onActionLock.
        QCOMPARE(HostFixture::receivers(w.get(), SIGNAL(actionLockSignal(char*, int, char*, int, bool*, bool*))), 1);
        QSignalSpy spy(w.get(), SIGNAL(actionLockSignal(char*, int, char*, int, bool*, bool*, unsigned char)));
        char tag[] = "FM", txt[] = "zeroing";
        bool busy = false, status = false;
        emit w->actionLockSignal(tag, 2, txt, 7, &busy, &status);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][6].value<unsigned char>(), (unsigned char)5);
    }

    void menusWithoutAPlugin()
    {
        auto w = fx->makeWindow();
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
        QCOMPARE(titles(w->fileMenu->actions()), QStringList({"CV: Setup", "|", "Quit"}));
        QCOMPARE(titles(w->helpMenu->actions()), QStringList({"CV: About"}));
        QVERIFY(w->ui->mainToolBar->actions().isEmpty());
        QCOMPARE(w->actionSetup->toolTip(), QString("CV: Application setup"));
        QCOMPARE(w->actionSetup->statusTip(), QString("CV: Application setup"));
        QCOMPARE(w->actionSetup->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Enter));
        QCOMPARE(w->actionQuit->statusTip(), QString("Exit application"));
        QCOMPARE(w->actionQuit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(w->actionAbout->toolTip(), QString("CV: About message"));
        QVERIFY(w->actionAbout->shortcut().isEmpty());
        for (QAction* a : {w->actionSetup, w->actionQuit, w->actionAbout, w->actionPluginSetup, w->actionAboutPlugin})
            QVERIFY2(!a->icon().isNull(), qPrintable(a->text()));
        // The plug-in actions keep their first texts and sit nowhere.
        QCOMPARE(w->actionPluginSetup->text(), QString("&Setup"));
        QCOMPARE(w->actionAboutPlugin->text(), QString("&About plugin"));
        QVERIFY(w->actionPluginSetup->associatedObjects().isEmpty());
        QVERIFY(w->actionAboutPlugin->associatedObjects().isEmpty());
        QVERIFY(fx->log.text().contains("cMainWindow: Generating menus\n"));

        // A rebuild replaces every action and leaves no second File or Help behind.
        QPointer<QAction> oldSetup = w->actionSetup;
        QMenu* pluginMenu = w->pluginMenu;
        w->mkMenus();
        QVERIFY(w->actionSetup != oldSetup);
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
        QCOMPARE(w->pluginMenu, pluginMenu);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(oldSetup.isNull());
        // The new actions are the connected ones.
        w->actionSetup->trigger();
        QVERIFY(w->setupDialog->isVisible());
    }

    // Shown without waiting, hidden by OK, shown again as it was: the dialog is built once.
    void aboutDialog()
    {
        auto w = fx->makeWindow();
        QDialog* about = w->aboutDialog;
        QCOMPARE(about->objectName(), QString("Dialog"));
        QCOMPARE(about->windowTitle(), QString("Corvane 1.1 - About"));
        QCOMPARE(about->findChild<QLabel*>("label_2")->text(), QString("Corvane: About"));
        QCOMPARE(about->findChild<QLabel*>("label_3")->text(), QString("version: 1.1"));
        auto* browser = about->findChild<QTextBrowser*>("textBrowser");
        QVERIFY(browser->openExternalLinks());
        const QString text = browser->toPlainText();
        for (const char* part : {"Contact information", "Telephone", "Fax", "Copyright", "GPL-3.0-or-later",
                                 "WITHOUT ANY WARRANTY"})
            QVERIFY2(text.contains(part), part);

        w->actionAbout->trigger();
        QVERIFY(about->isVisible());
        QVERIFY(!about->isModal());
        auto* ok = about->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok);
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(!about->isVisible());
        w->actionAbout->trigger();
        QVERIFY(about->isVisible());
        QCOMPARE(about->findChild<QTextBrowser*>("textBrowser"), browser);
        QCOMPARE(browser->toPlainText(), text);
        about->close();
        QVERIFY(!about->isVisible());
    }

    // A link goes to the desktop's handler; the browser keeps its page.
    void aboutLinkOpensOutside()
    {
        auto w = fx->makeWindow();
        w->actionAbout->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(w->aboutDialog));
        auto* browser = w->aboutDialog->findChild<QTextBrowser*>("textBrowser");
        QSignalSpy opened(this, SIGNAL(urlOpened(QUrl)));
        QDesktopServices::setUrlHandler("mailto", this, "openUrl");
        const QString before = browser->toHtml();
        // The e-mail link's place in the text, clicked with the mouse.
        QTextCursor c = browser->document()->find("corvane@tessmark.example");
        QVERIFY(!c.isNull());
        c.setPosition(c.selectionStart() + 2);
        const QPoint at = browser->cursorRect(c).center();
        QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QDesktopServices::unsetUrlHandler("mailto");
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0][0].toUrl(), QUrl("mailto:corvane@tessmark.example"));
        QCOMPARE(browser->toHtml(), before);
        QVERIFY(browser->source().isEmpty());
    }

    void buttonRowFollowsItsSignal()
    {
        auto w = fx->makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        emit w->setButtonsVisibleSignal(true);
        QVERIFY(w->ui->buttonWidget->isVisible());
        emit w->setButtonsVisibleSignal(false);
        QVERIFY(!w->ui->buttonWidget->isVisible());
    }

public slots:
    void openUrl(const QUrl& url) { emit urlOpened(url); }

signals:
    void urlOpened(QUrl url);
};

QTEST_MAIN(TestWiring)
#include "test_wiring.moc"
