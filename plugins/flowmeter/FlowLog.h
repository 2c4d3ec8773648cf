#pragma once

#include <cstdio>
#include <string>

// The plug-in's lines in the diagnostic log, each with the local time to the millisecond in
// front: a meter that went away at night is found in the log by the hour. The stamp comes
// first so that the text after it reads as it always has ("Flow meter plugin: ...").
class FlowLog
{
public:
    // "2026-12-08 14:03:27.512 Flow meter plugin: <text>", written and flushed in one piece.
    static void line(FILE* f, const char* text);
    // The stamp alone, of the present moment.
    static std::string stamp();
};
