#include "cLibrary.h"

#include "cElfCheck.h"

#include <dlfcn.h>
#include <link.h>

void* cLibrary::open(const char* path, std::string& reason)
{
    if (!cElfCheck::check(path, reason))
        return nullptr;
    dlerror();
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        reason = e ? e : "unknown reason";
    }
    return h;
}

void* cLibrary::symbol(void* handle, const char* name)
{
    if (!handle)
        return nullptr;
    return dlsym(handle, name);
}

bool cLibrary::contains(void* handle, const void* address)
{
    if (!handle || !address)
        return false;
    struct link_map* library = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &library) != 0 || !library)
        return false;
    Dl_info info;
    struct link_map* owner = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0)
        return false;
    return owner == library;
}

void cLibrary::close(void* handle)
{
    if (handle)
        dlclose(handle);
}
