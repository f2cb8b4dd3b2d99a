// voxa.cpp: the sound component (device, primary buffer, listener, channel array), the debug
// options and the unit's one error path with its log file.
#include "sound/voxa.h"
#include "sound/voxa_Internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/FileCloser.h"
#include "base/Utf8Path.h"
#include "base/platform/Platform.h"

namespace oggmix {

std::atomic<bool> HaltOnError{false};
std::atomic<bool> LogOnError{false};
std::atomic<bool> ExceptOnError{false};

namespace {

// The platform layer is initialised for the whole process before any component exists and
// ended after the last one is gone.
struct UnitLifetime {
    UnitLifetime() { (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~UnitLifetime() { CoUninitialize(); }
} gUnitLifetime;

// Serialises reports so that lines from two threads never interleave or share a number.
std::mutex gLogMutex;
int32_t gDebugLogCount = 0;  // guarded by gLogMutex

[[noreturn]] void ThrowLogError(const std::string& path) {
    throw EInOutError("I/O error " + std::to_string(errno) + ": " + path + ": " +
                      std::strerror(errno));
}

void WriteLogLine(const std::string& Message) {
    const std::string path = DebugLogPath();
    UniqueFile file(platform::OpenFile(path, gDebugLogCount == 0 ? "wb" : "ab"));
    if (!file) ThrowLogError(path);
    ++gDebugLogCount;
    char number[32];
    std::snprintf(number, sizeof number, "debug#%.5d ... ", gDebugLogCount);
    const std::string line = platform::ToCodePage932(number + Message) + "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size()) ThrowLogError(path);
    if (std::fclose(file.release()) != 0) ThrowLogError(path);
}

}  // namespace

int32_t DebugLogCount() {
    std::lock_guard guard(gLogMutex);
    return gDebugLogCount;
}

std::string DebugLogPath() {
    const std::string folder = platform::ProgramFolder();
    return (folder.empty() ? Utf8FromPath(std::filesystem::current_path()) : folder) +
           "/VOXA_DebugLog.txt";
}

HRESULT CheckResult(HRESULT Result, const std::string& Message) {
    if (Result == 0) return 0;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "(Error Code(%X))", static_cast<uint32_t>(Result));
    ReportError(Message + suffix);
    if (HaltOnError.load(std::memory_order_relaxed)) Halt();
    return Result;
}

void ReportError(const std::string& Message) {
    if (LogOnError.load(std::memory_order_relaxed)) {
        std::lock_guard guard(gLogMutex);
        WriteLogLine(Message);
    }
    if (ExceptOnError.load(std::memory_order_relaxed)) throw EVOXA(Message);
}

void Halt() { std::exit(EXIT_FAILURE); }

TVOXA::TVOXA(TComponent* AOwner) : TComponent(AOwner) {
    if (Designing() && Owner() != nullptr) {
        int count = 0;
        for (TComponent* component : Owner()->Components())
            if (dynamic_cast<TVOXA*>(component) != nullptr) ++count;
        if (count >= 2)
            throw Exception("VOXAコンポーネントを、同一フォームに2つ以上貼る事はできません");
    }
    FChannelCount = 8;
    FStickyFocus = true;
    FUse3D = false;
    SetDebugOption({dsoHaltOnError});
}

void TVOXA::SetDebugOption(TVOXADebugOption Value) {
    FDebugOption = Value;
    HaltOnError.store(Value.Contains(dsoHaltOnError), std::memory_order_relaxed);
    LogOnError.store(Value.Contains(dsoDebugMessage), std::memory_order_relaxed);
    ExceptOnError.store(Value.Contains(dsoExceptOnError), std::memory_order_relaxed);
}

void TVOXA::SetChannelCount(uint32_t Value) {
    // The channel array is sized once; lookups and destruction rely on the count matching it.
    if (Value == 0) throw ERangeError("ChannelCount must be at least 1");
    if (!FChannels.empty() && Value != FChannelCount)
        throw ERangeError("ChannelCount cannot change once the channels exist");
    FChannelCount = Value;
}

void TVOXA::Loaded() {
    TComponent::Loaded();
    if (Designing()) return;
    SetDebugOption(FDebugOption);
    (void)CreateDevice();
}

void TVOXA::FreeChannels() noexcept { FChannels.clear(); }

bool TVOXA::CreateDevice() {
    FreeChannels();
    FChannels.reserve(FChannelCount);
    for (uint32_t i = 0; i < FChannelCount; ++i)
        FChannels.push_back(std::make_unique<TVOXAChannel>(this));

    FInitialized = false;
    if (CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                         FDirectSound.ReleaseAndGetVoidAddress()) != S_OK)
        return false;
    if (FDirectSound->Initialize(nullptr) != S_OK) return false;
    FInitialized = true;

    CheckResult(FDirectSound->SetCooperativeLevel(Owner() != nullptr ? Owner()->Handle() : nullptr,
                                                  DSSCL_PRIORITY),
                "DirectSoundの協調レベルの設定に失敗しました");

    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = FUse3D ? (DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D) : DSBCAPS_PRIMARYBUFFER;
    CheckResult(
        FDirectSound->CreateSoundBuffer(&desc, FPrimaryBuffer.ReleaseAndGetAddressOf(), nullptr),
        "一次バッファの作成に失敗しました");

    if (FUse3D && FPrimaryBuffer) {
        CheckResult(FPrimaryBuffer->QueryInterface(IID_IDirectSound3DListener,
                                                   F3DListener.ReleaseAndGetVoidAddress()),
                    "DirectSound3D Listenerの作成に失敗しました");
        FListener.reset();
        if (F3DListener) FListener = std::make_unique<TVOXAListener>(this);
    }
    return true;
}

TVOXAChannel* TVOXA::GetChannel(int32_t Index) {
    if (Index >= 0 && static_cast<uint32_t>(Index) < FChannels.size())
        return FChannels[static_cast<size_t>(Index)].get();
    char text[256];
    std::snprintf(text, sizeof text, "チャンネル番号%dは無効です、%d～%dの範囲で指定してください",
                  Index, 0, static_cast<int32_t>(FChannelCount) - 1);
    ReportError(text);
    if (HaltOnError.load(std::memory_order_relaxed)) Halt();
    return nullptr;
}

void CheckReleaseQuietly(ULONG remaining, const char* message) noexcept {
    try {
        CheckResult(static_cast<HRESULT>(remaining), message);
    } catch (const Exception&) {
    }
}

TVOXA::~TVOXA() {
    if (Designing()) return;
    FreeChannels();
    FListener.reset();
    if (F3DListener)
        CheckReleaseQuietly(F3DListener.Detach()->Release(),
                            "DirectSound3D Listnerの解放に失敗しました");
    if (FPrimaryBuffer)
        CheckReleaseQuietly(FPrimaryBuffer.Detach()->Release(), "一次バッファの解放に失敗しました");
    if (FDirectSound)
        CheckReleaseQuietly(FDirectSound.Detach()->Release(), "DirectSoundの解放に失敗しました");
}

}  // namespace oggmix
