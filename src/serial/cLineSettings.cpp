#include "cLineSettings.h"

#include <cmath>
#include <cstdio>

namespace {

const uint32_t kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

} // namespace

cLineSettings::cLineSettings(uint32_t b, uint8_t d, char p, uint8_t s) : baud(b), dataBits(d), parity(p), stopBits(s)
{
}

bool cLineSettings::isStandardRate(uint32_t b)
{
    for (uint32_t r : kRates) {
        if (r == b)
            return true;
    }
    return false;
}

bool cLineSettings::valid(std::string* why) const
{
    const char* problem = nullptr;
    if (!isStandardRate(baud))
        problem = "rate not one of 1200 to 115200 or 230400";
    else if (dataBits != 7 && dataBits != 8)
        problem = "data bits not 7 or 8";
    else if (parity != 'N' && parity != 'E' && parity != 'O')
        problem = "parity not N, E or O";
    else if (stopBits != 1 && stopBits != 2)
        problem = "stop bits not 1 or 2";
    if (problem && why)
        *why = problem;
    return problem == nullptr;
}

int cLineSettings::frameBits() const
{
    return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
}

double cLineSettings::characterUs() const
{
    return baud ? frameBits() * 1e6 / baud : 0.0;
}

double cLineSettings::handlingTimeMs() const
{
    // 9600 8N1 has always been logged as 0.960 ms, and logs and readers of them are compared
    // against that figure; every other line gets its true character time.
    if (*this == cLineSettings())
        return 0.96;
    return characterUs() / 1000.0;
}

uint32_t cLineSettings::interFrameSilenceUs() const
{
    if (baud > 19200)
        return 1750;
    return uint32_t(std::ceil(3.5 * characterUs()));
}

unsigned short cLineSettings::requestDelayMs() const
{
    // Delay 0 would mean the thread's period to the queue, so 1 is the least asked for.
    const long whole = long(std::ceil(interFrameSilenceUs() / 1000.0)) - 1;
    return (unsigned short)(whole < 1 ? 1 : whole);
}

std::string cLineSettings::text() const
{
    char b[32];
    snprintf(b, sizeof b, "%u %u%c%u", unsigned(baud), unsigned(dataBits), parity, unsigned(stopBits));
    return b;
}

bool cLineSettings::parse(const std::string& text, cLineSettings* out)
{
    unsigned b = 0, d = 0, s = 0;
    char p = 0;
    int used = 0;
    if (sscanf(text.c_str(), " %u %1u%c%1u %n", &b, &d, &p, &s, &used) != 4 || size_t(used) != text.size())
        return false;
    const cLineSettings parsed(b, uint8_t(d), char(p >= 'a' && p <= 'z' ? p - 'a' + 'A' : p), uint8_t(s));
    if (!parsed.valid())
        return false;
    if (out)
        *out = parsed;
    return true;
}

cLineSettings cLineSettings::fromCodes(uint32_t baud, uint8_t dataBits, uint8_t parityCode, uint8_t stopBitsCode)
{
    return cLineSettings(baud, dataBits, parityCode == 1 ? 'O' : parityCode == 2 ? 'E' : 'N', stopBitsCode == 2 ? 2 : 1);
}
