// The C interface: the same player behind opaque handles; failures are codes with a message
// in oggmix_last_error, closed players and unloaded tracks are refused, events are handed out
// as many as the caller has room for, each once, and a player closed from its own callback
// goes once the poll returns. The calls refuse what C can get wrong (null pointers, numbers
// outside an enum or too far) before the player sees them, and carry frames, tempo and beats
// across unchanged; random calls with random values are refused or done, never undefined.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "oggmix/oggmix.h"
#include "tests/music/MusicTestSupport.h"

namespace oggmix::test {
namespace {

class CInterface : public ::testing::Test {
protected:
    void SetUp() override {
        oggmix_default_options(&FOptions);
        // The library holds its own sound device, out of reach of the manual back end's
        // controls here: it plays in real time into nothing.
        FOptions.backend = "null";
        FDecoder = WuvorbisPath();
        FOptions.decoder_path = FDecoder.c_str();
        ASSERT_EQ(oggmix_open(&FOptions, &FPlayer), OGGMIX_OK) << oggmix_last_error();
    }
    void TearDown() override {
        if (FPlayer != nullptr) {
            EXPECT_EQ(oggmix_close(FPlayer), OGGMIX_OK);
        }
    }
    oggmix_track Load(const std::vector<uint8_t>& bytes) {
        oggmix_track track = 0;
        EXPECT_EQ(oggmix_load_memory(FPlayer, bytes.data(), bytes.size(), "fixture", &track),
                  OGGMIX_OK)
            << oggmix_last_error();
        return track;
    }

