#include "cSetup.h"

#include "Ui_cSetup.h"
#include "cMainWindow.h"
#include "../core/cLog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>

cSetup::cSetup(cMainWindow* parent)
    : QDialog(parent), ui(new Ui_cSetup), mainWindow(parent), settingsVersion(1), language(0)
{
    ui->setupUi(this);
    mainWindow->settingsVersion = 1;
    connectSignals(true);
}

cSetup::~cSetup()
{
    delete ui;
}

void cSetup::connectSignals(bool connect)
{
    FILE* log = mainWindow->logStream();
    cLog::line(log, connect ? "cSetup: Connecting signals" : "cSetup: Disconnecting signals");

    struct Pair
    {
        QObject* sender;
        const char* signal;
        const char* slot;
    };
    const Pair pairs[] = {
        {ui->buttonBox, SIGNAL(accepted()), SLOT(accept())},
        {ui->buttonBox, SIGNAL(rejected()), SLOT(reject())},
        {ui->language, SIGNAL(currentIndexChanged(int)), SLOT(onLangChanged(int))},
        {ui->debug, SIGNAL(clicked(bool)), SLOT(onDebugClicked(bool))},
        {this, SIGNAL(debugCheckBoxSignal(bool)), SLOT(onDebugCheckBox(bool))},
    };
    for (const Pair& p : pairs) {
        if (connect)
            QObject::connect(p.sender, p.signal, this, p.slot);
        else
            QObject::disconnect(p.sender, p.signal, this, p.slot);
    }
}

void cSetup::openSetup(const Record& record)
{
    settings = record;
    settingsVersion = *settings.settingsVersion;
    language = *settings.language;
    serialPort = *settings.serialPort;

    // Set from code with the connections broken, so that this is not taken for a choice.
    const QString locale = QLocale::system().name();
    connectSignals(false);
    ui->language->setCurrentIndex(language);
    QString flag = ":/Flags/Pixmaps/Flags/en.png";
    if (locale == "fr_FR")
        flag = ":/Flags/Pixmaps/Flags/fr.png";
    else if (locale == "sv_SE")
        flag = ":/Flags/Pixmaps/Flags/sv.png";
    ui->language->setItemIcon(0, QIcon(flag));
    connectSignals(true);

    ui->version->setText(tr("version: ") + QString::asprintf("%0.1f", double(mainWindow->appVersion)));
    setWindowTitle(QString::asprintf("Corvane %.01f - ", double(mainWindow->appVersion)) + tr("Setup"));

    ui->debug->setChecked(mainWindow->genericPort.debug);

    show();
}

void cSetup::retranslateSetup()
{
    connectSignals(false);
    ui->retranslateUi(this);
    connectSignals(true);
}

void cSetup::onLangChanged(int newLang)
{
    language = newLang;
}

void cSetup::onDebugClicked(bool en)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    // Live, before and whatever OK or Cancel: the user wants to watch the line now.
    if (mainWindow) {
        cThread& port = mainWindow->genericPort;
        if (en) {
            FILE* log = port.outStream();
            cLog::line(log, "cThread @ 0x%08X: %s thread -> Enabeling debug output", port.id, port.tag.c_str());
        }
        port.debug = en;
    }
    inside = false;
}

void cSetup::onDebugCheckBox(bool s)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    ui->debug->setVisible(s);
    inside = false;
}

void cSetup::accept()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    // Only the dialog's working values exist until openSetup has said where they go back to.
    if (settings.language) {
        if (language != mainWindow->language)
            QMessageBox::information(
                mainWindow, tr("New language"),
                tr("The new language will be effective the next time you restart the application"), QMessageBox::Ok);
        *settings.settingsVersion = settingsVersion;
        *settings.language = language;
        *settings.serialPort = serialPort;
        mainWindow->saveAppSettings();
    }
    closeSetup();

    inside = false;
}

void cSetup::reject()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    closeSetup();
    inside = false;
}

void cSetup::closeEvent(QCloseEvent* event)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    reject();
    event->accept();
    inside = false;
}

void cSetup::closeSetup()
{
    FILE* log = mainWindow->logStream();
    cLog::line(log, "cSetup: Closing setup dialog");
    hide();
}
