// The C interface: the same player behind opaque handles; failures are codes with a message
// in oggmix_last_error, closed players and unloaded tracks are refused, events are handed out
// as many as the caller has room for, each once. The interactive calls refuse what C can get
// wrong (null pointers, numbers outside an enum) before the player sees them, and carry
// frames, tempo and beats across unchanged.
#include <gtest/gtest.h>

#include <cstring>
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
}

// Tracks whose tags give 120 beats per minute in 4/4: a beat every 22050 frames.
TEST(CInterfaceOffline, BeatsAndTheTransitionArriveWithTheirFramesAndBars) {
    oggmix_options options;
    oggmix_default_options(&options);
    options.backend = "offline";
    const std::string decoder = WuvorbisPath();
    options.decoder_path = decoder.c_str();
    oggmix_player* player = nullptr;
    ASSERT_EQ(oggmix_open(&options, &player), OGGMIX_OK) << oggmix_last_error();
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
    EXPECT_EQ(oggmix_close(player), OGGMIX_OK);
}

}  // namespace
}  // namespace oggmix::test
