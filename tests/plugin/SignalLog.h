#pragma once

#include "gui/cMainWindow.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// The window's signals, as text, in the order they reached the test's thread.
class SignalLog : public QObject
{
public:
    QStringList events;
    QList<void*> loadedHandlers;
    QList<void*> treeItems;

    void watch(cMainWindow* w)
    {
        const auto q = Qt::QueuedConnection;
        connect(w, &cMainWindow::appLockSignal, this, [this](bool l) { events << QString("lock %1").arg(int(l)); }, q);
        connect(w, &cMainWindow::statusBarMsgSignal, this, [this](const QString& m) { events << "status " + m; }, q);
        connect(
            w, &cMainWindow::popupSignal, this,
            [this](int type, const QString& title, const QString& text, int b1, int b2, int b3) {
                events << QString("popup %1|%2|%3|%4|%5|%6").arg(type).arg(title, text).arg(b1).arg(b2).arg(b3);
            },
            q);
        connect(
            w, &cMainWindow::loadPlgSignal, this,
            [this](void* h) {
                events << "loadPlg";
                loadedHandlers << h;
            },
            q);
        connect(
            w, &cMainWindow::updatePluginTreeTopLevelItemSignal, this,
            [this](void* item) {
                events << "treeItem";
                treeItems << item;
            },
            q);
    }
    QStringList matching(const QString& prefix) const
    {
        QStringList r;
        for (const QString& e : events)
            if (e.startsWith(prefix))
                r << e;
        return r;
    }
};
