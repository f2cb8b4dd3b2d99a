// Platform.h: what the operating system does differently, behind one interface. Each platform
// has a room of its own (linux/, windows/) that implements it; CMake builds one of them.
// Paths and text are UTF-8 throughout.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oggmix::platform {

// "lib<base>.so" or "lib<base>.dll": the file name a shared library of ours is built with.
[[nodiscard]] std::string SharedLibraryName(const std::string& base);

// The folder of the running program, without a trailing separator; empty when unknown.
[[nodiscard]] std::string ProgramFolder();

// The program's arguments after its name, in UTF-8 whatever the console's code page.
[[nodiscard]] std::vector<std::string> ProgramArguments(int argc, char** argv);

// A library loaded by its path, with every symbol resolved now and none shared with others;
// nullptr when it cannot be loaded.
[[nodiscard]] void* OpenLibrary(const std::string& path) noexcept;
[[nodiscard]] void* LibrarySymbol(void* library, const char* name) noexcept;
void CloseLibrary(void* library) noexcept;
// The path the platform loaded the library from; empty when it cannot say.
[[nodiscard]] std::string LibraryPath(void* library);

// std::fopen by a UTF-8 path. Output is never translated: "w" writes LF as LF.
[[nodiscard]] std::FILE* OpenFile(const std::string& path, const char* mode) noexcept;
// Replaces target (if there) by source in one step; false when it cannot.
[[nodiscard]] bool MoveIntoPlace(const std::string& source, const std::string& target) noexcept;
// Standard output written byte for byte (no CR before each LF).
void UseBinaryStdout() noexcept;
[[nodiscard]] int ProcessId() noexcept;

// Files to remove should the program be ended from outside (SIGINT, SIGTERM or SIGHUP here;
// Ctrl-C, Ctrl-Break or closing the console on Windows), before it ends as it would have; a
// request to stop ignored by the caller (nohup) stays ignored. Guard returns a handle, or -1
// when no more can be guarded or the path is too long; Unguard (before the file is removed or
// renamed by the program itself) forgets it. The handler touches only what was prepared here.
[[nodiscard]] int GuardTemporaryFile(const std::string& path) noexcept;
void UnguardTemporaryFile(int handle) noexcept;
// Removes a file by its UTF-8 path; false when it cannot.
bool RemoveFile(const std::string& path) noexcept;

// Keys typed at the terminal, one at a time, without line buffering or echo while it lives
// (the terminal as it was after). Input that is no terminal (a pipe) is read as it comes.
class RawKeys {
public:
    RawKeys();
    ~RawKeys();
    RawKeys(const RawKeys&) = delete;
    RawKeys& operator=(const RawKeys&) = delete;
    // The next key typed, if one waits; none after the end of the input.
    [[nodiscard]] std::optional<char> Next();

private:
    struct Saved;
    std::unique_ptr<Saved> FSaved;
    bool FEnded = false;
};

// UTF-8 to Shift-JIS (code page 932); a character it cannot hold becomes '?'.
[[nodiscard]] std::string ToCodePage932(const std::string& utf8);

// While one exists, a request to stop the program (Ctrl-C; SIGTERM or closing the console)
// sets the flag instead of ending it. One at a time.
class StopRequestWatch {
public:
    explicit StopRequestWatch(std::atomic<bool>& requested);
    ~StopRequestWatch();
    StopRequestWatch(const StopRequestWatch&) = delete;
    StopRequestWatch& operator=(const StopRequestWatch&) = delete;
};

}  // namespace oggmix::platform
