// The port picker on a device tree of real files and symlinks laid out as Linux lays out
// /dev and /sys, changed under the picker as udev changes the real one.
#include "Unprivileged.h"
#include "serial/cPortPicker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A USB serial adapter as the kernel shows it: the USB device with its descriptor strings,
// an interface below it, the port below that, and the tty class entry leading to the port.
struct Adapter
{
    QString tty;      // ttyUSB0
    QString busPort;  // 1-2: where it is plugged in
    QString maker, product, serial, vendor, model;
};

class DeviceTree
{
public:
    DeviceTree()
    {
        // nobody must be able to walk the tree for the permission case.
        chmod(QFile::encodeName(tmp.path()).constData(), 0755);
        QDir(tmp.path()).mkpath("dev");
        QDir(tmp.path()).mkpath("sys/class/tty");
    }
    QString root() const { return tmp.path(); }
    QString path(const QString& rel) const { return tmp.path() + "/" + rel; }

    void node(const QString& name, mode_t mode = 0660) const
    {
        QFile f(path("dev/" + name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QCOMPARE(chmod(QFile::encodeName(f.fileName()).constData(), mode), 0);
    }
    void link(const QString& target, const QString& rel) const
    {
        QDir().mkpath(QFileInfo(path(rel)).path());
        QVERIFY(QFile::exists(path(rel)) || symlink(QFile::encodeName(target).constData(),
                                                     QFile::encodeName(path(rel)).constData()) == 0);
    }
    void write(const QString& rel, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(path(rel)).path());
        QFile f(path(rel));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes + "\n");
    }
    // The sysfs side of an adapter (udev's node and link are made separately, as they are).
    void usbSys(const Adapter& a) const
    {
        const QString usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/" + a.busPort;
        const QString port = usb + "/" + a.busPort + ":1.0/" + a.tty;
        if (!a.vendor.isEmpty()) {
            write(usb + "/idVendor", a.vendor.toUtf8());
            write(usb + "/idProduct", a.model.toUtf8());
        }
        if (!a.maker.isEmpty())
            write(usb + "/manufacturer", a.maker.toUtf8());
        if (!a.product.isEmpty())
            write(usb + "/product", a.product.toUtf8());
        if (!a.serial.isEmpty())
            write(usb + "/serial", a.serial.toUtf8());
        QDir().mkpath(path(port + "/tty/" + a.tty));
        link("../../../" + a.tty, port + "/tty/" + a.tty + "/device");
        link("../../devices/pci0000:00/0000:00:14.0/usb1/" + a.busPort + "/" + a.busPort + ":1.0/" + a.tty
                 + "/tty/" + a.tty,
             "sys/class/tty/" + a.tty);
    }
    // An on-board UART port; type 0 is what the kernel shows for a ttyS without a UART.
    void boardSys(const QString& tty, int type) const
    {
        const QString dev = "sys/devices/pnp0/00:0" + tty.right(1);
        const QString entry = "sys/devices/platform/serial8250/tty/" + tty;
        QDir().mkpath(path(dev));
        write(entry + "/type", QByteArray::number(type));
        link(path(dev), entry + "/device");
        link("../../devices/platform/serial8250/tty/" + tty, "sys/class/tty/" + tty);
    }
    void remove(const QString& rel) const { QVERIFY(QFile::remove(path(rel)) || QDir(path(rel)).removeRecursively()); }

private:
    QTemporaryDir tmp;
};

const Adapter ftdi{"ttyUSB0", "1-2", "FTDI", "USB-RS485 Cable", "A12345", "0403", "6001"};
const Adapter cdc{"ttyACM0", "1-3", "Arduino (www.arduino.cc)", "", "", "2341", "0043"};
const Adapter ch340{"ttyUSB1", "1-4", "", "USB Serial", "", "1a86", "7523"};

QStringList paths(const QList<cPortPicker::Port>& ports)
{
    QStringList out;
    for (const auto& p : ports)
        out << p.path;
    return out;
}

