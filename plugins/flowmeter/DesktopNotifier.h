#pragma once

#include "AlarmEntry.h"

#include <QHash>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// New alarm entries as desktop notifications, through the freedesktop Notifications service on
// the session bus. Every call is asynchronous: the GUI thread never waits for the service. Where
// there is no session bus, or no one serves notifications, nothing is shown and the log says so
// once.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";

public slots:
    void onRaised(const AlarmEntry& entry);

signals:
    // A line for the plug-in's log.
    void logLine(const QString& text);

private:
    void notify(const QString& key, const QString& summary, const QString& body, bool urgent);
    void onReply(QDBusPendingCallWatcher* call, const QString& key);

    // Per meter, the notification on show: its next one replaces it rather than piling up.
    QHash<QString, uint> shown;
    bool saidNoBus = false;
    bool saidNoService = false;
    bool saidError = false;
};
