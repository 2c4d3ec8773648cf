#include "MeterProcess.h"

#include <algorithm>
#include <cmath>

MeterProcess::MeterProcess(int id)
    : baseFlow(8.0 + 4.0 * ((id - 1) % 5)),
      flow(baseFlow),
      total(1000.0 * id + 123.4),
      temperature(17.5 + 0.7 * (id % 4)),
      unitId(id),
      rng(uint32_t(id) * 7919u)
{
}

void MeterProcess::advance(double seconds, double dampingS, double calibration)
{
    if (lastSeconds < 0)
        lastSeconds = seconds;
    const double dt = seconds - lastSeconds;
    lastSeconds = seconds;
    if (dt <= 0)
        return;
    const double phase = 2.0 * M_PI * seconds / 120.0 + unitId;
    const double raw = calibration * (baseFlow * (1.0 + 0.2 * std::sin(phase)) + 0.01 * baseFlow * noise(rng));
    const double alpha = dampingS > 0 ? 1.0 - std::exp(-dt / dampingS) : 1.0;
    flow = std::max(0.0, flow + alpha * (raw - flow));
    total += flow * dt / 3600.0;
    temperature += 0.02 * (17.5 + 0.7 * (unitId % 4) + 0.5 * std::sin(phase / 3) - temperature) * dt +
                   0.002 * noise(rng);
}
