// PulseProbe.cpp: whether a PulseAudio server answers, for the choice of the default back end.
// A private main loop, polled with a deadline, so that a server that accepts the socket but
// never answers costs at most the timeout.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>

#include "sound/platform/AudioBackend.h"

namespace oggmix {
namespace {

struct MainloopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextRelease {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};

}  // namespace

bool PulseServerAnswers(int32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
    if (!loop) return false;
    const std::unique_ptr<pa_context, ContextRelease> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "oggmix probe"));
    if (!context || pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state)) return false;
        const auto leftUs =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (leftUs <= 0) return false;
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(leftUs)) < 0 ||
            pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
            return false;
    }
}

}  // namespace oggmix
