#pragma once

#include <string>

// The whole of the host's dynamic-library surface: open a plug-in library, look up one of its
// symbols, tell whether an address lies in it, close it. Nothing else in the host names the
// system's loader.
class cLibrary
{
public:
    // Loads the library at `path` with every symbol bound at once and none made visible to
    // later libraries. Returns null on failure, with the reason in `reason`. A file whose
    // headers reach past its end (cElfCheck) is refused before the loader maps it.
    static void* open(const char* path, std::string& reason);
    // The address of the exported symbol `name`, or null when the library has none.
    static void* symbol(void* handle, const char* name);
    // True when `address` (code or data) lies in the library that open() returned as `handle`.
    static bool contains(void* handle, const void* address);
    // Unloads a library that open() returned; a null handle is ignored.
    static void close(void* handle);
};
