#include "Unprivileged.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The child's exit code when it could not give up root: then nothing it says is trusted.
constexpr int CANNOT_DROP = 3;
} // namespace

Unprivileged::Outcome Unprivileged::run(const std::function<QByteArray()>& work, QByteArray* result, QString* why)
{
    if (geteuid() != 0) {
        *result = work();
        return Outcome::Ran;
    }
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) {
        *why = QStringLiteral("running as root and there is no user 'nobody' to drop to");
        return Outcome::Unavailable;
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;

    int fds[2];
    if (pipe(fds) != 0) {
        *why = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return Outcome::Failed;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        *why = QStringLiteral("fork: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        close(fds[0]);
        close(fds[1]);
        return Outcome::Failed;
    }
    if (pid == 0) {
        close(fds[0]);
        // Groups first: after the uid change there is no right left to drop them.
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0
            || geteuid() == 0)
            _exit(CANNOT_DROP);
        const QByteArray out = work();
        qsizetype done = 0;
        while (done < out.size()) {
            const ssize_t n = write(fds[1], out.constData() + done, size_t(out.size() - done));
            if (n <= 0)
                _exit(1);
            done += n;
        }
        // _exit: the copy of the parent's static objects (Qt's among them) is not torn down
        // twice.
        _exit(0);
    }
    close(fds[1]);
    QByteArray got;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == CANNOT_DROP) {
        *why = QStringLiteral("running as root without the right to become 'nobody' (no CAP_SETUID?)");
        return Outcome::Unavailable;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *why = QStringLiteral("the unprivileged child failed (status %1)").arg(status);
        return Outcome::Failed;
    }
    *result = got;
    return Outcome::Ran;
}
