#include "Faults.h"

#include <sstream>

bool Faults::apply(const std::string& line, std::string& error)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    int a = 1, b = 1;
    if (word == "silence" || word == "crc" || word == "short" || word == "extra" || word == "ignore") {
        if (!(in >> a))
            a = 1;
        int& target = word == "silence" ? silence
                      : word == "crc"   ? badCrc
                      : word == "short" ? shortAnswer
                      : word == "extra" ? extraBytes
                                        : ignoreWrites;
        target = a < 0 ? 0 : a;
        return true;
    }
    if (word == "delay") {
        if (!(in >> a)) {
            error = "delay needs milliseconds";
            return false;
        }
        if (!(in >> b))
            b = 1;
        delayMs = a;
        delayed = b;
        return true;
    }
    if (word == "vanish") {
        if (!(in >> a) || a <= 0) {
            error = "vanish needs milliseconds";
            return false;
        }
        vanishMs = a;
        return true;
    }
    if (word == "pace") {
        std::string onOff;
        in >> onOff;
        paced = onOff != "off";
        return true;
    }
    if (word == "clear") {
        const bool keepPace = paced;
        *this = Faults();
        paced = keepPace;
        return true;
    }
    error = "unknown command '" + word + "'";
    return false;
}
