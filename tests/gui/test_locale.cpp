// Index 0 follows the system's locale. CTest runs this twice, under sv_SE and under fr_FR.
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "gui/Ui_cMainWindow.h"
#include "gui/Ui_cSetup.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

namespace {

void storeLanguage(int index)
{
    QSettings s("Tessmark", "Corvane");
    s.setValue("cMainWindow/Language", index);
}

QImage image(const QIcon& icon)
{
    return icon.pixmap(QSize(20, 14)).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestLocale : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;
    QString locale;

private slots:
    void initTestCase()
    {
        locale = QLocale::system().name();
        QVERIFY2(locale == "sv_SE" || locale == "fr_FR", qPrintable("run with LC_ALL=sv_SE.UTF-8 or fr_FR.UTF-8, not " + locale));
    }
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    void systemLanguage()
    {
        storeLanguage(0);
        auto w = fx->makeWindow();
        const QString text = fx->log.text();
        QVERIFY(text.contains("cMainWindow: Found system locale: " + locale + "\n"));
        // Qt's search falls back from qt_sv_SE to qt_sv (and from qt_fr_FR to qt_fr with the
        // module files it names), and says so under the name asked for.
        QVERIFY2(text.contains("cMainWindow: Loaded QT system language file qt_" + locale + ".qm\n"), qPrintable(text));
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes);
        if (locale == "sv_SE") {
            QVERIFY(text.contains("cMainWindow: Loaded language file lang_sv_SE.qm\n"));
            QCOMPARE(w->fileMenu->title(), QString("Arkiv"));
            QCOMPARE(box.button(QMessageBox::Yes)->text(), QString("&Ja"));
        } else {
            QVERIFY(text.contains("cMainWindow: WARNING! Language file lang_fr_FR.qm was not found in " +
                                  ProgramRunner::binDir() + "/lang\ncMainWindow: English will be used\n"));
            QCOMPARE(w->fileMenu->title(), QString("File"));
            QCOMPARE(box.button(QMessageBox::Yes)->text(), QString("&Oui"));
        }
    }

    void systemEntryShowsTheLocalesFlag()
    {
        auto w = fx->makeWindow();
        w->actionSetup->trigger();
        const QImage shown = image(w->setupDialog->ui->language->itemIcon(0));
        const QString flag = locale == "sv_SE" ? "sv" : "fr";
        QCOMPARE(shown, image(QIcon(":/Flags/Pixmaps/Flags/" + flag + ".png")));
        QVERIFY(shown != image(QIcon(":/Flags/Pixmaps/Flags/en.png")));
    }
};

QTEST_MAIN(TestLocale)
#include "test_locale.moc"
