// flowsim: MODBUS RTU flow meters behind a pseudo-terminal, for trying and testing Corvane
// without hardware. See docs/flowmeter.md for the register map and the control commands.
#include "Faults.h"
#include "LineSettings.h"
#include "Link.h"
#include "MeterModelLoader.h"
#include "ModbusEngine.h"
#include "Tap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t quit = 0;

void onSignal(int)
{
    quit = 1;
}

int64_t nowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

double now()
{
    return double(nowUs()) / 1e6;
}

void sleepUntil(double t)
{
    timespec ts;
    ts.tv_sec = time_t(t);
    ts.tv_nsec = long((t - double(ts.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !quit) {
    }
}

// Named as it was called: "flowsim" in a build, "corvane-flowsim" once installed.
std::string programName(const char* argv0)
{
    const std::string path = argv0 ? argv0 : "flowsim";
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void usage(FILE* to, const std::string& name)
{
    fprintf(to,
            "usage: %s [--ids 1,2,3] [--model [ID=]FILE]... [--link PATH] [--control PATH] [--baud N]\n"
            "               [--data-bits 7|8] [--parity none|even|odd] [--stop-bits 1|2] [--pace]\n"
            "               [--tap FILE] [--monitor PATH] [-v]\n"
            "       %s --help | --version\n"
            "  --ids LIST      unit ids that answer (1..247), default 1\n"
            "  --model FILE    the meters serve the meter model of FILE (docs/meter-models.md)\n"
            "                  instead of the built-in FM-1 register map\n"
            "  --model ID=FILE unit ID alone serves it (one of --ids; may be given for several\n"
            "                  ids); the ids without a model of their own serve --model FILE,\n"
            "                  else FM-1\n"
            "  --link PATH     keep a symbolic link to the terminal the host should open\n"
            "  --control PATH  a named pipe for commands: silence N, crc N, short N, extra N,\n"
            "                  ignore N, delay MS N, vanish MS, pace on|off, clear,\n"
            "                  set ID REG VALUE|off, seti ID REG VALUE|off, setf ID REG FLOAT|off\n"
            "  --baud N        the meters' rate: 1200, 2400, 4800, 9600, 19200, 38400, 57600,\n"
            "                  115200 or 230400 (default 9600)\n"
            "  --data-bits N   7 or 8 (default 8; MODBUS RTU itself needs 8)\n"
            "  --parity P      none, even or odd (default none)\n"
            "  --stop-bits N   1 or 2 (default 1)\n"
            "                  A request from a host whose end of the terminal is set to another\n"
            "                  rate or stop bits goes unanswered, as a meter on the wrong rate\n"
            "                  hears only noise; it is checked on every request. Data bits and\n"
            "                  parity are compared only where the terminal keeps them (Linux\n"
            "                  pseudo-terminals force 8 data bits and no parity).\n"
            "  --pace          bytes at the wire rate of these settings: (1 start + data + parity\n"
            "                  + stop bits) / baud each, 1.04 ms at 9600 8N1, and a silence of\n"
            "                  3.5 characters (at least 1.75 ms) before each answer\n"
            "  --tap FILE      append one line per request frame received, flushed at once:\n"
            "                  \"START_US END_US LENGTH FUNCTION\", the CLOCK_MONOTONIC times in\n"
            "                  microseconds at which its first and last byte arrived, its\n"
            "                  length in bytes and its function code\n"
            "  --monitor PATH  a second terminal onto the same meters, its symbolic link at PATH:\n"
            "                  an independent MODBUS master (a test's, a commissioning tool's)\n"
            "                  reads what the host reads at the same moment. The faults of\n"
            "                  --control, the line check, pacing, the tap and -v are the\n"
            "                  first terminal's only\n"
            "  -v              one line per request and answer\n"
            "  -h, --help      this text\n"
            "  --version       the version\n",
            name.c_str(), name.c_str());
}

// A value-taking option's value, or a message and false when it is the last argument.
bool valueOf(int argc, char* argv[], int& i, std::string& value)
{
    if (i + 1 >= argc) {
        fprintf(stderr, "flowsim: %s needs a value\n", argv[i]);
        return false;
    }
    value = argv[++i];
    return true;
}

bool parseIds(const std::string& text, std::vector<int>& ids)
{
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        char* end = nullptr;
        const long id = strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || id < 1 || id > 247)
            return false;
        ids.push_back(int(id));
    }
    return !ids.empty();
}

// "--model FILE" or "--model ID=FILE": the id (0 for every id) and the file.
bool parseModelOption(const std::string& text, int& id, std::string& file)
{
    id = 0;
    file = text;
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || text.find_first_not_of("0123456789") != eq)
        return !text.empty();
    const long n = strtol(text.substr(0, eq).c_str(), nullptr, 10);
    if (eq > 3 || n < 1 || n > 247)
        return false;
    id = int(n);
    file = text.substr(eq + 1);
    return !file.empty();
}

