#include "MeterLink.h"

#include "ValueCodec.h"

#include <serial/cSerial.h>

#include <QCoreApplication>

#include <cmath>

MeterLink::MeterLink(cSerial* p, int timeoutMs, bool* lineUnsure) : port(p), answerTimeoutMs(timeoutMs), unsure(lineUnsure)
{
}

MeterLink::Result MeterLink::exchange(const std::vector<uint8_t>& request, unsigned short answerSize) const
{
    const uint32_t lateBefore = port->lateAnswers();
    const bool read = request.size() > 1 && (request[1] == 0x01 || request[1] == 0x03 || request[1] == 0x04);
    const bool wasUnsure = unsure && *unsure;
    Result r = exchangeOnce(request, answerSize);
    int late = 0;
    if (wasUnsure && read && (r.ok || r.check == modbus::Check::Exception)) {
        r = exchangeOnce(request, answerSize);
        // A meter that answered the question at once answers it again (its values may have
        // moved meanwhile, so they prove nothing); the first answer of one that does not was
        // an earlier request's.
        late = r.ok || r.check == modbus::Check::Exception ? 0 : 1;
    }
    r.late = int(port->lateAnswers() - lateBefore) + late;
    if (unsure) {
        // A write's echo says nothing of a read's answer still on its way.
        const bool answered = r.ok || r.check == modbus::Check::Exception;
        if (!answered && !r.portGone)
            *unsure = true;
        else if (answered && read)
            *unsure = false;
    }
    return r;
}

MeterLink::Result MeterLink::exchangeOnce(const std::vector<uint8_t>& request, unsigned short answerSize) const
{
    Result r;
    unsigned char answer[TRSC_BUFFER_SIZE];
    unsigned short received = 0;
    const unsigned char state = port->transaction(request.data(), (unsigned short)request.size(), answer, &received,
                                                  answerSize, std::chrono::microseconds(port->interFrameSilenceUs()),
                                                  0, (unsigned short)answerTimeoutMs, nullptr, 1);
    if (state != TRSC_OK) {
        r.portGone = port->handle < 0 || !port->running;
        r.reason = Reason(r.portGone ? QT_TRANSLATE_NOOP("FlowMeter", "device gone")
                                     : QT_TRANSLATE_NOOP("FlowMeter", "transaction failed"));
        return r;
    }
    int exception = 0;
    r.check = modbus::checkAnswer(request, answer, received, &r.registers, &exception);
    switch (r.check) {
    case modbus::Check::Ok:
        r.ok = true;
        break;
    case modbus::Check::NoAnswer:
        r.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "no answer"));
        break;
    case modbus::Check::Short:
        r.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "short answer (%1 of %2 bytes)")).arg(received).arg(answerSize);
        break;
    case modbus::Check::BadCrc:
        r.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "corrupt check sum"));
        break;
    case modbus::Check::WrongUnit:
        r.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "answer from another unit"));
        break;
    case modbus::Check::Exception:
        r.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "MODBUS exception %1")).arg(exception);
        break;
    case modbus::Check::Malformed:
        markMalformed(&r);
        break;
    }
    return r;
}

void MeterLink::markMalformed(Result* r)
{
    r->ok = false;
    r->check = modbus::Check::Malformed;
    r->reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "malformed answer"));
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

MeterLink::Result MeterLink::read(int id, int function, int address, int count) const
{
    const uint16_t a = uint16_t(address), n = uint16_t(count);
    if (function == 4)
        return exchange(modbus::readInput(uint8_t(id), a, n), modbus::readAnswerSize(n));
    if (function == 1)
        return exchange(modbus::readCoils(uint8_t(id), a, n), modbus::coilsAnswerSize(n));
    return exchange(modbus::readHolding(uint8_t(id), a, n), modbus::readAnswerSize(n));
}

MeterLink::Result MeterLink::readModel(int id, const MeterModel& model, const QVector<ReadRequest>& plan,
                                       QVector<double>* values, QVector<quint64>* wholes) const
{
    values->fill(std::nan(""), model.values.size());
    if (wholes)
        wholes->fill(0, model.values.size());
    int late = 0;
    for (const ReadRequest& request : plan) {
        Result r = read(id, request.function, request.address, request.count);
        late += r.late;
        r.late = late;
        if (r.ok && r.registers.size() != size_t(request.count))
            markMalformed(&r);
        if (!r.ok)
            return r;
        for (int index : request.values) {
            const ModelValue& v = model.values[index];
            const size_t from = size_t(v.address - request.address);
            double raw = 0;
            if (from < r.registers.size() &&
                ValueCodec::raw(v, r.registers.data() + from, r.registers.size() - from, &raw))
                (*values)[index] = ValueCodec::engineering(v, raw);
            uint64_t whole = 0;
            if (wholes && v.type == ValueType::U64 && from < r.registers.size() &&
                ValueCodec::rawInteger(v, r.registers.data() + from, r.registers.size() - from, &whole))
                (*wholes)[index] = whole;
        }
    }
    Result all;
    all.ok = true;
    all.late = late;
    return all;
}

MeterLink::Result MeterLink::readValue(int id, const ModelValue& value, double* out) const
{
    Result r = read(id, value.function, value.address, value.registerCount());
    double raw = 0;
    if (r.ok && !ValueCodec::raw(value, r.registers.data(), r.registers.size(), &raw))
        markMalformed(&r);
    if (r.ok)
        *out = ValueCodec::engineering(value, raw);
    return r;
}

MeterLink::Result MeterLink::writeValue(int id, const ModelValue& value, double engineeringValue) const
{
    Reason why;
    const std::vector<uint16_t> words = ValueCodec::encode(value, engineeringValue, &why);
    if (words.empty()) {
        Result refused;
        refused.check = modbus::Check::Malformed;
        refused.reason = why;
        return refused;
    }
    if (words.size() == 1 && value.function == 3)
        return writeRegister(id, uint16_t(value.address), words.front());
    return writeRegisters(id, uint16_t(value.address), words);
}

MeterLink::Result MeterLink::command(int id, const ModelValue& value) const
{
    if (value.function == 5)
        return exchange(modbus::writeCoil(uint8_t(id), uint16_t(value.address), value.commandValue != 0),
                        modbus::kWriteAnswerSize);
    // The command is no setting the user keeps: written whatever the range says.
    ModelValue command = value;
    command.writable = true;
    command.minimum = command.maximum = std::nan("");
    return writeValue(id, command, value.commandValue);
}
