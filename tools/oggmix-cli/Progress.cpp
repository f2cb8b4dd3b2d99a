// Progress.cpp: the progress bar on stderr.
#include "tools/oggmix-cli/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/PcmFormat.h"

namespace oggmix::cli {

Progress::Progress(int64_t totalFrames)
    : FTotalFrames(totalFrames), FShown(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
    if (FShown && FDrawnPermille >= 0) std::fputc('\n', stderr);
}

void Progress::Update(int64_t doneFrames) {
    if (!FShown) return;
    doneFrames = std::min(doneFrames, FTotalFrames);
    const int permille =
        FTotalFrames > 0 ? static_cast<int>(doneFrames * 1000 / FTotalFrames) : 1000;
    if (permille == FDrawnPermille) return;
    FDrawnPermille = permille;
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r[%s%s] %.1f / %.1f s", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(),
                 static_cast<double>(doneFrames) / kFramesPerSecond,
                 static_cast<double>(FTotalFrames) / kFramesPerSecond);
    std::fflush(stderr);
}

}  // namespace oggmix::cli