void writeAll(int fd, const uint8_t* data, size_t n, bool paced, double charSeconds)
{
    double next = now();
    for (size_t i = 0; i < n;) {
        const size_t chunk = paced ? 1 : n - i;
        if (paced) {
            next += charSeconds;
            sleepUntil(next);
        }
        const ssize_t w = write(fd, data + i, chunk);
        if (w > 0) {
            i += size_t(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 10);
        } else {
            return;
        }
    }
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char b[4];
    for (uint8_t c : bytes) {
        snprintf(b, sizeof b, "%02X ", c);
        s += b;
    }
    return s;
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<int> ids;
    std::map<int, std::string> modelFiles; // id -> file; 0 for the ids without one of their own
    std::string linkPath, controlPath, tapPath, monitorPath;
    Faults faults;
    LineSettings line;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string value;
        if (a == "--baud" || a == "--data-bits" || a == "--parity" || a == "--stop-bits") {
            if (!valueOf(argc, argv, i, value))
                return 2;
            const bool ok = a == "--baud"        ? line.setBaud(value)
                            : a == "--data-bits" ? line.setDataBits(value)
                            : a == "--parity"    ? line.setParity(value)
                                                 : line.setStopBits(value);
            if (!ok) {
                fprintf(stderr, "flowsim: %s %s: the meters take %s\n", a.c_str(), value.c_str(),
                        a == "--baud"        ? LineSettings::baudList()
                        : a == "--data-bits" ? "7 or 8"
                        : a == "--parity"    ? "none, even or odd"
                                             : "1 or 2");
                return 2;
            }
        } else if (a == "--model") {
            if (!valueOf(argc, argv, i, value))
                return 2;
            int id = 0;
            std::string file;
            if (!parseModelOption(value, id, file)) {
                fprintf(stderr, "flowsim: --model %s: give a model file, or ID=FILE with a unit id from 1 to 247\n",
                        value.c_str());
                return 2;
            }
            if (modelFiles.count(id)) {
                fprintf(stderr, "flowsim: --model %s: %s has a model already\n", value.c_str(),
                        id ? ("unit " + std::to_string(id)).c_str() : "every unit");
                return 2;
            }
            modelFiles[id] = file;
        } else if (a == "--tap") {
            if (!valueOf(argc, argv, i, tapPath))
                return 2;
        } else if (a == "--monitor") {
            if (!valueOf(argc, argv, i, monitorPath))
                return 2;
        } else if (a == "--ids" && i + 1 < argc) {
            if (!parseIds(argv[++i], ids)) {
                fprintf(stderr, "flowsim: unit ids are numbers from 1 to 247, separated by commas\n");
                return 2;
            }
        } else if (a == "--link" && i + 1 < argc) {
            linkPath = argv[++i];
        } else if (a == "--control" && i + 1 < argc) {
            controlPath = argv[++i];
        } else if (a == "--pace") {
            faults.paced = true;
        } else if (a == "-v") {
            verbose = true;
        } else if (a == "-h" || a == "--help") {
            usage(stdout, programName(argv[0]));
            return 0;
        } else if (a == "--version") {
            printf("%s %s\n", programName(argv[0]).c_str(), FLOWSIM_VERSION);
            return 0;
        } else {
            usage(stderr, programName(argv[0]));
            return 2;
        }
    }
    if (ids.empty())
        ids.push_back(1);

    // Every model is read before anything is opened: a bad file stops the simulator with the
    // loader's own account of it.
    std::map<int, MeterModel> models;
    std::map<std::string, MeterModel> loaded;
    for (const auto& [id, file] : modelFiles) {
        if (id && std::find(ids.begin(), ids.end(), id) == ids.end()) {
            fprintf(stderr, "flowsim: --model %d=%s: unit %d is not among the ids that answer (--ids)\n", id,
                    file.c_str(), id);
            return 2;
        }
        if (!loaded.count(file)) {
            ModelProblem problem;
            const std::optional<MeterModel> model =
                MeterModelLoader::parseFile(QString::fromLocal8Bit(file.c_str()), &problem);
            if (!model) {
                fprintf(stderr, "flowsim: %s\n", problem.text().toLocal8Bit().constData());
                return 2;
            }
            loaded[file] = *model;
        }
    }
    for (int id : ids) {
        const auto own = modelFiles.find(id);
        const auto all = modelFiles.find(0);
        if (own != modelFiles.end())
            models[id] = loaded[own->second];
        else if (all != modelFiles.end())
            models[id] = loaded[all->second];
    }

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ModbusEngine engine(ids, models);
    if (!engine.ok())
        return 1;
    Tap tap;
    if (!tapPath.empty() && !tap.open(tapPath))
        return 1;
    Link link(linkPath, line);
    if (!link.open())
        return 1;
    Link monitor(monitorPath, line);
    if (!monitorPath.empty() && !monitor.open())
        return 1;

    int control = -1;
    if (!controlPath.empty()) {
        // A pipe left by an earlier run is replaced; anything else at that path is not ours.
        struct stat st;
        if (lstat(controlPath.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode)) {
            fprintf(stderr, "flowsim: %s exists and is not a named pipe; not replacing it\n", controlPath.c_str());
            return 1;
        }
        unlink(controlPath.c_str());
        if (mkfifo(controlPath.c_str(), 0600) != 0) {
            fprintf(stderr, "flowsim: cannot make the control pipe %s: %s\n", controlPath.c_str(), strerror(errno));
            return 1;
        }
        // Read and write, so that the pipe never reports an end when a writer goes away.
        control = open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }

    std::string idList;
    for (int id : ids)
        idList += (idList.empty() ? "" : ",") + std::to_string(id);
    printf("flowsim: unit ids %s on %s\n", idList.c_str(), link.terminalPath().c_str());
    for (const auto& [id, model] : models)
        printf("flowsim: unit %d is a %s (%s)\n", id, model.name().toLocal8Bit().constData(),
               model.sourcePath.toLocal8Bit().constData());
    if (!linkPath.empty())
        printf("flowsim: link %s -> %s\n", linkPath.c_str(), link.terminalPath().c_str());
    if (monitor.isOpen())
        printf("flowsim: monitor %s -> %s\n", monitorPath.c_str(), monitor.terminalPath().c_str());
    if (!link.carriesFraming() && (verbose || line.dataBits != 8 || line.parity != 'N'))
        printf("flowsim: the terminal forces 8 data bits and no parity on the host's end; "
               "only the host's rate and stop bits are compared\n");
    printf("flowsim: open %s at %s%s\n", link.hostPath().c_str(), line.text().c_str(),
           faults.paced ? " (paced at the wire rate)" : "");
    fflush(stdout);

    std::vector<uint8_t> rx;
    std::vector<int64_t> rxUs; // when each byte of `rx` arrived
    bool unheard = false; // the host's line differed at the last request
    double wireFree = 0;  // paced: when our last answer left the wire
    double backAt = 0; // while vanished: when the link comes back
    std::string controlLine;
    std::vector<uint8_t> monitorRx;
    double monitorLast = 0; // when the monitor's last byte arrived
    const double start = now();

    while (!quit) {
        pollfd fds[3];
        int n = 0;
        if (link.isOpen())
            fds[n++] = {link.fd(), POLLIN, 0};
        if (control >= 0)
            fds[n++] = {control, POLLIN, 0};
        if (monitor.isOpen())
            fds[n++] = {monitor.fd(), POLLIN, 0};
        // Wake for the meters' tick, a frame's closing silence, or the link's return.
        poll(fds, nfds_t(n), rx.empty() && monitorRx.empty() ? 100 : 2);
        const double t = now();
        engine.tick(t - start);

        // The monitor's requests: answered at once from the same meters, no fault applied.
        if (monitor.isOpen()) {
            uint8_t buf[512];
            ssize_t got;
            while ((got = read(monitor.fd(), buf, sizeof buf)) > 0) {
                monitorRx.insert(monitorRx.end(), buf, buf + got);
                monitorLast = now();
            }
            while (!monitorRx.empty()) {
                const bool silent = now() - monitorLast > line.frameGapSeconds() + 0.002;
                int len = ModbusEngine::requestLength(monitorRx.data(), int(monitorRx.size()));
                if (len <= 0 || len > int(monitorRx.size()))
                    len = silent ? int(monitorRx.size()) : 0;
                if (len <= 0)
                    break;
                const std::vector<uint8_t> answer = engine.answer(monitorRx.data(), len, now() - start);
                monitorRx.erase(monitorRx.begin(), monitorRx.begin() + len);
                if (!answer.empty())
                    writeAll(monitor.fd(), answer.data(), answer.size(), false, line.charSeconds());
            }
        }

        if (!link.isOpen() && backAt > 0 && t >= backAt) {
            backAt = 0;
            if (link.open()) {
                printf("flowsim: back on %s\n", link.terminalPath().c_str());
                fflush(stdout);
            }
        }

        if (control >= 0) {
            char buf[256];
            ssize_t got;
            while ((got = read(control, buf, sizeof buf)) > 0)
                controlLine.append(buf, size_t(got));
            size_t eol;
            while ((eol = controlLine.find('\n')) != std::string::npos) {
                const std::string line = controlLine.substr(0, eol);
                controlLine.erase(0, eol + 1);
                if (line.empty())
                    continue;
                std::string error;
                int id = 0, reg = 0;
                char extra = 0;
                if (line.rfind("set ", 0) == 0 || line.rfind("seti ", 0) == 0) {
                    // "set ID REG VALUE": a master's write, e.g. "set 1 13 50" lowers unit 1's
                    // flow limit to 5.0 m3/h. "seti" places a model meter's input register. On a
                    // model meter a word outside its writable values stays until "... off".
                    const bool input = line[3] == 'i';
                    char text[16] = {0};
                    bool ok = sscanf(line.c_str() + (input ? 5 : 4), "%d %d %15s %c", &id, &reg, text, &extra) == 3;
                    const bool release = ok && strcmp(text, "off") == 0;
                    char* end = nullptr;
                    const long v = release ? 0 : strtol(text, &end, 10);
                    ok = ok && (release || (end != text && *end == 0 && v >= 0 && v <= 0xFFFF)) &&
                         (input ? engine.setInputRegister(id, reg, uint16_t(v), release)
                                : engine.setRegister(id, reg, uint16_t(v), release));
                    printf("flowsim: %s\n", ok ? line.c_str()
                                               : input ? "seti needs a model meter's unit, an input register and a value 0..65535 or off"
                                                       : "set needs a known unit, a register and a value 0..65535");
                    fflush(stdout);
                    continue;
                }
                if (line.rfind("setf ", 0) == 0) {
                    // "setf ID REG FLOAT": the meter serves FLOAT (nan, inf, -inf, 3e38 too) as
                    // its flow (0), totalizer (2) or temperature (4) until "setf ID REG off"; a
                    // model meter as its holding-register value at REG, in the value's unit.
                    char text[64] = {0};
                    bool ok = sscanf(line.c_str(), "setf %d %d %63s %c", &id, &reg, text, &extra) == 3;
                    const bool release = ok && strcmp(text, "off") == 0;
                    char* end = nullptr;
                    const double f = release ? 0.0 : strtod(text, &end);
                    ok = ok && (release || (end != text && *end == 0)) && engine.holdFloat(id, reg, f, release);
                    printf("flowsim: %s\n", ok ? line.c_str()
                                               : "setf needs a known unit, register 0, 2 or 4 and a float or off");
                    fflush(stdout);
                    continue;
                }
                if (faults.apply(line, error))
                    printf("flowsim: %s\n", line.c_str());
                else
                    printf("flowsim: %s\n", error.c_str());
                fflush(stdout);
                if (faults.vanishMs > 0) {
                    link.close();
                    rx.clear();
                    rxUs.clear();
                    printf("flowsim: gone for %d ms\n", faults.vanishMs);
                    fflush(stdout);
                    backAt = now() + faults.vanishMs / 1000.0;
                    faults.vanishMs = 0;
                }
            }
        }

        if (link.isOpen()) {
            uint8_t buf[512];
            ssize_t got;
            while ((got = read(link.fd(), buf, sizeof buf)) > 0) {
                rx.insert(rx.end(), buf, buf + got);
                rxUs.insert(rxUs.end(), size_t(got), nowUs());
            }
        }

        // Cut frames off the front of what arrived: by length where the function code tells
        // it, else at a silence of more than 3.5 characters.
        while (!rx.empty() && link.isOpen()) {
            int len = ModbusEngine::requestLength(rx.data(), int(rx.size()));
            const bool silent = now() - double(rxUs.back()) / 1e6 > line.frameGapSeconds() + 0.002;
            if (len < 0 || (len == 0 && silent) || (len > int(rx.size()) && silent))
                len = silent ? int(rx.size()) : 0;
            if (len <= 0 || len > int(rx.size()))
                break;
            std::vector<uint8_t> frame(rx.begin(), rx.begin() + len);
            rx.erase(rx.begin(), rx.begin() + len);
            const int64_t startUs = rxUs.front(), endUs = rxUs[size_t(len) - 1];
            rxUs.erase(rxUs.begin(), rxUs.begin() + len);
            tap.frame(startUs, endUs, len, len > 1 ? frame[1] : 0);

            // Asked on every request, so a host that puts its line right is heard again at once.
            LineSettings host;
            const std::string differs = link.hostLine(host) ? line.mismatch(host, link.carriesFraming()) : "";
            if (differs.empty() == unheard) {
                unheard = !differs.empty();
                if (unheard)
                    printf("flowsim: the host's line differs from the meters' %s (%s): requests go unheard\n",
                           line.text().c_str(), differs.c_str());
                else
                    printf("flowsim: the host's line matches the meters' %s again\n", line.text().c_str());
                fflush(stdout);
            }
            if (unheard) {
                // What a meter on another rate takes in is noise: no answer, no write carried
                // out, no fault used up.
                if (verbose) {
                    printf("flowsim: <- %s\nflowsim: -> (not heard: host at %s)\n", hex(frame).c_str(),
                           differs.c_str());
                    fflush(stdout);
                }
                continue;
            }

            // The request's own time on the wire, then the turn-around silence. A request that
            // came in while we were still answering could not have started before we were done.
            if (faults.paced)
                sleepUntil(std::max(double(startUs) / 1e6, wireFree) + len * line.charSeconds() +
                           line.frameGapSeconds());
            const bool isWrite = len > 1 && (frame[1] == 5 || frame[1] == 6 || frame[1] == 15 || frame[1] == 16);
            const bool ignored = isWrite && faults.ignoreWrites > 0;
            std::vector<uint8_t> answer = engine.answer(frame.data(), len, now() - start, !ignored);
            if (ignored && !answer.empty())
                faults.ignoreWrites--;
            const char* what = ignored ? " (write ignored)" : "";
            if (!answer.empty()) {
                if (faults.silence > 0) {
                    faults.silence--;
                    answer.clear();
                    what = " (silence)";
                } else if (faults.badCrc > 0) {
                    faults.badCrc--;
                    answer.back() ^= 0x5A;
                    what = " (corrupt check sum)";
                } else if (faults.shortAnswer > 0) {
                    faults.shortAnswer--;
                    answer.resize(answer.size() / 2);
                    what = " (short)";
                } else if (faults.extraBytes > 0) {
                    faults.extraBytes--;
                    answer.insert(answer.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x00});
                    what = " (extra bytes)";
                }
                if (faults.delayed > 0) {
                    faults.delayed--;
                    sleepUntil(now() + faults.delayMs / 1000.0);
                }
            }
            if (verbose) {
                printf("flowsim: <- %s\nflowsim: -> %s%s\n", hex(frame).c_str(), hex(answer).c_str(), what);
                fflush(stdout);
            }
            if (!answer.empty())
                writeAll(link.fd(), answer.data(), answer.size(), faults.paced, line.charSeconds());
            wireFree = now();
        }
    }

    link.close();
    monitor.close();
    if (control >= 0) {
        close(control);
        unlink(controlPath.c_str());
    }
    printf("flowsim: stopped\n");
    return 0;
}
