// Component.cpp: owner lists.
#include "sound/Component.h"

#include <algorithm>

namespace oggmix {

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
    if (FOwner == nullptr) return;
    FDesigning = FOwner->FDesigning;
    FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
    for (TComponent* component : FComponents) component->FOwner = nullptr;
    if (FOwner != nullptr) std::erase(FOwner->FComponents, this);
}

}  // namespace oggmix
