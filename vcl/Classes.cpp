#include "Classes.h"

#include <algorithm>

namespace vcl {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
    if (owner_) owner_->Remove(this);
}

void TComponent::Remove(TComponent* component) {
    components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
}

TComponent* TComponent::FindComponent(const String& name) const {
    for (TComponent* c : components_)
        if (c->Name() == name) return c;
    return nullptr;
}

}  // namespace vcl
