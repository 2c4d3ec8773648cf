#pragma once

#include <QString>
#include <QTemporaryDir>

// A small tmpfs mounted by the test (root only) on a temporary folder, to fill up and free
// again; unmounted when the object goes, whatever the test did meanwhile.
class SmallTmpfs
{
public:
    explicit SmallTmpfs(int kilobytes);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    // Empty when mounted, else why not (not root, no right to mount here).
    QString problem() const { return why; }
    QString path() const { return dir.path(); }
    // Fills what space is left with a file of its own; false when it could not.
    bool fill();
    // Takes that file away again.
    bool free();

private:
    QTemporaryDir dir;
    QString why;
    bool mounted = false;
};
