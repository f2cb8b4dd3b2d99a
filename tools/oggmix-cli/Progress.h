#pragma once
// Progress.h: the progress bar of the subcommands that render offline: the rendered and the
// total seconds, redrawn in place on stderr while it is a terminal; nothing otherwise.
// Threads: the main thread.

#include <cstdint>

namespace oggmix::cli {

class Progress {
public:
    explicit Progress(int64_t totalFrames);  // output frames, 44100 a second
    ~Progress();                             // ends the bar's line, if one was drawn
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Redraws the bar when it has moved; frames past the total count as the total.
    void Update(int64_t doneFrames);

private:
    int64_t FTotalFrames;
    bool FShown;              // stderr is a terminal
    int FDrawnPermille = -1;  // what the bar shows, -1 before it is first drawn
};

}  // namespace oggmix::cli
