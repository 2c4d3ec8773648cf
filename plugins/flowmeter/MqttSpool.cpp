#include "MqttSpool.h"
#include "BoundedFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <string.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char fileMagic[8] = {'C', 'V', 'M', 'Q', 'S', 'P', 'L', '1'};
const quint32 recordMagic = 0x3153514du; // "MQS1" little-endian
// Magic, start of the oldest, dropped count, checksum of the two, padding.
const std::int64_t headerSize = 32;
// Magic, body length, body checksum.
const std::int64_t frameSize = 12;
// A body longer than this is no message of ours but a damaged length.
const quint32 maxBody = 64u * 1024u * 1024u;

quint32 crc32(const char* data, std::size_t size)
{
    struct Table
    {
        std::array<quint32, 256> t;
        Table()
        {
            for (quint32 i = 0; i < 256; ++i) {
                quint32 c = i;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
                t[i] = c;
            }
        }
    };
    static const Table table;
    quint32 c = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i)
        c = table.t[(c ^ quint8(data[i])) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

// The whole of `size` bytes at `at`, through pread or pwrite, whatever a call does short.
template <typename Buffer, typename Transfer>
bool transferAll(int fd, Buffer data, std::int64_t size, std::int64_t at, Transfer transfer)
{
    while (size > 0) {
        ssize_t n = transfer(fd, data, size_t(size), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

bool writeAll(int fd, const char* data, std::int64_t size, std::int64_t at)
{
    return transferAll(fd, data, size, at, ::pwrite);
}

bool readAll(int fd, char* data, std::int64_t size, std::int64_t at)
{
    return transferAll(fd, data, size, at, ::pread);
}

QString tr(const char* text)
{
    return QCoreApplication::translate("MqttSpool", text);
}

} // namespace

MqttSpool::MqttSpool(const QString& folder, std::int64_t limit) : dir(folder), limitBytes(limit) {}

MqttSpool::~MqttSpool()
{
    if (fd >= 0)
        ::close(fd);
}

QString MqttSpool::path() const
{
    return QDir(dir).filePath(QStringLiteral("spool.dat"));
}

bool MqttSpool::fail(const QString& what)
{
    lastError = what.arg(path(), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool MqttSpool::open()
{
    if (fd >= 0)
        return true;
    if (!QDir().mkpath(dir)) {
        errno = EACCES;
        return fail(tr("Cannot make the folder of the MQTT spool %1: %2"));
    }
    // A FIFO or a device at its name is neither read nor written: it is not our spool.
    BoundedFile opened;
    if (!opened.open(path(), BoundedFile::ReadWriteCreate)) {
        lastError = tr("Cannot open the MQTT spool %1: %2").arg(path(), opened.why());
        return false;
    }
    std::int64_t size = opened.size();
    fd = opened.release();
    entries.clear();
    liveBytes = 0;
    repaired = 0;
    droppedCount = 0;
    head = headerSize;
    if (size < headerSize) {
        // New, or made by a run that died before its header was whole: nothing was kept yet.
        end = headerSize;
        if (::ftruncate(fd, 0) != 0 || !writeAll(fd, fileMagic, sizeof fileMagic, 0) || !writeHeader()) {
            fail(tr("Cannot write the MQTT spool %1: %2"));
            ::close(fd);
            fd = -1;
            return false;
        }
        repaired = size;
        return true;
    }

    char header[headerSize];
    if (!readAll(fd, header, headerSize, 0) || std::memcmp(header, fileMagic, sizeof fileMagic) != 0) {
        // Not ours: leave it as it is rather than overwrite someone's file.
        errno = EINVAL;
        fail(tr("%1 is not an MQTT spool (%2); nothing is spooled"));
        ::close(fd);
        fd = -1;
        return false;
    }
    const std::int64_t storedHead = qFromLittleEndian<qint64>(header + 8);
    const std::int64_t storedDropped = qFromLittleEndian<qint64>(header + 16);
    const quint32 storedCrc = qFromLittleEndian<quint32>(header + 24);
    // A torn header write: start from the first message kept, which may send some again but
    // loses none.
    if (storedCrc == crc32(header + 8, 16) && storedHead >= headerSize && storedHead <= size) {
        head = storedHead;
        droppedCount = storedDropped;
    }

    std::int64_t at = head;
    skipped = 0;
    skippedMessages = 0;
    int damages = 0;
    while (at + frameSize <= size) {
        const std::int64_t n = wholeFrameAt(at, size);
        if (n > 0) {
            entries.push_back({at, n});
            liveBytes += n;
            at += n;
            continue;
        }
        // A torn last message has nothing whole after it; damage in the middle does.
        const std::int64_t next = nextWholeFrame(at + 1, size);
        if (next < 0)
            break;
        skipped += next - at;
        ++damages;
        at = next;
    }
    end = at;
    if (at < size) {
        repaired = size - at;
        if (::ftruncate(fd, off_t(at)) != 0 || ::fdatasync(fd) != 0) {
            fail(tr("Cannot repair the MQTT spool %1: %2"));
            ::close(fd);
            fd = -1;
            entries.clear();
            return false;
        }
    }
    if (skipped > 0) {
        // Messages are all about one size (a meter's state): what the damage took is told from
        // the size of those kept, at least one for each damaged place.
        const std::int64_t average = entries.empty() ? skipped : liveBytes / std::int64_t(entries.size());
        skippedMessages = std::max<std::int64_t>(damages, (skipped + average / 2) / std::max<std::int64_t>(average, 1));
        droppedCount += skippedMessages;
        head = entries.empty() ? end : entries.front().offset;
        // Without the damage, so that the next open does not find it (and count it) again.
        if (!compact() && !writeHeader())
            fail(tr("Cannot write the MQTT spool %1: %2"));
    }
    return true;
}

std::int64_t MqttSpool::wholeFrameAt(std::int64_t at, std::int64_t size) const
{
    char frame[frameSize];
    if (at + frameSize > size || !readAll(fd, frame, frameSize, at) || qFromLittleEndian<quint32>(frame) != recordMagic)
        return 0;
    const quint32 bodySize = qFromLittleEndian<quint32>(frame + 4);
    if (bodySize > maxBody || at + frameSize + bodySize > size)
        return 0;
    QByteArray body(int(bodySize), Qt::Uninitialized);
    Message m;
    if (!readAll(fd, body.data(), bodySize, at + frameSize)
        || crc32(body.constData(), bodySize) != qFromLittleEndian<quint32>(frame + 8) || !decode(body, &m))
        return 0;
    return frameSize + bodySize;
}

std::int64_t MqttSpool::nextWholeFrame(std::int64_t from, std::int64_t size) const
{
    // Read in pieces that overlap by a magic's length, so that one across two is seen.
    const std::int64_t piece = 64 * 1024;
    char magic[4];
    qToLittleEndian<quint32>(recordMagic, magic);
    QByteArray buffer(int(piece), Qt::Uninitialized);
    for (std::int64_t at = from; at + frameSize <= size; at += piece - 3) {
        const std::int64_t n = std::min(piece, size - at);
        if (!readAll(fd, buffer.data(), n, at))
            return -1;
        for (const char* p = buffer.constData(); p + 4 <= buffer.constData() + n;) {
            const char* hit = static_cast<const char*>(memmem(p, size_t(buffer.constData() + n - p), magic, 4));
            if (!hit)
                break;
            // A magic alone may be chance: only a frame that checks in full is taken.
            const std::int64_t candidate = at + (hit - buffer.constData());
            if (wholeFrameAt(candidate, size) > 0)
                return candidate;
            p = hit + 1;
        }
    }
    return -1;
}

bool MqttSpool::writeHeader(bool sync)
{
    char h[24];
    qToLittleEndian<qint64>(head, h);
    qToLittleEndian<qint64>(droppedCount, h + 8);
    qToLittleEndian<quint32>(crc32(h, 16), h + 16);
    std::memset(h + 20, 0, 4);
    return writeAll(fd, h, sizeof h, 8) && (!sync || ::fdatasync(fd) == 0);
}

QByteArray MqttSpool::encode(const Message& m)
{
    const QByteArray topic = m.topic.toUtf8();
    QByteArray b;
    b.reserve(26 + topic.size() + m.payload.size());
    char fixed[14];
    const QDateTime t = m.time.isValid() ? m.time : QDateTime::currentDateTime();
    qToLittleEndian<qint64>(t.toMSecsSinceEpoch(), fixed);
    qToLittleEndian<qint32>(t.offsetFromUtc(), fixed + 8);
    fixed[12] = char(m.qos);
    fixed[13] = m.retain ? 1 : 0;
    b.append(fixed, sizeof fixed);
    char len[4];
    qToLittleEndian<quint32>(quint32(topic.size()), len);
    b.append(len, 4);
    b.append(topic);
    qToLittleEndian<quint32>(quint32(m.payload.size()), len);
    b.append(len, 4);
    b.append(m.payload);
    return b;
}

bool MqttSpool::decode(const QByteArray& b, Message* out)
{
    if (b.size() < 22)
        return false;
    const char* p = b.constData();
    const qint64 ms = qFromLittleEndian<qint64>(p);
    const qint32 offset = qFromLittleEndian<qint32>(p + 8);
    const int qos = quint8(p[12]);
    const quint32 topicSize = qFromLittleEndian<quint32>(p + 14);
    if (qos > 2 || topicSize > quint32(b.size() - 22))
        return false;
    const quint32 payloadSize = qFromLittleEndian<quint32>(p + 18 + topicSize);
    if (payloadSize != quint32(b.size()) - 22 - topicSize)
        return false;
    out->time = QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
    out->qos = qos;
    out->retain = p[13] != 0;
    out->topic = QString::fromUtf8(p + 18, int(topicSize));
    out->payload = QByteArray(p + 22 + topicSize, int(payloadSize));
    return true;
}

bool MqttSpool::append(const Message& message)
{
    bool tooLarge = false;
    return appendAll(std::vector<Message>{message}, &tooLarge) && !tooLarge;
}

bool MqttSpool::append(const std::vector<Message>& batch)
{
    bool tooLarge = false;
    return appendAll(batch, &tooLarge);
}

bool MqttSpool::appendAll(const std::vector<Message>& batch, bool* tooLargeSeen)
{
    if (fd < 0) {
        if (lastError.isEmpty())
            lastError = tr("The MQTT spool is not open");
        return false;
    }
    const std::int64_t start = end;
    const std::int64_t droppedBefore = droppedCount;
    lastEvicted = 0;
    std::int64_t evictedOld = 0;
    std::int64_t tooLarge = 0;
    QByteArray frames;
    for (const Message& message : batch) {
        const QByteArray body = encode(message);
        const std::int64_t size = frameSize + body.size();
        if (size > limitBytes) {
            ++droppedCount;
            tooLarge = size;
            continue;
        }
        // Room is made from the oldest, which may be of this same batch.
        while (!entries.empty() && liveBytes + size > limitBytes) {
            if (entries.front().offset < start)
                ++evictedOld;
            liveBytes -= entries.front().size;
            entries.pop_front();
            ++droppedCount;
        }
        char frame[frameSize];
        qToLittleEndian<quint32>(recordMagic, frame);
        qToLittleEndian<quint32>(quint32(body.size()), frame + 4);
        qToLittleEndian<quint32>(crc32(body.constData(), size_t(body.size())), frame + 8);
        frames.append(frame, frameSize);
        frames.append(body);
        entries.push_back({end, size});
        end += size;
        liveBytes += size;
    }
    const bool droppedAny = droppedCount != droppedBefore;
    if (droppedAny)
        head = entries.empty() ? end : entries.front().offset;
    // The header (when it moved) and the messages are made durable by one fdatasync.
    bool ok = (!droppedAny || writeHeader(false))
        && (frames.isEmpty() || writeAll(fd, frames.constData(), frames.size(), start));
    ok = ok && (frames.isEmpty() && !droppedAny ? true : ::fdatasync(fd) == 0);
    if (!ok) {
        const int saved = errno;
        // Leave the file ending at a whole message; the batch is not in it.
        while (!entries.empty() && entries.back().offset >= start) {
            liveBytes -= entries.back().size;
            entries.pop_back();
        }
        end = start;
        head = entries.empty() ? end : entries.front().offset;
        if (::ftruncate(fd, off_t(end)) != 0) {
        }
        errno = saved;
        return fail(tr("Cannot write the MQTT spool %1: %2"));
    }
    lastEvicted = evictedOld;
    if (tooLarge > 0) {
        lastError = tr("A message of %1 bytes is larger than the MQTT spool's limit").arg(tooLarge);
        *tooLargeSeen = true;
    }
    if (droppedAny)
        compactIfWorthIt();
    return true;
}

bool MqttSpool::readBody(const Entry& e, QByteArray* body) const
{
    char frame[frameSize];
    if (!readAll(fd, frame, frameSize, e.offset))
        return false;
    body->resize(int(e.size - frameSize));
    return readAll(fd, body->data(), body->size(), e.offset + frameSize)
        && crc32(body->constData(), size_t(body->size())) == qFromLittleEndian<quint32>(frame + 8);
}

bool MqttSpool::peek(Message* out, int index) const
{
    if (fd < 0 || index < 0 || index >= count())
        return false;
    QByteArray body;
    return readBody(entries[size_t(index)], &body) && decode(body, out);
}

bool MqttSpool::removeOldest(int n)
{
    if (entries.empty() || n < 1)
        return false;
    const bool enough = n <= count();
    for (; n > 0 && !entries.empty(); --n) {
        liveBytes -= entries.front().size;
        entries.pop_front();
    }
    if (entries.empty() && ::ftruncate(fd, off_t(headerSize)) == 0) {
        // Cut first: a crash before the header is written finds its start past the end and
        // begins again at the first message, of which there is none.
        end = headerSize;
        head = headerSize;
        return (writeHeader(false) || fail(tr("Cannot write the MQTT spool %1: %2"))) && enough;
    }
    head = entries.empty() ? end : entries.front().offset;
    if (!writeHeader(false))
        return fail(tr("Cannot write the MQTT spool %1: %2"));
    compactIfWorthIt();
    return enough;
}

void MqttSpool::setLimit(std::int64_t bytes)
{
    limitBytes = bytes;
}

void MqttSpool::compactIfWorthIt()
{
    const std::int64_t removed = head - headerSize;
    if (removed < 1024 * 1024 || removed < liveBytes)
        return;
    compact();
}

bool MqttSpool::compact()
{
    // The live messages into a new file, made durable, then put in the old one's place: a crash
    // leaves either file whole.
    const QString tmpPath = path() + QStringLiteral(".new");
    const QByteArray tmpName = QFile::encodeName(tmpPath);
    int f = ::open(tmpName.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (f < 0)
        return false;
    QByteArray data(int(headerSize + liveBytes), Qt::Uninitialized);
    std::memcpy(data.data(), fileMagic, sizeof fileMagic);
    qToLittleEndian<qint64>(headerSize, data.data() + 8);
    qToLittleEndian<qint64>(droppedCount, data.data() + 16);
    qToLittleEndian<quint32>(crc32(data.constData() + 8, 16), data.data() + 24);
    std::memset(data.data() + 28, 0, 4);
    std::int64_t at = headerSize;
    bool ok = true;
    std::deque<Entry> moved;
    for (const Entry& e : entries) {
        ok = ok && readAll(fd, data.data() + at, e.size, e.offset);
        moved.push_back({at, e.size});
        at += e.size;
    }
    ok = ok && writeAll(f, data.constData(), data.size(), 0) && ::fsync(f) == 0
        && ::rename(tmpName.constData(), QFile::encodeName(path()).constData()) == 0;
    if (!ok) {
        ::close(f);
        ::unlink(tmpName.constData());
        return false;
    }
    const int d = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    ::close(fd);
    fd = f;
    entries.swap(moved);
    head = headerSize;
    end = at;
    return true;
}
