// The host's languages with the real compiled translations in build/bin/lang.
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "ModalAnswerer.h"
#include "gui/Ui_cMainWindow.h"
#include "gui/Ui_cSetup.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

namespace {

QStringList titles(const QList<QAction*>& actions)
{
    QStringList t;
    for (QAction* a : actions)
        t << (a->isSeparator() ? QString("|") : a->text());
    return t;
}

void storeLanguage(int index)
{
    QSettings s("Tessmark", "Corvane");
    s.setValue("cMainWindow/Language", index);
}

// The lines loadLanguage wrote, from the locale line to the last English/loaded line.
QString languageLines(const QString& log)
{
    const int from = log.indexOf("cMainWindow: Found system locale");
    const int to = log.indexOf("cSetup: Disconnecting signals", from);
    return log.mid(from, to - from);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Calls onTranslate from inside a running one, as a nested event loop would, once.
class ReentrantTranslator : public QTranslator
{
public:
    cMainWindow* window = nullptr;
    mutable int entered = 0;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        if (window && entered == 0 && QByteArray(context) == "cMainWindow" && QByteArray(source) == "File") {
            ++entered;
            QMetaObject::invokeMethod(window, "onTranslate", Qt::DirectConnection, Q_ARG(int, 1));
        }
        return QString();
    }
};

} // namespace

class TestLanguages : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;

