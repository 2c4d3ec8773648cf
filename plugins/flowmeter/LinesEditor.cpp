#include "LinesEditor.h"
#include "UnsafeText.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QColor warningColour()
{
    return QColor(0xb0, 0x20, 0x20);
}

// Two names of one device (a by-id link and the device it points to) are one port.
QString samePortKey(const QString& port)
{
    const QString canonical = QFileInfo(port).canonicalFilePath();
    return canonical.isEmpty() ? port.trimmed() : canonical;
}

} // namespace

LinesEditor::LinesEditor(QWidget* parent) : QWidget(parent)
{
    setObjectName("linesEditor");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    v->addLayout(top, 1);

    auto* left = new QVBoxLayout;
    lineList = new QListWidget;
    lineList->setObjectName("lineList");
    left->addWidget(lineList, 1);
    auto* lineButtons = new QHBoxLayout;
    addLineButton = new QPushButton;
    addLineButton->setObjectName("addLineButton");
    removeLineButton = new QPushButton;
    removeLineButton->setObjectName("removeLineButton");
    lineButtons->addWidget(addLineButton);
    lineButtons->addWidget(removeLineButton);
    left->addLayout(lineButtons);
    top->addLayout(left, 1);

    lineBox = new QWidget;
    auto* right = new QVBoxLayout(lineBox);
    right->setContentsMargins(0, 0, 0, 0);
    form = new QFormLayout;
    portBox = new QComboBox;
    portBox->setObjectName("portBox");
    portBox->setEditable(true);
    // The box offers; it does not add what is typed to its list.
    portBox->setInsertPolicy(QComboBox::NoInsert);
    // No completion: "/dev/ttyUSB1" typed while "/dev/ttyUSB10" is offered would otherwise be
    // stored as the other device.
    portBox->setCompleter(nullptr);
    port = portBox->lineEdit();
    port->setObjectName("portEdit");
    rate = new QComboBox;
    rate->setObjectName("rateBox");
    for (int r : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400})
        rate->addItem(QString::number(r), r);
    bits = new QComboBox;
    bits->setObjectName("dataBitsBox");
    bits->addItem("8", 8);
    bits->addItem("7", 7);
    parityBox = new QComboBox;
    parityBox->setObjectName("parityBox");
    for (char p : {'N', 'E', 'O'})
        parityBox->addItem(QString(), QChar(p));
    stops = new QComboBox;
    stops->setObjectName("stopBitsBox");
    stops->addItem("1", 1);
    stops->addItem("2", 2);
    period = new QSpinBox;
    period->setObjectName("periodSpin");
    period->setRange(50, 60000);
    period->setSingleStep(50);
    period->setSuffix(" ms");
    timeout = new QSpinBox;
    timeout->setObjectName("timeoutSpin");
    // Kept inside the half second after which the host gives a transaction up.
    timeout->setRange(20, kLongestAnswerTimeoutMs);
    timeout->setSingleStep(10);
    timeout->setSuffix(" ms");
    for (QWidget* w : std::initializer_list<QWidget*>{portBox, rate, bits, parityBox, stops, period, timeout})
        form->addRow(new QLabel, w);
    right->addLayout(form);

    metersHeading = new QLabel;
    right->addWidget(metersHeading);
    meters = new QTableWidget(0, 3);
    meters->setObjectName("metersTable");
    meters->setSelectionBehavior(QAbstractItemView::SelectRows);
    meters->setSelectionMode(QAbstractItemView::SingleSelection);
    meters->verticalHeader()->hide();
    meters->horizontalHeader()->setStretchLastSection(true);
    // Tab leaves the table for the buttons and on to Save; the arrows move between its cells.
    meters->setTabKeyNavigation(false);
    right->addWidget(meters, 1);
    auto* meterButtons = new QHBoxLayout;
    addMeterButton = new QPushButton;
    addMeterButton->setObjectName("addMeterButton");
    removeMeterButton = new QPushButton;
    removeMeterButton->setObjectName("removeMeterButton");
    meterButtons->addWidget(addMeterButton);
    meterButtons->addWidget(removeMeterButton);
    meterButtons->addStretch(1);
    right->addLayout(meterButtons);
    top->addWidget(lineBox, 3);

    problemsLabel = new QLabel;
    problemsLabel->setObjectName("linesProblems");
    problemsLabel->setWordWrap(true);
    QPalette warning = problemsLabel->palette();
    warning.setColor(QPalette::WindowText, warningColour());
    problemsLabel->setPalette(warning);
    problemsLabel->hide();
    v->addWidget(problemsLabel);
    modelProblemsHeading = new QLabel;
    modelProblemsHeading->setObjectName("modelProblemsHeading");
    v->addWidget(modelProblemsHeading);
    modelProblems = new QListWidget;
    modelProblems->setObjectName("modelProblemsList");
    modelProblems->setSelectionMode(QAbstractItemView::NoSelection);
    modelProblems->setWordWrap(true);
    v->addWidget(modelProblems);
    setModelProblems({});

    connect(lineList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!loading)
            showLine(row);
    });
    connect(addLineButton, &QPushButton::clicked, this, &LinesEditor::addLine);
    connect(removeLineButton, &QPushButton::clicked, this, &LinesEditor::removeLine);
    connect(addMeterButton, &QPushButton::clicked, this, &LinesEditor::addMeter);
    connect(removeMeterButton, &QPushButton::clicked, this, &LinesEditor::removeMeter);
    // A device chosen from the list is stored by its path: the label is for reading.
    connect(portBox, QOverload<int>::of(&QComboBox::activated), this, [this](int i) {
        const QString path = portBox->itemData(i).toString();
        if (!path.isEmpty())
            port->setText(path);
        storeLine();
    });
    connect(port, &QLineEdit::textChanged, this, &LinesEditor::storeLine);
    for (QComboBox* box : {rate, bits, parityBox, stops})
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &LinesEditor::storeLine);
    for (QSpinBox* spin : {period, timeout})
        connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), this, &LinesEditor::storeLine);
    connect(meters, &QTableWidget::itemChanged, this, &LinesEditor::storeMeters);

    retranslate();
    setLines({});
}

