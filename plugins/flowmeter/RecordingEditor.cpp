#include "RecordingEditor.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
    interval = new QSpinBox;
    interval->setObjectName("recordIntervalSpin");
    interval->setRange(RecordingConfig::kMinIntervalS, RecordingConfig::kMaxIntervalS);
    interval->setSuffix(" s");
    form->addRow(new QLabel, row);
    form->addRow(new QLabel, interval);
    v->addLayout(form);
    connect(choose, &QPushButton::clicked, this, &RecordingEditor::chooseFolder);
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
    for (int i = 0; i < 2; ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
}
