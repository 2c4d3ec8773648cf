#include "MeterLink.h"

#include <serial/cSerial.h>

#include <QCoreApplication>

MeterLink::MeterLink(cSerial* p, int timeoutMs) : port(p), answerTimeoutMs(timeoutMs)
{
}

MeterLink::Result MeterLink::exchange(const std::vector<uint8_t>& request, unsigned short answerSize) const
{
    Result r;
    unsigned char answer[TRSC_BUFFER_SIZE];
    unsigned short received = 0;
    const unsigned char state = port->transaction(request.data(), (unsigned short)request.size(), answer, &received,
                                                  answerSize, std::chrono::microseconds(port->interFrameSilenceUs()),
                                                  0, (unsigned short)answerTimeoutMs, nullptr, 1);
    if (state != TRSC_OK) {
        r.portGone = port->handle < 0 || !port->running;
        r.reason = r.portGone ? QCoreApplication::translate("FlowMeter", "device gone")
                              : QCoreApplication::translate("FlowMeter", "transaction failed");
        return r;
    }
    int exception = 0;
    r.check = modbus::checkAnswer(request, answer, received, &r.registers, &exception);
    switch (r.check) {
    case modbus::Check::Ok:
        r.ok = true;
        break;
    case modbus::Check::NoAnswer:
        r.reason = QCoreApplication::translate("FlowMeter", "no answer");
        break;
    case modbus::Check::Short:
        r.reason = QCoreApplication::translate("FlowMeter", "short answer (%1 of %2 bytes)").arg(received).arg(answerSize);
        break;
    case modbus::Check::BadCrc:
        r.reason = QCoreApplication::translate("FlowMeter", "corrupt check sum");
        break;
    case modbus::Check::WrongUnit:
        r.reason = QCoreApplication::translate("FlowMeter", "answer from another unit");
        break;
    case modbus::Check::Exception:
        r.reason = QCoreApplication::translate("FlowMeter", "MODBUS exception %1").arg(exception);
        break;
    case modbus::Check::Malformed:
        r.reason = QCoreApplication::translate("FlowMeter", "malformed answer");
        break;
    }
    return r;
}

MeterLink::Result MeterLink::readHolding(int id, uint16_t address, uint16_t count) const
{
    return exchange(modbus::readHolding(uint8_t(id), address, count), modbus::readAnswerSize(count));
}

MeterLink::Result MeterLink::writeRegister(int id, uint16_t address, uint16_t value) const
{
    return exchange(modbus::writeSingle(uint8_t(id), address, value), modbus::kWriteAnswerSize);
}

MeterLink::Result MeterLink::writeRegisters(int id, uint16_t address, const std::vector<uint16_t>& values) const
{
    return exchange(modbus::writeMultiple(uint8_t(id), address, values), modbus::kWriteAnswerSize);
}
