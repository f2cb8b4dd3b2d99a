// AudioBackend_Null.cpp: plays into nothing, in real time; at rest, its thread sleeps.
#include "sound/platform/AudioBackend.h"
#include "sound/platform/RealtimePump.h"

namespace oggmix {
namespace {

class NullBackend final : public AudioBackend {
public:
    ~NullBackend() override { Close(); }
    HRESULT Open(PullFn pull) override {
        FPull = std::move(pull);
        FPump.ResetClock();
        Opened();
        return DS_OK;
    }
    void Start() override { FPump.Start(FPull, nullptr); }
    void Stop() override { FPump.Stop(); }
    void Close() override { FPump.Stop(); }
    int32_t PeriodFrames() const noexcept override { return RealtimePump::kPeriodFrames; }
    int64_t HeardFrames() const noexcept override { return FPump.HeardFrames(); }
    std::string Name() const override { return "null"; }
    void Rest() noexcept override { FPump.Rest(); }
    void Wake(const SkipFn& skip) override { FPump.Wake(skip); }
    bool Resting() const noexcept override { return FPump.Resting(); }
    bool Notifies() const noexcept override { return true; }  // never lost, never quiet

private:
    PullFn FPull;
    RealtimePump FPump;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeNullBackend() { return std::make_unique<NullBackend>(); }

}  // namespace oggmix
