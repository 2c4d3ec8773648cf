#include "Ui_cSetup.h"

#include "guiPalettes.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFormLayout>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMetaObject>
#include <QPixmap>
#include <QSpacerItem>

void Ui_cSetup::setupUi(QDialog* dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName("cSetup");
    dialog->resize(476, 204);
    QIcon appIcon;
    appIcon.addFile(":/Other/Pixmaps/appIcon.png", QSize(), QIcon::Normal, QIcon::Off);
    dialog->setWindowIcon(appIcon);

    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName("verticalLayout");

    // The header in the main window's style: logo, then title over the version.
    header = new QFrame(dialog);
    header->setObjectName("header");
    header->setPalette(guiPalettes::frame());
    header->setAutoFillBackground(true);
    header->setFrameShape(QFrame::Box);
    header->setFrameShadow(QFrame::Plain);
    horizontalLayout = new QHBoxLayout(header);
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    icon = new QLabel(header);
    icon->setObjectName("icon");
    QSizePolicy fixed(QSizePolicy::Fixed, QSizePolicy::Fixed);
    fixed.setHeightForWidth(icon->sizePolicy().hasHeightForWidth());
    icon->setSizePolicy(fixed);
    icon->setPixmap(QPixmap(":/Other/Pixmaps/logo.png"));
    horizontalLayout->addWidget(icon);
    verticalLayout_2 = new QVBoxLayout();
    verticalLayout_2->setObjectName("verticalLayout_2");
    verticalLayout_2->setContentsMargins(0, 9, 9, 5);
    label = new QLabel(header);
    label->setObjectName("label");
    QFont titleFont;
    titleFont.setPointSize(24);
    titleFont.setBold(true);
    label->setFont(titleFont);
    verticalLayout_2->addWidget(label);
    version = new QLabel(header);
    version->setObjectName("version");
    QFont boldFont;
    boldFont.setBold(true);
    version->setFont(boldFont);
    version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    verticalLayout_2->addWidget(version);
    horizontalLayout->addLayout(verticalLayout_2);
    verticalLayout->addWidget(header);

    verticalSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
    verticalLayout->addItem(verticalSpacer);

    Settings = new QFrame(dialog);
    Settings->setObjectName("Settings");
    Settings->setFrameShape(QFrame::NoFrame);
    formLayout_2 = new QFormLayout(Settings);
    formLayout_2->setObjectName("formLayout_2");
    formLayout_2->setHorizontalSpacing(9);
    formLayout_2->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    langLabel = new QLabel(Settings);
    langLabel->setObjectName("langLabel");
    formLayout_2->setWidget(0, QFormLayout::LabelRole, langLabel);
    language = new QComboBox(Settings);
    language->setObjectName("language");
    // Positions are language indices: 0 the system's, 1 English, 2 Swedish. The two languages
    // are named in their own tongue, so they are not translated.
    language->addItem(QIcon(":/Flags/Pixmaps/Flags/en.png"), QString());
    language->addItem(QIcon(":/Flags/Pixmaps/Flags/en.png"), "English");
    language->addItem(QIcon(":/Flags/Pixmaps/Flags/sv.png"), "Svenska");
    formLayout_2->setWidget(0, QFormLayout::FieldRole, language);
    langLabel->setBuddy(language);
    debug = new QCheckBox(Settings);
    debug->setObjectName("debug");
    formLayout_2->setWidget(1, QFormLayout::FieldRole, debug);
    verticalLayout->addWidget(Settings);

    buttonBox = new QDialogButtonBox(dialog);
    buttonBox->setObjectName("buttonBox");
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    verticalLayout->addWidget(buttonBox);

    retranslateUi(dialog);
    QObject::connect(buttonBox, SIGNAL(accepted()), dialog, SLOT(accept()));
    QObject::connect(buttonBox, SIGNAL(rejected()), dialog, SLOT(reject()));
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_cSetup::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("cSetup", "Corvane - Setup"));
    icon->setText(QString());
    label->setText(QCoreApplication::translate("cSetup", "Setup"));
    version->setText(QCoreApplication::translate("cSetup", "Corvane version: --"));
    langLabel->setText(QCoreApplication::translate("cSetup", "Language:"));
    language->setItemText(0, QCoreApplication::translate("cSetup", "System"));
    debug->setText(QCoreApplication::translate("cSetup", "Enable serial debug output"));
}
