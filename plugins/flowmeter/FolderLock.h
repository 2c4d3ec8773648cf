#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLockFile;
class QTimer;

// The claim of one Corvane on its records folder (docs/recording.md): two programs on one
// folder, two users' sessions or a desktop and a service on one station, would append to the
// same day files and write each other's alarm list over. A lock file in the folder, held for as
// long as the folder is this program's; one left by a process that is gone is taken over.
// GUI thread only.
//
// The recorder and the alarm list share one of these: the lock is the program's, not theirs.
class FolderLock : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kFileName = ".corvane.lock";

    enum State {
        // No folder set.
        Unset,
        // The folder is this program's.
        Held,
        // Another program holds it: not to be written here.
        Busy,
        // No lock could be made (the folder cannot be made or written): nothing says another
        // program is there, and whatever is written there fails and says why by itself.
        Failed,
    };

    explicit FolderLock(QObject* parent = nullptr);
    ~FolderLock() override;

    // Claims `folder` (made when missing) and lets go of the folder claimed before; true when
    // the folder is this program's. Until it is, it is tried again at every retry interval.
    bool setFolder(const QString& folder);
    // Tries again now (at once when held); true when the folder is this program's.
    bool take();
    // Lets go of the folder: another program may take it.
    void release();

    QString folder() const { return dir; }
    State state() const { return current; }
    bool held() const { return current == Held; }
    bool busy() const { return current == Busy; }
    // Busy: which program holds the folder; Failed: why no lock could be made. In words.
    QString problem() const { return why; }

    // How often a folder not held is tried again.
    void setRetryInterval(int ms);

    // Whether `a` and `b` name the same folder (absolute and clean).
    static bool sameFolder(const QString& a, const QString& b);

signals:
    // Held, busy or failed: the state or its holder changed.
    void stateChanged();

private:
    void become(State state, const QString& problem);

    QString dir;
    std::unique_ptr<QLockFile> file;
    State current = Unset;
    QString why;
    QTimer* retry;
};
