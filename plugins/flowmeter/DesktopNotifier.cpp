#include "DesktopNotifier.h"
#include "AlarmLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QThread>
#include <QVariantMap>

#include <utility>

namespace {

constexpr int kTimeoutMs = 10000;
constexpr int kMostWaiting = 16;

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{
}

DesktopNotifier::~DesktopNotifier()
{
    if (connector) {
        connector->wait();
        delete connector;
    }
}

void DesktopNotifier::onRaised(const AlarmEntry& e)
{
    QString summary;
    QString body;
    QString key;
    if (e.kind == AlarmEntry::General) {
        summary = QCoreApplication::translate("FlowMeter", "Flow meter");
        body = AlarmLog::countedText(e);
        key = "general:" + e.text;
    } else {
        summary = e.kind == AlarmEntry::Alarm ? QCoreApplication::translate("FlowMeter", "Alarm: %1").arg(e.meter)
                                              : QCoreApplication::translate("FlowMeter", "Offline: %1").arg(e.meter);
        body = QCoreApplication::translate("FlowMeter", "Line %1 (%2), unit %3: %4")
                   .arg(e.line + 1)
                   .arg(e.port)
                   .arg(e.id)
                   .arg(AlarmLog::countedText(e));
        key = QString("%1:%2").arg(e.line).arg(e.id);
    }
    notify(Note{key, summary, body, e.kind == AlarmEntry::Alarm});
}

void DesktopNotifier::notify(const Note& note)
{
    switch (bus) {
    case NotTried:
        bus = Connecting;
        connector = QThread::create([] { (void)QDBusConnection::sessionBus().isConnected(); });
        connect(connector, &QThread::finished, this, &DesktopNotifier::onConnected, Qt::QueuedConnection);
        connector->start();
        [[fallthrough]];
    case Connecting:
        if (waiting.size() < kMostWaiting)
            waiting << note;
        return;
    case Connected:
        send(note);
        return;
    case NoBus:
        return;
    }
}

void DesktopNotifier::onConnected()
{
    const QDBusConnection session = QDBusConnection::sessionBus();
    bus = session.isConnected() ? Connected : NoBus;
    if (bus == NoBus)
        emit logLine(QString("No session bus (%1): alarms are not shown as desktop notifications")
                         .arg(session.lastError().message().isEmpty() ? QString("not connected") : session.lastError().message()));
    const QVector<Note> notes = std::exchange(waiting, {});
    for (const Note& n : notes)
        notify(n);
}

void DesktopNotifier::send(const Note& note)
{
    QDBusConnection session = QDBusConnection::sessionBus();
    // The bus went away (its daemon ended): nothing more is shown, said once.
    if (!session.isConnected()) {
        bus = NoBus;
        emit logLine("The session bus is gone: alarms are no longer shown as desktop notifications");
        return;
    }
    const QString& key = note.key;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "Notify");
    QVariantMap hints;
    // Critical for an alarm: the desktop keeps it until it is seen.
    hints["urgency"] = QVariant::fromValue(uchar(note.urgent ? 2 : 1));
    hints["category"] = QString("device.error");
    hints["desktop-entry"] = QString("se.tessmark.Corvane");
    call << QString("Corvane") << shown.value(key, 0u) << QString("dialog-warning") << note.summary << note.body << QStringList()
         << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(call, kTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key](QDBusPendingCallWatcher* w) { onReply(w, key); });
}

void DesktopNotifier::onReply(QDBusPendingCallWatcher* call, const QString& key)
{
    call->deleteLater();
    QDBusPendingReply<uint> reply = *call;
    if (!reply.isError()) {
        shown.insert(key, reply.value());
        if (saidNoService || saidError)
            emit logLine("Desktop notifications are shown again");
        saidNoService = saidError = false;
        return;
    }
    const QDBusError error = reply.error();
    const bool noService = error.type() == QDBusError::ServiceUnknown;
    bool& said = noService ? saidNoService : saidError;
    if (!said)
        emit logLine(noService ? QString("No desktop notification service on the session bus (%1): alarms are not shown as "
                                         "desktop notifications")
                                     .arg(error.message())
                               : QString("Desktop notification not shown: %1").arg(error.message()));
    said = true;
}
