#pragma once

#include "LineSettings.h"

#include <string>

// The simulator's end of a linked pair of pseudo-terminals: the host opens the other end by
// its path (or by a stable symbolic link to it). The link can vanish and come back, as a USB
// adapter pulled and plugged in again does.
class Link
{
public:
    // `linkPath` may be empty: then only the terminal's own path is offered. The terminal
    // starts out at `line`, so a host that does not set its own is heard.
    Link(std::string linkPath, const LineSettings& line);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Makes a new pair and points the symbolic link at it. False with a message on failure.
    bool open();
    // Closes the simulator's end (the host's reads and writes then fail) and removes the link.
    void close();

    int fd() const { return master; }
    bool isOpen() const { return master >= 0; }
    // The path the host should open: the symbolic link when there is one, else the terminal.
    std::string hostPath() const { return symlinkPath.empty() ? terminal : symlinkPath; }
    const std::string& terminalPath() const { return terminal; }

    // The line the host's end is set to now (the host and the simulator share one terminal,
    // so its settings are the host's). False when they cannot be read.
    bool hostLine(LineSettings& out) const;
    // Whether the terminal keeps the data bits and parity it is given; Linux's do not.
    bool carriesFraming() const { return framing; }

private:
    std::string symlinkPath;
    LineSettings initial;
    bool framing = false;
    std::string terminal;
    int master = -1;
    // Held open so that the terminal survives the host closing and reopening it.
    int keepOpen = -1;
};
