// Ownership, removal notification, the loaded step, names and properties by name.
#include "framework/Classes.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
std::vector<std::string> gLog;

class TProbe : public TNonVisualComponent {
public:
    TProbe(TComponent* owner, std::string tag) : TNonVisualComponent(owner), Tag(std::move(tag)) {}
    ~TProbe() override { gLog.push_back("destroy " + Tag); }
    std::string Tag;
    bool LoadingSeenInLoaded = false;

protected:
    void Loaded() override {
        LoadingSeenInLoaded = IsLoading();
        TNonVisualComponent::Loaded();
        gLog.push_back("loaded " + Tag);
    }
};

// Holds a reference to another component and clears it when that one goes.
class THolder : public TNonVisualComponent {
public:
    using TNonVisualComponent::TNonVisualComponent;
    TComponent* Ref = nullptr;
    TNotifyEvent OnSomething;
    void SetRef(TComponent* c) {
        if (Ref) Ref->RemoveFreeNotification(this);
        Ref = c;
        if (c) c->FreeNotification(this);
    }

protected:
    void Notification(TComponent* c, TOperation op) override {
        TNonVisualComponent::Notification(c, op);
        if (op == opRemove && c == Ref) Ref = nullptr;
        if (op == opRemove) OnSomething.ClearIfReceiver(c);
    }
};
} // namespace

TEST(Component, OwnerDestroysOwnedNewestFirst) {
    gLog.clear();
    auto* owner = new TProbe(nullptr, "owner");
    new TProbe(owner, "a");
    auto* b = new TProbe(owner, "b");
    new TProbe(b, "b1");
    new TProbe(owner, "c");
    EXPECT_EQ(owner->ComponentCount(), 3);
    owner->Free();
    // Each destructor body runs before the components it owns go (b before b1).
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy owner", "destroy c", "destroy b",
                                              "destroy b1", "destroy a"}));
}

TEST(Component, DeletedComponentLeavesItsOwner) {
    TProbe owner(nullptr, "owner");
    auto* a = new TProbe(&owner, "a");
    auto* b = new TProbe(&owner, "b");
    delete a;
    ASSERT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), b);
    EXPECT_EQ(b->ComponentIndex(), 0);
}

TEST(Component, FreeNotificationClearsTheHoldersReference) {
    TProbe form(nullptr, "form");
    TProbe other(nullptr, "other");
    auto* referent = new TProbe(&other, "referent"); // owned elsewhere: only FreeNotification tells
    auto* holder = new THolder(&form);
    holder->SetRef(referent);
    holder->OnSomething.Assign(referent, [](TObject*) {});
    referent->Free();
    EXPECT_EQ(holder->Ref, nullptr);
    EXPECT_FALSE(holder->OnSomething.Assigned());
}

TEST(Component, SiblingsLearnOfEachOthersEndThroughTheOwner) {
    TProbe form(nullptr, "form");
    auto* referent = new TProbe(&form, "referent");
    auto* holder = new THolder(&form);
    holder->Ref = referent; // no FreeNotification: the shared owner passes it on
    referent->Free();
    EXPECT_EQ(holder->Ref, nullptr);
}

TEST(Component, HolderDestroyedFirstIsNotToldLater) {
    TProbe other(nullptr, "other");
    auto* referent = new TProbe(&other, "referent");
    {
        TProbe form(nullptr, "form");
        auto* holder = new THolder(&form);
        holder->SetRef(referent);
    }
    // the holder is gone; freeing the referent must not call into it
    referent->Free();
    EXPECT_EQ(other.ComponentCount(), 0);
}

