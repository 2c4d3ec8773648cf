#include "ReadPlan.h"

#include <algorithm>

QVector<ReadRequest> ReadPlan::make(const MeterModel& model)
{
    QVector<ReadRequest> plan;
    const int gap = std::max(0, model.maxGap);
    for (int function : {3, 4, 1}) {
        // A reset command is written, never measured: reading it would only cost a request
        // where the meter keeps it write-only.
        QVector<int> indexes;
        for (int i = 0; i < model.values.size(); ++i) {
            const ModelValue& v = model.values[i];
            if (v.function == function && v.role != ValueRole::ResetCommand)
                indexes.append(i);
        }
        // By address, the shorter first where two start together, so the longer one decides
        // whether the read must be cut.
        std::stable_sort(indexes.begin(), indexes.end(), [&](int a, int b) {
            const ModelValue& x = model.values[a];
            const ModelValue& y = model.values[b];
            if (x.address != y.address)
                return x.address < y.address;
            return x.registerCount() < y.registerCount();
        });
        const int limit = function == 1 ? kMaxCoils : kMaxRegisters;
        ReadRequest current;
        for (int i : indexes) {
            const ModelValue& v = model.values[i];
            const int end = v.address + v.registerCount();
            const int currentEnd = current.address + current.count;
            const bool fits = !current.values.isEmpty() && v.address - currentEnd <= gap &&
                              std::max(currentEnd, end) - current.address <= limit;
            if (fits) {
                current.count = std::max(currentEnd, end) - current.address;
                current.values.append(i);
                continue;
            }
            if (!current.values.isEmpty())
                plan.append(current);
            current = ReadRequest();
            current.function = function;
            current.address = v.address;
            current.count = v.registerCount();
            current.values = {i};
        }
        if (!current.values.isEmpty())
            plan.append(current);
    }
    return plan;
}