void LinesEditor::retranslate()
{
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Port (device path):"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Baud rate:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Data bits:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Parity:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Stop bits:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Poll period:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Answer time-out:")};
    for (int i = 0; i < 7; ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())->setText(QCoreApplication::translate("FlowMeter", names[i]));
    parityBox->setItemText(0, QCoreApplication::translate("FlowMeter", "None (N)"));
    parityBox->setItemText(1, QCoreApplication::translate("FlowMeter", "Even (E)"));
    parityBox->setItemText(2, QCoreApplication::translate("FlowMeter", "Odd (O)"));
    port->setPlaceholderText(QCoreApplication::translate("FlowMeter", "for example /dev/ttyUSB0"));
    addLineButton->setText(QCoreApplication::translate("FlowMeter", "Add line"));
    removeLineButton->setText(QCoreApplication::translate("FlowMeter", "Remove line"));
    addMeterButton->setText(QCoreApplication::translate("FlowMeter", "Add meter"));
    removeMeterButton->setText(QCoreApplication::translate("FlowMeter", "Remove meter"));
    metersHeading->setText(QCoreApplication::translate("FlowMeter", "Meters on this line:"));
    meters->setHorizontalHeaderLabels({QCoreApplication::translate("FlowMeter", "Unit id"), QCoreApplication::translate("FlowMeter", "Model"), QCoreApplication::translate("FlowMeter", "Name")});
    modelProblemsHeading->setText(QCoreApplication::translate("FlowMeter", "Model files that could not be read:"));
    updateLineLabels();
    updateProblems();
}

void LinesEditor::setModelNames(const QStringList& names)
{
    models = names;
    showLine(current);
}

void LinesEditor::setPortChoices(const QVector<PortChoice>& choices)
{
    const bool was = loading;
    loading = true;
    const QString typed = port->text();
    portBox->clear();
    for (const PortChoice& c : choices) {
        portBox->addItem(c.label, c.path);
        portBox->setItemData(portBox->count() - 1, c.path, Qt::ToolTipRole);
        if (!c.accessible)
            portBox->setItemData(portBox->count() - 1, warningColour(), Qt::ForegroundRole);
    }
    // A list that changes under the user (an adapter plugged in) keeps what is in the field.
    portBox->setCurrentIndex(-1);
    port->setText(typed);
    loading = was;
}

void LinesEditor::setLines(const QVector<LineConfig>& lines)
{
    config = lines;
    loading = true;
    lineList->clear();
    for (int i = 0; i < config.size(); ++i)
        lineList->addItem(QString());
    loading = false;
    updateLineLabels();
    showLine(config.isEmpty() ? -1 : 0);
}

void LinesEditor::setCurrentLine(int line)
{
    if (line >= -1 && line < config.size())
        showLine(line);
}

