#pragma once
// TestPaths.h: where the built programs and libwuvorbis.so live, temporary folders that clean
// up after themselves, and binding the decoder for a test program.
// Threads: any. Memory: allocates.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace oggmix::test {

// The folder of the running executable (the build's bin folder for tests).
[[nodiscard]] std::string ExecutableDir();
// libwuvorbis.so beside the executable.
[[nodiscard]] std::string WuvorbisPath();
// Loads libwuvorbis.so into VorbisFileDLL once per process; throws when it cannot.
void BindDecoder();

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& Path() const noexcept { return FPath; }
    // Writes bytes to Path()/name and returns the full path.
    std::string Write(const std::string& name, std::span<const uint8_t> bytes) const;

private:
    std::string FPath;
};

// Makes path the current directory until destroyed, then returns to the previous one.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::string& path);
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

private:
    std::string FPrevious;
};

[[nodiscard]] std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace oggmix::test
