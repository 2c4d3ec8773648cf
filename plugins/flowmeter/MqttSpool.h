#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

// Messages kept on disk while the broker cannot be reached, oldest first (docs/mqtt.md).
//
// One file, `spool.dat`, in the folder given: a header holding where the oldest live message
// starts and how many were dropped, then the messages, each framed with its length and a
// checksum. An append is one write and one fdatasync, so a crash or a power loss leaves at
// worst a torn last message, which the next open cuts back. A removal moves the start in the
// header (one small write, made durable with the next append: a crash may send some confirmed
// messages again, never lose one); the file is rewritten without the removed messages
// when they are most of it. Damage between whole messages (a bad sector, a stray write) costs
// the messages it hit, not those after it: the next whole message is found again. Bounded: an append that would pass the limit first drops the oldest.
// Used from one thread at a time (the link's own).
class MqttSpool
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        int qos = 0;
        bool retain = false;
        // When it was made, not when it left.
        QDateTime time;
    };

    // `limitBytes`: the most the live messages may take on disk, framing included.
    MqttSpool(const QString& folder, std::int64_t limitBytes);
    ~MqttSpool();
    MqttSpool(const MqttSpool&) = delete;
    MqttSpool& operator=(const MqttSpool&) = delete;

    // Opens (or makes) the file, cuts a torn tail back. False with error() on failure; the spool
    // then keeps nothing and every append fails.
    bool open();
    bool isOpen() const { return fd >= 0; }

    // Durable when it returns true. Drops the oldest to make room; a message larger than the
    // whole limit is itself dropped (and counted), and false is returned.
    bool append(const Message& message);
    // The messages in their order, with one write and one fdatasync for them all. False only
    // when that write failed, and then none of them is kept. Room is made as for each alone; one
    // larger than the whole limit is dropped, counted and said in error().
    bool append(const std::vector<Message>& batch);
    // The `index`-th oldest (0: the oldest); false when there are not that many or it cannot be
    // read back.
    bool peek(Message* out, int index = 0) const;
    // Removes the `n` oldest (their delivery is confirmed) with one write of the header, which is
    // not waited for: replaying the spool is not held to the disk's pace. False
    // when there are fewer, which are then all removed.
    bool removeOldest(int n = 1);

    int count() const { return int(entries.size()); }
    bool isEmpty() const { return entries.empty(); }
    // Bytes the live messages take on disk.
    std::int64_t bytes() const { return liveBytes; }
    std::int64_t limit() const { return limitBytes; }
    void setLimit(std::int64_t bytes);
    // Of the messages there before the last successful append, how many it dropped to make room
    // (the oldest; not counting those of the batch itself).
    std::int64_t evictedByLastAppend() const { return lastEvicted; }
    // Messages dropped to keep within the limit, since the file was made (kept in the file).
    std::int64_t dropped() const { return droppedCount; }
    // Bytes of a torn tail cut off at the last open.
    std::int64_t repairedBytes() const { return repaired; }
    // Bytes of damage found between whole messages at the last open, skipped; and about how
    // many messages they held, which are lost (and counted in dropped()).
    std::int64_t skippedBytes() const { return skipped; }
    std::int64_t lostToDamage() const { return skippedMessages; }
    QString error() const { return lastError; }
    QString path() const;

    static QByteArray encode(const Message& message);
    static bool decode(const QByteArray& body, Message* out);

private:
    struct Entry
    {
        std::int64_t offset;
        std::int64_t size; // framing included
    };

    // `sync`: made durable at once; otherwise with the next append's fdatasync (or the system's
    // own writeback), which at worst sends confirmed messages again after a crash.
    bool writeHeader(bool sync = true);
    bool appendAll(const std::vector<Message>& batch, bool* tooLarge);
    // Rewrites the file with the live messages only, when the removed ones are most of it.
    void compactIfWorthIt();
    bool compact();
    // The size of the frame at `at` when all of it checks (its magic, a length within the file,
    // the body's checksum, a body that decodes); 0 otherwise.
    std::int64_t wholeFrameAt(std::int64_t at, std::int64_t size) const;
    // The first whole frame after `from`, or -1 when none follows.
    std::int64_t nextWholeFrame(std::int64_t from, std::int64_t size) const;
    bool readBody(const Entry& e, QByteArray* body) const;
    bool fail(const QString& what);

    QString dir;
    std::int64_t limitBytes;
    int fd = -1;
    std::deque<Entry> entries;
    std::int64_t head = 0;
    std::int64_t end = 0;
    std::int64_t liveBytes = 0;
    std::int64_t droppedCount = 0;
    std::int64_t repaired = 0;
    std::int64_t skipped = 0;
    std::int64_t skippedMessages = 0;
    std::int64_t lastEvicted = 0;
    QString lastError;
};
