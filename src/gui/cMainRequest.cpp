#include "cMainRequest.h"

#include <cstdint>

namespace {

void appendPointer(QByteArray& request, const void* p)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    for (int i = 0; i < cMainRequest::kPointerSize; ++i, v >>= 8)
        request.append(char(v & 0xFF));
}

void* readPointer(const unsigned char* at)
{
    uintptr_t v = 0;
    for (int i = cMainRequest::kPointerSize - 1; i >= 0; --i)
        v = (v << 8) | at[i];
    return reinterpret_cast<void*>(v);
}

} // namespace

QByteArray cMainRequest::loadPlugins()
{
    return QByteArray(1, char(MAIN_LOAD_PLUGINS));
}

QByteArray cMainRequest::unloadPlugins()
{
    return QByteArray(1, char(MAIN_UNLOAD_PLUGINS));
}

QByteArray cMainRequest::updateTree(const void* item)
{
    QByteArray request(1, char(MAIN_UPDATE_TREE));
    appendPointer(request, item);
    return request;
}

QByteArray cMainRequest::actionLock(const char* tag, int tagLength, const char* text, int textLength,
                                    const bool* busy, const bool* status, unsigned char seconds)
{
    if (tagLength < 0 || textLength < 0 || tagLength > kMaxActionText || textLength > kMaxActionText ||
        (!tag && tagLength) || (!text && textLength))
        return QByteArray();
    QByteArray request;
    request.reserve(kActionHeader + tagLength + textLength + kActionPointers);
    request.append(char(MAIN_ACTION_LOCK));
    request.append(char(tagLength));
    request.append(char(textLength));
    request.append(char(seconds));
    request.append(tag, tagLength);
    request.append(text, textLength);
    appendPointer(request, busy);
    appendPointer(request, status);
    return request;
}

cMainRequest::cMainRequest(const unsigned char* input, int length)
{
    if (!input || length < 1)
        return;
    code = input[0];
    switch (code) {
    case MAIN_LOAD_PLUGINS:
    case MAIN_UNLOAD_PLUGINS:
        complete = true;
        break;
    case MAIN_UPDATE_TREE:
        // Too short to hold the pointer, the request would hand over whatever the record
        // held before.
        if (length >= 1 + kPointerSize) {
            item = readPointer(input + 1);
            complete = true;
        }
        break;
    case MAIN_ACTION_LOCK: {
        // Shorter than the header and one pointer's worth, the lengths are not looked at.
        if (length <= 10)
            break;
        const int tagLength = input[1];
        const int textLength = input[2];
        // The request must reach past both pointers, or they would be read from beyond it.
        if (length < kActionHeader + tagLength + textLength + kActionPointers)
            break;
        const unsigned char* at = input + kActionHeader;
        tag = QByteArray(reinterpret_cast<const char*>(at), tagLength);
        at += tagLength;
        text = QByteArray(reinterpret_cast<const char*>(at), textLength);
        at += textLength;
        seconds = input[3];
        busy = static_cast<const bool*>(readPointer(at));
        status = static_cast<const bool*>(readPointer(at + kPointerSize));
        complete = true;
        break;
    }
    default:
        break;
    }
}
