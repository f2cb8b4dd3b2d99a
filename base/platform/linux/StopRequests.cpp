// StopRequests.cpp: SIGINT and SIGTERM set the watched flag.
#include <csignal>

#include "base/platform/Platform.h"

namespace oggmix::platform {
namespace {

std::atomic<bool>* gRequested = nullptr;
struct sigaction gPreviousInt {};
struct sigaction gPreviousTerm {};

extern "C" void OnStopSignal(int) { gRequested->store(true, std::memory_order_relaxed); }

}  // namespace

StopRequestWatch::StopRequestWatch(std::atomic<bool>& requested) {
    requested.store(false, std::memory_order_relaxed);
    gRequested = &requested;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
}

StopRequestWatch::~StopRequestWatch() {
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
}

}  // namespace oggmix::platform
