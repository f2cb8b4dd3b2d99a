// The sound component: device creation and its silent failure, channel lookup, the error
// check under each debug option, design mode, the listener, release checks at destruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/sound/SoundTestSupport.h"

namespace oggmix::test {
namespace {

std::unique_ptr<TVOXA> LoadedVoxa(TVOXADebugOption options, TComponent* owner = nullptr) {
    auto voxa = std::make_unique<TVOXA>(owner);
    voxa->SetDebugOption(options);
    voxa->Loaded();
    return voxa;
}

std::string Raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const EVOXA& e) {
        return e.what();
    }
    return "(nothing raised)";
}

class VOXA : public ::testing::Test {
protected:
    void SetUp() override { setenv("OGGMIX_AUDIO", "manual", 1); }
};

using VOXADeathTest = VOXA;

TEST_F(VOXA, CheckResultPassesSuccessThroughSilently) {
    const auto voxa = LoadedVoxa({dsoExceptOnError});
    EXPECT_EQ(CheckResult(0, "x"), 0);
}

TEST_F(VOXA, CheckResultAppendsTheCodeInUpperCaseHexWithoutLeadingZeros) {
    const auto voxa = LoadedVoxa({dsoExceptOnError});
    EXPECT_EQ(Raised([] { CheckResult(1, "m"); }), "m(Error Code(1))");
    EXPECT_EQ(Raised([] { CheckResult(-1, "m"); }), "m(Error Code(FFFFFFFF))");
    EXPECT_EQ(Raised([] { CheckResult(DSERR_NODRIVER, "m"); }), "m(Error Code(88780078))");
    EXPECT_EQ(Raised([] { CheckResult(0xABC, "m"); }), "m(Error Code(ABC))");
}

TEST_F(VOXA, WithNoOptionsAFailureIsReturnedAndNothingElseHappens) {
    const auto voxa = LoadedVoxa({});
    EXPECT_EQ(CheckResult(E_FAIL, "x"), E_FAIL);
    EXPECT_EQ(voxa->GetChannel(8), nullptr);
}

