#include "MeterModel.h"

int ModelValue::registerCount() const
{
    switch (type) {
    case ValueType::U16:
    case ValueType::I16:
    case ValueType::Coil:
        return 1;
    case ValueType::U32:
    case ValueType::I32:
    case ValueType::F32:
        return 2;
    case ValueType::U64:
    case ValueType::F64:
        return 4;
    }
    return 1;
}

const ModelValue* MeterModel::find(ValueRole role) const
{
    const int i = indexOf(role);
    return i < 0 ? nullptr : &values[i];
}

int MeterModel::indexOf(ValueRole role) const
{
    for (int i = 0; i < values.size(); ++i)
        if (values[i].role == role)
            return i;
    return -1;
}
