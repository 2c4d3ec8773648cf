#pragma once

#include <string>

// Faults injected on request, each for the next `count` answers (of any unit).
struct Faults
{
    int silence = 0;  // no answer at all
    int badCrc = 0;   // the answer with a corrupt check sum
    int shortAnswer = 0; // only the first half of the answer
    int extraBytes = 0;  // the answer followed by bytes nobody asked for
    int delayed = 0;     // the answer after delayMs
    int delayMs = 0;
    int vanishMs = 0;    // > 0: the link goes away now for this long
    int ignoreWrites = 0; // writes answered as done but not carried out (a write-protected meter)
    bool paced = false;  // bytes at the wire rate of the line's settings

    // One command line: "silence N", "crc N", "short N", "extra N", "ignore N", "delay MS N",
    // "vanish MS", "pace on|off", "clear". Returns false with `error` set for anything else.
    bool apply(const std::string& line, std::string& error);
};
