// Library.cpp: DLLs by UTF-16 path, the program's folder and its UTF-16 command line.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "base/platform/Platform.h"
#include "base/platform/windows/Wide.h"

namespace oggmix::platform {
namespace {

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::string SharedLibraryName(const std::string& base) { return "lib" + base + ".dll"; }

std::string ProgramFolder() {
    const std::wstring exe = ModulePath(nullptr);
    const size_t slash = exe.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : Narrow(exe.substr(0, slash));
}

std::vector<std::string> ProgramArguments(int, char**) {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) args.push_back(Narrow(wide.get()[i]));
    return args;
}

void* OpenLibrary(const std::string& path) noexcept {
    try {
        // Its own dependencies are looked for beside it first, as the loader does elsewhere.
        return reinterpret_cast<void*>(
            LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    } catch (...) {
        return nullptr;
    }
}

void* LibrarySymbol(void* library, const char* name) noexcept {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) noexcept { FreeLibrary(static_cast<HMODULE>(library)); }

std::string LibraryPath(void* library) { return Narrow(ModulePath(static_cast<HMODULE>(library))); }

}  // namespace oggmix::platform
