// The window's form beside the generated one: the status-bar group and its two slots, the
// Save/Discard row, and the about dialog, whose form is built once and only shown afterwards.
// Host threads and plug-ins reach the status bar only through statusBarMsgSignal and
// statusBarProgressSignal, from any thread.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "cSetup.h"
#include "guiPalettes.h"

#include <QBoxLayout>
#include <QColor>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMetaObject>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QStatusBar>
#include <QStringList>
#include <QTextBrowser>

#include <algorithm>

namespace {

// Fixed and not translated: contact details, rights and licence read the same in every language.
const char* const aboutText =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
    "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
    "p, li { white-space: pre-wrap; }\n"
    "</style></head>"
    "<body style=\" font-family:'MS Shell Dlg 2'; font-size:8.25pt; font-weight:400; font-style:normal;\">\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "font-weight:600; color:#000000;\">Contact information</span></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "color:#000000;\">Tessmark AB, the Corvane project<br />"
    "Postal address: Box 2417, SE-403 16 G&ouml;teborg, Sweden<br />"
    "Visiting address: Flodv&auml;gen 12, G&ouml;teborg<br />"
    "Telephone: +46 31 390 06 10<br />"
    "Fax: +46 31 390 06 11<br />"
    "Web: </span><a href=\"" CORVANE_HOMEPAGE "\" target=\"_blank\"><span style=\" "
    "font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; text-decoration: underline; "
    "color:#0000ff;\">" CORVANE_HOMEPAGE "</span></a><span style=\" "
    "font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; color:#000000;\"><br />"
    "E-mail: </span><a href=\"mailto:corvane@tessmark.example\" target=\"_blank\"><span style=\" "
    "font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; text-decoration: underline; "
    "color:#0000ff;\">corvane@tessmark.example</span></a></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "font-weight:600; color:#000000;\">Copyright &copy; 2026 Tessmark AB and the Corvane contributors.</span></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "font-weight:600; color:#000000;\">Licence: GNU General Public License, version 3 or later "
    "(GPL-3.0-or-later)</span></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "color:#000000;\">Corvane is free software: you can redistribute it and/or modify it under the terms of "
    "the GNU General Public License as published by the Free Software Foundation, either version 3 of the "
    "License, or (at your option) any later version.</span></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "color:#000000;\">Corvane is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; "
    "without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE. See the GNU "
    "General Public License for more details.</span></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:6px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "color:#000000;\">You should have received a copy of the GNU General Public License along with "
    "Corvane (the file COPYING). If not, see </span><a href=\"https://www.gnu.org/licenses/\" "
    "target=\"_blank\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "text-decoration: underline; color:#0000ff;\">https://www.gnu.org/licenses/</span></a><span style=\" "
    "font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; color:#000000;\">.</span></p>\n"
    "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><span style=\" font-family:'Verdana,Arial,Helvetica,sans-serif'; font-size:8pt; "
    "color:#000000;\">Device plug-ins are separate works and carry licence terms of their own; see the "
    "about box of each plug-in.</span></p></body></html>";

} // namespace

void cMainWindow::mkStatusGroup()
{
    statusWidget = new QWidget();
    auto* layout = new QHBoxLayout(statusWidget);
    layout->setSpacing(6);
    layout->setContentsMargins(0, 0, 0, 0);
    statusLabel = new QLabel();
    statusLabel->setText("Ready");
    statusProgressBar = new QProgressBar();
    statusProgressBar->setValue(0);
    layout->addWidget(statusLabel);
    layout->addWidget(statusProgressBar);
    statusWidget->hide();
    // Permanent: it sits at the right end, outside the temporary-message area.
    ui->statusBar->addPermanentWidget(statusWidget, 0);
}

void cMainWindow::mkDeviceState()
{
    deviceStateLabel = new QLabel(ui->HeaderFrame);
    deviceStateLabel->setObjectName("deviceState");
    QFont bold = deviceStateLabel->font();
    bold.setBold(true);
    deviceStateLabel->setFont(bold);
    deviceStateLabel->setAutoFillBackground(true);
    deviceStateLabel->setMargin(4);
    deviceStateLabel->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    deviceStateLabel->setProperty("severity", 0);
    deviceStateLabel->hide();
    ui->horizontalLayout_2->addWidget(deviceStateLabel, 0, Qt::AlignRight | Qt::AlignVCenter);
}

void cMainWindow::setDeviceState(const QString& source, int severity, const QString& text)
{
    if (text.isEmpty())
        deviceStates.remove(source);
    else
        deviceStates.insert(source, DeviceState{std::clamp(severity, 0, 2), text});
    showDeviceState();
}

