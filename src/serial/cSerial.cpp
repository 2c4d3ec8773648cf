#include "cSerial.h"

#include "../core/cLog.h"
#include "../core/cTimeStamp.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

namespace {

constexpr int kHeaderSize = 7;
// The header takes 7 bytes of the record, but the size check lets 2046 through: the longest
// request that is carried out has 2041 bytes, and 2042..2046 are refused by the queue.
constexpr unsigned kLongestRequest = 2046;
constexpr int kCollectChecks = 500;
// What a caller may have spent in the queue before its transaction began, at most.
constexpr int kCollectMarginMs = 100;

const char kClosingLine[] = "\n\t\t +++++++++++++++++++++++++++++++++++++ \n";

void sleepMs(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Every byte as "%02X ", with a tab after every fourth.
void appendHex(std::string& s, const unsigned char* data, int n)
{
    char b[4];
    for (int i = 0; i < n; ++i) {
        snprintf(b, sizeof b, "%02X ", data[i]);
        s += b;
        if ((i + 1) % 4 == 0)
            s += '\t';
    }
}

// Counts a caller in until the returned guard goes.
std::unique_ptr<std::atomic<int>, void (*)(std::atomic<int>*)> countIn(std::atomic<int>& count)
{
    count.fetch_add(1);
    return {&count, [](std::atomic<int>* c) { c->fetch_sub(1); }};
}

} // namespace

cSerial::cSerial(std::string tagName, FILE* o, FILE* e)
    : cThread(tagName, o, e),
      mode(2),
      requestedBaudRate(9600),
      baudRate(9600),
      byteSize(8),
      frameBits(0),
      frameTime(0.0f),
      parity(0),
      stopBits(1),
      handle(NO_DEVICE),
      users(0)
{
    setOut(o);
    setErr(e);
    debug = false;
    error.owner = this;
    FILE* f = outStream();
    cLog::line(f, "cSerial @ 0x%08X: Version %.01f", id, double(version));
}

cSerial::~cSerial()
{
    close();
}

std::string cSerial::name() const
{
    std::lock_guard<std::mutex> g(nameMutex);
    return portName;
}

cLineSettings cSerial::lineSettings() const
{
    return cLineSettings::fromCodes(baudRate, byteSize, parity, stopBits);
}

bool cSerial::open(const std::string& name)
{
    return open(name, cLineSettings());
}

bool cSerial::open(const std::string& name, const cLineSettings& line)
{
    if (name.empty())
        return false;
    // A second open would lose the descriptor of the first and lock the device against itself.
    if (handle >= 0)
        return false;
    openError = cOpenError();
    std::string problem;
    if (!line.valid(&problem)) {
        openError = cOpenError(cOpenError::BadSettings, problem);
        cLog::line(errStream(), "cSerial @ 0x%08X: Line settings %s refused for %s: %s", id, line.text().c_str(),
                   name.c_str(), problem.c_str());
        return false;
    }

    alive = true;
    {
        std::lock_guard<std::mutex> g(nameMutex);
        portName = name;
    }
    // What failed before this open (a device that went away, an open that failed) is no
    // error of the transactions after it.
    error.code = 0;
    error.message[0] = '\0';
    lateRun = false;
    mode = 2;
    requestedBaudRate = line.baud;
    baudRate = line.baud;
    byteSize = line.dataBits;
    stopBits = line.stopBitsCode();
    frameBits = uint8_t(line.frameBits());
    parity = line.parityCode();
    frameTime = float(line.handlingTimeMs());

    cTerminal::probe(name.c_str());

    // A program that keeps to UUCP lock files (minicom, for one) holds the line without an
    // exclusive mode the open would meet: its lock file is the only sign of it.
    int fd = cTerminal::INVALID_HANDLE;
    if (cOpenError::lockFileHolder(name) != 0)
        cTerminal::setLastError(EBUSY);
    else
        fd = cTerminal::open(name.c_str());
    handle = fd;
    if (fd == cTerminal::INVALID_HANDLE) {
        const int code = cTerminal::lastError();
        openError = cOpenError::diagnose(name, code, false);
        const std::string text = "Open " + name;
        cTerminal::setLastError(code);
        error.report(id, text.c_str(), true);
        return false;
    }

    timeouts.readInterval = 10;
    timeouts.readTotalMultiplier = 1;
    timeouts.readTotalConstant = 10;
    timeouts.writeTotalMultiplier = 1;
    timeouts.writeTotalConstant = 10;
    if (!cTerminal::setTimeouts(fd, timeouts))
        error.report(id, "Setting TX/RX timeouts", true);

    bool configured = cTerminal::setupQueues(fd, TRSC_BUFFER_SIZE, TRSC_BUFFER_SIZE) && cTerminal::getSettings(fd, &dcb);
    if (configured) {
        dcb.baudRate = baudRate;
        dcb.byteSize = byteSize;
        dcb.stopBits = stopBits;
        dcb.parity = parity;
        dcb.ctsOutputFlow = false;
        dcb.dsrOutputFlow = false;
        dcb.dtrAsserted = false;
        dcb.xonXoffOutput = false;
        dcb.xonXoffInput = false;
        dcb.rtsAsserted = false;
        dcb.abortOnError = true;
        configured = cTerminal::setSettings(fd, dcb);
    }
    if (!configured) {
        // The device stays open and the name set: the caller closes the port.
        const int code = cTerminal::lastError();
        openError = cOpenError::diagnose(name, code, true);
        const std::string text = cLog::format(" An error occurred while opening %s (%d,%d,%c,%d)", name.c_str(),
                                              int(line.baud), int(line.dataBits), line.parity, int(line.stopBits));
        cTerminal::setLastError(code);
        error.report(id, text.c_str(), true);
        return false;
    }

    // What the device took, read back: a driver may drop what it lacks (a pseudo-terminal
    // runs 8 data bits without parity whatever it is given). The lines show that; the port
    // keeps the settings it was opened for, which its users share and time the line by.
    cTerminalSettings applied;
    cLineSettings shown = line;
    if (cTerminal::getSettings(fd, &applied) && applied.baudRate != 0)
        shown = cLineSettings::fromCodes(applied.baudRate, applied.byteSize, applied.parity, applied.stopBits);
    frameBits = uint8_t(shown.frameBits());
    frameTime = float(shown.handlingTimeMs());

    FILE* o = outStream();
    cLog::line(o, "cSerial @ 0x%08X: Opened %s (%d,%d,%c,%d)", id, name.c_str(), int(shown.baud),
               int(shown.dataBits), shown.parity, int(shown.stopBits));
    cLog::line(o, "cSerial @ 0x%08X: Frame size is %d bits on %s", id, int(frameBits), name.c_str());
    cLog::line(o, "cSerial @ 0x%08X: Shortest frame handeling time is %.03f ms on %s", id, double(frameTime),
               name.c_str());
    cLog::line(o, "cSerial @ 0x%08X: Flushing TX and RX buffers on %s", id, name.c_str());
    if (shown != line)
        cLog::line(o, "cSerial @ 0x%08X: Line settings %s asked, the device took %s on %s", id, line.text().c_str(),
                   shown.text().c_str(), name.c_str());
    if (!cTerminal::purge(fd))
        error.report(id, "Flush TX/RX buffers", true);

    switch (mode) {
    case 2:
        startHandler(TYPE_TRANSACTION, this, name + " MASTER");
        break;
    case 1:
        startHandler(TYPE_PLAIN, this, name + " SLAVE");
        break;
    case 0:
        startHandler(TYPE_PLAIN, this, name + " LISTENER");
        break;
    default:
        cLog::line(errStream(), "cSerial @ 0x%08X: Unknown thread handler mode '0x%02X' for %s", id, unsigned(mode),
                name.c_str());
        break;
    }
    return true;
}

bool cSerial::close()
{
    // Waiting below for our own thread would never end.
    if (QThread::currentThread() == this)
        return closeFromOwnThread();

    const std::string kept = name();
    // The device and the name are ours only once the thread has confirmed: a port thread that
    // closed the port itself may still be finishing its record.
    stopHandshake([this] { wakeAllWaiters(); });

    bool closed = false;
    {
        std::lock_guard<std::mutex> g(nameMutex);
        const int h = handle;
        if (!portName.empty() && h != NO_DEVICE) {
            cTerminal::close(h);
            handle = NO_DEVICE;
            portName.clear();
            closed = true;
        }
    }
    if (closed && !kept.empty()) {
        FILE* o = outStream();
        cLog::line(o, "cSerial @ 0x%08X: Closed '%s'", id, kept.c_str());
    }
    return closed;
}

void cSerial::dropFailedOpen()
{
    // A failed open never started the thread; anything else gets the whole close.
    if (running || !stopped || isRunning()) {
        close();
        return;
    }
    std::lock_guard<std::mutex> g(nameMutex);
    cTerminal::close(handle);
    handle = NO_DEVICE;
    portName.clear();
}

bool cSerial::closeFromOwnThread()
{
    // The loop ends after this record; `stopped` follows once the handler has returned, so
    // the handshake only asks here.
    stopHandshake([this] { wakeAllWaiters(); });

    std::string former;
    {
        std::lock_guard<std::mutex> g(nameMutex);
        const int h = handle;
        if (!portName.empty() && h != NO_DEVICE) {
            cTerminal::close(h);
            handle = NO_DEVICE;
            former.swap(portName);
        }
    }
    if (former.empty())
        return false;
    FILE* o = outStream();
    cLog::line(o, "cSerial @ 0x%08X: Closed '%s'", id, former.c_str());
    return true;
}

void cSerial::wakeAllWaiters()
{
    std::lock_guard<std::mutex> g(answerMutex);
    for (Waiter* w : waiters) {
        if (w)
            w->wake.notify_one();
    }
}

void cSerial::dump(const char* direction, bool ok, const unsigned char* data, int done, int asked, float elapsed,
                   float expected, bool quiet)
{
    if (quiet)
        return;
    FILE* f;
    const char* label;
    if (!ok) {
        label = "ERROR";
        f = debug ? outStream() : errStream();
    } else {
        if (!debug)
            return;
        label = "DEBUG";
        f = outStream();
    }
    const std::string port = name();
    std::string s = std::strcmp(direction, "TX") == 0
                        ? cLog::format("TX %s %s: Sent %d/%d bytes in %.03f/%.03f ms:\nDATA: ", port.c_str(), label, done,
                                 asked, double(elapsed), double(expected))
                        : cLog::format("RX %s %s: Recv %d/%d bytes in %.03f/%.03f ms:\nDATA: ", port.c_str(), label, done,
                                 asked, double(elapsed), double(expected));
    if (data)
        appendHex(s, data, done);
    s += kClosingLine;
    cLog::text(f, s);
}

bool cSerial::transmit(const unsigned char* data, unsigned short size, float* elapsed, bool quiet)
{
    const auto inside = countIn(callers);
    float internal = -1.0f;
    if (!elapsed)
        elapsed = &internal;
    deviceLost = false;
    const int h = handle;

    // Every request starts with no stale input waiting in the receive queue. What waits there
    // came while no request did: an answer after its request had given up on it.
    const int stale = cTerminal::pending(h);
    if (stale > 0)
        dropLate(size_t(stale), "between requests");
    bool ok = true;
    if (!cTerminal::purge(h)) {
        error.report(id, "Flush TX/RX buffers");
        // A device that is gone fails the write just the same; one report says it.
        if (cTerminal::classify(error.code, false) == cErrorClass::DeviceGone) {
            deviceLost = true;
            ok = false;
        }
    }

    size_t written = 0;
    const cTimeStamp start = cTimeStamp::now();
    if (ok && data == nullptr && size > 0)
        ok = false;
    if (ok && !cTerminal::write(h, data, size, timeouts, &written)) {
        ok = false;
        error.report(id, "TX");
        deviceLost = cTerminal::classify(error.code, false) == cErrorClass::DeviceGone;
    }
    cTerminal::clearErrors(h);
    *elapsed = start.msTo(cTimeStamp::now());

    // A write that ran out of time is judged by `debug`; a write that failed stays failed.
    bool outcome = ok;
    if (ok && written != size)
        outcome = !debug;

    dump("TX", outcome, data, int(written), size, *elapsed, float(size) * frameTime, quiet);
    return outcome;
}

bool cSerial::transmit(const std::vector<unsigned char>& bytes, float* elapsed, bool quiet)
{
    return transmit(bytes.data(), (unsigned short)bytes.size(), elapsed, quiet);
}

bool cSerial::receive(unsigned char* buffer, unsigned short* received, unsigned short count, unsigned short timeout,
                      float* elapsed, bool quiet)
{
    const auto inside = countIn(callers);
    unsigned short localReceived = 0;
    if (!received)
        received = &localReceived;
    *received = 0;
    float internal = -1.0f;
    if (!elapsed)
        elapsed = &internal;
    deviceLost = false;
    const int h = handle;

    const cTimeStamp start = cTimeStamp::now();
    const cTerminalTimeouts kept = timeouts;
    timeouts.readInterval = timeout;
    timeouts.readTotalConstant = timeout;
    timeouts.readTotalMultiplier = 1;

    bool readOk = true;
    if (!cTerminal::setTimeouts(h, timeouts)) {
        error.report(id, "Setting TX/RX timeouts");
    } else if (!buffer) {
        readOk = false;
    } else {
        const size_t n = count == 0 ? 1 : std::min<size_t>(count, TRSC_BUFFER_SIZE);
        size_t got = 0;
        readOk = cTerminal::read(h, buffer, n, timeouts, &got);
        *received = (unsigned short)got;
        if (!readOk) {
            error.report(id, "RX");
            deviceLost = cTerminal::classify(error.code, false) == cErrorClass::DeviceGone;
        }
    }

    timeouts = kept;
    bool outcome = cTerminal::setTimeouts(h, timeouts);
    if (!outcome)
        error.report(id, "Setting TX/RX timeouts");
    // A read that failed is a failure, even when the time-outs could be put back.
    outcome = outcome && readOk;
    *elapsed = start.msTo(cTimeStamp::now());

    if (count == 0) {
        outcome = outcome && !debug;
        if (debug) {
            FILE* o = outStream();
            cLog::line(o, "cSerial @ 0x%08X: RX timeout on %s after %.03f ms", id, name().c_str(), double(*elapsed));
        }
    }

    dump("RX", outcome, buffer, *received, count, *elapsed, float(*received) * frameTime, quiet);
    return outcome && count != 0 && timeout != 0;
}

bool cSerial::receive(std::vector<unsigned char>& bytes, unsigned short count, unsigned short timeout, float* elapsed,
                      bool quiet)
{
    unsigned char buffer[TRSC_BUFFER_SIZE];
    unsigned short received = 0;
    const bool ok = receive(buffer, &received, count, timeout, elapsed, quiet);
    bytes.assign(buffer, buffer + received);
    return ok;
}

unsigned char cSerial::runTransaction(cTransaction* t, void*)
{
    const unsigned char result = execute(t);
    deliver(t, result);
    return result;
}

unsigned char cSerial::execute(cTransaction* r)
{
    const cTimeStamp began = cTimeStamp::now();
    if (handle < 0)
        return TRSC_ERROR;
    // A record without the header was not made by transaction(): there is nothing to send.
    if (r->inputLength < kHeaderSize)
        return TRSC_ERROR;

    const unsigned char* in = r->input;
    const unsigned short count = (unsigned short)((in[0] << 8) | in[1]);
    const unsigned short delay = (unsigned short)((in[2] << 8) | in[3]);
    const unsigned short timeout = (unsigned short)((in[4] << 8) | in[5]);
    const bool quiet = in[6] == 1;
    const uint32_t errorsBefore = error.errorCount;
    const uint32_t lateBefore = lateCount.load();

    if (!transmit(in + kHeaderSize, (unsigned short)(r->inputLength - kHeaderSize), nullptr, quiet)) {
        closeFromOwnThread();
        return TRSC_ERROR;
    }
    // Without an answer length the pause stands between request and answer.
    if (count == 0)
        sleepMs(delay ? delay : 1);

    if (!receive(r->output, &r->outputLength, count, timeout, nullptr, quiet)) {
        // A device that went away is closed like one that refused the request: nothing
        // would ever come from it, and every later request would report it again.
        if (deviceLost)
            closeFromOwnThread();
        return TRSC_ERROR;
    }
    // An answer cut short by the time-out may still come, whole or its rest: it must not wait
    // in the input to be taken as the answer of the next request.
    // The drain stays within what the caller waits for its answer (the collect limit, less a
    // margin for its time in the queue): past it the caller would give up, and report the port,
    // where the meter's short or late answer is the news.
    if (count != 0 && r->outputLength < count) {
        const float spent = began.msTo(cTimeStamp::now());
        const uint32_t budget = uint32_t(std::max(0.0f, float(kCollectChecks - kCollectMarginMs) - spent));
        drainAfterTimeout(handle, r->outputLength > 0, timeout, budget);
    }
    else if (count != 0 && lateCount.load() == lateBefore)
        lateRun = false;

    // Only an error of this transaction is said; one of before was said when it happened.
    const bool failedNow = error.errorCount != errorsBefore && error.code != 0 &&
                           cTerminal::classify(error.code, false) != cErrorClass::Aborted;
    if (!debug && !failedNow)
        return TRSC_OK;
    FILE* f = debug ? outStream() : errStream();
    cLog::line(f, "cSerial @ 0x%08X: Timeout is set to %d ms", id, int(timeout));
    return TRSC_OK;
}

void cSerial::drainAfterTimeout(int h, bool answerBegan, unsigned short timeout, uint32_t budgetMs)
{
    // The line counts as quiet after the silence that ends a frame (3.5 characters). An
    // answer that had begun is given the time-out once more for its rest; a line that never
    // goes quiet is left after that time as well.
    const uint32_t quietMs = std::max<uint32_t>(1, (interFrameSilenceUs() + 999) / 1000);
    const uint32_t longest = std::max<uint32_t>(quietMs, std::min<uint32_t>(timeout, budgetMs));
    const uint32_t firstMs = answerBegan ? longest : quietMs;
    cTerminalTimeouts t;
    t.readInterval = quietMs;
    t.readTotalConstant = firstMs;
    const cTimeStamp start = cTimeStamp::now();
    unsigned char sink[TRSC_BUFFER_SIZE];
    size_t dropped = 0;
    for (;;) {
        size_t got = 0;
        if (!cTerminal::read(h, sink, sizeof sink, t, &got))
            break; // the next transfer finds and reports a device that went away
        dropped += got;
        if (got == 0 || start.msTo(cTimeStamp::now()) >= float(longest))
            break;
        t.readTotalConstant = quietMs;
    }
    if (dropped > 0)
        dropLate(dropped, "after the time-out");
}

void cSerial::dropLate(size_t bytes, const char* when)
{
    const uint32_t total = lateCount.fetch_add(1) + 1;
    if (lateRun.exchange(true))
        return;
    FILE* o = outStream();
    cLog::line(o, "cSerial @ 0x%08X: %s late answer dropped, %d bytes %s (%u in all); the answer time-out may be "
                  "too short",
               id, name().c_str(), int(bytes), when, unsigned(total));
}

void cSerial::deliver(cTransaction* r, unsigned char result)
{
    const ptrdiff_t i = r - buffers;
    if (i < 0 || i >= TRSC_RECORDS)
        return;
    std::lock_guard<std::mutex> g(answerMutex);
    Waiter* w = waiters[i];
    if (!w)
        return;
    waiters[i] = nullptr;
    w->length = r->outputLength;
    if (w->reply && r->outputLength <= TRSC_BUFFER_SIZE)
        memcpy(w->reply, r->output, r->outputLength);
    w->result = result;
    w->done = true;
    // Still under the mutex: once it is released the waiter may return and be gone.
    w->wake.notify_one();
}

unsigned char cSerial::transaction(const unsigned char* request, unsigned short size, unsigned char* reply,
                                   unsigned short* received, unsigned short count, unsigned short delay,
                                   unsigned short, unsigned short timeout, unsigned short* ticket, unsigned char quiet)
{
    return transact(request, size, reply, received, count, delay, std::nullopt, timeout, ticket, quiet);
}

unsigned char cSerial::transaction(const unsigned char* request, unsigned short size, unsigned char* reply,
                                   unsigned short* received, unsigned short count, std::chrono::microseconds delay,
                                   unsigned short, unsigned short timeout, unsigned short* ticket, unsigned char quiet)
{
    // The header's figure is the pause between request and answer of a request without an
    // answer length; an out-of-range delay goes through as it is, for the queue to refuse.
    const int64_t us = delay.count();
    const int64_t ms = us > 0 ? std::min<int64_t>((us + 999) / 1000, UINT16_MAX) : 0;
    return transact(request, size, reply, received, count, (unsigned short)ms, delay, timeout, ticket, quiet);
}

unsigned char cSerial::transact(const unsigned char* request, unsigned short size, unsigned char* reply,
                                unsigned short* received, unsigned short count, unsigned short delay,
                                std::optional<std::chrono::microseconds> delayUs, unsigned short timeout, unsigned short* ticket, unsigned char quiet)
{
    const auto inside = countIn(callers);
    unsigned short localReceived = 0;
    if (!received)
        received = &localReceived;
    *received = 0;

    if (!running) {
        cLog::line(errStream(), "cSerial @ 0x%08X: Transaction thread not running on %s", id, name().c_str());
        return 0;
    }
    if (size > kLongestRequest) {
        std::string s = cLog::format("cSerial @ 0x%08X: WARNING! %s Transaction buffer overflow (%d+2/%d bytes)\n", id,
                               name().c_str(), int(size), TRSC_BUFFER_SIZE);
        s += cLog::format("INPUT @ %p DATA (%d bytes): ", static_cast<const void*>(request), int(size));
        if (request)
            appendHex(s, request, size);
        s += kClosingLine;
        cLog::text(debug ? outStream() : errStream(), s);
        return 0;
    }
    if (!request && size > 0) {
        cLog::line(errStream(), "cThread @ 0x%08X: %s thread -> NULL pointer or no input data to handle", id,
                                     tag.c_str());
        return 0;
    }

    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size + kHeaderSize]);
    if (!block)
        return 0;
    block[0] = (unsigned char)(count >> 8);
    block[1] = (unsigned char)(count & 0xFF);
    block[2] = (unsigned char)(delay >> 8);
    block[3] = (unsigned char)(delay & 0xFF);
    block[4] = (unsigned char)(timeout >> 8);
    block[5] = (unsigned char)(timeout & 0xFF);
    block[6] = quiet;
    if (size)
        memcpy(block.get() + kHeaderSize, request, size);

    Waiter me;
    me.reply = reply;
    short placed;
    {
        std::lock_guard<std::mutex> g(answerMutex);
        const char* data = reinterpret_cast<const char*>(block.get());
        placed = delayUs ? addTransactionOfLength(data, size + kHeaderSize, *delayUs)
                         : addTransaction(data, (unsigned short)(size + kHeaderSize), delay);
        if (placed >= 0)
            waiters[placed] = &me;
    }
    const unsigned short tk = (unsigned short)placed;
    if (ticket)
        *ticket = tk;

    // Collecting the answer.
    const char* refusal = nullptr;
    if (!running)
        refusal = "cThread @ 0x%08X: %s thread -> Thread not running";
    else if (type != TYPE_TRANSACTION)
        refusal = "cThread @ 0x%08X: %s thread -> Not a transaction thread";
    if (refusal || tk >= TRSC_RECORDS) {
        if (placed >= 0)
            abandon(placed, me);
        if (refusal)
            cLog::line(errStream(), refusal, id, tag.c_str());
        else
            cLog::line(errStream(), "cThread @ 0x%08X: %s thread -> Ticket %d/%d not found", id,
                                         tag.c_str(), int(tk), TRSC_RECORDS);
        return 255;
    }

    bool gaveUp = false;
    {
        std::unique_lock<std::mutex> lk(answerMutex);
        for (int checks = 1; !me.done; ++checks) {
            if (!alive || checks >= kCollectChecks) {
                gaveUp = true;
                break;
            }
            // Wakes as soon as the answer is stored or the port stops; otherwise after 1 ms,
            // which is one check.
            me.wake.wait_for(lk, std::chrono::milliseconds(1), [&] { return me.done || !alive; });
        }
    }
    if (gaveUp) {
        abandon(placed, me);
        cLog::line(stderr, "cThread @ getoutput for %s failed", tag.c_str());
        sleepMs(1);
        return TRSC_ERROR;
    }

    if (me.length > TRSC_BUFFER_SIZE) {
        cLog::line(errStream(), "\ncThread @ 0x%08X: %s thread -> getOutput() buffer overflow (recv: %d and max is %d bytes)",
                        id, tag.c_str(), int(me.length), TRSC_BUFFER_SIZE);
    } else if (reply) {
        *received = me.length;
    }
    settle(buffers[placed], me.result);
    return me.result;
}

