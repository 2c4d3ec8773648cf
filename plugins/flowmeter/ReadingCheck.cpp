#include "ReadingCheck.h"

#include <QCoreApplication>

#include <cmath>

ReadingCheck::Problem ReadingCheck::within(float value, double low, double high)
{
    if (std::isnan(value))
        return NotANumber;
    if (std::isinf(value))
        return Infinite;
    return double(value) < low || double(value) > high ? OutOfRange : Valid;
}

ReadingCheck::Problem ReadingCheck::flow(float value)
{
    // Negative: flow against the meter's arrow, which bidirectional meters report.
    return within(value, -kMaxFlowM3h, kMaxFlowM3h);
}

ReadingCheck::Problem ReadingCheck::total(float value)
{
    return within(value, -kMaxTotalM3, kMaxTotalM3);
}

ReadingCheck::Problem ReadingCheck::temperature(float value)
{
    return within(value, kMinTemperatureC, kMaxTemperatureC);
}

const char* ReadingCheck::name(Problem p)
{
    switch (p) {
    case NotANumber:
        return QT_TRANSLATE_NOOP("FlowMeter", "not a number");
    case Infinite:
        return QT_TRANSLATE_NOOP("FlowMeter", "infinite");
    case OutOfRange:
        return QT_TRANSLATE_NOOP("FlowMeter", "out of range");
    case Valid:
        break;
    }
    return "";
}

QString ReadingCheck::text(Problem p)
{
    return p == Valid ? QString() : QCoreApplication::translate("FlowMeter", name(p));
}
