#include "RecordingEditor.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPalette>
#include <QSpinBox>

RecordingEditor::RecordingEditor(QWidget* parent) : QWidget(parent)
{
    setObjectName("recordingEditor");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    heading = new QLabel;
    v->addWidget(heading);
    form = new QFormLayout;
    folder = new QLineEdit;
    folder->setObjectName("recordFolderEdit");
    folder->setClearButtonEnabled(true);
    choose = new QPushButton;
    choose->setObjectName("recordFolderButton");
    auto* row = new QHBoxLayout;
    row->addWidget(folder, 1);
    row->addWidget(choose);
    folderProblem = new QLabel;
    folderProblem->setObjectName("recordFolderProblem");
    folderProblem->setWordWrap(true);
    QPalette warning = folderProblem->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb0, 0x20, 0x20));
    folderProblem->setPalette(warning);
    interval = new QSpinBox;
    interval->setObjectName("recordIntervalSpin");
    interval->setRange(RecordingConfig::kMinIntervalS, RecordingConfig::kMaxIntervalS);
    interval->setSuffix(" s");
    form->addRow(new QLabel, row);
    form->addRow(QString(), folderProblem);
    form->setRowVisible(folderProblem, false);
    form->addRow(new QLabel, interval);
    v->addLayout(form);
    connect(choose, &QPushButton::clicked, this, &RecordingEditor::chooseFolder);
    connect(folder, &QLineEdit::textChanged, this, &RecordingEditor::showProblem);
    retranslate();
}

void RecordingEditor::setRecording(const RecordingConfig& r)
{
    folder->setText(r.folder);
    interval->setValue(r.intervalS);
    on = r.on;
}

RecordingConfig RecordingEditor::recording() const
{
    RecordingConfig r;
    r.folder = folder->text().trimmed();
    r.intervalS = interval->value();
    r.on = on;
    return r;
}

QString RecordingEditor::problem() const
{
    return RecordingConfig::folderProblemText(folder->text().trimmed());
}

void RecordingEditor::showProblem()
{
    const QString text = problem();
    folderProblem->setText(text);
    form->setRowVisible(folderProblem, !text.isEmpty());
}

void RecordingEditor::chooseFolder()
{
    RecordingConfig r = recording();
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QCoreApplication::translate("FlowMeter", "Recording folder"), r.path());
    if (!chosen.isEmpty())
        folder->setText(chosen);
}

void RecordingEditor::retranslate()
{
    heading->setText(QCoreApplication::translate("FlowMeter", "Recording"));
    folder->setPlaceholderText(RecordingConfig::defaultFolder());
    folder->setToolTip(QCoreApplication::translate("FlowMeter", "Empty: %1").arg(RecordingConfig::defaultFolder()));
    choose->setText(QCoreApplication::translate("FlowMeter", "Choose..."));
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Folder:"), QT_TRANSLATE_NOOP("FlowMeter", "Interval:")};
    // The problem's row, between the two, has no label.
    for (int i = 0; i < 2; ++i)
        static_cast<QLabel*>(form->itemAt(i == 0 ? 0 : 2, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
    showProblem();
}
