#pragma once

class QCheckBox;
class QComboBox;
class QDialog;
class QDialogButtonBox;
class QFormLayout;
class QFrame;
class QHBoxLayout;
class QLabel;
class QSpacerItem;
class QVBoxLayout;

// The application setup dialog's form. Widgets belong to the dialog; the structure only points
// at them, and each member carries its widget's object name.
struct Ui_cSetup
{
    QVBoxLayout* verticalLayout = nullptr;
    QFrame* header = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* icon = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    QLabel* label = nullptr;
    QLabel* version = nullptr;
    QSpacerItem* verticalSpacer = nullptr;
    QFrame* Settings = nullptr;
    QFormLayout* formLayout_2 = nullptr;
    QLabel* langLabel = nullptr;
    QComboBox* language = nullptr;
    QCheckBox* debug = nullptr;
    QDialogButtonBox* buttonBox = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};
