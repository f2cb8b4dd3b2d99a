// OutputFile.cpp: temporary names beside their targets, removed should the program be ended
// from outside (the platform's handler).
#include "tools/oggmix-cli/OutputFile.h"

#include <filesystem>

#include "base/Exceptions.h"
#include "base/Utf8Path.h"
#include "base/platform/Platform.h"

namespace oggmix::cli {
namespace {

namespace fs = std::filesystem;

}  // namespace

OutputFile::OutputFile(const std::string& target) : FTarget(target), FPath(target) {
    std::error_code error;
    const fs::path path = PathFromUtf8(target);
    const fs::file_status status = fs::status(path, error);
    if (fs::is_directory(status)) throw EInOutError(target + ": is a directory");
    if (fs::exists(status) && !fs::is_regular_file(status)) return;  // in place
    if (fs::exists(status) && fs::is_symlink(fs::symlink_status(path, error))) {
        const fs::path named = fs::canonical(path, error);
        if (!error) FTarget = Utf8FromPath(named);
    }
    FPath = FTarget + ".partial" + std::to_string(platform::ProcessId());
    FSlot = platform::GuardTemporaryFile(FPath);
    if (FSlot < 0) throw EInOutError(target + ": cannot be written under a temporary name");
}

OutputFile::~OutputFile() {
    if (FSlot < 0) return;
    // Removed before the handler forgets it: a signal in between finds nothing left to remove.
    if (!FPlaced) platform::RemoveFile(FPath);
    platform::UnguardTemporaryFile(FSlot);
}

bool OutputFile::Place() {
    if (FSlot < 0) return true;
    std::error_code error;
    const fs::file_status replaced = fs::status(PathFromUtf8(FTarget), error);
    if (fs::is_regular_file(replaced))
        fs::permissions(PathFromUtf8(FPath), replaced.permissions(), error);
    FPlaced = platform::MoveIntoPlace(FPath, FTarget);
    // Renamed before the handler forgets it, for the same reason as in the destructor.
    if (FPlaced) platform::UnguardTemporaryFile(FSlot);
    return FPlaced;
}

}  // namespace oggmix::cli
