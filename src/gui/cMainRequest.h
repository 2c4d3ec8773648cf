#pragma once

#include "../core/cTransaction.h"

#include <QByteArray>

// Command codes of the "MAIN" thread: the first byte of each of its requests.
enum : unsigned char {
    MAIN_LOAD_PLUGINS = 2,
    MAIN_UNLOAD_PLUGINS = 3,
    MAIN_UPDATE_TREE = 5,
    MAIN_ACTION_LOCK = 6,
};

// The byte layout of the "MAIN" thread's requests, in one place: the window and plug-ins
// build requests with the encoders, the "MAIN" handler reads them with the decoder.
// Pointers travel as their bytes, least significant first; they are only meaningful inside
// this process.
class cMainRequest
{
public:
    // An action-lock request: code, tag length, text length, seconds, then the tag, the
    // text and the two flag pointers.
    static constexpr int kActionHeader = 4;
    static constexpr int kPointerSize = int(sizeof(void*));
    static constexpr int kActionPointers = 2 * kPointerSize;
    // Each length travels in one byte.
    static constexpr int kMaxActionText = 255;

    // The encoders; each returns the whole request.
    static QByteArray loadPlugins();
    static QByteArray unloadPlugins();
    static QByteArray updateTree(const void* item);
    // Empty when a length is negative or over kMaxActionText, or a null pointer comes with
    // a length: such a request cannot be written without losing or inventing bytes.
    static QByteArray actionLock(const char* tag, int tagLength, const char* text, int textLength, const bool* busy,
                                 const bool* status, unsigned char seconds);

    // The decoder: reads `length` bytes at `input`. A request whose length cannot hold what
    // its command needs is not `complete`, and nothing past its length is read.
    cMainRequest(const unsigned char* input, int length);

    unsigned char code = 0;
    bool complete = false;
    // MAIN_UPDATE_TREE
    void* item = nullptr;
    // MAIN_ACTION_LOCK
    QByteArray tag;
    QByteArray text;
    int seconds = 0;
    const bool* busy = nullptr;
    const bool* status = nullptr;
};