// Waits for portsChanged() until the list satisfies `done`: a change must be announced, not
// just be there for a caller who happens to ask. The picker emits once per burst of changes,
// so a burst split by the scheduler may take two signals, but each must bring a change.
// `before` is the list as it was before the change, and becomes the list as it is after.
template <typename F>
bool waitForList(cPortPicker& picker, QSignalSpy& spy, QList<cPortPicker::Port>& before, F done)
{
    for (int i = 0; i < 5; ++i) {
        if (!spy.wait(15000))
            return false;
        const QList<cPortPicker::Port> now = picker.ports();
        if (now == before) {
            qWarning("portsChanged() without a change");
            return false;
        }
        before = now;
        if (done(now))
            return true;
    }
    return false;
}

} // namespace

class TestPortPicker : public QObject
{
    Q_OBJECT

private slots:
    // What a user picks from: the udev name where there is one, the node otherwise, what the
    // adapter says about itself, and no ttyS the kernel made without a UART behind it.
    void listsPresentDevicesWithStableNamesAndDescriptors()
    {
        DeviceTree t;
        t.usbSys(ftdi);
        t.node("ttyUSB0");
        t.link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_USB-RS485_Cable_A12345-if00-port0");
        t.usbSys(cdc);
        t.node("ttyACM0");
        // A by-id link written absolute is read inside the tree, not on this machine.
        t.usbSys(ch340);
        t.node("ttyUSB1");
        t.link("/dev/ttyUSB1", "dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
        // Node without any sysfs entry (an adapter whose driver shows none): still listed.
        t.node("ttyUSB10");
        t.boardSys("ttyS0", 4);
        t.node("ttyS0");
        t.boardSys("ttyS1", 0);
        t.node("ttyS1");
        t.node("ttyS2");
        // Its sysfs entry leads out of the tree: what lies there is not this tree's device.
        QTemporaryDir outside;
        QDir(outside.path()).mkpath("usb/port");
        QFile vendor(outside.path() + "/usb/idVendor");
        QVERIFY(vendor.open(QIODevice::WriteOnly) && vendor.write("dead\n") == 5);
        vendor.close();
        QDir().mkpath(t.path("sys/class/tty/ttyUSB2"));
        t.link(outside.path() + "/usb/port", "sys/class/tty/ttyUSB2/device");
        t.node("ttyUSB2");
        // Neither a serial port nor one that is present.
        t.node("tty1");
        t.node("ttyUSBx");
        t.link("../../ttyUSB7", "dev/serial/by-id/usb-gone-if00-port0");

        cPortPicker picker;
        picker.setDeviceRoot(t.root() + "/");
        QCOMPARE(picker.deviceRoot(), t.root());
        const auto ports = picker.ports();
        QCOMPARE(paths(ports), QStringList({t.path("dev/ttyACM0"), t.path("dev/ttyS0"),
                                            t.path("dev/serial/by-id/usb-FTDI_USB-RS485_Cable_A12345-if00-port0"),
                                            t.path("dev/serial/by-id/usb-1a86_USB_Serial-if00-port0"),
                                            t.path("dev/ttyUSB2"), t.path("dev/ttyUSB10")}));

        const auto& usb0 = ports[2];
        QCOMPARE(usb0.node, t.path("dev/ttyUSB0"));
        QCOMPARE(usb0.maker, QString("FTDI"));
        QCOMPARE(usb0.product, QString("USB-RS485 Cable"));
        QCOMPARE(usb0.serialNumber, QString("A12345"));
        QCOMPARE(usb0.usbId, QString("0403:6001"));
        QCOMPARE(usb0.text(), "FTDI USB-RS485 Cable (A12345) - " + usb0.path);

        QCOMPARE(ports[0].text(), "Arduino (www.arduino.cc) - " + t.path("dev/ttyACM0"));
        QCOMPARE(ports[0].usbId, QString("2341:0043"));
        QCOMPARE(ports[3].text(), "USB Serial - " + ports[3].path);
        QCOMPARE(ports[3].node, t.path("dev/ttyUSB1"));
        for (int i : {1, 4, 5}) {
            QVERIFY(ports[i].maker.isEmpty() && ports[i].product.isEmpty() && ports[i].usbId.isEmpty());
            QCOMPARE(ports[i].text(), ports[i].path);
        }

        // Another root is read from then on; a missing one lists nothing and breaks nothing.
        picker.setDeviceRoot(t.path("nowhere"));
        QVERIFY(picker.ports().isEmpty());
    }

    // Plugging an adapter in as the kernel and udev do it (sysfs, node, then by-id folder and
    // link, which did not exist before the first adapter) and pulling it out again.
    void reportsAdapterPluggedInAndOut()
    {
        DeviceTree t;
        t.boardSys("ttyS0", 4);
        t.node("ttyS0");
        cPortPicker picker;
        picker.setDeviceRoot(t.root());
        QSignalSpy spy(&picker, &cPortPicker::portsChanged);
        QList<cPortPicker::Port> seen = picker.ports();
        QCOMPARE(paths(seen), QStringList({t.path("dev/ttyS0")}));

        const QString byId = t.path("dev/serial/by-id/usb-FTDI_USB-RS485_Cable_A12345-if00-port0");
        t.usbSys(ftdi);
        t.node("ttyUSB0");
        t.link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_USB-RS485_Cable_A12345-if00-port0");
        QVERIFY(waitForList(picker, spy, seen, [&](const QList<cPortPicker::Port>& l) { return paths(l).contains(byId); }));
        QCOMPARE(picker.ports().size(), 2);

        // A second adapter while the by-id folder is already watched.
        t.usbSys(cdc);
        t.node("ttyACM0");
        QVERIFY(waitForList(picker, spy, seen, [&](const QList<cPortPicker::Port>& l) { return l.size() == 3; }));

        // udev links it only later, when nothing else in dev changes: the by-id folder, made
        // after the picker started, is watched.
        const QString acmById = t.path("dev/serial/by-id/usb-Arduino__www.arduino.cc__0043-if00");
        t.link("../../ttyACM0", "dev/serial/by-id/usb-Arduino__www.arduino.cc__0043-if00");
        QVERIFY(waitForList(picker, spy, seen,
                            [&](const QList<cPortPicker::Port>& l) { return paths(l).contains(acmById); }));

        // Unplugged, and the links and their folders gone with it.
        t.remove("dev/serial");
        t.remove("dev/ttyUSB0");
        t.remove("sys/class/tty/ttyUSB0");
        QVERIFY(waitForList(picker, spy, seen, [&](const QList<cPortPicker::Port>& l) {
            return paths(l) == QStringList({t.path("dev/ttyACM0"), t.path("dev/ttyS0")});
        }));

        // Plugged in again, and the late link once more: the new folders are watched anew.
        t.node("ttyUSB0");
        t.link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_USB-RS485_Cable_A12345-if00-port0");
        QVERIFY(waitForList(picker, spy, seen, [&](const QList<cPortPicker::Port>& l) { return paths(l).contains(byId); }));
        t.link("../../ttyACM0", "dev/serial/by-id/usb-Arduino__www.arduino.cc__0043-if00");
        QVERIFY(waitForList(picker, spy, seen,
                            [&](const QList<cPortPicker::Port>& l) { return paths(l).contains(acmById); }));
    }

    // A node the user may not open is listed (they should see it is there) and marked. As
    // root every mode allows everything, so the check runs as nobody.
    void marksDeviceTheUserMayNotOpen()
    {
        DeviceTree t;
        t.usbSys(ftdi);
        t.node("ttyUSB0", 0666);
        // One the user may only read, one they may only write.
        t.usbSys(ch340);
        t.node("ttyUSB1", 0444);
        t.usbSys(cdc);
        t.node("ttyACM0", 0222);
        cPortPicker picker;
        picker.setDeviceRoot(t.root());

        QByteArray seen;
        QString why;
        const auto outcome = Unprivileged::run(
            [&picker] {
                QByteArray out;
                for (const auto& p : picker.ports())
                    out += (p.accessible ? "rw " : "no ") + p.text().toUtf8() + "\n";
                return out;
            },
            &seen, &why);
        if (outcome == Unprivileged::Outcome::Unavailable)
            QSKIP(qPrintable("cannot check permissions without root's override: " + why));
        QVERIFY2(outcome == Unprivileged::Outcome::Ran, qPrintable(why));
        const QList<QByteArray> lines = seen.split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], "no Arduino (www.arduino.cc) - " + QFile::encodeName(t.path("dev/ttyACM0")) + " (no permission)");
        QCOMPARE(lines[1], "rw FTDI USB-RS485 Cable (A12345) - " + QFile::encodeName(t.path("dev/ttyUSB0")));
        QCOMPARE(lines[2], "no USB Serial - " + QFile::encodeName(t.path("dev/ttyUSB1")) + " (no permission)");
    }
};

QTEST_GUILESS_MAIN(TestPortPicker)
#include "test_port_picker.moc"
