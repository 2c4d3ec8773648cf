#include "cPortPicker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace {

// udev links an adapter a few milliseconds after the kernel made its node; this is long
// enough for that and short enough to feel immediate in a setup page.
constexpr int SETTLE_MS = 250;

// An adapter's USB device sits a few levels above its tty (port, interface, device); the
// bound keeps a strange tree from walking far.
constexpr int USB_SEARCH_LEVELS = 6;

// A sysfs attribute, or empty when it is missing. Attributes are single short lines.
QString attribute(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.read(4096)).trimmed();
}

// "ttyUSB10" -> ("ttyUSB", 10), so that ttyUSB2 comes before ttyUSB10.
std::pair<QString, int> nameKey(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    int digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    return {name.left(digits), name.mid(digits).toInt()};
}

} // namespace

QString cPortPicker::Port::text() const
{
    QString description = product;
    // Many adapters repeat the maker in the product string ("FTDI" / "FTDI USB-RS485").
    if (!maker.isEmpty() && !product.startsWith(maker, Qt::CaseInsensitive))
        description = product.isEmpty() ? maker : maker + QLatin1Char(' ') + product;
    if (!serialNumber.isEmpty())
        description += (description.isEmpty() ? QString() : QStringLiteral(" ")) + QLatin1Char('(') + serialNumber
                       + QLatin1Char(')');
    QString line = description.isEmpty() ? path : description + QStringLiteral(" - ") + path;
    if (!accessible)
        line = QCoreApplication::translate("cPortPicker", "%1 (no permission)").arg(line);
    return line;
}

bool cPortPicker::Port::operator==(const Port& other) const
{
    return path == other.path && node == other.node && maker == other.maker && product == other.product
           && serialNumber == other.serialNumber && usbId == other.usbId && accessible == other.accessible;
}

cPortPicker::cPortPicker(QObject* parent)
    : QObject(parent), watcher(new QFileSystemWatcher(this)), settleTimer(new QTimer(this))
{
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(SETTLE_MS);
    connect(settleTimer, &QTimer::timeout, this, &cPortPicker::settle);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &cPortPicker::directoryChanged);
    watchDirectories();
    reported = ports();
}

cPortPicker::~cPortPicker() = default;

void cPortPicker::setDeviceRoot(const QString& newRoot)
{
    const QString cleaned = QDir::cleanPath(newRoot.isEmpty() ? QStringLiteral("/") : newRoot);
    if (cleaned == root)
        return;
    settleTimer->stop();
    const QStringList watched = watcher->directories();
    if (!watched.isEmpty())
        watcher->removePaths(watched);
    root = cleaned;
    watchDirectories();
    reported = ports();
}

QString cPortPicker::under(const QString& relative) const
{
    return root == QLatin1String("/") ? QLatin1Char('/') + relative : root + QLatin1Char('/') + relative;
}

// dev/serial and dev/serial/by-id come and go with the first and last USB adapter, so they
// are watched again after every change, before the look that reports it: what was linked
// before the watch began is then seen by that look, what is linked after it by the watch.
void cPortPicker::watchDirectories()
{
    const QStringList watched = watcher->directories();
    for (const QString& rel : {QStringLiteral("dev"), QStringLiteral("dev/serial"), QStringLiteral("dev/serial/by-id")}) {
        const QString dir = under(rel);
        if (!watched.contains(dir) && QFileInfo(dir).isDir())
            watcher->addPath(dir);
    }
}

void cPortPicker::directoryChanged()
{
    settleTimer->start();
}

void cPortPicker::settle()
{
    watchDirectories();
    QList<Port> now = ports();
    if (now == reported)
        return;
    reported = std::move(now);
    emit portsChanged();
}

QList<cPortPicker::Port> cPortPicker::ports() const
{
    static const QRegularExpression usbLike(QStringLiteral("^tty(USB|ACM|XRUSB)[0-9]+$"));
    static const QRegularExpression onBoard(QStringLiteral("^tty(S|AMA)[0-9]+$"));

    // The by-id links by the node they lead to. udev writes them relative to their folder;
    // an absolute one is taken as inside the root, so a copied tree reads as it would in place.
    QHash<QString, QString> stableByNode;
    const QString byIdDir = under(QStringLiteral("dev/serial/by-id"));
    const QStringList links = QDir(byIdDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& link : links) {
        const QString linkPath = byIdDir + QLatin1Char('/') + link;
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(QFile::encodeName(linkPath).toStdString(), ec);
        if (ec)
            continue;
        const QString t = QFile::decodeName(QByteArray::fromStdString(target.string()));
        const QString resolved = target.is_absolute() ? under(t.mid(1)) : byIdDir + QLatin1Char('/') + t;
        const QString node = QFileInfo(resolved).canonicalFilePath();
        // Entries are sorted, so a node with several links keeps the same one every time.
        if (!node.isEmpty() && !stableByNode.contains(node))
            stableByNode.insert(node, linkPath);
    }

    const QString sysRoot = QFileInfo(under(QStringLiteral("sys"))).canonicalFilePath();
    const QString devDir = under(QStringLiteral("dev"));
    QList<Port> found;
    const QStringList names = QDir(devDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const bool usb = usbLike.match(name).hasMatch();
        if (!usb && !onBoard.match(name).hasMatch())
            continue;
        const QString sysTty = under(QStringLiteral("sys/class/tty/") + name);
        const QString device = QFileInfo(sysTty + QStringLiteral("/device")).canonicalFilePath();
        if (!usb) {
            // Port type 0 is the kernel's "no UART here" for the ttyS0..31 it always makes.
            if (device.isEmpty() || attribute(sysTty + QStringLiteral("/type")) == QLatin1String("0"))
                continue;
        }

        Port p;
        p.node = devDir + QLatin1Char('/') + name;
        p.path = stableByNode.value(QFileInfo(p.node).canonicalFilePath(), p.node);
        p.accessible = ::access(QFile::encodeName(p.node).constData(), R_OK | W_OK) == 0;

        // The USB device is the nearest ancestor with a vendor id; the walk stays inside sys
        // so that a link leading out of a test tree never reads the machine's own devices.
        QString dir = device;
        for (int level = 0; !sysRoot.isEmpty() && level < USB_SEARCH_LEVELS
                            && dir.startsWith(sysRoot + QLatin1Char('/'));
             ++level) {
            const QString vendor = attribute(dir + QStringLiteral("/idVendor"));
            if (!vendor.isEmpty()) {
                p.usbId = vendor + QLatin1Char(':') + attribute(dir + QStringLiteral("/idProduct"));
                p.maker = attribute(dir + QStringLiteral("/manufacturer"));
                p.product = attribute(dir + QStringLiteral("/product"));
                p.serialNumber = attribute(dir + QStringLiteral("/serial"));
                break;
            }
            dir = QFileInfo(dir).path();
        }
        found.append(p);
    }
    std::sort(found.begin(), found.end(),
              [](const Port& a, const Port& b) { return nameKey(a.node) < nameKey(b.node); });
    return found;
}
