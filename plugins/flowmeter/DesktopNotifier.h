#pragma once

#include "AlarmEntry.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

class QDBusPendingCallWatcher;
class QThread;

// New alarm entries as desktop notifications, through the freedesktop Notifications service on
// the session bus. Every call is asynchronous: the GUI thread never waits for the service. Where
// there is no session bus, or no one serves notifications, nothing is shown and the log says so
// once.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    // Waits for a connection to the bus still being made (bounded by D-Bus's own time-out).
    ~DesktopNotifier() override;

    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";

public slots:
    void onRaised(const AlarmEntry& entry);

signals:
    // A line for the plug-in's log.
    void logLine(const QString& text);

private:
    struct Note
    {
        QString key;
        QString summary;
        QString body;
        bool urgent = false;
    };
    // The bus is reached on first use, on a thread of its own: making the connection waits for
    // the bus daemon, and the GUI thread must not.
    enum Bus { NotTried, Connecting, Connected, NoBus };

    void notify(const Note& note);
    void send(const Note& note);
    void onConnected();
    void onReply(QDBusPendingCallWatcher* call, const QString& key);

    Bus bus = NotTried;
    QThread* connector = nullptr;
    // What came while the connection was being made; the first few only.
    QVector<Note> waiting;

    // Per meter, the notification on show: its next one replaces it rather than piling up.
    QHash<QString, uint> shown;
    bool saidNoService = false;
    bool saidError = false;
};