TEST(Component, LoadedRunsOnceInCreationOrderAfterTheBracket) {
    gLog.clear();
    TProbe form(nullptr, "form");
    form.BeginLoading();
    auto* a = new TProbe(&form, "a");
    auto* b = new TProbe(&form, "b");
    auto* b1 = new TProbe(b, "b1");
    auto* c = new TProbe(&form, "c");
    EXPECT_TRUE(a->IsLoading());
    EXPECT_TRUE(b1->IsReading());
    EXPECT_TRUE(gLog.empty());
    form.EndLoading();
    EXPECT_EQ(gLog, (std::vector<std::string>{"loaded form", "loaded a", "loaded b", "loaded b1",
                                              "loaded c"}));
    EXPECT_TRUE(c->LoadingSeenInLoaded);
    EXPECT_FALSE(a->IsLoading());
    EXPECT_FALSE(c->IsReading());
    gLog.clear();
    new TProbe(&form, "late"); // created outside the bracket: never loading
    EXPECT_TRUE(gLog.empty());
}

TEST(Component, FailingLoadedLeavesNoComponentLoading) {
    struct TFailing : TProbe {
        using TProbe::TProbe;
        void Loaded() override {
            TProbe::Loaded();
            throw Exception(QStringLiteral("loaded failed"));
        }
    };
    gLog.clear();
    TProbe form(nullptr, "form");
    form.BeginLoading();
    auto* bad = new TFailing(&form, "bad");
    auto* after = new TProbe(&form, "after");
    EXPECT_THROW(form.EndLoading(), Exception);
    EXPECT_EQ(gLog, (std::vector<std::string>{"loaded form", "loaded bad", "loaded after"}));
    EXPECT_FALSE(bad->IsLoading());
    EXPECT_FALSE(after->IsLoading());
    EXPECT_FALSE(form.IsLoading());
}

TEST(Component, NamesAreUniqueAmongSiblingsIgnoringCase) {
    TProbe form(nullptr, "form");
    auto* a = new TProbe(&form, "a");
    a->SetName(QStringLiteral("Mixer1"));
    auto* b = new TProbe(&form, "b");
    EXPECT_THROW(b->SetName(QStringLiteral("MIXER1")), EComponentError);
    EXPECT_EQ(form.FindComponent(QStringLiteral("mixer1")), a);
    EXPECT_EQ(form.FindComponent(QStringLiteral("none")), nullptr);
}

TEST(Component, PublishedPropertiesByName) {
    TButton button(nullptr);
    EXPECT_TRUE(button.HasProperty("Caption"));
    EXPECT_FALSE(button.HasProperty("NoSuchProperty"));
    EXPECT_TRUE(button.SetProperty("Caption", QStringLiteral("测试")));
    EXPECT_EQ(button.Caption(), QStringLiteral("测试"));
    EXPECT_EQ(button.GetProperty("Caption").toString(), QStringLiteral("测试"));
    EXPECT_TRUE(button.SetProperty("Tag", 7));
    EXPECT_EQ(button.Tag(), 7);
    EXPECT_FALSE(button.SetProperty("NoSuchProperty", 1));
    EXPECT_FALSE(button.GetProperty("NoSuchProperty").isValid());
}

TEST(Component, EventsRunOnlyWhenAssigned) {
    TNotifyEvent e;
    EXPECT_FALSE(e);
    e(nullptr); // harmless
    int calls = 0;
    TProbe receiver(nullptr, "r");
    e.Assign(&receiver, [&](TObject*) { ++calls; });
    e(nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(e.ClearIfReceiver(static_cast<TObject*>(nullptr)));
    EXPECT_TRUE(e.ClearIfReceiver(static_cast<TComponent*>(&receiver))); // any base compares
    EXPECT_FALSE(e);
}

TEST(Component, ControlDeletedWithItsParentLeavesTheOwner) {
    TForm form(nullptr);
    auto* panel = new TWinControl(&form);
    panel->SetParent(&form);
    auto* label = new TLabel(&form);
    label->SetParent(panel);
    EXPECT_EQ(form.ComponentCount(), 2);
    panel->Free(); // destroys its child controls too
    EXPECT_EQ(form.ComponentCount(), 0);
}
