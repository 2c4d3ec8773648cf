#pragma once

#include <cstdint>
#include <random>

// The process a simulated meter measures, whatever its registers look like: a flow that swings
// slowly (a two-minute period, each unit a little out of phase with the next) with measurement
// noise on top, seen through the meter's damping; a totalizer that integrates it; a temperature
// that drifts. In m3/h, m3 and degrees Celsius.
class MeterProcess
{
public:
    explicit MeterProcess(int unitId);

    // Moves the process on to `seconds` (monotonic), damped over `dampingS` (0: undamped) and
    // scaled by the meter's `calibration` factor.
    void advance(double seconds, double dampingS, double calibration);

    const double baseFlow;
    double flow;
    double total;
    double temperature;

private:
    int unitId;
    double lastSeconds = -1;
    std::mt19937 rng;
    std::normal_distribution<double> noise{0.0, 1.0};
};
