// The platform surface of telling why a device would not open: stat, the UUCP lock files and
// the descriptors under /proc.
#include "cOpenError.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

namespace {

std::string commandOf(int pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(f, name);
    return name.empty() ? "?" : name;
}

std::string describe(int pid)
{
    std::string s = "PID " + std::to_string(pid) + " (" + commandOf(pid) + ")";
    if (pid == int(getpid()))
        s += ", this program";
    return s;
}

bool alive(int pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// The name lock files carry: the device's own node, not a link to it (by-id names are links).
std::string lockName(const std::string& path)
{
    char real[PATH_MAX];
    std::string p = realpath(path.c_str(), real) ? std::string(real) : path;
    if (p.rfind("/dev/", 0) == 0)
        p = p.substr(5);
    for (char& c : p) {
        if (c == '/')
            c = '_';
    }
    return p;
}

int readLockFile(const std::string& file)
{
    FILE* f = fopen(file.c_str(), "rb");
    if (!f)
        return 0;
    char b[64] = {};
    const size_t n = fread(b, 1, sizeof b - 1, f);
    fclose(f);
    // Written as ten ASCII digits by most programs, as a binary int by a few old ones.
    char* end = nullptr;
    const long text = strtol(b, &end, 10);
    if (end != b && text > 0 && text < INT_MAX)
        return int(text);
    if (n == sizeof(int)) {
        int binary;
        memcpy(&binary, b, sizeof binary);
        return binary;
    }
    return 0;
}

std::string groupOf(const struct stat& st)
{
    char buf[4096];
    group g;
    group* found = nullptr;
    if (getgrgid_r(st.st_gid, &g, buf, sizeof buf, &found) == 0 && found)
        return found->gr_name;
    return std::to_string(st.st_gid);
}

} // namespace

int cOpenError::lockFileHolder(const std::string& path)
{
    const std::string name = lockName(path);
    for (const char* dir : {"/var/lock/", "/run/lock/"}) {
        const int pid = readLockFile(std::string(dir) + "LCK.." + name);
        // A lock of a process that is gone is stale; one of our own is no one else's.
        if (pid != int(getpid()) && alive(pid))
            return pid;
    }
    return 0;
}

std::string cOpenError::holders(const std::string& path)
{
    struct stat dev;
    if (stat(path.c_str(), &dev) != 0 || !S_ISCHR(dev.st_mode))
        return {};
    std::set<int> pids;
    if (const int locker = lockFileHolder(path))
        pids.insert(locker);
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            char* end = nullptr;
            const long pid = strtol(e->d_name, &end, 10);
            if (*end != '\0' || pid <= 0)
                continue;
            const std::string fds = "/proc/" + std::string(e->d_name) + "/fd";
            DIR* d = opendir(fds.c_str());
            if (!d)
                continue;
            while (dirent* fd = readdir(d)) {
                struct stat st;
                if (fd->d_name[0] == '.' || stat((fds + "/" + fd->d_name).c_str(), &st) != 0)
                    continue;
                if (S_ISCHR(st.st_mode) && st.st_rdev == dev.st_rdev) {
                    pids.insert(int(pid));
                    break;
                }
            }
            closedir(d);
        }
        closedir(proc);
    }
    std::string s;
    for (int pid : pids) {
        // This program holds every device it has open; only others are news, unless we are
        // the only one (two ports of one program on one device).
        if (pid == int(getpid()) && pids.size() > 1)
            continue;
        if (!s.empty())
            s += ", ";
        s += describe(pid);
    }
    return s;
}

cOpenError cOpenError::diagnose(const std::string& path, int code, bool opened)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == EACCES)
            return {NoPermission, std::string(), code};
        return {NotPresent, path, code};
    }
    if (!S_ISCHR(st.st_mode))
        return {NotSerial, S_ISREG(st.st_mode) ? "a regular file" : S_ISDIR(st.st_mode) ? "a folder" : "not a device",
                code};
    switch (code) {
    case EACCES:
    case EPERM:
        return {NoPermission, groupOf(st), code};
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return {NotPresent, path, code};
    case EBUSY:
    case EWOULDBLOCK: {
        const std::string who = holders(path);
        return {InUse, who.empty() ? std::string("a process this user cannot see") : who, code};
    }
    case ENOTTY:
        return {NotSerial, "a device without terminal settings", code};
    case EINVAL:
        if (opened)
            return {BadSettings, strerror(code), code};
        break;
    default:
        break;
    }
    return {Failed, strerror(code), code};
}

std::string cOpenError::text() const
{
    switch (reason) {
    case None:
        return {};
    case NoPermission:
        return "no permission" + (detail.empty() ? std::string() : " (device group " + detail + ")") +
               "; on Debian: sudo adduser $USER dialout, then log in again";
    case NotPresent:
        return "not present: is the adapter plugged in?";
    case InUse:
        return "in use by another program: " + detail;
    case NotSerial:
        return "not a serial device (" + detail + ")";
    case OtherSettings:
        return "open at other line settings: " + detail;
    case BadSettings:
        return "the device refused the line settings (" + detail + ")";
    case Failed:
        return "cannot be opened (" + detail + ")";
    }
    return {};
}
