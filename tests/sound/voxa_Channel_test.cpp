// Channels: sharing streaming and effects buffers, duplicating the others, replacing and
// detaching, play from the start; 3D parameters and 3D wave data.
#include <gtest/gtest.h>

#include "tests/sound/SoundTestSupport.h"

namespace oggmix::test {
namespace {

class VOXAChannel : public ManualSound {
protected:
    static bool Playing(IDirectSoundBuffer8* buffer) {
        DWORD status = 0;
        EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
        return (status & DSBSTATUS_PLAYING) != 0;
    }
};

TEST_F(VOXAChannel, AStreamingWaveDataIsSharedAndItsRequestsNameTheChannel) {
    TVOXAWaveData wave(FVoxa.get(), 44100, 16, true, 65536, false);
    FillRecorder recorder;
    wave.SetOnFill(recorder.Handler());
    const ULONG before = RefCount(wave.SoundBuffer());
    TVOXAChannel* channel = FVoxa->Channels(0);
    channel->SetWaveData(&wave);
    EXPECT_EQ(channel->SoundBuffer(), wave.SoundBuffer());
    EXPECT_EQ(RefCount(wave.SoundBuffer()), before + 1);
    EXPECT_EQ(wave.Channel(), channel);
    channel->SetWaveData(&wave);  // again: nothing changes
    EXPECT_EQ(RefCount(wave.SoundBuffer()), before + 1);

    channel->Play();
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Requests()[0].Channel, channel);
    channel->Stop();
    channel->SetWaveData(nullptr);
}

TEST_F(VOXAChannel, DetachingAStreamingWaveDataStopsItButKeepsTheBuffer) {
    TVOXAWaveData wave(FVoxa.get(), 44100, 16, true, 65536, false);
    TVOXAChannel* channel = FVoxa->Channels(0);
    channel->SetWaveData(&wave);
    channel->Play();
    Advance(1000);
    channel->SetWaveData(nullptr);
    EXPECT_EQ(channel->WaveData(), nullptr);
    EXPECT_FALSE(Playing(wave.SoundBuffer()));
    EXPECT_EQ(channel->SoundBuffer(), wave.SoundBuffer());
    EXPECT_EQ(PlayCursor(wave.SoundBuffer()), 4000u);  // stopped where it was

    channel->Play();  // the kept buffer restarts from byte 0
    EXPECT_TRUE(Playing(wave.SoundBuffer()));
    EXPECT_EQ(PlayCursor(wave.SoundBuffer()), 0u);
    channel->Stop();
}

TEST_F(VOXAChannel, AStaticWaveDataOnTwoChannelsPlaysAsTwoIndependentDuplicates) {
    TVOXAGenWave wave(FVoxa.get(), 44100, 16, true, 4000, false, false, false);
    const ULONG before = RefCount(wave.SoundBuffer());
    TVOXAChannel* a = FVoxa->Channels(1);
    TVOXAChannel* b = FVoxa->Channels(2);
    a->SetWaveData(&wave);
    b->SetWaveData(&wave);
    ASSERT_NE(a->SoundBuffer(), nullptr);
    ASSERT_NE(b->SoundBuffer(), nullptr);
    EXPECT_NE(a->SoundBuffer(), b->SoundBuffer());
    EXPECT_NE(a->SoundBuffer(), wave.SoundBuffer());
    EXPECT_EQ(RefCount(wave.SoundBuffer()), before);  // duplicates hold their own objects
    EXPECT_EQ(wave.Channel(), nullptr);

    // The duplicates share the wave's memory: both play what was written into it.
    std::vector<int16_t> tone(2000, 1000);
    wave.WriteData(0, tone.data(), 4000);
    a->Play();
    Advance(100);
    b->Play();
    a->Stop();
    EXPECT_TRUE(Playing(b->SoundBuffer()));
    EXPECT_FALSE(Playing(a->SoundBuffer()));
    EXPECT_EQ(PlayCursor(a->SoundBuffer()), 400u);
    std::vector<int16_t> heard;
    Advance(10, &heard);
    EXPECT_EQ(heard, std::vector<int16_t>(20, 1000));
    EXPECT_EQ(PlayCursor(b->SoundBuffer()), 40u);
    b->Stop();
}

TEST_F(VOXAChannel, ReplacingAStreamingWaveDataStopsItAndReleasesTheSharedReference) {
    TVOXAWaveData stream(FVoxa.get(), 44100, 16, true, 65536, false);
    TVOXAGenWave sound(FVoxa.get(), 44100, 16, false, 4096, false, false, false);
    const ULONG before = RefCount(stream.SoundBuffer());
    TVOXAChannel* channel = FVoxa->Channels(0);
    channel->SetWaveData(&stream);
    channel->Play();
    channel->SetWaveData(&sound);
    EXPECT_FALSE(Playing(stream.SoundBuffer()));
    EXPECT_EQ(RefCount(stream.SoundBuffer()), before);
    EXPECT_EQ(channel->WaveData(), &sound);
    EXPECT_NE(channel->SoundBuffer(), sound.SoundBuffer());
    channel->SetWaveData(nullptr);  // not streaming: the duplicate goes
    EXPECT_EQ(channel->SoundBuffer(), nullptr);
}

TEST_F(VOXAChannel, AnEffectsWaveDataIsSharedNotDuplicated) {
    TVOXAGenWave fx(FVoxa.get(), 44100, 16, true, 4096, false, true, false);
    TVOXAChannel* channel = FVoxa->Channels(3);
    channel->SetWaveData(&fx);
    EXPECT_EQ(channel->SoundBuffer(), fx.SoundBuffer());
    EXPECT_EQ(fx.Channel(), channel);
}

TEST_F(VOXAChannel, PlayRestartsAStoppedBufferFromByteZeroInALoop) {
    TVOXAGenWave wave(FVoxa.get(), 44100, 16, true, 400, false, false, false);
    TVOXAChannel* channel = FVoxa->Channels(0);
    channel->SetWaveData(&wave);
    channel->Play();
    Advance(30);
    channel->Stop();
    EXPECT_EQ(PlayCursor(channel->SoundBuffer()), 120u);
    channel->Play();
    EXPECT_EQ(PlayCursor(channel->SoundBuffer()), 0u);
    Advance(130);  // past the end of the 100-frame ring
    EXPECT_TRUE(Playing(channel->SoundBuffer()));
    EXPECT_EQ(PlayCursor(channel->SoundBuffer()), 120u);
    channel->Stop();
}

TEST_F(VOXAChannel, ANewChannelHasTheInitial3DParameters) {
    DS3DBUFFER params{};
    FVoxa->Channels(5)->Params3D().GetParams(params);
    EXPECT_EQ(params.dwSize, 64u);
    EXPECT_EQ(params.vPosition.x, 0.0f);
    EXPECT_EQ(params.vVelocity.z, 0.0f);
    EXPECT_EQ(params.dwInsideConeAngle, 360u);
    EXPECT_EQ(params.dwOutsideConeAngle, 360u);
    EXPECT_EQ(params.vConeOrientation.x, 0.0f);
    EXPECT_EQ(params.vConeOrientation.y, 0.0f);
    EXPECT_EQ(params.vConeOrientation.z, 1.0f);
    EXPECT_EQ(params.lConeOutsideVolume, 0);
    EXPECT_EQ(params.flMinDistance, 5.0f);
    EXPECT_EQ(params.flMaxDistance, 100.0f);
    EXPECT_EQ(params.dwMode, DS3DMODE_NORMAL);
    EXPECT_FALSE(FVoxa->Channels(5)->Is3D());
}

TEST_F(VOXAChannel, SetParams3DCopiesAnotherChannelsParameters) {
    TVOXA3DWaveData wave(FVoxa.get(), 44100, 16, false, 4096);
    TVOXAChannel* source = FVoxa->Channels(0);
    source->SetWaveData(&wave);
    DS3DBUFFER moved{};
    source->Params3D().GetParams(moved);
    moved.vPosition = {1.0f, 2.0f, 3.0f};
    ASSERT_EQ(source->Buffer3D()->SetAllParameters(&moved, DS3D_IMMEDIATE), DS_OK);

    TVOXAChannel* target = FVoxa->Channels(1);
    target->SetParams3D(source->Params3D());  // refreshed from the source's 3D buffer first
    DS3DBUFFER copied{};
    target->Params3D().GetParams(copied);
    EXPECT_EQ(copied.vPosition.y, 2.0f);
    EXPECT_EQ(copied.flMaxDistance, 100.0f);
}

TEST_F(VOXAChannel, A3DWaveDataGivesTheChannelA3DBufferWithTheWavesParameters) {
    TVOXA3DWaveData wave(FVoxa.get(), 44100, 16, false, 4096);
    TVOXAChannel* channel = FVoxa->Channels(2);
    channel->SetWaveData(&wave);
    EXPECT_TRUE(channel->Is3D());
    ASSERT_NE(channel->Buffer3D(), nullptr);
    DS3DBUFFER applied{};
    ASSERT_EQ(channel->Buffer3D()->GetAllParameters(&applied), DS_OK);
    EXPECT_EQ(applied.flMinDistance, 5.0f);  // the device's own default is 1.0
    EXPECT_EQ(applied.flMaxDistance, 100.0f);

    TVOXAGenWave plain(FVoxa.get(), 44100, 16, false, 4096, false, false, false);
    channel->SetWaveData(&plain);
    EXPECT_FALSE(channel->Is3D());
    EXPECT_EQ(channel->Buffer3D(), nullptr);
}

}  // namespace
}  // namespace oggmix::test
