#include "framework/Component.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Logs every notification it receives as "<receiver> <op> <subject>".
class Recorder : public TComponent {
public:
    Recorder(TComponent *owner, const std::string &name, std::vector<std::string> &log) : TComponent(owner), log_(log) {
        SetName(name);
    }
    ~Recorder() override { log_.push_back("~" + Name()); }
    void Notification(TComponent *c, TOperation op) override {
        // During opRemove the subject's derived parts are gone: read its name from the side table.
        log_.push_back(Name() + (op == opInsert ? " ins " : " rem ") + names[c]);
    }
    static inline std::map<TComponent *, std::string> names;

private:
    std::vector<std::string> &log_;
};

Recorder *Make(TComponent *owner, const std::string &name, std::vector<std::string> &log) {
    auto *r = new Recorder(owner, name, log);
    Recorder::names[r] = name;
    return r;
}

}  // namespace

TEST(Component, InsertAndRemoveNotifyOwnerAndSiblingsInOrder) {
    std::vector<std::string> log;
    Recorder::names.clear();
    auto *form = Make(nullptr, "Form", log);
    Recorder::names[form] = "Form";
    auto *a = Make(form, "A", log);
    auto *b = Make(form, "B", log);
    auto *c = Make(form, "C", log);
    EXPECT_EQ(form->ComponentCount(), 3);
    EXPECT_EQ(a->Owner(), form);
    EXPECT_EQ(form->Components(2), c);
    EXPECT_EQ(form->Components(3), nullptr);
    EXPECT_EQ(form->Components(-1), nullptr);

    log.clear();
    delete b;
    EXPECT_EQ(log, (std::vector<std::string>{"~B", "Form rem B", "A rem B", "C rem B"}));
    EXPECT_EQ(form->ComponentCount(), 2);
    EXPECT_EQ(form->Components(1), c);

    log.clear();
    delete form;
    // Owned components go first-owned first, each telling the ones still there. The owner's
    // own part is gone by then, so it hears nothing.
    EXPECT_EQ(log, (std::vector<std::string>{"~Form", "~A", "C rem A", "~C"}));
}

TEST(Component, InsertNotifiesOwnerAndEarlierComponents) {
    std::vector<std::string> log;
    Recorder::names.clear();
    auto *form = Make(nullptr, "Form", log);
    auto *a = Make(form, "A", log);
    log.clear();
    auto *b = new Recorder(form, "B", log);
    // The new component is not told of itself.
    EXPECT_EQ(log, (std::vector<std::string>{"Form ins ", "A ins "}));
    (void)a;
    (void)b;
    delete form;
}

TEST(Component, NotificationReceiverMayDestroyAnotherSibling) {
    // A receiver deleting a later sibling must not make the loop touch it.
    struct Killer : TComponent {
        TComponent *victim = nullptr;
        using TComponent::TComponent;
        void Notification(TComponent *, TOperation op) override {
            if (op == opRemove && victim) {
                TComponent *v = victim;
                victim = nullptr;
                delete v;
            }
        }
    };
    struct Counter : TComponent {
        int *count;
        Counter(TComponent *o, int *c) : TComponent(o), count(c) {}
        void Notification(TComponent *, TOperation op) override {
            if (op == opRemove) ++*count;
        }
    };
    int victimCalls = 0;
    auto *form = new TComponent(nullptr);
    auto *dying = new TComponent(form);
    auto *killer = new Killer(form);
    killer->victim = new Counter(form, &victimCalls);
    delete dying;
    EXPECT_EQ(victimCalls, 0);
    EXPECT_EQ(form->ComponentCount(), 1);
    delete form;
}

TEST(Component, InterfaceQueryAnswersOnlyItsOwnInterfacesAndIsNotCounted) {
    TComponent c(nullptr);
    void *p = nullptr;
    ASSERT_EQ(c.QueryInterface(IID_IInterfaceComponentReference, &p), S_OK);
    EXPECT_EQ(static_cast<IInterfaceComponentReference *>(p)->GetComponent(), &c);
    p = nullptr;
    ASSERT_EQ(c.QueryInterface(tw::iid_of<IUnknown>(), &p), S_OK);
    EXPECT_EQ(p, static_cast<IUnknown *>(static_cast<IInterfaceComponentReference *>(&c)));

    p = &c;
    EXPECT_EQ(c.QueryInterface(tw::iid_of<IClassFactory>(), &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(c.QueryInterface(IID_IInterfaceComponentReference, nullptr), E_POINTER);

    EXPECT_EQ(c.AddRef(), static_cast<ULONG>(-1));
    EXPECT_EQ(c.Release(), static_cast<ULONG>(-1));
}

TEST(Component, StateFlags) {
    struct Probe : TComponent {
        bool *seen;
        Probe(bool *s) : TComponent(nullptr), seen(s) {}
        ~Probe() override {
            BeginDestruction();
            *seen = Destroying();
        }
    };
    bool seen = false;
    {
        Probe p(&seen);
        EXPECT_FALSE(p.Destroying());
        EXPECT_FALSE(p.Designing());
        p.SetDesigning(true);
        EXPECT_TRUE(p.Designing());
    }
    EXPECT_TRUE(seen);
}

TEST(Component, FreeNotificationReachesComponentsOfOtherOwnersOnce) {
    std::vector<std::string> log;
    Recorder::names.clear();
    auto *formA = Make(nullptr, "FormA", log);
    auto *formB = Make(nullptr, "FormB", log);
    auto *graph = Make(formA, "Graph", log);
    auto *sibling = Make(formA, "Sibling", log);
    auto *writer = Make(formB, "Writer", log);
    auto *loner = Make(nullptr, "Loner", log);
    graph->FreeNotification(writer);
    graph->FreeNotification(writer);  // asked twice: told once
    graph->FreeNotification(sibling);  // a sibling hears it as a sibling only
    graph->FreeNotification(loner);
    loner->RemoveFreeNotification(graph);  // the request is mutual, and so is its removal
    log.clear();
    delete graph;
    EXPECT_EQ(log, (std::vector<std::string>{"~Graph", "FormA rem Graph", "Sibling rem Graph", "Writer rem Graph"}));

    // Mutual: the writer dying first takes itself off the other's list.
    auto *graph2 = Make(formA, "Graph2", log);
    graph2->FreeNotification(writer);
    delete writer;
    log.clear();
    delete graph2;
    EXPECT_EQ(log, (std::vector<std::string>{"~Graph2", "FormA rem Graph2", "Sibling rem Graph2"}));
    delete loner;
    delete formA;
    delete formB;
}
