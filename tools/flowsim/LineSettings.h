#pragma once

#include <string>

#include <termios.h>

// The character frame and rate of a serial line: what a meter is set to and what the host's
// end of the terminal is set to. A meter hears only a host whose line matches its own.
class LineSettings
{
public:
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // 'N', 'E' or 'O'
    int stopBits = 1;

    // Each takes an option's text; false (and nothing changed) for a value the meter lacks.
    bool setBaud(const std::string& text);
    bool setDataBits(const std::string& text);
    bool setParity(const std::string& text);
    bool setStopBits(const std::string& text);

    // Start bit, data bits, parity bit and stop bits of one character.
    int frameBits() const;
    double charSeconds() const;
    // The silence that ends a frame: 3.5 characters, but no less than 1.75 ms above 19200
    // baud, where the character time would shrink it below what a UART driver can keep.
    double frameGapSeconds() const;
    // "9600 8N1"
    std::string text() const;

    // Written into a terminal's settings (raw mode; the rest of `t` is left alone).
    void applyTo(termios& t) const;
    // The line a terminal's settings describe; `baud` is 0 for a rate not in the list.
    static LineSettings from(const termios& t);

    // What of `host` a meter set to *this cannot hear, as "rate 19200, stop bits 2"; empty when
    // they match. Data bits and parity take part only when `framingVisible`: a Linux
    // pseudo-terminal forces 8 data bits and no parity on whatever the host sets.
    std::string mismatch(const LineSettings& host, bool framingVisible) const;

    static const char* baudList();
};
