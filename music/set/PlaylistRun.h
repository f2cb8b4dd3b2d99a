#pragma once
// PlaylistRun.h: a playlist state's items, one after another: the next is picked (in
// sequence, shuffled a round at a time, or at random by weight) and scheduled with PlayAt on
// the frame the last one ends (or, joining on the bar, the first bar line of its grid from
// there) while the last one still plays, so nothing is heard between them. Shuffle and random
// never pick the item just played, across rounds too.
// Threads: the player's game thread. Memory: allocates when built and when a round is dealt.

#include <oggmix/MusicPlayer.h>
#include <oggmix/MusicSet.h>
#include <oggmix/MusicSetPlayer.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace oggmix::set {

class PlaylistRun {
public:
    struct Item {
        Track Handle;
        const SetTrack* Source;
    };
    PlaylistRun(std::string State, const SetPlaylist& List, std::vector<Item> Items);

    // Picks the item to begin with; Begin tells the frame it lands on.
    [[nodiscard]] Track First(std::mt19937_64& Random);
    void Begin(int64_t Frame);
    // The item playing, or picked to begin.
    [[nodiscard]] Track Current() const { return FItems[FCurrent].Handle; }
    // A single item loops; otherwise each plays once.
    [[nodiscard]] bool Loops() const noexcept { return FItems.size() == 1; }

    // As the music plays: tells each item begun, and schedules the next as the last nears
    // its end.
    void Follow(MusicPlayer& Player, std::mt19937_64& Random, std::vector<SetEvent>& Told);
    // No item after the one playing (its state is being left); Resume takes that back.
    void Hold(MusicPlayer& Player);
    void Resume() noexcept { FHeld = false; }

private:
    [[nodiscard]] size_t Pick(std::mt19937_64& Random);
    [[nodiscard]] int64_t NextStart() const;
    [[nodiscard]] SetEvent Advanced(int64_t Frame) const;

    std::string FState;
    SetPlaylist FList;
    std::vector<Item> FItems;
    std::vector<size_t> FRound;  // shuffle: this round's order
    size_t FRoundAt = 0;
    size_t FCurrent = 0;
    int64_t FStart = -1;  // the output frame the current item began on; -1: not begun
    bool FToldStart = false;
    std::optional<size_t> FNext;  // scheduled, on FNextStart
    int64_t FNextStart = 0;
    bool FHeld = false;
};

}  // namespace oggmix::set
