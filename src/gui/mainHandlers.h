#pragma once

#include "cMainRequest.h"
#include "../core/cTransaction.h"

// Handlers of the host's two threads; both get the main window as their argument.

// "MAIN GUI": while it runs, asks the GUI every 10 ms to refresh the current plug-in.
void mainGuiHandler(void* window);

// "MAIN": executes one host command (the first request byte is its code). Always OK.
unsigned char mainTrscHandler(cTransaction* t, void* window);

