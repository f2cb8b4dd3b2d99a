// RawKeys.cpp: the terminal in non-canonical mode without echo, read with poll.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "base/platform/Platform.h"

namespace oggmix::platform {

struct RawKeys::Saved {
    termios Terminal{};
};

RawKeys::RawKeys() {
    termios saved{};
    if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) FSaved = std::make_unique<Saved>(Saved{saved});
}

RawKeys::~RawKeys() {
    if (FSaved) tcsetattr(STDIN_FILENO, TCSANOW, &FSaved->Terminal);
}

std::optional<char> RawKeys::Next() {
    if (FEnded) return std::nullopt;
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0) return std::nullopt;
    char key = 0;
    const ssize_t got = read(STDIN_FILENO, &key, 1);
    FEnded = got <= 0;
    return got == 1 ? std::optional<char>(key) : std::nullopt;
}

}  // namespace oggmix::platform
