// TestPaths.cpp: executable folder, decoder binding and temporary folders for tests.
#include "tests/support/TestPaths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "base/Utf8Path.h"
#include "base/platform/Platform.h"
#include "decoder/OggWuvorbisLib.h"

namespace oggmix::test {

std::string ExecutableDir() {
    const std::string folder = platform::ProgramFolder();
    if (folder.empty()) throw std::runtime_error("cannot tell the program's folder");
    return folder;
}

std::string WuvorbisPath() {
    return ExecutableDir() + "/" + platform::SharedLibraryName("wuvorbis");
}

void BindDecoder() {
    if (VorbisFileDLL && VorbisFileDLL->Usable()) return;
    if (!LoadVorbisFileDLL(WuvorbisPath()))
        throw std::runtime_error("libwuvorbis.so lacks an entry point");
}

TempDir::TempDir() {
    // A name no other test process picks: its own id and random letters, made or tried again.
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "oggmix-test-" + std::to_string(platform::ProcessId()) + "-";
        for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
        std::error_code error;
        if (std::filesystem::create_directory(base / name, error)) {
            FPath = Utf8FromPath(base / name);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

std::string TempDir::Write(const std::string& name, std::span<const uint8_t> bytes) const {
    const std::string path = FPath + "/" + name;
    std::ofstream out(PathFromUtf8(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& path)
    : FPrevious(std::filesystem::current_path().string()) {
    std::filesystem::current_path(path);
}

ScopedCurrentDir::~ScopedCurrentDir() {
    std::error_code ignored;
    std::filesystem::current_path(FPrevious, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace oggmix::test

// LeakSanitizer's suppressions for every program that binds the decoder through test support.
// libvorbisfile 1.3.7 loses a serial-number list (8 bytes) when a chained file's later link
// has broken headers; nothing outside the library can reach it to free it. Only allocations
// made inside libvorbisfile are matched: a decoder state or a file that we fail to free still
// shows through its MemoryStream, which our code allocates. libvorbisenc 1.3.7 loses part of
// its setup (2848 bytes) when it encodes more than two channels, although the fixture encoder
// clears everything it was given.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libvorbisfile.so\nleak:libvorbisenc.so\n";
}
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