unsigned char cSerial::transaction(const std::vector<unsigned char>& requestBytes,
                                   std::vector<unsigned char>& replyBytes, unsigned short count, unsigned short delay,
                                   unsigned short reserved, unsigned short timeout, unsigned short* ticket,
                                   unsigned char quiet)
{
    unsigned char reply[TRSC_BUFFER_SIZE];
    unsigned short received = 0;
    const unsigned char result = transaction(requestBytes.data(), (unsigned short)requestBytes.size(), reply,
                                             &received, count, delay, reserved, timeout, ticket, quiet);
    replyBytes.assign(reply, reply + received);
    return result;
}

void cSerial::abandon(int index, Waiter& me)
{
    {
        std::lock_guard<std::mutex> g(answerMutex);
        if (waiters[index] == &me)
            waiters[index] = nullptr;
    }
    // A record still queued is taken back, so the port never sends a request nobody waits
    // for; the exchange decides between us and the loop taking it. A record being executed
    // is left to the port's thread: it still writes into it, and storing its result is what
    // frees the record for the next requester.
    cTransaction& r = buffers[index];
    uint8_t expected = TRSC_QUEUED;
    if (r.state.compare_exchange_strong(expected, TRSC_ERROR, std::memory_order_acq_rel)) {
        expected = TRSC_ERROR;
        r.state.compare_exchange_strong(expected, TRSC_EMPTY, std::memory_order_acq_rel);
    }
}

void cSerial::settle(cTransaction& r, unsigned char result)
{
    // The answer came from inside the handler; the loop stores the record's state right after
    // the handler returns. Wait for that (a few instructions, unless the port's thread is
    // preempted), then mark the record collected. If it has been reused meanwhile, the
    // exchange fails and the record is left to its new owner.
    uint8_t s = r.state.load(std::memory_order_acquire);
    for (int i = 0; s == TRSC_BUSY && i < 1000; ++i) {
        std::this_thread::yield();
        s = r.state.load(std::memory_order_acquire);
    }
    for (int i = 0; s == TRSC_BUSY && i < 100; ++i) {
        sleepMs(1);
        s = r.state.load(std::memory_order_acquire);
    }
    uint8_t expected = result;
    r.state.compare_exchange_strong(expected, TRSC_EMPTY, std::memory_order_acq_rel);
}