private slots:
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup() { fx.reset(); }

    // Index 2: Swedish for the host's texts and for Qt's own.
    void swedish()
    {
        storeLanguage(2);
        auto w = fx->makeWindow();
        const QString text = fx->log.text();
        QVERIFY2(text.contains("cMainWindow: Loaded QT system language file qt_sv.qm\n"
                               "cMainWindow: Loaded language file lang_sv_SE.qm\n"),
                 qPrintable(text));
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"Arkiv", "Hjälp"}));
        QCOMPARE(titles(w->fileMenu->actions()), QStringList({"CV: Inställningar", "|", "Avsluta"}));
        QCOMPARE(titles(w->helpMenu->actions()), QStringList({"CV: Om"}));
        QCOMPARE(w->actionQuit->toolTip(), QString("Avsluta programmet"));
        QCOMPARE(w->actionAbout->statusTip(), QString("CV: Om programmet"));
        QCOMPARE(w->setupDialog->ui->langLabel->text(), QString("Språk:"));
        QCOMPARE(w->setupDialog->ui->debug->text(), QString("Aktivera felsökningsutskrifter för serieporten"));

        w->show();
        ModalAnswerer answer(QMessageBox::No);
        w->actionQuit->trigger();
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.titles.first(), QString("Corvane: Avsluta"));
        QCOMPARE(answer.texts.first(), QString("Vill du verkligen avsluta?"));
        // Qt's own buttons come from qt_sv.
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QString("&Ja"));
        // The form's own texts were set before any language loaded and stay as they are.
        QCOMPARE(w->ui->pluginTree->headerItem()->text(0), QString("Plugin"));
    }

    // Qt's own texts for each language the setup dialog offers that Qt translates, under the
    // name the language table asks for.
    void qtTextsOfEveryLanguage_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("yes");
        QTest::newRow("French") << 3 << "qt_fr.qm" << "&Oui";
        QTest::newRow("German") << 4 << "qt_de.qm" << "&Ja";
        QTest::newRow("Spanish") << 5 << "qt_es.qm" << "&Sí";
        QTest::newRow("Chinese") << 6 << "qt_zh.qm" << "是(&Y)";
    }
    void qtTextsOfEveryLanguage()
    {
        QFETCH(int, index);
        QFETCH(QString, file);
        QFETCH(QString, yes);
        storeLanguage(index);
        auto w = fx->makeWindow();
        const QString text = fx->log.text();
        QVERIFY2(text.contains("cMainWindow: Loaded QT system language file " + file + "\n"), qPrintable(text));
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), yes);
    }

    // Index 8 marks every text, so that an untranslated one shows at a glance.
    void debugTranslationMarksTexts()
    {
        storeLanguage(8);
        auto w = fx->makeWindow();
        QVERIFY(fx->log.text().contains("cMainWindow: Loaded language file lang_DEBUG.qm\n"));
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"«File»", "«Help»"}));
        QCOMPARE(titles(w->fileMenu->actions()), QStringList({"CV: «Setup»", "|", "«Quit»"}));
        // Key sequences are left as they are, so the shortcuts still work.
        QCOMPARE(w->actionQuit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    }

    // Any index outside the table follows the system, as 0 does.
    void indexNineIsLikeZero()
    {
        const QString locale = QLocale::system().name();
        QString lines[2];
        for (int i : {0, 1}) {
            storeLanguage(i == 0 ? 0 : 9);
            fx->log.clear();
            auto w = fx->makeWindow();
            lines[i] = languageLines(fx->log.text());
            QCOMPARE(w->language, i == 0 ? 0 : 9);
        }
        QCOMPARE(lines[1], lines[0]);
        QVERIFY2(lines[0].startsWith("cMainWindow: Found system locale: " + locale + "\n"), qPrintable(lines[0]));
        QVERIFY(lines[0].contains("lang_" + locale + ".qm"));
        QVERIFY(lines[0].contains("qt_" + locale + ".qm"));
    }

    void noLangFolderKeepsEnglish()
    {
        QTemporaryDir bare;
        storeLanguage(2);
        auto w = fx->makeWindow(bare.path());
        const QString dir = bare.path() + "/lang";
        const QString text = fx->log.text();
        QVERIFY2(text.contains("cMainWindow: WARNING! QT system language file qt_sv.qm was not found in " + dir +
                               "\ncMainWindow: English will be used as QT system language\n"
                               "cMainWindow: WARNING! Language file lang_sv_SE.qm was not found in " + dir +
                               "\ncMainWindow: English will be used\n"),
                 qPrintable(text));
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QString("&Yes"));
    }

    // A damaged translation file is only a warning: the texts stay English.
    void damagedFilesAreWarnings_data()
    {
        QTest::addColumn<QByteArray>("qt");
        QTest::addColumn<QByteArray>("app");
        const QByteArray realQt = readAll(ProgramRunner::binDir() + "/lang/qt_sv.qm");
        const QByteArray realApp = readAll(ProgramRunner::binDir() + "/lang/lang_sv_SE.qm");
        QVERIFY(realQt.size() > 1000 && realApp.size() > 100);
        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise.append(char((i * 73 + 19) & 0xff));
        QTest::newRow("noise") << noise << noise;
        QTest::newRow("truncated") << realQt.left(realQt.size() / 2) << realApp.left(realApp.size() * 2 / 3);
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void damagedFilesAreWarnings()
    {
        QFETCH(QByteArray, qt);
        QFETCH(QByteArray, app);
        QTemporaryDir program;
        QVERIFY(QDir(program.path()).mkdir("lang"));
        for (const auto& f : {qMakePair(QString("qt_sv.qm"), qt), qMakePair(QString("lang_sv_SE.qm"), app)}) {
            QFile out(program.path() + "/lang/" + f.first);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(f.second);
        }
        storeLanguage(2);
        auto w = fx->makeWindow(program.path());
        const QString text = fx->log.text();
        QVERIFY2(text.contains("cMainWindow: WARNING! QT system language file qt_sv.qm was not found in "), qPrintable(text));
        QVERIFY(text.contains("cMainWindow: WARNING! Language file lang_sv_SE.qm was not found in "));
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
        QCOMPARE(w->actionQuit->text(), QString("Quit"));
    }

    // The running application switches language; the connection set stays single.
    void translateWhileRunning()
    {
        auto w = fx->makeWindow();
        QCOMPARE(w->actionQuit->text(), QString("Quit"));
        fx->log.clear();
        emit w->translateSignal(2);
        QVERIFY(fx->log.text().contains("cMainWindow: Loaded language file lang_sv_SE.qm\n"));
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"Arkiv", "Hjälp"}));
        QCOMPARE(w->setupDialog->ui->label->text(), QString("Inställningar"));
        QCOMPARE(HostFixture::receivers(w.get(), SIGNAL(translateSignal(int))), 1);
        QCOMPARE(HostFixture::receivers(w.get(), SIGNAL(popupSignal(int, QString, QString, int, int, int))), 1);
        // The language the store keeps is the setup dialog's business, not this switch's.
        QCOMPARE(w->language, 1);
        emit w->translateSignal(1);
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
        QCOMPARE(w->setupDialog->ui->label->text(), QString("Setup"));
    }

    void translateIsNotReentered()
    {
        // Without translation files the hook is the one translator asked.
        QTemporaryDir bare;
        auto w = fx->makeWindow(bare.path());
        ReentrantTranslator hook;
        hook.window = w.get();
        QCoreApplication::installTranslator(&hook);
        fx->log.clear();
        emit w->translateSignal(1);
        QCoreApplication::removeTranslator(&hook);
        QCOMPARE(hook.entered, 1);
        QCOMPARE(fx->log.text().count("cMainWindow: Generating menus\n"), 1);
        QCOMPARE(fx->log.text().count("cMainWindow: Found system locale"), 1);
    }
};

QTEST_MAIN(TestLanguages)
#include "test_languages.moc"
