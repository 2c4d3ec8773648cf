#pragma once

#include "MeterModel.h"

#include <QVector>

// The reads that fetch every readable value of a model in as few requests as it allows.
struct ReadRequest
{
    int function = 3; // 3, 4 or 1
    int address = 0;
    int count = 0;
    // Indexes into MeterModel::values that this read brings.
    QVector<int> values;
};

class ReadPlan
{
public:
    static constexpr int kMaxRegisters = 125;
    static constexpr int kMaxCoils = 2000;

    // Values of one function, sorted by address, merged where the gap between them is at most
    // model.maxGap and the read stays within the function's limit. Commands (function 5) are
    // not read.
    static QVector<ReadRequest> make(const MeterModel& model);
};
