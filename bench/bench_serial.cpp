// A MODBUS read of 2 registers through cSerial::transaction, against libmodbus's own
// modbus_read_registers on the same pseudo-terminal link to the same libmodbus server, first
// unpaced and then paced at the 9600-baud wire rate (0.96 ms per byte).
//
// The host's cost is what a transaction takes beyond the round trip itself (a bare write and
// read of the same frames on the same link, without any library) and beyond the sleeps that
// the delay rule mandates before each transaction (a bare loop of those sleeps, same run).
#include "BenchShort.h"
#include "ModbusRtuServer.h"
#include "PtyLink.h"
#include "serial/cSerial.h"

#include <modbus/modbus.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "MandatedSleeps.h"
#include "ModbusCrc.h"
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Figures
{
    double msPer = 0;
    // Standard error of msPer, from the spread of the single transactions.
    double seMs = 0;
    int wrong = 0;
    // From the end of the handler (the record's `finished`) to the caller having the answer.
    double handOverUs = 0;
};

// Times each call of `once` and fills in the average and its standard error.
template <typename F> void timeEach(Figures& f, int n, F once)
{
    double sum = 0, sumSq = 0;
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        if (!once())
            f.wrong++;
        const double ms = msSince(t0);
        sum += ms;
        sumSq += ms * ms;
    }
    f.msPer = sum / n;
    const double var = n > 1 ? (sumSq - sum * sum / n) / (n - 1) : 0;
    f.seMs = var > 0 ? std::sqrt(var / n) : 0;
}

// The round trip alone: the request written and the 9-byte answer read with plain calls.
Figures bareRoundTrip(const std::string& path, int n, const Bytes& request, const Bytes& expected)
{
    Figures f;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        f.wrong = n;
        if (fd >= 0)
            close(fd);
        return f;
    }
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const auto once = [&] {
        if (write(fd, request.data(), request.size()) != ssize_t(request.size()))
            return false;
        Bytes got(expected.size());
        size_t have = 0;
        while (have < got.size()) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                return false;
            const ssize_t k = read(fd, got.data() + have, got.size() - have);
            if (k <= 0)
                return false;
            have += size_t(k);
        }
        return got == expected;
    };
    for (int i = 0; i < 20; ++i)
        once();
    timeEach(f, n, once);
    close(fd);
    return f;
}

Figures throughHost(const std::string& path, int n, const Bytes& expected)
{
    FILE* quiet = fopen("/dev/null", "w");
    Figures f;
    {
        cSerial port("BENCH", quiet, stderr);
        if (!port.open(path)) {
            f.wrong = n;
        } else {
            const Bytes request = withModbusCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
            Bytes reply;
            for (int i = 0; i < 20; ++i)
                port.transaction(request, reply, 9, 0, 0, 200, nullptr, 1);
            double handOver = 0;
            timeEach(f, n, [&] {
                unsigned short ticket = 0;
                if (port.transaction(request, reply, 9, 0, 0, 200, &ticket, 1) != 1 || reply != expected)
                    return false;
                handOver +=
                    double(cTimeStamp::now().toMicroseconds() - port.buffers[ticket].finished.toMicroseconds());
                return true;
            });
            f.handOverUs = handOver / n;
        }
    }
    fclose(quiet);
    return f;
}

Figures throughLibmodbus(const std::string& path, int n)
{
    Figures f;
    modbus_t* ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
    if (!ctx || modbus_connect(ctx) != 0) {
        f.wrong = n;
        if (ctx)
            modbus_free(ctx);
        return f;
    }
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 200000);
    uint16_t regs[2];
    for (int i = 0; i < 20; ++i)
        modbus_read_registers(ctx, 0, 2, regs);
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        if (modbus_read_registers(ctx, 0, 2, regs) != 2 || regs[0] != 0x1234 || regs[1] != 0xABCD)
            f.wrong++;
    }
    f.msPer = msSince(t0) / n;
    modbus_close(ctx);
    modbus_free(ctx);
    return f;
}

// False when nothing could be measured.
bool run(const char* title, int usPerByte, int n)
{
    PtyLink link(usPerByte);
    ModbusRtuServer server(link.peerPath());
    server.setRegister(0, 0x1234);
    server.setRegister(1, 0xABCD);
    if (!link.ok() || !server.start()) {
        printf("%s: could not set up the link and the server\n", title);
        return false;
    }
    const Bytes expected = withModbusCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0xAB, 0xCD});
    const Figures host = throughHost(link.hostPath(), n, expected);
    // Measured next to the transactions, so that both see the same load on the machine.
    const double mandated = mandatedSleepsMs(500);
    const Figures reference = throughLibmodbus(link.hostPath(), n);
    const Figures bare = bareRoundTrip(link.hostPath(), n, withModbusCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}), expected);
    server.stop();

    printf("%s, %d reads of 2 registers each:\n", title, n);
    printf("  cSerial::transaction     %8.1f transactions/s   %7.3f ms average%s\n", 1000.0 / host.msPer, host.msPer,
           host.wrong ? "   (WRONG ANSWERS)" : "");
    printf("  modbus_read_registers    %8.1f transactions/s   %7.3f ms average%s\n", 1000.0 / reference.msPer,
           reference.msPer, reference.wrong ? "   (WRONG ANSWERS)" : "");
    printf("  throughput ratio cSerial/libmodbus   %.3f\n", reference.msPer / host.msPer);
    printf("  bare round trip on the link          %.3f ms (write and read, no library)\n", bare.msPer);
    printf("  mandated sleeps per transaction      %.3f ms (bare loop, same run)\n", mandated);
    // The paced figure is the difference of two periods of some 17 ms each: its standard error
    // says how far it can be trusted.
    printf("  host cost above round trip and sleeps %.3f ms +- %.3f ms (standard error) per transaction "
           "(aim: under 0.3 ms)\n",
           host.msPer - bare.msPer - mandated, std::sqrt(host.seMs * host.seMs + bare.seMs * bare.seMs));
    printf("  answer handed to the caller          %.1f us after the handler ended (average)\n", host.handOverUs);
    if (host.wrong || reference.wrong || bare.wrong)
        printf("  wrong or missing answers: cSerial %d, libmodbus %d, bare %d\n", host.wrong, reference.wrong,
               bare.wrong);
    printf("\n");
    fflush(stdout);
    return true;
}

} // namespace

int main()
{
    const bool unpaced = run("Unpaced pseudo-terminal link", 0, benchShortOr(3000, 1000));
    const bool paced = run("Link paced at 9600 baud (0.96 ms per byte)", 960, benchShortOr(400, 100));
    return unpaced && paced ? 0 : 1;
}