void cMainWindow::showDeviceState()
{
    int worst = -1;
    for (const DeviceState& s : deviceStates)
        worst = std::max(worst, s.severity);
    QStringList shown, all;
    for (auto it = deviceStates.begin(); it != deviceStates.end(); ++it) {
        all << it.key() + ": " + it->text;
        if (it->severity == worst)
            shown << it->text;
    }
    deviceStateLabel->setProperty("severity", std::max(worst, 0));
    if (shown.isEmpty()) {
        deviceStateLabel->clear();
        deviceStateLabel->setToolTip(QString());
        deviceStateLabel->hide();
        return;
    }
    // A filled mark, its text black or white by the fill's lightness: read the same on the
    // header's white and in a dark theme, and told apart by the words where colour is not seen.
    // A fine state keeps the header's own colours.
    QPalette p = ui->HeaderFrame->palette();
    if (worst > 0) {
        const QColor fill = worst == 2 ? QColor(198, 40, 40) : QColor(240, 170, 0);
        const int brightness = (299 * fill.red() + 587 * fill.green() + 114 * fill.blue()) / 1000;
        const QColor text = brightness > 128 ? QColor(Qt::black) : QColor(Qt::white);
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            p.setColor(g, QPalette::Window, fill);
            p.setColor(g, QPalette::WindowText, text);
        }
    }
    deviceStateLabel->setPalette(p);
    deviceStateLabel->setText(shown.join("; "));
    deviceStateLabel->setToolTip(all.join("\n"));
    deviceStateLabel->show();
}

// No re-entrancy guard: nothing here can spin an event loop.
void cMainWindow::onSetStatusBarMsg(QString m)
{
    ui->statusBar->showMessage(m, 2000);
}

void cMainWindow::onSetStatusBarProgress(QString t, int v)
{
    statusLabel->setText(t);
    // A value outside the bar's range is ignored by the bar, so -1 keeps the last value.
    statusProgressBar->setValue(v);
    statusWidget->setVisible(v >= 0);
}

void cMainWindow::onSetButtonsVisible(bool visible)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    ui->buttonWidget->setVisible(visible);
    inside = false;
}

void cMainWindow::setupAboutUi(QDialog* dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName("Dialog");
    dialog->resize(500, 550);
    QIcon appIcon;
    appIcon.addFile(":/Other/Pixmaps/appIcon.png", QSize(), QIcon::Normal, QIcon::Off);
    dialog->setWindowIcon(appIcon);

    auto* verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName("verticalLayout");

    auto* frame = new QFrame(dialog);
    frame->setObjectName("frame");
    frame->setPalette(guiPalettes::frame());
    frame->setAutoFillBackground(true);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    auto* horizontalLayout = new QHBoxLayout(frame);
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(frame);
    label->setObjectName("label");
    QSizePolicy logoPolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    logoPolicy.setHeightForWidth(label->sizePolicy().hasHeightForWidth());
    label->setSizePolicy(logoPolicy);
    label->setPixmap(QPixmap(":/Other/Pixmaps/logo.png"));
    horizontalLayout->addWidget(label);
    auto* verticalLayout_3 = new QVBoxLayout();
    verticalLayout_3->setObjectName("verticalLayout_3");
    verticalLayout_3->setContentsMargins(0, 9, 5, 5);
    auto* label_2 = new QLabel(frame);
    label_2->setObjectName("label_2");
    QFont titleFont;
    titleFont.setPointSize(18);
    titleFont.setBold(true);
    label_2->setFont(titleFont);
    verticalLayout_3->addWidget(label_2);
    auto* label_3 = new QLabel(frame);
    label_3->setObjectName("label_3");
    QSizePolicy versionPolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    versionPolicy.setHeightForWidth(label_3->sizePolicy().hasHeightForWidth());
    label_3->setSizePolicy(versionPolicy);
    QFont boldFont;
    boldFont.setBold(true);
    label_3->setFont(boldFont);
    label_3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    verticalLayout_3->addWidget(label_3);
    horizontalLayout->addLayout(verticalLayout_3);
    verticalLayout->addWidget(frame);

    auto* frame_2 = new QFrame(dialog);
    frame_2->setObjectName("frame_2");
    frame_2->setPalette(guiPalettes::frameText());
    frame_2->setFrameShape(QFrame::Box);
    frame_2->setFrameShadow(QFrame::Plain);
    auto* verticalLayout_2 = new QVBoxLayout(frame_2);
    verticalLayout_2->setObjectName("verticalLayout_2");
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    auto* textBrowser = new QTextBrowser(frame_2);
    textBrowser->setObjectName("textBrowser");
    textBrowser->setEnabled(true);
    textBrowser->setFrameShape(QFrame::NoFrame);
    textBrowser->setFrameShadow(QFrame::Plain);
    // Links go to the desktop's browser or mail program; the dialog's page stays as it is.
    textBrowser->setOpenExternalLinks(true);
    verticalLayout_2->addWidget(textBrowser);
    verticalLayout->addWidget(frame_2);

    auto* buttonBox = new QDialogButtonBox(dialog);
    buttonBox->setObjectName("buttonBox");
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Ok);
    verticalLayout->addWidget(buttonBox);

    // Set once: the dialog keeps the language it was built in.
    const QString version = QString::asprintf("%0.1f", double(appVersion));
    dialog->setWindowTitle("Corvane " + version + " - " + QCoreApplication::translate("Dialog", "About"));
    label->setText(QString());
    label_2->setText("Corvane: " + QCoreApplication::translate("Dialog", "About"));
    label_3->setText(QCoreApplication::translate("Dialog", "version: ") + version);
    textBrowser->setHtml(aboutText);

    QObject::connect(buttonBox, SIGNAL(accepted()), dialog, SLOT(accept()));
    QObject::connect(buttonBox, SIGNAL(rejected()), dialog, SLOT(reject()));
    QMetaObject::connectSlotsByName(dialog);
}

void cMainWindow::onAbout()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    // Not modal: the dialog stays up beside the window until its OK hides it.
    aboutDialog->setVisible(true);
    inside = false;
}
