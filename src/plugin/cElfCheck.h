#pragma once

#include <string>

// Looks at a plug-in file before the system's loader maps it. The loader trusts the file's
// headers and maps whatever they name; a part of the file that is not there (a half-copied
// update) is a bus error on first touch, not an error it returns. This reads the headers with
// plain file reads and refuses a file whose headers or segments reach past its end.
class cElfCheck
{
public:
    // True when `path` is an ELF shared object for this host whose program headers, loadable
    // segments and section header table all lie inside the file. False with the reason, which
    // starts with the path as the loader's own messages do. A file that cannot be opened or
    // is no regular file is left to the loader, which says why in its own words.
    static bool check(const char* path, std::string& reason);
};
