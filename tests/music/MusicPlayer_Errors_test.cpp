// Misuse of the front end: every case is a MusicError with its cause and an English message
// that names what was wrong; nothing crashes or ends the process.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/music/MusicTestSupport.h"

namespace oggmix::test {
namespace {

// Runs call, which must throw MusicError with code and a message containing text.
template <class Call>
void ExpectError(Call&& call, MusicErrorCode code, const std::string& text) {
    try {
        call();
        ADD_FAILURE() << "no error; expected one containing \"" << text << "\"";
    } catch (const MusicError& e) {
        EXPECT_EQ(e.Code(), code) << e.what();
        EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
}

class MusicErrors : public ManualPlayerTest {};

TEST_F(MusicErrors, HandlesOfUnloadedTracksOrOfAnEarlierPlayerAreRefused) {
    const Track track = LoadBytes(EncodeOgg(Music(44100, 2, 0.5, 1)));
    FPlayer->Unload(track);
    ExpectError([&] { FPlayer->Play(track); }, MusicErrorCode::InvalidTrack, "not loaded");
    ExpectError([&] { (void)FPlayer->Position(track); }, MusicErrorCode::InvalidTrack,
                "track " + std::to_string(track.Id));
    ExpectError([&] { FPlayer->Unload(Track{}); }, MusicErrorCode::InvalidTrack, "track 0");

    const Track earlier = LoadBytes(EncodeOgg(Music(44100, 2, 0.5, 1)));
    FPlayer.reset();
    FPlayer = std::make_unique<MusicPlayer>(ManualOptions());
    ExpectError([&] { FPlayer->Seek(earlier, 0.1); }, MusicErrorCode::InvalidTrack, "not loaded");
}

TEST_F(MusicErrors, AHandleOfAnotherOpenPlayerIsRefusedNamingBothPlayers) {
    PlayerOptions offline;
    offline.Backend = "offline";  // one manual device at a time
    MusicPlayer other(offline);
    const std::vector<uint8_t> bytes = EncodeOgg(Music(44100, 2, 0.5, 1));
    const Track theirs = other.Load(std::as_bytes(std::span(bytes)), "theirs");
    const Track ours = LoadBytes(bytes);
    ExpectError([&] { FPlayer->Play(theirs); }, MusicErrorCode::InvalidTrack,
                "track " + std::to_string(theirs.Id) + " belongs to player ");
    ExpectError([&] { other.Stop(ours); }, MusicErrorCode::InvalidTrack,
                ", not to this one (player ");
}

TEST_F(MusicErrors, FilesThatCannotBePlayedNameTheFileAndTheReason) {
    TempDir dir;
    ExpectError([&] { (void)FPlayer->Load(dir.Path() + "/missing.ogg"); },
                MusicErrorCode::FileNotFound, "missing.ogg: no such file");
    ExpectError([&] { (void)FPlayer->Load(dir.Path()); }, MusicErrorCode::ReadFailed,
                ": is a directory");
    const std::vector<uint8_t> text{'h', 'e', 'l', 'l', 'o'};
    const std::string notOgg = dir.Write("notes.ogg", text);
    ExpectError([&] { (void)FPlayer->Load(notOgg); }, MusicErrorCode::NotOggVorbis,
                "notes.ogg: not an Ogg Vorbis file");
    ExpectError([&] { (void)LoadBytes({}); }, MusicErrorCode::NotOggVorbis, "fixture");
    // Other rates and channel counts are converted, not refused.
    const Track converted = LoadBytes(EncodeOgg(Music(48000, 1, 0.5, 1)));
    FPlayer->Play(converted);
    EXPECT_TRUE(FPlayer->IsPlaying(converted));
}

TEST_F(MusicErrors, ValuesOutOfRangeAreRefusedBeforeAnythingChanges) {
    const Track track = LoadBytes(EncodeOgg(Music(44100, 2, 0.5, 1)));
    ExpectError([&] { FPlayer->SetVolume(track, -0.5); }, MusicErrorCode::InvalidArgument,
                "the volume must be 0 to 2, not -0.5");
    ExpectError([&] { FPlayer->SetPan(track, NAN); }, MusicErrorCode::InvalidArgument, "pan");
    // What a float ramp lands on instead of an end is that end.
    FPlayer->SetVolume(track, -6.7e-16, 0.5);
    ExpectError([&] { FPlayer->Seek(track, -1.0); }, MusicErrorCode::InvalidArgument, "seek");
    ExpectError([&] { FPlayer->Play(track, {.FadeInSec = INFINITY}); },
                MusicErrorCode::InvalidArgument, "fade-in");
    ExpectError([&] { FPlayer->CrossFade(track, track, 1.0); }, MusicErrorCode::InvalidArgument,
                "two tracks");
    ExpectError([&] { FPlayer->SetLimiter(40000, 30000, 500, 100); },
                MusicErrorCode::InvalidArgument, "Max");
    ExpectError([&] { FPlayer->SetToneFilter(track, static_cast<ToneFilter>(99)); },
                MusicErrorCode::InvalidArgument, "tone filter");
    EXPECT_FALSE(FPlayer->IsPlaying(track));
}

TEST_F(MusicErrors, ANinthPlayingTrackIsRefusedAndAStoppedOneGivesUpItsSlot) {
    std::vector<Track> tracks;
    const auto bytes = EncodeOgg(Music(44100, 2, 0.5, 1));
    for (int i = 0; i < 9; ++i) tracks.push_back(LoadBytes(bytes));
    for (int i = 0; i < 8; ++i) FPlayer->Play(tracks[static_cast<size_t>(i)]);
    ExpectError([&] { FPlayer->Play(tracks[8]); }, MusicErrorCode::TooManyPlaying, "8 tracks");
    FPlayer->Stop(tracks[3]);
    FPlayer->Play(tracks[8]);
    EXPECT_TRUE(FPlayer->IsPlaying(tracks[8]));
    EXPECT_FALSE(FPlayer->IsPlaying(tracks[3]));
}

TEST(MusicOpen, SettingsThatCannotWorkAreRefusedWithWhatWasTried) {
    PlayerOptions options = ManualOptions(1000);
    ExpectError([&] { MusicPlayer player(options); }, MusicErrorCode::InvalidArgument,
                "BlockFrames must be 1024 to 8192");
    options = ManualOptions();
    options.DecoderPath = "/nowhere/libwuvorbis.so";
    ExpectError([&] { MusicPlayer player(options); }, MusicErrorCode::NoDecoder,
                "/nowhere/libwuvorbis.so");
    options = ManualOptions();
    options.Backend = "no-such-device";
    ExpectError([&] { MusicPlayer player(options); }, MusicErrorCode::NoDevice, "no-such-device");
}

TEST(MusicOpen, WithoutADeviceThePlayerCanPlaySilentlyAndSaysWhy) {
    PlayerOptions options = ManualOptions();
    options.Backend = "no-such-device";
    options.RequireDevice = false;
    MusicPlayer player(options);
    EXPECT_FALSE(player.DeviceAvailable());
    EXPECT_NE(player.DeviceStatus().find("no-such-device"), std::string::npos);
    const auto bytes = EncodeOgg(Music(44100, 2, 0.5, 1));
    const Track track = player.Load(std::as_bytes(std::span(bytes)));
    player.Play(track);
    EXPECT_TRUE(player.IsPlaying(track));
}

}  // namespace
}  // namespace oggmix::test
