#include <dlfcn.h>

#include "platform/dynlib.h"

namespace platform {

ModuleHandle LoadDynamicLibrary(const std::string& name) {
    if (name.empty()) return nullptr;
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr) return nullptr;
    return dlsym(module, name);
}

void FreeDynamicLibrary(ModuleHandle module) {
    if (module != nullptr) dlclose(module);
}

}  // namespace platform
