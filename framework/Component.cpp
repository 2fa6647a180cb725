#include "framework/Component.h"

#include <algorithm>

TObject::~TObject() = default;

TComponent::TComponent(TComponent *AOwner) : owner_(AOwner) {
    if (owner_) {
        owner_->components_.push_back(this);
        NotifySiblings(this, opInsert);
    }
}

TComponent::~TComponent() {
    BeginDestruction();
    if (owner_) {
        auto &list = owner_->components_;
        list.erase(std::find(list.begin(), list.end(), this));
        NotifySiblings(this, opRemove);
    }
    NotifyFreeNotifiers();
    owner_ = nullptr;
    // Each owned component takes itself out of components_ as it goes, so always destroy the
    // current first entry.
    while (!components_.empty()) delete components_.front();
}

TComponent *TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount()) return nullptr;
    return components_[static_cast<size_t>(Index)];
}

void TComponent::FreeNotification(TComponent *AComponent) {
    if (!AComponent || AComponent == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), AComponent) == freeNotifies_.end())
        freeNotifies_.push_back(AComponent);
    auto &theirs = AComponent->freeNotifies_;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent *AComponent) {
    if (!AComponent) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), AComponent), freeNotifies_.end());
    auto &theirs = AComponent->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

// The owner and the components of the same owner have heard of the removal already.
void TComponent::NotifyFreeNotifiers() {
    while (!freeNotifies_.empty()) {
        TComponent *c = freeNotifies_.back();
        freeNotifies_.pop_back();
        auto &theirs = c->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        if (!owner_ || (c != owner_ && c->owner_ != owner_)) c->Notification(this, opRemove);
    }
}

void TComponent::Loaded() {}

void TComponent::Notification(TComponent *, TOperation) {}

// The owner, then its components other than AComponent, in list order. A receiver may destroy
// other components while being notified, so the list is copied and re-checked per entry.
void TComponent::NotifySiblings(TComponent *AComponent, TOperation Operation) {
    TComponent *owner = owner_;
    owner->Notification(AComponent, Operation);
    const std::vector<TComponent *> snapshot = owner->components_;
    for (TComponent *c : snapshot) {
        if (c == AComponent) continue;
        const auto &now = owner->components_;
        if (std::find(now.begin(), now.end(), c) == now.end()) continue;
        c->Notification(AComponent, Operation);
    }
}

HRESULT STDMETHODCALLTYPE TComponent::QueryInterface(REFIID iid, void **obj) {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (IsEqualGUID(iid, tw::iid_of<IUnknown>()) || IsEqualGUID(iid, tw::iid_of<IInterfaceComponentReference>())) {
        *obj = static_cast<IInterfaceComponentReference *>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TComponent::AddRef() { return static_cast<ULONG>(-1); }
ULONG STDMETHODCALLTYPE TComponent::Release() { return static_cast<ULONG>(-1); }

bool TComponent::ReadProperty(TReader &, const std::string &) { return false; }

std::any TComponent::MethodAddress(const std::string &) { return {}; }

void TComponent::SetParentComponent(TComponent *) {}

TComponent *TComponent::FindComponent(const std::string &AName) const {
    for (TComponent *c : components_)
        if (c->Name() == AName) return c;
    return nullptr;
}
