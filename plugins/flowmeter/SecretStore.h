#pragma once

#include <QJsonObject>
#include <QString>

#include <atomic>
#include <optional>

// Passwords and the like, kept out of the plain settings file: in the desktop's secret store
// where one answers on the session bus, else in a file that only the user can read. Every call
// waits for the store, but never longer than the wait limit, and any thread may make it: the
// store's jobs run in the application's main thread, whose event loop must be running unless
// the caller is that thread itself.
class SecretStore
{
public:
    explicit SecretStore(const QString& fileFolder); // where the fall-back file goes

    // Synchronous (waits for the store, bounded); false with `error` in words.
    bool write(const QString& key, const QString& secret, QString* error);
    // Nothing (and an empty `error`) when no secret is kept under `key`.
    std::optional<QString> read(const QString& key, QString* error);
    bool remove(const QString& key, QString* error);
    // "the desktop's secret store" / "a file only you can read: <path>"
    QString where() const;

    // The fall-back file, whether or not it is in use.
    QString filePath() const { return m_filePath; }
    // How long one call waits for the desktop's store before it gives up on it (default 10 s:
    // unlocking a locked store asks the user).
    void setWaitLimit(int milliseconds) { m_waitMs = milliseconds; }

private:
    enum class Answer { Done, NotFound, Denied, Failed, NoAnswer };
    struct KeychainResult
    {
        Answer answer = Answer::Failed;
        QString text;
        QString message;
    };
    enum class Op { Read, Write, Remove };

    bool keychainUsable() const;
    KeychainResult runKeychain(Op op, const QString& key, const QString& secret) const;
    void giveUpKeychain() const;

    // The file: a JSON object of key -> secret, mode 0600. `exists` false when there is none.
    bool loadFile(QJsonObject* out, bool* exists, QString* error) const;
    // Replaces the file whole; removes it when nothing is left.
    bool saveFile(const QJsonObject& secrets, QString* error) const;
    // Takes `key` out of the file, when it is there.
    bool removeFromFile(const QString& key, QString* error) const;

    QString m_filePath;
    std::atomic<int> m_waitMs{10000};
    // 0 not asked yet, 1 the desktop's store, 2 the file.
    mutable std::atomic<int> m_backend{0};
};
