// The component base of the window framework.
//
// A component has an owner that destroys it, a Name, a loading phase that ends with Loaded, a
// design-mode state (a component inside a form designer; never the case at run time), and a
// removal notification that the owner and every other component of the same owner receive when
// one of them is destroyed. Its interface query answers for IUnknown and for
// IInterfaceComponentReference, which yields the component behind a reference.
//
// Components are not reference counted: AddRef and Release do nothing and return -1, and the
// owner governs the lifetime. Everything here runs on the user-interface thread.
#pragma once

#include "platform/com.h"

#include <any>
#include <functional>
#include <string>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject &) = delete;
    TObject &operator=(const TObject &) = delete;
    virtual ~TObject();
};

enum TOperation { opInsert, opRemove };

class TComponent;
class TReader;

// {E28B1858-EC86-4559-8FCD-6B4F824151ED}: the component behind an interface reference.
struct IInterfaceComponentReference : public IUnknown {
    virtual TComponent *STDMETHODCALLTYPE GetComponent() = 0;
};
TW_DECLARE_IID(IInterfaceComponentReference, 0xE28B1858, 0xEC86, 0x4559, 0x8F, 0xCD, 0x6B, 0x4F, 0x82, 0x41, 0x51,
               0xED);

// An event property with the sender alone. An unassigned (empty) event is skipped.
using TNotifyEvent = std::function<void(TObject *Sender)>;

class TComponent : public TObject, public IInterfaceComponentReference {
public:
    // The owner (may be null) takes the component into its list and destroys it with itself;
    // the owner and its other components receive Notification(this, opInsert).
    explicit TComponent(TComponent *AOwner);
    // Marks the component as being destroyed, leaves the owner's list, sends
    // Notification(this, opRemove) to the owner and to every other component of the same owner,
    // and to the components that asked for it (FreeNotification) and are not among those,
    // then destroys the owned components, first owned first. During that notification the
    // component's derived parts are already gone: receivers may compare the pointer only. For
    // the same reason an owner being destroyed is not told of its own components' removal.
    ~TComponent() override;

    TComponent *Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent *Components(int Index) const;  // nullptr when out of range
    // The owned component of that name, or nullptr.
    TComponent *FindComponent(const std::string &AName) const;

    const std::string &Name() const { return name_; }
    void SetName(const std::string &Value) { name_ = Value; }

    // Asks that AComponent receive Notification(this, opRemove) when this component is
    // destroyed, whatever their owners; the request is mutual. For a component that keeps a
    // plain pointer to another one it does not own (a writer's graph), so that it can forget it.
    void FreeNotification(TComponent *AComponent);
    void RemoveFreeNotification(TComponent *AComponent);

    // The end of the loading phase: called once, after the stored properties are set.
    virtual void Loaded();
    bool Loading() const { return loading_; }
    void SetLoading(bool Value) { loading_ = Value; }

    // Reads one stored property (Name, possibly dotted: "Font.Height") from the reader's
    // current value. False when the class has no such property; a derived class asks its
    // base for the names it does not know.
    virtual bool ReadProperty(TReader &Reader, const std::string &Name);
    // The handler a stored description names (OnClick = Button1Click), as the root component
    // publishes it: a std::function of the event's type, or empty when there is none.
    virtual std::any MethodAddress(const std::string &Name);
    // The component a stored description places this one inside (a control's form).
    // Non-visual components have none and ignore it.
    virtual void SetParentComponent(TComponent *Value);
    // A component of the same owner (or an owned one) was inserted or is being removed.
    virtual void Notification(TComponent *AComponent, TOperation Operation);

    bool Designing() const { return designing_; }
    void SetDesigning(bool Value) { designing_ = Value; }
    bool Destroying() const { return destroying_; }

    // IUnknown and IInterfaceComponentReference. Derived classes that implement further
    // interfaces override QueryInterface and ask this one first.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **obj) override;
    ULONG STDMETHODCALLTYPE AddRef() override;   // not counted: returns -1
    ULONG STDMETHODCALLTYPE Release() override;  // not counted: returns -1
    TComponent *STDMETHODCALLTYPE GetComponent() override { return this; }

protected:
    // First step of a destructor that must run while the derived object is whole: marks the
    // component as being destroyed. Idempotent; ~TComponent calls it too.
    void BeginDestruction() { destroying_ = true; }

private:
    void NotifySiblings(TComponent *AComponent, TOperation Operation);
    void NotifyFreeNotifiers();

    TComponent *owner_;  // not owned: the owner outlives its components
    std::vector<TComponent *> components_;  // owned, in insertion order
    std::vector<TComponent *> freeNotifies_;  // not owned: each removes itself when destroyed
    std::string name_;
    bool designing_ = false;
    bool destroying_ = false;
    bool loading_ = false;
};
