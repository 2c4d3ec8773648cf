#include "UnitsChooser.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QLabel>

namespace {

QComboBox* unitBox(const char* name, DisplayUnit::Quantity quantity)
{
    auto* box = new QComboBox;
    box->setObjectName(name);
    for (DisplayUnit::Unit u : DisplayUnit::units(quantity))
        box->addItem(DisplayUnit::symbol(u), int(u));
    return box;
}

void pick(QComboBox* box, DisplayUnit::Unit unit)
{
    const int i = box->findData(int(unit));
    // A unit of another quantity (a hand-edited setting) leaves the first, the default.
    box->setCurrentIndex(i < 0 ? 0 : i);
}

DisplayUnit::Unit chosen(const QComboBox* box)
{
    return DisplayUnit::Unit(box->currentData().toInt());
}

} // namespace

UnitsChooser::UnitsChooser(QWidget* parent) : QWidget(parent)
{
    setObjectName("unitsChooser");
    form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    flow = unitBox("flowUnitBox", DisplayUnit::Flow);
    volume = unitBox("volumeUnitBox", DisplayUnit::Volume);
    temperature = unitBox("temperatureUnitBox", DisplayUnit::Temperature);
    for (QComboBox* box : {flow, volume, temperature}) {
        form->addRow(new QLabel, box);
        connect(box, QOverload<int>::of(&QComboBox::activated), this, &UnitsChooser::changed);
    }
    setUnits(DisplayUnits());
    retranslate();
}

void UnitsChooser::setUnits(const DisplayUnits& units)
{
    pick(flow, units.flow);
    pick(volume, units.volume);
    pick(temperature, units.temperature);
}

DisplayUnits UnitsChooser::units() const
{
    DisplayUnits u;
    u.flow = chosen(flow);
    u.volume = chosen(volume);
    u.temperature = chosen(temperature);
    return u;
}

void UnitsChooser::retranslate()
{
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Flow shown in:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Volume shown in:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Temperature shown in:")};
    for (int i = 0; i < 3; ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
}

// Its meta-object is compiled here, not in the plug-in's shared moc file beside
// FlowMeterPlugin.h, which still declares the answer time-out bound that FlowConfig.h now holds.
#include "moc_UnitsChooser.cpp"
