#pragma once
// ComPtr.h: owns one reference to a reference-counted platform object and releases it when
// it goes out of scope or is replaced. For the places that ignore Release's result; where the
// count matters, Detach and call Release yourself.
// Threads: one owner at a time. Memory: no alloc.

#include <utility>

namespace oggmix {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) Attach(std::exchange(other.FPtr, nullptr));
        return *this;
    }
    ~ComPtr() { Reset(); }

    [[nodiscard]] T* Get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

    // For out-parameters: releases what is held and hands out the empty slot.
    [[nodiscard]] T** ReleaseAndGetAddressOf() noexcept {
        Reset();
        return &FPtr;
    }
    [[nodiscard]] void** ReleaseAndGetVoidAddress() noexcept {
        return reinterpret_cast<void**>(ReleaseAndGetAddressOf());
    }
    // Takes over a reference the caller owns.
    void Attach(T* ptr) noexcept {
        Reset();
        FPtr = ptr;
    }
    // Adds a reference of its own to ptr.
    void Share(T* ptr) noexcept {
        if (ptr != nullptr) ptr->AddRef();
        Attach(ptr);
    }
    // Gives up ownership without releasing.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(FPtr, nullptr); }
    void Reset() noexcept {
        if (T* old = std::exchange(FPtr, nullptr)) old->Release();
    }

private:
    T* FPtr = nullptr;
};

}  // namespace oggmix
