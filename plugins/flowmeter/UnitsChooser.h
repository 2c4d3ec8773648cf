#pragma once

#include "FlowConfig.h"

#include <QWidget>

class QComboBox;
class QFormLayout;

// The unit each quantity is shown in, chosen on the setup page.
class UnitsChooser : public QWidget
{
    Q_OBJECT
public:
    explicit UnitsChooser(QWidget* parent = nullptr);

    void setUnits(const DisplayUnits& units);
    DisplayUnits units() const;
    void retranslate();

    QComboBox* flow;
    QComboBox* volume;
    QComboBox* temperature;

signals:
    // The user picked another unit.
    void changed();

private:
    QFormLayout* form;
};
