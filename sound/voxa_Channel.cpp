// voxa_Channel.cpp: channels (attaching wave data by sharing or duplicating their buffer,
// play and stop), their 3D parameters, and the listener.
#include "sound/voxa.h"

namespace oggmix {
namespace {

DS3DBUFFER Initial3DParams() {
    DS3DBUFFER params{};
    params.dwSize = sizeof(DS3DBUFFER);
    params.vPosition = {0.0f, 0.0f, 0.0f};
    params.vVelocity = {0.0f, 0.0f, 0.0f};
    params.dwInsideConeAngle = 360;
    params.dwOutsideConeAngle = 360;
    params.vConeOrientation = {0.0f, 0.0f, 1.0f};
    params.lConeOutsideVolume = 0;
    params.flMinDistance = 5.0f;
    params.flMaxDistance = 100.0f;
    params.dwMode = DS3DMODE_NORMAL;
    return params;
}

}  // namespace

TVOXAChannel::TVOXAChannel(TVOXA* AOwner)
    : FOwner(AOwner), FParams3D(std::make_unique<TVOXAParams3D>(this)) {}

TVOXAChannel::~TVOXAChannel() = default;

void TVOXAChannel::SetWaveData(TVOXAGenWave* Value) {
    if (!FOwner->Initialized()) return;
    if (FStreaming) {
        if (Value == FWaveData) return;
        // The thread of a streaming wave data keeps polling this very buffer: stop it, but
        // keep the reference until another wave data is attached.
        if (FBuffer) (void)FBuffer->Stop();
    } else {
        F3DBuffer.Reset();
        FBuffer.Reset();
    }
    if (Value == nullptr) {
        FWaveData = nullptr;
        return;
    }
    F3DBuffer.Reset();
    FBuffer.Reset();
    if (Value->Streaming() || Value->UseFX()) {
        FBuffer.Share(Value->SoundBuffer());
        Value->FChannel.store(this, std::memory_order_relaxed);
    } else {
        ComPtr<IDirectSoundBuffer> duplicate;
        if (CheckResult(FOwner->DirectSound()->DuplicateSoundBuffer(
                            Value->SoundBuffer(), duplicate.ReleaseAndGetAddressOf()),
                        "setWaveData サウンドバッファの複製に失敗しました") != DS_OK)
            return;
        CheckResult(
            duplicate->QueryInterface(IID_IDirectSoundBuffer8, FBuffer.ReleaseAndGetVoidAddress()),
            "setWaveData QueryInterfaceに失敗しました");
    }
    FStreaming = Value->Streaming();
    FIs3D = false;
    if (auto* wave3D = dynamic_cast<TVOXA3DWaveData*>(Value)) {
        FIs3D = true;
        if (FBuffer)
            CheckResult(FBuffer->QueryInterface(IID_IDirectSound3DBuffer,
                                                F3DBuffer.ReleaseAndGetVoidAddress()),
                        "setWaveData 3Dサウンドバッファの作成に失敗しました");
        FParams3D->Assign(wave3D->Params3D());
    }
    FWaveData = Value;
}

void TVOXAChannel::Play() {
    if (!FBuffer) return;
    (void)FBuffer->SetCurrentPosition(0);
    (void)FBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

void TVOXAChannel::Stop() {
    if (FBuffer) (void)FBuffer->Stop();
}

TVOXAParams3D::TVOXAParams3D(TVOXAChannel* AChannel)
    : FChannel(AChannel), FParams(Initial3DParams()) {}

void TVOXAParams3D::GetParams(DS3DBUFFER& Rec) {
    if (FChannel != nullptr && FChannel->Buffer3D() != nullptr)
        (void)FChannel->Buffer3D()->GetAllParameters(&FParams);
    Rec = FParams;
}

void TVOXAParams3D::Assign(TVOXAParams3D& Source) {
    DS3DBUFFER params;
    Source.GetParams(params);
    FParams = params;
    if (FChannel != nullptr && FChannel->Buffer3D() != nullptr)
        CheckResult(FChannel->Buffer3D()->SetAllParameters(&FParams, DS3D_IMMEDIATE),
                    "Params3Dに指定されたパラメータが不適切です");
}

TVOXAListener::TVOXAListener(TVOXA* AOwner) : FOwner(AOwner) {
    FParams.dwSize = sizeof(DS3DLISTENER);
    FParams.vPosition = {0.0f, 0.0f, 0.0f};
    FParams.vVelocity = {0.0f, 0.0f, 0.0f};
    FParams.vOrientFront = {0.0f, 0.0f, 1.0f};
    FParams.vOrientTop = {0.0f, 1.0f, 0.0f};
    FParams.flDistanceFactor = 1.0f;
    FParams.flRolloffFactor = 1.0f;
    FParams.flDopplerFactor = 1.0f;
    if (FOwner->Listener3D() != nullptr)
        CheckResult(FOwner->Listener3D()->SetAllParameters(&FParams, DS3D_IMMEDIATE),
                    "Listenerに指定されたパラメータが不適切です");
}

}  // namespace oggmix
