// OggDataLib.cpp: the lock, and construction and destruction of a stream object.
#include "stream/OggDataLib.h"

#include <fcntl.h>

#include <cerrno>

#include "base/Exceptions.h"

namespace oggmix {

TALOGGSemaphore::TALOGGSemaphore(const std::string& Name, int32_t Count) : FMaxCount(Count) {
    if (Count < 1) throw ERangeError("semaphore count must be at least 1");
    if (Name.empty()) {
        if (sem_init(&FUnnamed, 0, static_cast<unsigned>(Count)) != 0)
            throw ERangeError("cannot create semaphore");
        FHandle = &FUnnamed;
        return;
    }
    FName = Name.front() == '/' ? Name : "/" + Name;
    sem_t* named = sem_open(FName.c_str(), O_CREAT, 0600, static_cast<unsigned>(Count));
    if (named == SEM_FAILED) throw ERangeError("cannot create semaphore " + FName);
    FHandle = named;
}

TALOGGSemaphore::~TALOGGSemaphore() {
    if (FHandle == &FUnnamed) {
        sem_destroy(&FUnnamed);
    } else if (FHandle != nullptr) {
        sem_close(FHandle);
        // A named semaphore of this system lives as long as the objects that use it.
        sem_unlink(FName.c_str());
    }
    FHandle = nullptr;
}

void TALOGGSemaphore::Wait() noexcept {
    while (sem_wait(FHandle) != 0 && errno == EINTR) {
    }
}

bool TALOGGSemaphore::TryWait() noexcept {
    int result = 0;
    while ((result = sem_trywait(FHandle)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

void TALOGGSemaphore::Release() noexcept {
    // A release beyond the maximum count is refused, as the platform lock it stands for does.
    int value = 0;
    if (sem_getvalue(FHandle, &value) == 0 && value >= FMaxCount) return;
    sem_post(FHandle);
}

TOggData::TOggData(int32_t BufferSize, StreamUse Use) : FLock("", 1), FUse(Use) {
    if (BufferSize <= 0 || BufferSize % kBytesPerWideFrame != 0)
        throw ERangeError("stream buffer size must be a positive multiple of 8 bytes");
    FComments.clear();
    FFilterFFT = std::make_unique<TFFT>(256);
    FAGC = std::make_unique<TAGC>();
    FRingSize = 2 * BufferSize;
    if (Use == StreamUse::Ring) {
        FSpectrumFFT = std::make_unique<TFFT>(kSpectrumValueCount);
        FRing.assign(static_cast<size_t>(FRingSize) / sizeof(int32_t), 0);
    }
    FDecodeBuffer.fill(0);
    FWorkBuffer.fill(0);
    FFilterHistoryL.fill(0.0f);
    FFilterHistoryR.fill(0.0f);
    Close();
    for (int32_t point = 0; point < kFilterPointCount; ++point) SetFilterPointNow(point, 1.0f);
    Fade(1.0f, 0.0f);
    SetPan(0.0f, 0.0f);
    SetMasterVolume(1.0f);
    SetVolume(1.0f);
}

TOggData::~TOggData() { Close(); }

}  // namespace oggmix
