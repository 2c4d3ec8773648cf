#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// The serial devices present on this machine, for a plug-in to offer in its setup: each with a
// name that survives replugging (the udev link in /dev/serial/by-id when there is one), what
// the USB descriptor says about the adapter, and whether the current user may open it.
//
// Everything is read under a device root ("/" unless set): <root>/dev, <root>/dev/serial/by-id
// and <root>/sys/class/tty. Listed are ttyUSB*, ttyACM* and ttyXRUSB* nodes that exist, and
// ttyS* / ttyAMA* nodes whose port sysfs shows as real: the kernel makes ttyS0..31 whether or
// not a UART is behind them, and marks the empty ones with port type 0.
//
// Lives on the thread that made it (the GUI thread for a plug-in); portsChanged() is emitted
// there, a moment after the last change in <root>/dev and only when the list differs.
class cPortPicker : public QObject
{
    Q_OBJECT

public:
    struct Port
    {
        // What to store and open: <root>/dev/serial/by-id/<link> when one leads to the node,
        // else the node itself.
        QString path;
        // The device node, <root>/dev/ttyUSB0 and the like: the number may change on replug.
        QString node;
        // From the USB device's descriptor; empty when the port is not on USB or the adapter
        // does not say.
        QString maker;
        QString product;
        QString serialNumber;
        // "0403:6001" (vendor:product, hex) for USB adapters, else empty.
        QString usbId;
        // Read and write are allowed to the current user by the node's permissions (owner,
        // group such as dialout, ACLs). Says nothing about another program holding the port.
        bool accessible = false;

        // One line for a list: "FTDI USB-RS485 (A12345) - /dev/serial/by-id/...", with
        // " (no permission)" after it when the user may not open the port.
        QString text() const;

        bool operator==(const Port& other) const;
        bool operator!=(const Port& other) const { return !(*this == other); }
    };

    explicit cPortPicker(QObject* parent = nullptr);
    ~cPortPicker() override;

    // Reads devices under `root` from now on; "/" is the machine itself. Does not emit
    // portsChanged(): the caller asks ports() afresh.
    void setDeviceRoot(const QString& root);
    QString deviceRoot() const { return root; }

    // The devices present now, read at the call, in name order (ttyACM0, ttyS0, ttyUSB0,
    // ttyUSB1, ttyUSB10).
    QList<Port> ports() const;

signals:
    // A device was plugged in or out, got another by-id name, or its permissions changed.
    void portsChanged();

private:
    QString under(const QString& relative) const;
    void watchDirectories();
    void directoryChanged();
    void settle();

    QString root = QStringLiteral("/");
    QFileSystemWatcher* watcher;
    // Plugging an adapter is a burst of changes (the node, then udev's permissions and
    // links); one look after the burst reports it once and with its final names.
    QTimer* settleTimer;
    QList<Port> reported;
};
