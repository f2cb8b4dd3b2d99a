// RawKeys.cpp: keys from the console as they are typed (a console gives them one by one
// already), or bytes from a pipe as they arrive.
#include <conio.h>
#include <windows.h>

#include "base/platform/Platform.h"

namespace oggmix::platform {

struct RawKeys::Saved {
    bool Console = false;
};

RawKeys::RawKeys() : FSaved(std::make_unique<Saved>()) {
    DWORD mode = 0;
    FSaved->Console = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

RawKeys::~RawKeys() = default;

std::optional<char> RawKeys::Next() {
    if (FEnded) return std::nullopt;
    if (FSaved->Console) {
        if (_kbhit() == 0) return std::nullopt;
        return static_cast<char>(_getch());
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD waiting = 0;
    if (PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr) == 0) {
        FEnded = GetLastError() == ERROR_BROKEN_PIPE;
        return std::nullopt;
    }
    if (waiting == 0) return std::nullopt;
    char key = 0;
    DWORD got = 0;
    if (ReadFile(input, &key, 1, &got, nullptr) == 0 || got == 0) {
        FEnded = true;
        return std::nullopt;
    }
    return key;
}

}  // namespace oggmix::platform
