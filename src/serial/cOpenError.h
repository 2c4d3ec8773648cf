#pragma once

#include <string>
#include <utility>

// Why a port could not be opened, in terms a user can act on. The port fills it in when its
// open fails; the registry when it refuses a port open at other line settings. The host's own
// report of the failure is unchanged: this is what a plug-in shows next to it.
//
// Linux has no mandatory locks, so "in use" is what can be seen: a device whose advisory lock
// (flock) or exclusive mode (TIOCEXCL) another process holds, or a UUCP lock file
// (LCK..name in /var/lock or /run/lock) of a live process. The holders are named from the lock
// file and from the descriptors in /proc/*/fd, which is what fuser reads.
class cOpenError
{
public:
    enum Reason {
        None,
        NoPermission,  // the user may not open the device
        NotPresent,    // no such device: the adapter is not plugged in, or the name is wrong
        InUse,         // another program (or another port of this one) holds it
        NotSerial,     // it exists but is no serial device (a file, a folder, a disk)
        OtherSettings, // open here already at other line settings
        BadSettings,   // the device refused the line settings
        Failed,        // anything else: `detail` holds the system's text
    };

    cOpenError() = default;
    cOpenError(Reason r, std::string d, int c = 0) : reason(r), detail(std::move(d)), code(c) {}

    // Finds out why opening `path` failed with the system error `code`. `opened` tells a failure
    // after the device was opened (its settings) from one of the open itself.
    static cOpenError diagnose(const std::string& path, int code, bool opened);
    // The live process other than this one that holds a UUCP lock file on the device, or 0.
    static int lockFileHolder(const std::string& path);
    // The processes that hold the device open, as "PID 123 (minicom), PID 456 (cat)"; empty
    // when none can be seen (another user's processes are hidden from an unprivileged one).
    static std::string holders(const std::string& path);

    bool failed() const { return reason != None; }
    // One line in English: the reason, what is known of it, and what to do.
    std::string text() const;

    Reason reason = None;
    // Who holds the device, which group may open it, both line settings, or the system text.
    std::string detail;
    int code = 0;
};
