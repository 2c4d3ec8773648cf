#pragma once

#include <QString>

// Whether a float a meter sent is a measurement at all. Meters send NaN for "no valid
// measurement", and a broken converter sends infinities or absurd magnitudes; none of them may
// reach the page, the trend or the log as a reading.
class ReadingCheck
{
public:
    enum Problem { Valid = 0, NotANumber, Infinite, OutOfRange };

    // Plausible bounds of each quantity: far beyond any real pipe, well inside a float.
    static constexpr double kMaxFlowM3h = 1e6;
    static constexpr double kMaxTotalM3 = 1e12;
    static constexpr double kMinTemperatureC = -273.15;
    static constexpr double kMaxTemperatureC = 1000;

    static Problem flow(float value);
    static Problem total(float value);
    static Problem temperature(float value);

    // The reason in English, for the log.
    static const char* name(Problem p);
    // The reason in the user's language, for the pages.
    static QString text(Problem p);

private:
    static Problem within(float value, double low, double high);
};
