// The host's translations: Qt's own texts and the application's, from the lang folder beside
// the program.
#include "cMainWindow.h"

#include "cSetup.h"
#include "../core/cLog.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

namespace {

struct LanguageFiles
{
    QString qt;
    QString app;
};

// Index 0 and every index not listed follow the system's locale; 8 is the marked test
// translation, paired with Qt's Swedish texts.
LanguageFiles languageFiles(int language, const QString& locale)
{
    switch (language) {
    case 1:
        return {"qt_en", "lang_en"};
    case 2:
        return {"qt_sv", "lang_sv_SE"};
    case 3:
        return {"qt_fr", "lang_fr_FR"};
    case 4:
        return {"qt_de", "lang_de_DE"};
    case 5:
        return {"qt_es", "lang_es_ES"};
    case 6:
        return {"qt_zh", "lang_zh_CN"};
    case 7:
        return {"qt_hi", "lang_hi_IN"};
    case 8:
        return {"qt_sv", "lang_DEBUG"};
    default:
        return {"qt_" + locale, "lang_" + locale};
    }
}

} // namespace

void cMainWindow::loadLanguage(int index)
{
    FILE* log = logStream();
    const QString locale = QLocale::system().name();
    cLog::line(log, "cMainWindow: Found system locale: %s", locale.toLocal8Bit().constData());

    QStringList parts = appPath.split('/');
    parts.removeLast();
    const QString dir = parts.join('/') + "/lang";
    const QByteArray dir8 = dir.toLocal8Bit();

    const LanguageFiles files = languageFiles(index, locale);
    const QByteArray qtBase = files.qt.toLocal8Bit();
    const QByteArray appBase = files.app.toLocal8Bit();

    // Qt also tries the shorter forms of the name (qt_sv_SE, then qt_sv, then qt).
    if (qtTranslator.load(files.qt, dir))
        cLog::line(log, "cMainWindow: Loaded QT system language file %s.qm", qtBase.constData());
    else
        cLog::line(log,
                "cMainWindow: WARNING! QT system language file %s.qm was not found in %s\n"
                "cMainWindow: English will be used as QT system language",
                qtBase.constData(), dir8.constData());

    if (appTranslator.load(files.app, dir))
        cLog::line(log, "cMainWindow: Loaded language file %s.qm", appBase.constData());
    else
        cLog::line(log,
                "cMainWindow: WARNING! Language file %s.qm was not found in %s\n"
                "cMainWindow: English will be used",
                appBase.constData(), dir8.constData());

    // Installed whether they loaded or not. The application keeps one entry per installation
    // while a translator removes only one entry when it is destroyed, so each is taken out first
    // and never left behind twice.
    QCoreApplication::removeTranslator(&qtTranslator);
    QCoreApplication::removeTranslator(&appTranslator);
    QCoreApplication::installTranslator(&qtTranslator);
    QCoreApplication::installTranslator(&appTranslator);

    setupDialog->retranslateSetup();
}

void cMainWindow::onTranslate(int index)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    connectSignals(false);
    loadLanguage(index);
    // mkMenus makes the connection set again when it is done; making it once more here would
    // double every connection, so that each menu entry and each signal would run its slot twice.
    mkMenus();

    inside = false;
}