    oggmix_options FOptions{};
    std::string FDecoder;
    oggmix_player* FPlayer = nullptr;
};

TEST_F(CInterface, FailuresAreCodesWithAMessageAndStaleHandlesAreRefused) {
    oggmix_track track = 0;
    EXPECT_EQ(oggmix_load_file(FPlayer, "/nowhere/song.ogg", &track), OGGMIX_ERROR_FILE_NOT_FOUND);
    EXPECT_NE(std::string(oggmix_last_error()).find("/nowhere/song.ogg"), std::string::npos);
    EXPECT_EQ(oggmix_load_file(FPlayer, nullptr, &track), OGGMIX_ERROR_INVALID_ARGUMENT);

    track = Load(EncodeOgg(Music(44100, 2, 0.5, 1)));
    EXPECT_EQ(oggmix_set_volume(FPlayer, track, 3.0), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(oggmix_set_tone_filter(FPlayer, track, OGGMIX_FILTER_LOW_PASS, 0.5), OGGMIX_OK);
    EXPECT_EQ(oggmix_unload(FPlayer, track), OGGMIX_OK);
    EXPECT_EQ(oggmix_play(FPlayer, track, 1, 0.0), OGGMIX_ERROR_INVALID_TRACK);
    EXPECT_NE(std::string(oggmix_last_error()).find("not loaded"), std::string::npos);

    ASSERT_EQ(oggmix_close(FPlayer), OGGMIX_OK);
    oggmix_player* closed = FPlayer;
    ASSERT_EQ(oggmix_open(&FOptions, &FPlayer), OGGMIX_OK) << oggmix_last_error();
    double seconds = 0.0;
    EXPECT_EQ(oggmix_position(closed, 1, &seconds), OGGMIX_ERROR_INVALID_PLAYER);
    EXPECT_EQ(oggmix_close(closed), OGGMIX_ERROR_INVALID_PLAYER);
    EXPECT_EQ(oggmix_play(nullptr, 1, 1, 0.0), OGGMIX_ERROR_INVALID_PLAYER);
}

TEST_F(CInterface, ASecondPlayerPlaysBesideTheFirstAndClosesAlone) {
    oggmix_player* second = nullptr;
    ASSERT_EQ(oggmix_open(&FOptions, &second), OGGMIX_OK) << oggmix_last_error();
    const auto bytes = EncodeOgg(Music(44100, 2, 0.5, 1));
    oggmix_track track = 0;
    ASSERT_EQ(oggmix_load_memory(second, bytes.data(), bytes.size(), "second", &track), OGGMIX_OK);
    ASSERT_EQ(oggmix_play(second, track, 1, 0.0), OGGMIX_OK);
    const oggmix_track first = Load(bytes);
    ASSERT_EQ(oggmix_play(FPlayer, first, 1, 0.0), OGGMIX_OK);
    EXPECT_EQ(oggmix_close(second), OGGMIX_OK);
    int playing = 0;
    ASSERT_EQ(oggmix_is_playing(FPlayer, first, &playing), OGGMIX_OK);
    EXPECT_EQ(playing, 1);
}

TEST_F(CInterface, SaysItsBackEndAndTheTracksLoopCues) {
    const char* backend = nullptr;
    ASSERT_EQ(oggmix_backend_name(FPlayer, &backend), OGGMIX_OK);
    EXPECT_STREQ(backend, "null");

    const oggmix_track track = Load(
        EncodeOgg(Music(44100, 2, 2.0, 1), {.Comments = {"COMMENT=*loopsample,3,22050,66150,2"}}));
    size_t count = 0;
    ASSERT_EQ(oggmix_cue_count(FPlayer, track, &count), OGGMIX_OK);
    ASSERT_EQ(count, 1u);
    oggmix_loop_cue cue{};
    ASSERT_EQ(oggmix_cue(FPlayer, track, 0, &cue), OGGMIX_OK) << oggmix_last_error();
    EXPECT_EQ(cue.index, 3);
    EXPECT_EQ(cue.start_frame, 22050);
    EXPECT_EQ(cue.end_frame, 66150);
    EXPECT_EQ(cue.count, 2);
    EXPECT_EQ(oggmix_cue(FPlayer, track, 1, &cue), OGGMIX_ERROR_INVALID_ARGUMENT);
}

TEST_F(CInterface, AVolumeFadeTakesItsTime) {
    const oggmix_track track = Load(EncodeOgg(Music(44100, 2, 0.5, 1)));
    EXPECT_EQ(oggmix_set_volume_fade(FPlayer, track, 0.5, 1.0), OGGMIX_OK);
    // The time reaches the player, which refuses a negative one.
    EXPECT_EQ(oggmix_set_volume_fade(FPlayer, track, 0.5, -1.0), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(std::string(oggmix_last_error()).find("seconds"), std::string::npos);
}

void CountEvent(const oggmix_event* event, void* user) {
    if (event->kind == OGGMIX_EVENT_ENDED) ++*static_cast<int*>(user);
}

TEST_F(CInterface, EventsBeyondTheCallersRoomWaitForTheNextPoll) {
    const auto bytes = EncodeOgg(Music(44100, 2, 0.2, 1));
    const oggmix_track a = Load(bytes);
    const oggmix_track b = Load(bytes);
    int ended = 0;
    ASSERT_EQ(oggmix_set_event_callback(FPlayer, CountEvent, &ended), OGGMIX_OK);
    ASSERT_EQ(oggmix_play(FPlayer, a, 0, 0.0), OGGMIX_OK);
    ASSERT_EQ(oggmix_play(FPlayer, b, 0, 0.0), OGGMIX_OK);
    // Polled with room for one event at a time; none is lost or handed out twice.
    oggmix_event events[1];
    size_t count = 0;
    const auto pollOne = [&] {
        return WaitUntil([&] {
            EXPECT_EQ(oggmix_poll(FPlayer, events, 1, &count), OGGMIX_OK);
            return count > 0;
        });
    };
    ASSERT_TRUE(pollOne());
    EXPECT_EQ(events[0].kind, OGGMIX_EVENT_ENDED);
    const oggmix_track first = events[0].track;
    ASSERT_TRUE(pollOne());
    EXPECT_EQ(count, 1u);
    EXPECT_NE(events[0].track, first);
    ASSERT_EQ(oggmix_poll(FPlayer, events, 1, &count), OGGMIX_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ended, 2);
    int playing = 1;
    ASSERT_EQ(oggmix_is_playing(FPlayer, a, &playing), OGGMIX_OK);
    EXPECT_EQ(playing, 0);
}

TEST_F(CInterface, InteractiveCallsRefuseNullPointersAndNumbersOutsideTheirEnums) {
    const oggmix_track track = Load(EncodeOgg(Music(44100, 2, 0.5, 1)));
    EXPECT_EQ(oggmix_heard_frame(FPlayer, nullptr), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(oggmix_when_heard(FPlayer, 0, nullptr), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(oggmix_tempo(FPlayer, track, nullptr), OGGMIX_ERROR_INVALID_ARGUMENT);
    oggmix_track group = 0;
    EXPECT_EQ(oggmix_make_layer_group(FPlayer, nullptr, 2, &group), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(oggmix_render_offline(FPlayer, nullptr, 64), OGGMIX_ERROR_INVALID_ARGUMENT);

    oggmix_transition_options options = oggmix_default_transition_options();
    // As a C caller may: a number the enum does not hold, put in its bytes.
    const int notAFade = OGGMIX_FADE_CROSS + 1;
    std::memcpy(&options.fade, &notAFade, sizeof notAFade);
    int64_t frame = 0;
    EXPECT_EQ(oggmix_transition(FPlayer, track, track, &options, &frame),
              OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(std::string(oggmix_last_error()).find("fade"), std::string::npos);
    EXPECT_EQ(
        oggmix_set_volume_timed(FPlayer, track, 1.0, {0.0, 2.0},
                                static_cast<oggmix_quantize>(OGGMIX_QUANTIZE_END + 1), &frame),
        OGGMIX_ERROR_INVALID_ARGUMENT);
    oggmix_tone_filter filter{};
    const int notAFilter = OGGMIX_FILTER_WAVE + 1;
    std::memcpy(&filter, &notAFilter, sizeof notAFilter);
    EXPECT_EQ(oggmix_set_tone_filter(FPlayer, track, filter, 0.5), OGGMIX_ERROR_INVALID_ARGUMENT);
}

TEST_F(CInterface, FarFramesAreRefusedOrClampedAndMessagesSpellFieldsAsCDoes) {
    const oggmix_track track = Load(EncodeOgg(Music(44100, 2, 0.5, 1)));
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t frame = 0;
    EXPECT_EQ(oggmix_play_at(FPlayer, track, kMax, 1, 0.0, &frame), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(std::string(oggmix_last_error()).find("too far"), std::string::npos);
    const struct oggmix_tempo far = {120.0, 4, kMax, nullptr};
    EXPECT_EQ(oggmix_set_tempo(FPlayer, track, &far), OGGMIX_ERROR_INVALID_ARGUMENT);
    double ahead = 0.0;
    ASSERT_EQ(oggmix_when_heard(FPlayer, kMax, &ahead), OGGMIX_OK);
    EXPECT_GT(ahead, 0.0);
    ASSERT_EQ(oggmix_when_heard(FPlayer, std::numeric_limits<int64_t>::min(), &ahead), OGGMIX_OK);
    EXPECT_LT(ahead, 0.0);

    oggmix_options options = FOptions;
    options.latency_ms = 5;
    oggmix_player* refused = nullptr;
    EXPECT_EQ(oggmix_open(&options, &refused), OGGMIX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(std::string(oggmix_last_error()).find("latency_ms"), std::string::npos);
}

// A player on the offline back end: nothing pulls, the test mixes.
class CInterfaceOffline : public ::testing::Test {
protected:
    void SetUp() override {
        oggmix_options options;
        oggmix_default_options(&options);
        options.backend = "offline";
        FDecoder = WuvorbisPath();
        options.decoder_path = FDecoder.c_str();
        ASSERT_EQ(oggmix_open(&options, &FPlayer), OGGMIX_OK) << oggmix_last_error();
    }
    void TearDown() override {
        if (FPlayer != nullptr) oggmix_close(FPlayer);
    }
    oggmix_track Load(const std::vector<uint8_t>& bytes) {
        oggmix_track track = 0;
        EXPECT_EQ(oggmix_load_memory(FPlayer, bytes.data(), bytes.size(), "fixture", &track),
                  OGGMIX_OK)
            << oggmix_last_error();
        return track;
    }
    void Render(int64_t frames) {
        std::vector<int16_t> mix(2 * 4096);
        for (; frames > 0; frames -= 4096)
            ASSERT_EQ(oggmix_render_offline(FPlayer, mix.data(), std::min<int64_t>(frames, 4096)),
                      OGGMIX_OK);
    }

    std::string FDecoder;
    oggmix_player* FPlayer = nullptr;
};

TEST_F(CInterfaceOffline, CallsTellTheFrameTheyLandOnAndTheNextBeatAndBar) {
    const oggmix_track track =
        Load(EncodeOgg(Music(44100, 2, 4.0, 1), {.Comments = {"BPM=120", "BEATSPERBAR=4"}}));
    ASSERT_EQ(oggmix_play(FPlayer, track, 1, 0.0), OGGMIX_OK);
    Render(30000);
    int64_t frame = -1;
    ASSERT_EQ(oggmix_set_pan(FPlayer, track, 0.5, 0.0), OGGMIX_OK);
    ASSERT_EQ(oggmix_landed_frame(FPlayer, &frame), OGGMIX_OK);
    EXPECT_EQ(frame, 30000);
    ASSERT_EQ(oggmix_next_beat(FPlayer, track, &frame), OGGMIX_OK);
    EXPECT_EQ(frame, 2 * 22050);
    ASSERT_EQ(oggmix_next_bar(FPlayer, track, &frame), OGGMIX_OK);
    EXPECT_EQ(frame, 4 * 22050);
}

// Tracks whose tags give 120 beats per minute in 4/4: a beat every 22050 frames.
TEST_F(CInterfaceOffline, BeatsAndTheTransitionArriveWithTheirFramesAndBars) {
    oggmix_player* player = FPlayer;
    const auto bytes = EncodeOgg(Music(44100, 2, 4.0, 1),
                                 {.Comments = {"BPM=120", "BEATSPERBAR=4", "FIRSTBEAT=0"}});
    oggmix_track explore = 0;
    oggmix_track combat = 0;
    ASSERT_EQ(oggmix_load_memory(player, bytes.data(), bytes.size(), "explore", &explore),
              OGGMIX_OK);
    ASSERT_EQ(oggmix_load_memory(player, bytes.data(), bytes.size(), "combat", &combat), OGGMIX_OK);
    struct oggmix_tempo tempo {};
    ASSERT_EQ(oggmix_tempo(player, explore, &tempo), OGGMIX_OK) << oggmix_last_error();
    EXPECT_EQ(tempo.bpm, 120.0);
    EXPECT_EQ(tempo.beats_per_bar, 4);

    ASSERT_EQ(oggmix_play(player, explore, 1, 0.0), OGGMIX_OK);
    std::vector<int16_t> mix(2 * 22050);
    ASSERT_EQ(oggmix_render_offline(player, mix.data(), 22050), OGGMIX_OK) << oggmix_last_error();
    int64_t switchFrame = 0;
    ASSERT_EQ(oggmix_transition(player, explore, combat, nullptr, &switchFrame), OGGMIX_OK)
        << oggmix_last_error();
    EXPECT_EQ(switchFrame, 4 * 22050);  // the next bar line
    for (int block = 0; block < 6; ++block)
        ASSERT_EQ(oggmix_render_offline(player, mix.data(), 22050), OGGMIX_OK);

    oggmix_event events[64];
    size_t count = 0;
    ASSERT_EQ(oggmix_poll(player, events, 64, &count), OGGMIX_OK);
    int64_t lastBeatFrame = -22050;
    bool transitionSeen = false;
    for (size_t i = 0; i < count; ++i) {
        const oggmix_event& e = events[i];
        if (e.kind == OGGMIX_EVENT_TRANSITION_START) {
            EXPECT_EQ(e.track, combat);
            EXPECT_EQ(e.frame, switchFrame);
            transitionSeen = true;
        }
        if (e.kind != OGGMIX_EVENT_BEAT || e.frame == lastBeatFrame) continue;
        EXPECT_EQ(e.frame, lastBeatFrame + 22050);
        EXPECT_EQ(e.beat_in_bar, e.frame / 22050 % 4);
        // Combat counts its bars from its own start, on the switch.
        EXPECT_EQ(e.bar, (e.frame < switchFrame ? e.frame : e.frame - switchFrame) / (4 * 22050));
        lastBeatFrame = e.frame;
    }
    EXPECT_TRUE(transitionSeen);
    // 7 beats' frames rendered: beats 0 .. 6 at least, told as soon as their block is mixed.
    EXPECT_GE(lastBeatFrame, 6 * 22050);
    EXPECT_LE(lastBeatFrame, 7 * 22050);
}

TEST_F(CInterfaceOffline, AFadeLengthWithoutAKindCrossFades) {
    const auto bytes = EncodeOgg(Music(44100, 2, 2.0, 1));
    const oggmix_track from = Load(bytes);
    const oggmix_track to = Load(bytes);
    ASSERT_EQ(oggmix_play(FPlayer, from, 1, 0.0), OGGMIX_OK);
    oggmix_transition_options options = oggmix_default_transition_options();
    options.when = OGGMIX_QUANTIZE_NOW;
    options.length.seconds = 0.5;
    int64_t start = 0;
    ASSERT_EQ(oggmix_transition(FPlayer, from, to, &options, &start), OGGMIX_OK)
        << oggmix_last_error();
    Render(44100);
    oggmix_event events[64];
    size_t count = 0;
    ASSERT_EQ(oggmix_poll(FPlayer, events, 64, &count), OGGMIX_OK);
    int64_t end = -1;
    for (size_t i = 0; i < count; ++i)
        if (events[i].kind == OGGMIX_EVENT_TRANSITION_END) end = events[i].frame;
    EXPECT_EQ(end - start, 22050);  // both fades over, not a cut
}

struct CloseInCallback {
    oggmix_player* Player;
    int Calls = 0;
    oggmix_result Closed = OGGMIX_ERROR_INTERNAL;
};

void CloseOnFirstEvent(const oggmix_event*, void* user) {
    auto& test = *static_cast<CloseInCallback*>(user);
    if (test.Calls++ == 0) test.Closed = oggmix_close(test.Player);
}

TEST_F(CInterfaceOffline, APlayerClosedFromItsCallbackGoesOnceThePollReturns) {
    const oggmix_track track = Load(EncodeOgg(Music(44100, 2, 1.0, 1), {.Comments = {"BPM=480"}}));
    ASSERT_EQ(oggmix_play(FPlayer, track, 1, 0.0), OGGMIX_OK);
    Render(44100);  // eight beats told
    CloseInCallback test{FPlayer};
    ASSERT_EQ(oggmix_set_event_callback(FPlayer, CloseOnFirstEvent, &test), OGGMIX_OK);
    oggmix_event events[16];
    size_t count = 0;
    EXPECT_EQ(oggmix_poll(FPlayer, events, 16, &count), OGGMIX_OK);
    EXPECT_EQ(test.Closed, OGGMIX_OK);
    EXPECT_EQ(count, 1u);  // no event is handed out after the close
    EXPECT_EQ(test.Calls, 1);
    EXPECT_EQ(oggmix_poll(FPlayer, events, 16, &count), OGGMIX_ERROR_INVALID_PLAYER);
    FPlayer = nullptr;
}

TEST_F(CInterfaceOffline, EventsNotPolledAreCappedAndTheOldestDroppedAreCounted) {
    // Eight tracks turning a 100-frame loop, a beat and a bar on each turn: about 14000
    // events a second of music.
    const auto bytes = EncodeOgg(Music(44100, 2, 0.5, 1),
                                 {.Comments = {"BPM=9999", "COMMENT=*loopsample,0,0,100,-1"}});
    for (int i = 0; i < 8; ++i) ASSERT_EQ(oggmix_play(FPlayer, Load(bytes), 1, 0.0), OGGMIX_OK);
    size_t count = 0;
    uint64_t dropped = 0;
    // Polled without room, so that every event waits in the C layer.
    while (dropped == 0) {
        Render(44100);
        ASSERT_EQ(oggmix_poll(FPlayer, nullptr, 0, &count), OGGMIX_OK);
        ASSERT_EQ(oggmix_dropped_events(FPlayer, &dropped), OGGMIX_OK);
    }
    std::vector<oggmix_event> events(1024);
    size_t kept = 0;
    int64_t firstFrame = -1;
    do {
        ASSERT_EQ(oggmix_poll(FPlayer, events.data(), events.size(), &count), OGGMIX_OK);
        if (kept == 0 && count > 0) firstFrame = events[0].frame;
        kept += count;
    } while (count > 0);
    EXPECT_EQ(kept, 65536u);
    EXPECT_GT(firstFrame, 0);  // the first beats were the ones dropped
}

TEST_F(CInterfaceOffline, TempoTagsThatCannotBeReadAreSaidAndFarSeeksEndTheTrack) {
    const oggmix_track track = Load(EncodeOgg(
        Music(44100, 2, 0.5, 1), {.Comments = {"BPM=fast", "FIRSTBEAT=9223372036854775000"}}));
    struct oggmix_tempo tempo {};
    ASSERT_EQ(oggmix_tempo(FPlayer, track, &tempo), OGGMIX_OK);
    EXPECT_EQ(tempo.bpm, 0.0);
    EXPECT_EQ(tempo.first_beat_frame, 0);
    ASSERT_NE(tempo.tag_problem, nullptr);
    EXPECT_NE(std::string(tempo.tag_problem).find("BPM tag \"fast\""), std::string::npos);
    EXPECT_NE(std::string(tempo.tag_problem).find("FIRSTBEAT"), std::string::npos);

    ASSERT_EQ(oggmix_seek(FPlayer, track, 3e14), OGGMIX_OK);
    ASSERT_EQ(oggmix_play(FPlayer, track, 0, 0.0), OGGMIX_OK);
    Render(8192);
    int playing = 1;
    ASSERT_EQ(oggmix_is_playing(FPlayer, track, &playing), OGGMIX_OK);
    EXPECT_EQ(playing, 0);  // sought to its end, not wrapped round to its start
}

// Random calls with random values, the far ends of each type among them: each is done or
// refused with a message. Run under the undefined-behaviour sanitizer, it finds arithmetic
// that wraps and enums read outside their values.
class RandomCaller {
public:
    RandomCaller(oggmix_player* player, uint32_t seed) : FPlayer(player), FRandom(seed) {}

    oggmix_result Call(const std::vector<oggmix_track>& tracks) {
        const oggmix_track a = Track(tracks);
        const oggmix_track b = Track(tracks);
        int64_t frame = 0;
        double seconds = 0.0;
        switch (Pick(18)) {
            case 0: return oggmix_play(FPlayer, a, Int(), Real());
            case 1: return oggmix_stop(FPlayer, a, Real());
            case 2: return oggmix_pause(FPlayer, a, Real());
            case 3: return oggmix_resume(FPlayer, a, Real());
            case 4: return oggmix_seek(FPlayer, a, Real());
            case 5: return oggmix_cross_fade(FPlayer, a, b, Real(), Int());
            case 6: return oggmix_set_volume_fade(FPlayer, a, Real(), Real());
            case 7: return oggmix_set_pan(FPlayer, a, Real(), Real());
            case 8: return oggmix_set_tone_filter(FPlayer, a, Enum<oggmix_tone_filter>(), Real());
            case 9: return oggmix_set_limiter(FPlayer, Int(), Int(), Int(), Int());
            case 10: return oggmix_when_heard(FPlayer, Frame(), &seconds);
            case 11: return oggmix_play_at(FPlayer, a, Frame(), Int(), Real(), &frame);
            case 12: {
                const struct oggmix_tempo tempo = {Real(), Int(), Frame(), nullptr};
                return oggmix_set_tempo(FPlayer, a, &tempo);
            }
            case 13: {
                oggmix_transition_options o = oggmix_default_transition_options();
                o = {Enum<oggmix_quantize>(),
                     Int(),
                     Enum<oggmix_entry>(),
                     Int(),
                     Enum<oggmix_fade>(),
                     {Real(), Real()},
                     Enum<oggmix_fade_shape>(),
                     Track(tracks),
                     Int()};
                return oggmix_transition(FPlayer, a, b, &o, &frame);
            }
            case 14:
                return oggmix_set_volume_timed(FPlayer, a, Real(), {Real(), Real()},
                                               Enum<oggmix_quantize>(), &frame);
            case 15:
                return oggmix_play_stinger(FPlayer, a, b, Enum<oggmix_quantize>(), Frame(), Real(),
                                           &frame);
            case 16: return oggmix_set_gain_control(FPlayer, a, Real());
            default: {
                std::vector<int16_t> mix(2 * 1024);
                return oggmix_render_offline(FPlayer, mix.data(), Pick(1024));
            }
        }
    }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(FRandom); }
    template <class T>
    T OneOf(std::initializer_list<T> values) {
        return values.begin()[Pick(values.size())];
    }
    oggmix_track Track(const std::vector<oggmix_track>& tracks) {
        return Pick(4) == 0 ? static_cast<oggmix_track>(FRandom()) : tracks[Pick(tracks.size())];
    }
    int32_t Int() {
        using L = std::numeric_limits<int32_t>;
        return Pick(2) == 0 ? OneOf<int32_t>({L::min(), -1, 0, 1, 2, 3, 4, 64, L::max()})
                            : static_cast<int32_t>(FRandom());
    }
    int64_t Frame() {
        using L = std::numeric_limits<int64_t>;
        return Pick(2) == 0 ? OneOf<int64_t>({L::min(), -1, 0, 22050, int64_t{1} << 48, L::max()})
                            : std::uniform_int_distribution<int64_t>(L::min(), L::max())(FRandom);
    }
    double Real() {
        using L = std::numeric_limits<double>;
        return Pick(2) == 0 ? OneOf<double>({-L::infinity(), -1e300, -1.0, -0.0, 0.0, 0.01, 0.5,
                                             1.0, 2.0, 1e15, 1e300, L::infinity(), L::quiet_NaN()})
                            : std::uniform_real_distribution<double>(-3.0, 3.0)(FRandom);
    }
    // Any number in an enum's bytes, as C may pass.
    template <class CEnum>
    CEnum Enum() {
        const int raw = Pick(4) == 0 ? static_cast<int>(FRandom()) : static_cast<int>(Pick(10)) - 1;
        CEnum value{};
        std::memcpy(&value, &raw, sizeof raw);
        return value;
    }

    oggmix_player* FPlayer;
    std::mt19937 FRandom;
};

TEST(CInterfaceRandom, RandomCallsWithRandomValuesAreDoneOrRefusedWithAMessage) {
    oggmix_options options;
    oggmix_default_options(&options);
    options.backend = "offline";
    const auto tempo = EncodeOgg(Music(44100, 2, 0.3, 1), {.Comments = {"BPM=240"}});
    const auto other = EncodeOgg(Music(22050, 1, 0.2, 2), {.Comments = {"BPM=90.5"}});
    // The thread sanitizer finds nothing in one caller, and is slow: a tenth of the seeds.
#if defined(__SANITIZE_THREAD__)
    constexpr uint32_t kSeeds = 30;
#else
    constexpr uint32_t kSeeds = 300;
#endif
    // Each seed is said as it starts: a sanitizer that ends the process shows no test trace.
    std::fprintf(stderr, "random C calls, seeds:");
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        std::fprintf(stderr, " %u", seed);
        SCOPED_TRACE("seed " + std::to_string(seed));
        oggmix_player* player = nullptr;
        ASSERT_EQ(oggmix_open(&options, &player), OGGMIX_OK) << oggmix_last_error();
        // Two tracks and a group of the first.
        std::vector<oggmix_track> tracks(3);
        for (size_t i = 0; i < 2; ++i) {
            const auto& bytes = i == 1 ? other : tempo;
            ASSERT_EQ(oggmix_load_memory(player, bytes.data(), bytes.size(), "t", &tracks[i]),
                      OGGMIX_OK);
        }
        ASSERT_EQ(oggmix_make_layer_group(player, &tracks[0], 1, &tracks[2]), OGGMIX_OK);
        RandomCaller caller(player, seed);
        for (int call = 0; call < 400; ++call) {
            const oggmix_result result = caller.Call(tracks);
            ASSERT_LE(result, OGGMIX_ERROR_INVALID_PLAYER) << "call " << call;
            ASSERT_NE(result, OGGMIX_ERROR_INTERNAL) << oggmix_last_error();
            if (result != OGGMIX_OK) {
                ASSERT_STRNE(oggmix_last_error(), "") << "call " << call;
            }
        }
        oggmix_event events[64];
        size_t count = 0;
        ASSERT_EQ(oggmix_poll(player, events, 64, &count), OGGMIX_OK);
        ASSERT_EQ(oggmix_close(player), OGGMIX_OK);
    }
    std::fprintf(stderr, "\n");
}

}  // namespace
}  // namespace oggmix::test
