#pragma once

#include <QDialog>
#include <QString>

class QCloseEvent;
class cMainWindow;
struct Ui_cSetup;

// The application setup dialog: the interface language (effective at the next start) and, in
// debug runs, the serial debug output of the main window's own port (effective at once).
// Made once by the main window and shown again by each openSetup; OK writes the choices back
// and saves the settings, Cancel and closing only hide it.
class cSetup : public QDialog
{
    Q_OBJECT

public:
    // Where the main window keeps the application settings that this dialog edits.
    struct Record
    {
        int* settingsVersion = nullptr;
        int* language = nullptr;
        QString* serialPort = nullptr;
    };

    explicit cSetup(cMainWindow* parent);
    ~cSetup() override;

    // Makes or breaks the dialog's own connections.
    void connectSignals(bool connect);
    // Copies the record into the working values, fills the widgets and shows the dialog
    // without waiting.
    void openSetup(const Record& settings);
    // Sets the texts again after a change of language.
    void retranslateSetup();

    Ui_cSetup* ui;
    cMainWindow* mainWindow;
    Record settings;
    int settingsVersion;
    int language;
    // Carried back unchanged: no widget shows it.
    QString serialPort;

signals:
    void debugCheckBoxSignal(bool s);

public slots:
    void accept() override;
    void reject() override;
    void onLangChanged(int newLang);
    void onDebugClicked(bool en);
    void onDebugCheckBox(bool s);
    void closeEvent(QCloseEvent* event) override;

private:
    void closeSetup();
};
