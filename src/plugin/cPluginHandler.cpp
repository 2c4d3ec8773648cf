#include "cPluginHandler.h"

cPluginHandler::cPluginHandler(FILE* logStream) : log(logStream ? logStream : stdout) {}

cPluginHandler::~cPluginHandler() = default;
