#pragma once
// Component.h: the little of a component framework that the sound component relies on: an
// owner that lists the components it holds, a window handle for the owner form, a design-mode
// flag a host (a form designer) can set, and the Loaded hook the host calls once it has
// written the stored properties.
// Ownership: the owner's list does not own; a component enters it on construction and leaves
// it on destruction. The host frees its components (before or after the owner, either works).
// Threads: UI thread. Memory: construction allocates.

#include <vector>

#include "sound/platform/DirectSound.h"

namespace oggmix {

class TComponent {
public:
    // A component made with an owner inherits the owner's design mode.
    explicit TComponent(TComponent* AOwner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    [[nodiscard]] TComponent* Owner() const noexcept { return FOwner; }
    [[nodiscard]] const std::vector<TComponent*>& Components() const noexcept {
        return FComponents;
    }
    // True while the component lives inside a form designer. Outside one: false, always.
    [[nodiscard]] bool Designing() const noexcept { return FDesigning; }
    void SetDesigning(bool Value) noexcept { FDesigning = Value; }
    // The window of a form; null for other components.
    [[nodiscard]] HWND Handle() const noexcept { return FHandle; }
    void SetHandle(HWND Value) noexcept { FHandle = Value; }

    // Called by the host after the stored properties are written.
    virtual void Loaded() {}

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
    bool FDesigning = false;
    HWND FHandle = nullptr;
};

}  // namespace oggmix