TEST_F(VOXADeathTest, HaltEndsTheProcessAtTheFirstFailure) {
    EXPECT_EXIT(
        {
            const auto voxa = LoadedVoxa({dsoHaltOnError});
            CheckResult(E_FAIL, "x");
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            const auto voxa = LoadedVoxa({dsoHaltOnError});
            (void)voxa->GetChannel(-1);
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(VOXA, ChannelsAreFoundByIndexAndOthersAreReportedWithTheRange) {
    const auto voxa = LoadedVoxa({dsoExceptOnError});
    std::vector<TVOXAChannel*> channels;
    for (int i = 0; i < 8; ++i) channels.push_back(voxa->GetChannel(i));
    EXPECT_EQ(std::count(channels.begin(), channels.end(), nullptr), 0);
    std::sort(channels.begin(), channels.end());
    EXPECT_EQ(std::unique(channels.begin(), channels.end()), channels.end());
    EXPECT_EQ(Raised([&] { (void)voxa->GetChannel(8); }),
              "チャンネル番号8は無効です、0～7の範囲で指定してください");
    EXPECT_EQ(Raised([&] { (void)voxa->Channels(-1); }),
              "チャンネル番号-1は無効です、0～7の範囲で指定してください");
}

TEST_F(VOXA, ChannelCountIsReadWhenTheDeviceIsCreated) {
    TVOXA voxa(nullptr);
    voxa.SetDebugOption({dsoExceptOnError});
    voxa.SetChannelCount(3);
    voxa.Loaded();
    EXPECT_NE(voxa.GetChannel(2), nullptr);
    EXPECT_EQ(Raised([&] { (void)voxa.GetChannel(3); }),
              "チャンネル番号3は無効です、0～2の範囲で指定してください");
    EXPECT_THROW(voxa.SetChannelCount(4), ERangeError);
    EXPECT_NO_THROW(voxa.SetChannelCount(3));
    EXPECT_THROW(TVOXA(nullptr).SetChannelCount(0), ERangeError);
}

TEST_F(VOXA, TheLastDebugOptionWrittenDecidesForTheProcess) {
    TVOXA first(nullptr);
    TVOXA second(nullptr);
    EXPECT_EQ(first.DebugOption(), (TVOXADebugOption{dsoHaltOnError}));
    first.SetDebugOption({dsoDebugMessage, dsoExceptOnError});
    second.SetDebugOption({dsoExceptOnError});
    EXPECT_FALSE(HaltOnError.load());
    EXPECT_FALSE(LogOnError.load());
    EXPECT_TRUE(ExceptOnError.load());
    EXPECT_EQ(first.DebugOption().Bits(), 6);
}

TEST_F(VOXA, WithoutADeviceEverythingIsSilentAndNothingIsReported) {
    setenv("OGGMIX_AUDIO", "no-such-device", 1);
    const auto voxa = LoadedVoxa({dsoExceptOnError});
    EXPECT_FALSE(voxa->Initialized());
    EXPECT_EQ(voxa->DirectSound() != nullptr, true);  // made, but never initialised
    TVOXAChannel* channel = voxa->GetChannel(0);
    ASSERT_NE(channel, nullptr);
    TVOXAWaveData wave(voxa.get(), 44100, 16, true, 65536, false);
    EXPECT_EQ(wave.SoundBuffer(), nullptr);
    EXPECT_EQ(wave.Thread(), nullptr);
    const uint8_t data[4] = {};
    wave.WriteData(0, data, 4);
    channel->SetWaveData(&wave);
    EXPECT_EQ(channel->WaveData(), nullptr);
    channel->Play();
    channel->Stop();
    EXPECT_EQ(channel->SoundBuffer(), nullptr);
}

TEST_F(VOXA, DesignModeAllowsOneComponentPerForm) {
    TComponent form(nullptr);
    form.SetDesigning(true);
    TVOXA first(&form);
    try {
        TVOXA second(&form);
        FAIL() << "a second component was accepted";
    } catch (const EVOXA&) {
        FAIL() << "raised as EVOXA";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "VOXAコンポーネントを、同一フォームに2つ以上貼る事はできません");
    }
    EXPECT_EQ(form.Components().size(), 1u);
    first.Loaded();
    EXPECT_FALSE(first.Initialized());  // a designer never holds a device
}

TEST_F(VOXA, AtRunTimeTwoComponentsOnOneFormAreAccepted) {
    TComponent form(nullptr);
    TVOXA first(&form);
    TVOXA second(&form);
    EXPECT_EQ(form.Components().size(), 2u);
}

TEST_F(VOXA, Use3DAppliesTheListenerRecordOnceAtCreation) {
    TVOXA voxa(nullptr);
    voxa.SetDebugOption({dsoExceptOnError});
    voxa.SetUse3D(true);
    voxa.Loaded();
    ASSERT_NE(voxa.Listener(), nullptr);
    ASSERT_NE(voxa.Listener3D(), nullptr);
    DS3DLISTENER applied{};
    ASSERT_EQ(voxa.Listener3D()->GetAllParameters(&applied), DS_OK);
    EXPECT_EQ(applied.dwSize, 64u);
    EXPECT_EQ(applied.vOrientFront.z, 1.0f);
    EXPECT_EQ(applied.vOrientTop.y, 1.0f);
    EXPECT_EQ(applied.flDistanceFactor, 1.0f);
    EXPECT_EQ(applied.flRolloffFactor, 1.0f);
    EXPECT_EQ(applied.flDopplerFactor, 1.0f);
    EXPECT_EQ(std::memcmp(&applied, &voxa.Listener()->Params(), sizeof applied), 0);
}

TEST_F(VOXA, TheListenerIsCountedApartFromThePrimaryBuffer) {
    // Shutdown releases the listener, then the primary buffer: each must return 0.
    TVOXA voxa(nullptr);
    voxa.SetDebugOption({dsoExceptOnError});
    voxa.SetUse3D(true);
    voxa.Loaded();
    ASSERT_NE(voxa.Listener3D(), nullptr);
    voxa.Listener3D()->AddRef();
    EXPECT_EQ(voxa.Listener3D()->Release(), 1u);
}

TEST_F(VOXA, Without3DThereIsNoListener) {
    const auto voxa = LoadedVoxa({dsoExceptOnError});
    EXPECT_EQ(voxa->Listener(), nullptr);
    EXPECT_EQ(voxa->Listener3D(), nullptr);
    ASSERT_NE(voxa->PrimaryBuffer(), nullptr);
    void* listener = nullptr;
    EXPECT_EQ(voxa->PrimaryBuffer()->QueryInterface(IID_IDirectSound3DListener, &listener),
              E_NOINTERFACE);
}

TEST_F(VOXA, DestructionSwallowsTheExceptionOfAReleaseReport) {
    auto voxa = LoadedVoxa({dsoExceptOnError});
    IDirectSound8* device = voxa->DirectSound();
    device->AddRef();
    EXPECT_NO_THROW(voxa.reset());
    EXPECT_EQ(device->Release(), 0u);
}

}  // namespace
}  // namespace oggmix::test
