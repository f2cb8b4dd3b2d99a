// Library.cpp: shared libraries through the dynamic loader, and the program's folder.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <filesystem>

#include "base/platform/Platform.h"

namespace oggmix::platform {

std::string SharedLibraryName(const std::string& base) { return "lib" + base + ".so"; }

std::string ProgramFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return {argv + std::min(argc, 1), argv + argc};
}

void* OpenLibrary(const std::string& path) noexcept {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(void* library, const char* name) noexcept { return dlsym(library, name); }

void CloseLibrary(void* library) noexcept { dlclose(library); }

std::string LibraryPath(void* library) {
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
        return {};
    return map->l_name;
}

}  // namespace oggmix::platform
