#pragma once

#include <cstdint>
#include <string>

// How a serial line is framed: rate, data bits, parity and stop bits. A plain value that the
// port, the registry, plug-ins and their settings pass around; the terminal layer turns it into
// the device's own settings.
class cLineSettings
{
public:
    cLineSettings() = default;
    cLineSettings(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);

    // The rates a port can be opened at: 1200 to 115200, and 230400.
    static bool isStandardRate(uint32_t baud);
    // True when every figure is one a port can be opened with; otherwise `why` says which is not.
    bool valid(std::string* why = nullptr) const;

    // Bits of one character on the wire: start, data, parity, stop.
    int frameBits() const;
    // The time one character takes on the wire, in microseconds.
    double characterUs() const;
    // The shortest time to handle one character, as the port logs it and its dumps multiply.
    double handlingTimeMs() const;
    // The silence a MODBUS RTU line needs between two frames: 3.5 characters, and a fixed
    // 1750 us above 19200 baud, where 3.5 characters would ask more of a receiver's timer than
    // the line needs.
    uint32_t interFrameSilenceUs() const;
    // The request delay (whole milliseconds) that gives at least that silence under the host's
    // delay rule, which waits `delay` ms after the last transaction and then at least 1 ms more.
    unsigned short requestDelayMs() const;

    // The port's and the terminal layer's fields keep the Win32 codes: parity 0 none, 1 odd,
    // 2 even; stop bits 0 one, 2 two. One place turns them into a line and back.
    static cLineSettings fromCodes(uint32_t baud, uint8_t dataBits, uint8_t parityCode, uint8_t stopBitsCode);
    uint8_t parityCode() const { return parity == 'O' ? 1 : parity == 'E' ? 2 : 0; }
    uint8_t stopBitsCode() const { return stopBits == 2 ? 2 : 0; }

    // "19200 8E1"; parse() takes the same form back.
    std::string text() const;
    static bool parse(const std::string& text, cLineSettings* out);

    bool operator==(const cLineSettings& o) const
    {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity && stopBits == o.stopBits;
    }
    bool operator!=(const cLineSettings& o) const { return !(*this == o); }

    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    char parity = 'N'; // 'N', 'E' or 'O'
    uint8_t stopBits = 1;
};
