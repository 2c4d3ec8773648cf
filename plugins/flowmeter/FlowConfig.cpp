#include "FlowConfig.h"

DisplayUnit::Unit DisplayUnits::shown(DisplayUnit::Unit modelUnit) const
{
    switch (DisplayUnit::quantity(modelUnit)) {
    case DisplayUnit::Flow:
        return flow;
    case DisplayUnit::Volume:
        return volume;
    case DisplayUnit::Temperature:
        return temperature;
    case DisplayUnit::NoQuantity:
        break;
    }
    return modelUnit;
}
