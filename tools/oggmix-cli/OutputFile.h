#pragma once
// OutputFile.h: where render puts a file it writes. A regular file (or a new one) is written
// under a temporary name beside it, TARGET.partialPID, and renamed onto the target only by
// Place, so that nothing half-written ever stands under the target's name: a failure, the
// owner going without Place, or SIGINT, SIGTERM or SIGHUP removes the temporary file (a signal
// then ends the process as it would have). Through a symbolic link, the file it names is
// replaced, never the link. Anything that is not a regular file (a device such as /dev/null,
// a FIFO, a pipe) is written in place and never removed or replaced.
// Threads: the main thread; the signal handler on any. Memory: allocates on construction.

#include <string>

namespace oggmix::cli {

class OutputFile {
public:
    // Throws EInOutError when target is a directory, or its name too long to be removed by
    // the signal handler.
    explicit OutputFile(const std::string& target);
    ~OutputFile();  // removes the temporary file unless placed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Where to write: the temporary name, or the target itself when written in place.
    [[nodiscard]] const std::string& Path() const noexcept { return FPath; }
    // Moves what was written onto the target, with the permissions of a file it replaces.
    // False when it cannot (the temporary file is then removed by the destructor).
    [[nodiscard]] bool Place();

private:
    std::string FTarget;
    std::string FPath;
    int FSlot = -1;  // the signal handler's record of FPath; -1 when written in place
    bool FPlaced = false;
};

}  // namespace oggmix::cli
