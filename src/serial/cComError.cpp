#include "cComError.h"

#include "cTerminal.h"
#include "../core/cThread.h"
#include "../core/cLog.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QThread>

#include <cstdio>

namespace {

// Raised on the GUI thread the box is modal and the reporter waits for it. From any other
// thread it is handed to the GUI thread and the reporter goes on: a port thread waiting for
// the GUI while the GUI waits in close() for that thread would never end. Without a
// widget application there is nobody to show it to.
void showBox(const char* message)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    const QString text = QString::fromLocal8Bit(message);
    if (QThread::currentThread() == app->thread()) {
        QMessageBox box(QMessageBox::Critical, "ERROR", text, QMessageBox::Ok);
        box.exec();
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [text] {
            auto* box = new QMessageBox(QMessageBox::Critical, "ERROR", text, QMessageBox::Ok);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::ApplicationModal);
            box->show();
        },
        Qt::QueuedConnection);
}

} // namespace

cComError::cComError() : code(0), message{}, errorCount(0), owner(nullptr) {}

cComError::~cComError() = default;

bool cComError::report(uint32_t id, const char* text, bool opening)
{
    // First, before any other call can overwrite it.
    const int system = cTerminal::lastError();
    code = uint16_t(system);

    char systemText[1024];
    cTerminal::errorText(system, systemText, sizeof systemText);
    snprintf(message, sizeof message, "%s\nError code %d: %s", text ? text : "", int(code), systemText);

    const cErrorClass kind = cTerminal::classify(system, opening);
    if ((kind == cErrorClass::AccessDenied || kind == cErrorClass::DeviceGone) && owner)
        owner->alive = false;
    if (code != 0)
        ++errorCount;
    if (kind == cErrorClass::None)
        return false;
    if (code == hushed.load())
        return true;

    if (kind == cErrorClass::Other || (kind == cErrorClass::DeviceGone && !goneShown.exchange(true)))
        showBox(message);

    FILE* f = owner ? owner->errStream() : stderr;
    cLog::line(f, "cSerial @ 0x%08X: %s %s -> Error 0x%04X: %s", id, owner ? owner->tag.c_str() : "NULL",
            text ? text : "", unsigned(code), message);
    return true;
}
