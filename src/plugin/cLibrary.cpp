#include "cLibrary.h"

#include <dlfcn.h>

void* cLibrary::open(const char* path, std::string& reason)
{
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

void cLibrary::close(void* handle)
{
    if (handle)
        dlclose(handle);
}
