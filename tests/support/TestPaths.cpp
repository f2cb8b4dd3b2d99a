// TestPaths.cpp: executable folder, decoder binding and temporary folders for tests.
#include "tests/support/TestPaths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "decoder/OggWuvorbisLib.h"

namespace oggmix::test {

std::string ExecutableDir() {
    return std::filesystem::canonical("/proc/self/exe").parent_path().string();
}

std::string WuvorbisPath() { return ExecutableDir() + "/libwuvorbis.so"; }

void BindDecoder() {
    if (VorbisFileDLL && VorbisFileDLL->Usable()) return;
    if (!LoadVorbisFileDLL(WuvorbisPath()))
        throw std::runtime_error("libwuvorbis.so lacks an entry point");
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "oggmix-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    FPath = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

std::string TempDir::Write(const std::string& name, std::span<const uint8_t> bytes) const {
    const std::string path = FPath + "/" + name;
    std::ofstream out(path, std::ios::binary);
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
    std::ifstream in(path, std::ios::binary);
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
