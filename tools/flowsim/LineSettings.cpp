#include "LineSettings.h"

#include <cstdlib>

namespace {

struct Rate
{
    int baud;
    speed_t code;
};

constexpr Rate kRates[] = {{1200, B1200},     {2400, B2400},   {4800, B4800},
                           {9600, B9600},     {19200, B19200}, {38400, B38400},
                           {57600, B57600},   {115200, B115200}, {230400, B230400}};

bool number(const std::string& text, long& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    char* end = nullptr;
    value = strtol(text.c_str(), &end, 10);
    return *end == 0 && text[0] >= '0' && text[0] <= '9';
}

speed_t codeOf(int baud)
{
    for (const Rate& r : kRates)
        if (r.baud == baud)
            return r.code;
    return B0;
}

int baudOf(speed_t code)
{
    for (const Rate& r : kRates)
        if (r.code == code)
            return r.baud;
    return 0;
}

} // namespace

bool LineSettings::setBaud(const std::string& text)
{
    long v = 0;
    if (!number(text, v) || codeOf(int(v)) == B0)
        return false;
    baud = int(v);
    return true;
}

bool LineSettings::setDataBits(const std::string& text)
{
    if (text != "7" && text != "8")
        return false;
    dataBits = text[0] - '0';
    return true;
}

bool LineSettings::setParity(const std::string& text)
{
    if (text == "none")
        parity = 'N';
    else if (text == "even")
        parity = 'E';
    else if (text == "odd")
        parity = 'O';
    else
        return false;
    return true;
}

bool LineSettings::setStopBits(const std::string& text)
{
    if (text != "1" && text != "2")
        return false;
    stopBits = text[0] - '0';
    return true;
}

int LineSettings::frameBits() const
{
    return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
}

double LineSettings::charSeconds() const
{
    return double(frameBits()) / double(baud);
}

double LineSettings::frameGapSeconds() const
{
    const double gap = 3.5 * charSeconds();
    return baud > 19200 && gap < 0.00175 ? 0.00175 : gap;
}

std::string LineSettings::text() const
{
    return std::to_string(baud) + " " + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

void LineSettings::applyTo(termios& t) const
{
    cfmakeraw(&t);
    cfsetispeed(&t, codeOf(baud));
    cfsetospeed(&t, codeOf(baud));
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= (dataBits == 7 ? CS7 : CS8) | CREAD | CLOCAL;
    if (parity != 'N')
        t.c_cflag |= PARENB;
    if (parity == 'O')
        t.c_cflag |= PARODD;
    if (stopBits == 2)
        t.c_cflag |= CSTOPB;
}

LineSettings LineSettings::from(const termios& t)
{
    LineSettings s;
    const int out = baudOf(cfgetospeed(&t));
    const speed_t inCode = cfgetispeed(&t);
    // An input rate of 0 means "as the output rate"; a split rate is no rate a meter keeps.
    const int in = inCode == B0 ? out : baudOf(inCode);
    s.baud = in == out ? out : 0;
    s.dataBits = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS8 ? 8 : 0;
    s.parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
}

std::string LineSettings::mismatch(const LineSettings& host, bool framingVisible) const
{
    std::string what;
    auto add = [&what](const std::string& part) { what += (what.empty() ? "" : ", ") + part; };
    if (host.baud != baud)
        add(host.baud ? "rate " + std::to_string(host.baud) : std::string("a rate not in the list"));
    if (framingVisible && host.dataBits != dataBits)
        add("data bits " + std::to_string(host.dataBits));
    if (framingVisible && host.parity != parity)
        add(std::string("parity ") + (host.parity == 'N' ? "none" : host.parity == 'E' ? "even" : "odd"));
    if (host.stopBits != stopBits)
        add("stop bits " + std::to_string(host.stopBits));
    return what;
}

const char* LineSettings::baudList()
{
    return "1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400";
}
