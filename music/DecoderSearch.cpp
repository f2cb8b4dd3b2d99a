// DecoderSearch.cpp: the candidate folders of the decoding library and the search.
#include "music/DecoderSearch.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "oggmix/MusicPlayer.h"

namespace oggmix::music {
namespace {

constexpr const char* kDecoderFile = "libwuvorbis.so";

std::filesystem::path ExecutableDir() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

// The folder of the executable or shared library that holds this code.
std::filesystem::path ModuleDir() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleDir), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code error;
    const auto module = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::filesystem::path() : module.parent_path();
}

}  // namespace

std::vector<std::string> DecoderCandidates(const std::string& Explicit) {
    if (!Explicit.empty()) return {std::filesystem::absolute(Explicit).string()};
    std::vector<std::filesystem::path> folders{ExecutableDir(), ModuleDir()};
    if (!folders.back().empty()) folders.push_back(folders.back().parent_path() / "bin");
    folders.emplace_back(OGGMIX_INSTALLED_BINDIR);
    std::vector<std::string> paths;
    for (const auto& folder : folders) {
        if (folder.empty()) continue;
        const std::string path = (folder / kDecoderFile).lexically_normal().string();
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    return paths;
}

std::string FindDecoder(const std::string& Explicit) {
    const std::vector<std::string> paths = DecoderCandidates(Explicit);
    std::string tried;
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) return path;
        tried += "\n  " + path;
    }
    throw MusicError(MusicErrorCode::NoDecoder,
                     "the decoding library libwuvorbis.so was not found; looked for:" + tried);
}

}  // namespace oggmix::music
