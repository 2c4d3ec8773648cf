#pragma once

#include "cTransaction.h"

// Handlers of the host's two threads; both get the main window as their argument.

// "MAIN GUI": while it runs, asks the GUI every 10 ms to refresh the current plug-in.
void mainGuiHandler(void* window);

// "MAIN": executes one host command (the first request byte is its code). Always OK.
unsigned char mainTrscHandler(cTransaction* t, void* window);

// Command codes of the "MAIN" thread.
enum : unsigned char {
    MAIN_LOAD_PLUGINS = 2,
    MAIN_UNLOAD_PLUGINS = 3,
    MAIN_UPDATE_TREE = 5,
    MAIN_ACTION_LOCK = 6,
};
