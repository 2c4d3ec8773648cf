// The application setup dialog: language (next start), the live serial debug switch, saving.
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "ModalAnswerer.h"
#include "app/cProgram.h"
#include "gui/Ui_cSetup.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

int storedLanguage()
{
    QSettings s("Tessmark", "Corvane");
    return s.value("cMainWindow/Language", -1).toInt();
}

void click(cSetup* d, QDialogButtonBox::StandardButton b)
{
    QTest::mouseClick(d->ui->buttonBox->button(b), Qt::LeftButton);
}

// The user picks an entry of the language box, as with the mouse.
void choose(cSetup* d, int index)
{
    d->ui->language->setCurrentIndex(index);
}

} // namespace

class TestSetupDialog : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;

private slots:
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    void metaObject()
    {
        const QMetaObject& mo = cSetup::staticMetaObject;
        QCOMPARE(QByteArray(mo.className()), QByteArray("cSetup"));
        QStringList methods;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            methods << mo.method(i).methodSignature() + " " + mo.method(i).parameterNames().join(',');
        QCOMPARE(methods, QStringList({"debugCheckBoxSignal(bool) s", "accept() ", "reject() ", "onLangChanged(int) newLang",
                                       "onDebugClicked(bool) en", "onDebugCheckBox(bool) s",
                                       "closeEvent(QCloseEvent*) event"}));
    }

    void opensWithTheWindowsValues()
    {
        auto w = fx->makeWindow();
        w->language = 2;
        w->actionSetup->trigger();
        cSetup* d = w->setupDialog;
        QVERIFY(d->isVisible());
        QVERIFY(!d->isModal());
        QCOMPARE(d->parent(), static_cast<QObject*>(w.get()));
        QCOMPARE(d->windowTitle(), QString("Corvane 1.1 - Setup"));
        QCOMPARE(d->ui->version->text(), QString("version: 1.1"));
        QCOMPARE(d->ui->language->currentIndex(), 2);
        QCOMPARE(d->ui->language->itemText(1), QString("English"));
        QCOMPARE(d->ui->language->itemText(2), QString("Svenska"));
        // Set from code: not taken for a choice.
        QCOMPARE(d->language, 2);
        QCOMPARE(d->serialPort, w->serialPort);
    }

    void swedishThenOkSavesAndSaysWhen()
    {
        auto w = fx->makeWindow();
        w->actionSetup->trigger();
        cSetup* d = w->setupDialog;
        choose(d, 2);
        QCOMPARE(w->language, 1);
        fx->log.clear();
        ModalAnswerer answer(QMessageBox::Ok);
        click(d, QDialogButtonBox::Ok);
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.titles.first(), QString("New language"));
        QCOMPARE(answer.texts.first(),
                 QString("The new language will be effective the next time you restart the application"));
        QCOMPARE(w->language, 2);
        QCOMPARE(storedLanguage(), 2);
        QVERIFY(fx->log.text().contains("cMainWindow: Saving application settings\ncSetup: Closing setup dialog\n"));
        QVERIFY(!d->isVisible());
        // The interface keeps its language until the next start.
        QCOMPARE(w->actionQuit->text(), QString("Quit"));
    }

    void okWithoutAChangeSavesQuietly()
    {
        auto w = fx->makeWindow();
        w->serialPort = "/dev/ttyUSB1";
        w->actionSetup->trigger();
        ModalAnswerer answer(QMessageBox::Ok);
        fx->log.clear();
        click(w->setupDialog, QDialogButtonBox::Ok);
        QCOMPARE(answer.count(), 0);
        QVERIFY(fx->log.text().contains("cMainWindow: Saving application settings\n"));
        QCOMPARE(storedLanguage(), 1);
        QSettings s("Tessmark", "Corvane");
        // The port has no field in the dialog and comes back unchanged.
        QCOMPARE(s.value("cMainWindow/Serial port").toString(), QString("/dev/ttyUSB1"));
        QVERIFY(!w->setupDialog->isVisible());
    }

    void cancelAndClosingKeepTheLanguage()
    {
        auto w = fx->makeWindow();
        for (bool viaClose : {false, true}) {
            w->actionSetup->trigger();
            choose(w->setupDialog, 2);
            fx->log.clear();
            if (viaClose)
                w->setupDialog->close();
            else
                click(w->setupDialog, QDialogButtonBox::Cancel);
            QVERIFY(!w->setupDialog->isVisible());
            QCOMPARE(w->language, 1);
            QCOMPARE(fx->log.text(), QString("cSetup: Closing setup dialog\n"));
        }
        // The next opening starts from the window's values again.
        w->actionSetup->trigger();
        QCOMPARE(w->setupDialog->ui->language->currentIndex(), 1);
        QCOMPARE(w->setupDialog->language, 1);
        QCOMPARE(storedLanguage(), -1);
    }

    // The switch acts when clicked, and Cancel does not take it back.
    void debugSwitchIsLive()
    {
        auto w = fx->makeWindow();
        emit w->setupDialog->debugCheckBoxSignal(true);
        w->actionSetup->trigger();
        QCheckBox* box = w->setupDialog->ui->debug;
        QVERIFY(box->isVisible());
        QVERIFY(!box->isChecked());
        fx->log.clear();
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(w->genericPort.debug);
        QCOMPARE(fx->log.text(), QString::asprintf("cThread @ 0x%08X: GENERIC SERIAL PORT thread -> Enabeling debug output\n",
                                                  w->genericPort.id));
        click(w->setupDialog, QDialogButtonBox::Cancel);
        QVERIFY(w->genericPort.debug);
        w->actionSetup->trigger();
        QVERIFY(box->isChecked());
        fx->log.clear();
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!w->genericPort.debug);
        QVERIFY(!fx->log.text().contains("Enabeling"));
    }

    // The entry point shows the switch in debug runs only.
    void debugSwitchOnlyInDebugRuns()
    {
        QTemporaryDir work;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(work.path());
        for (bool debug : {false, true}) {
            char prog[] = "corvane", dbg[] = "-debug";
            char* argv[] = {prog, dbg, nullptr};
            cProgram program(debug ? 2 : 1, argv);
            auto w = fx->makeWindow();
            program.startUp(*w);
            w->actionSetup->trigger();
            QCOMPARE(w->setupDialog->ui->debug->isVisible(), debug);
            QCOMPARE(w->setupDialog->ui->langLabel->isVisible(), true);
            w->popupBox->hide();
            w->setupDialog->hide();
            program.shutDown(*w);
        }
        QDir::setCurrent(previous);
    }

    // OK pressed again while the notice of the first is still open does nothing more.
    void okIsNotReentered()
    {
        auto w = fx->makeWindow();
        w->actionSetup->trigger();
        choose(w->setupDialog, 2);
        ModalAnswerer answer(QMessageBox::Ok);
        answer.hold(true);
        QTimer::singleShot(100, [&] {
            w->setupDialog->accept();
            answer.hold(false);
        });
        fx->log.clear();
        w->setupDialog->accept();
        QCOMPARE(answer.count(), 1);
        QCOMPARE(fx->log.text().count("cMainWindow: Saving application settings\n"), 1);
        QCOMPARE(fx->log.text().count("cSetup: Closing setup dialog\n"), 1);
    }
};

QTEST_MAIN(TestSetupDialog)
#include "test_setup_dialog.moc"
