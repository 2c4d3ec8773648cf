#include "cTransaction.h"

const char* trscStateName(unsigned state)
{
    static const char* const names[] = {"ERROR", "OK", "QUEUED", "EMPTY", "BUSY"};
    return state < sizeof(names) / sizeof(names[0]) ? names[state] : "?";
}