void LinesEditor::showLine(int line)
{
    current = line;
    loading = true;
    lineList->setCurrentRow(line);
    const bool any = line >= 0 && line < config.size();
    lineBox->setEnabled(any);
    removeLineButton->setEnabled(any);
    meters->setRowCount(0);
    if (any) {
        const LineConfig& l = config[line];
        port->setText(l.port);
        const auto pick = [](QComboBox* box, const QVariant& v) {
            const int i = box->findData(v);
            box->setCurrentIndex(i < 0 ? 0 : i);
        };
        // 9600 is what a rate not on the list falls back to, as the line's own default.
        pick(rate, rate->findData(int(l.line.baud)) < 0 ? 9600 : int(l.line.baud));
        pick(bits, int(l.line.dataBits));
        pick(parityBox, QChar(l.line.parity));
        pick(stops, int(l.line.stopBits));
        period->setValue(l.periodMs);
        timeout->setValue(l.answerTimeoutMs);
        for (const MeterConfig& m : l.meters)
            addMeterRow(m);
    } else {
        port->clear();
    }
    loading = false;
    updateProblems();
}

void LinesEditor::fillModels(QComboBox* box, const QString& model)
{
    box->clear();
    box->addItems(models);
    int i = box->findText(model);
    if (i < 0) {
        // Kept as it was stored: the model's file may only be missing for now.
        box->addItem(model);
        i = box->count() - 1;
        box->setItemData(i, warningColour(), Qt::ForegroundRole);
        box->setItemData(i, QCoreApplication::translate("FlowMeter", "No model of this name was loaded"), Qt::ToolTipRole);
    }
    box->setCurrentIndex(i);
}

void LinesEditor::addMeterRow(const MeterConfig& m)
{
    const bool was = loading;
    loading = true;
    const int row = meters->rowCount();
    meters->insertRow(row);
    auto* id = new QSpinBox;
    id->setRange(1, 247);
    id->setValue(std::clamp(m.id, 1, 247));
    id->setFrame(false);
    meters->setCellWidget(row, IdColumn, id);
    auto* model = new QComboBox;
    model->setFrame(false);
    fillModels(model, m.model);
    meters->setCellWidget(row, ModelColumn, model);
    meters->setItem(row, NameColumn, new QTableWidgetItem(m.name));
    // Tab goes from the table to its buttons and on to Save in as many steps however many
    // meters there are: the boxes in the rows are reached by clicking; the name by the keyboard.
    id->setFocusPolicy(Qt::ClickFocus);
    model->setFocusPolicy(Qt::ClickFocus);
    connect(id, QOverload<int>::of(&QSpinBox::valueChanged), this, &LinesEditor::storeMeters);
    connect(model, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &LinesEditor::storeMeters);
    loading = was;
}

void LinesEditor::storeLine()
{
    if (loading || current < 0 || current >= config.size())
        return;
    LineConfig& l = config[current];
    l.port = port->text().trimmed();
    l.line = cLineSettings(uint32_t(rate->currentData().toInt()), uint8_t(bits->currentData().toInt()),
                           parityBox->currentData().toChar().toLatin1(), uint8_t(stops->currentData().toInt()));
    l.periodMs = period->value();
    l.answerTimeoutMs = timeout->value();
    edited();
}

void LinesEditor::storeMeters()
{
    if (loading || current < 0 || current >= config.size())
        return;
    QVector<MeterConfig> list;
    for (int row = 0; row < meters->rowCount(); ++row) {
        MeterConfig m;
        m.id = static_cast<QSpinBox*>(meters->cellWidget(row, IdColumn))->value();
        m.model = static_cast<QComboBox*>(meters->cellWidget(row, ModelColumn))->currentText();
        const QTableWidgetItem* name = meters->item(row, NameColumn);
        m.name = name ? name->text().trimmed() : QString();
        list << m;
    }
    config[current].meters = list;
    edited();
}

void LinesEditor::edited()
{
    updateLineLabels();
    updateProblems();
    emit changed();
}

void LinesEditor::addLine()
{
    LineConfig l;
    MeterConfig m;
    m.model = models.value(0);
    l.meters << m;
    config << l;
    loading = true;
    lineList->addItem(QString());
    loading = false;
    updateLineLabels();
    showLine(config.size() - 1);
    emit changed();
}

void LinesEditor::removeLine()
{
    if (current < 0 || current >= config.size())
        return;
    config.remove(current);
    loading = true;
    delete lineList->takeItem(current);
    loading = false;
    updateLineLabels();
    showLine(std::min(current, int(config.size()) - 1));
    emit changed();
}

void LinesEditor::addMeter()
{
    if (current < 0 || current >= config.size())
        return;
    const QVector<MeterConfig>& list = config[current].meters;
    QSet<int> taken;
    for (const MeterConfig& m : list)
        taken.insert(m.id);
    MeterConfig m;
    // The next id after the last one, or the first free one: a new meter on a bus is usually
    // the next address.
    m.id = list.isEmpty() ? 1 : list.last().id + 1;
    if (m.id > 247 || taken.contains(m.id))
        for (m.id = 1; m.id < 247 && taken.contains(m.id); ++m.id) {
        }
    m.model = list.isEmpty() ? models.value(0) : list.last().model;
    addMeterRow(m);
    meters->setCurrentCell(meters->rowCount() - 1, NameColumn);
    storeMeters();
}

void LinesEditor::removeMeter()
{
    const int row = meters->currentRow();
    if (current < 0 || row < 0 || row >= meters->rowCount())
        return;
    meters->removeRow(row);
    storeMeters();
}

void LinesEditor::updateLineLabels()
{
    for (int i = 0; i < config.size() && i < lineList->count(); ++i) {
        const LineConfig& l = config[i];
        const QString where = l.port.isEmpty() ? QCoreApplication::translate("FlowMeter", "no port") : l.port;
        lineList->item(i)->setText(QCoreApplication::translate("FlowMeter", "Line %1: %2, %3")
                                       .arg(i + 1)
                                       .arg(where, QString::fromStdString(l.line.text())));
    }
}

QStringList LinesEditor::problems() const
{
    QStringList out;
    for (const Reason& r : check(false))
        out << r.text();
    return out;
}

QVector<Reason> LinesEditor::conflicts() const
{
    return check(true);
}

QVector<Reason> LinesEditor::check(bool conflictsOnly) const
{
    QVector<Reason> out;
    QSet<QString> known(models.begin(), models.end());
    QVector<QString> keys;
    for (int i = 0; i < config.size(); ++i) {
        const LineConfig& l = config[i];
        const int n = i + 1;
        keys << (l.port.isEmpty() ? QString() : samePortKey(l.port));
        if (l.port.isEmpty() && !conflictsOnly)
            out << Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1 has no port.")).arg(n);
        for (int j = 0; j < i; ++j)
            if (!keys[i].isEmpty() && keys[i] == keys[j])
                out << Reason(QT_TRANSLATE_NOOP("FlowMeter", "Lines %1 and %2 use the same port %3: a port serves one line.")).arg(j + 1).arg(n).arg(l.port);
        // Said before the port is opened or saved: a line end in it would split the log's lines.
        if (const UnsafeText::Found f = UnsafeText::find(l.port); f.found() && !conflictsOnly)
            out << (f.control ? Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1: the port name holds the control character %2 (character %3)."))
                              : Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1: the port name holds the direction-changing character %2 (character %3).")))
                       .arg(n).arg(f.codeText()).arg(f.position);
        if (l.meters.isEmpty() && !conflictsOnly)
            out << Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1 has no meter.")).arg(n);
        QSet<int> seen, twice;
        for (const MeterConfig& m : l.meters) {
            if (seen.contains(m.id) && !twice.contains(m.id)) {
                twice.insert(m.id);
                out << Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1: unit id %2 is given to more than one meter.")).arg(n).arg(m.id);
            }
            seen.insert(m.id);
            if (m.id < 1 || m.id > 247)
                out << Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1: unit id %2 is not one of 1 to 247.")).arg(n).arg(m.id);
            if (const UnsafeText::Found f = UnsafeText::find(m.name); f.found() && !conflictsOnly)
                out << (f.control ? Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1, unit id %2: the name holds the control character %3 (character %4)."))
                                  : Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1, unit id %2: the name holds the direction-changing character %3 (character %4).")))
                           .arg(n).arg(m.id).arg(f.codeText()).arg(f.position);
            if (!known.contains(m.model) && !conflictsOnly)
                out << Reason(QT_TRANSLATE_NOOP("FlowMeter", "Line %1, unit id %2: unknown model \"%3\".")).arg(n).arg(m.id).arg(m.model);
        }
    }
    return out;
}

void LinesEditor::updateProblems()
{
    const QStringList all = problems();
    problemsLabel->setText(all.join("\n"));
    problemsLabel->setVisible(!all.isEmpty());
}

void LinesEditor::setModelProblems(const QStringList& list)
{
    modelProblems->clear();
    modelProblems->addItems(list);
    modelProblemsHeading->setVisible(!list.isEmpty());
    modelProblems->setVisible(!list.isEmpty());
}

// Its meta-object is compiled here, not in the plug-in's shared moc file beside
// FlowMeterPlugin.h, which still declares the answer time-out bound that FlowConfig.h now holds.
#include "moc_LinesEditor.cpp"
