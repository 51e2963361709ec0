#pragma once
// The component model on Qt.
//
// TObject      the root of every framework class (polymorphic; the Sender type of events).
// TPersistent  an object with Assign (fonts, bevels, scales ...).
// TComponent   a mixin: owner and owned components, Name, component state, the loaded step,
//              removal notification. It is NOT a QObject, because visual controls must be
//              QWidgets whose QObject parent is their visual Parent while their Owner is usually
//              the form. Concrete bases combine it with a QObject:
//                TNonVisualComponent : QObject, TComponent    (mixer devices, timers, ...)
//                TControl            : QWidget, TComponent    (Controls.h)
//              and implement GetQObject(), through which published properties (Q_PROPERTY) are
//              read and written by name.
//
// Ownership: the owner destroys what it owns, newest first, when it is destroyed. Ownership does
// not use QObject parenting. Destroy components with Free() (or let the owner do it): Free tells
// every interested component while the object is still whole, then deletes it. A plain delete
// also works; it notifies from ~TComponent, when only the TComponent part is left.
//
// Loading: a form builds its components in its constructor between BeginLoading() and
// EndLoading(). Inside the bracket every component (and every component created meanwhile with
// a loading owner) carries csLoading and csReading; setters can test IsLoading() to only store.
// EndLoading clears csReading and then runs Loaded() of the owner and of every owned component
// (recursively) in creation order; TComponent::Loaded clears csLoading. A Loaded that raises
// does not stop the others: every component ends loaded, then EndLoading raises the first failure.
//
// Notification: Notification(component, opRemove) tells a component that another one is going
// away. It reaches (1) every component that asked with FreeNotification(other), and (2) the
// owner of the dying component, whose default Notification passes it on to all its owned
// components; so siblings on one form learn of each other's end without asking.
// A component holding a reference clears it in its Notification override.
//
// All of this is main-thread only.
#include "framework/Events.h"
#include "framework/Exceptions.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <QVariant>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
};

class TPersistent : public TObject {
public:
    // Copies the settings of source; the base raises EConvertError-like EComponentError when the
    // class does not know the source.
    virtual void Assign(const TPersistent* source);
};

enum TComponentStateFlag : unsigned {
    csLoading = 0x1,
    csReading = 0x2,
    csWriting = 0x4,
    csDestroying = 0x8,
    csDesigning = 0x10,
};
using TComponentState = QFlags<TComponentStateFlag>;
Q_DECLARE_OPERATORS_FOR_FLAGS(TComponentState)

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    // The QObject that carries this component's published properties and signals.
    virtual QObject* GetQObject() = 0;
    const QObject* GetQObject() const { return const_cast<TComponent*>(this)->GetQObject(); }

    // Tells everyone concerned that this component goes, then deletes it. Safe on nullptr.
    void Free();
    static void Free(TComponent* c) {
        if (c) c->Free();
    }

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(index); }
    int ComponentIndex() const; // index in the owner's list, -1 without owner
    // Owned component by name (case-insensitive), nullptr when none.
    TComponent* FindComponent(const QString& name) const;
    void InsertComponent(TComponent* c); // takes ownership (removes it from its old owner)
    void RemoveComponent(TComponent* c); // gives it up without destroying it
    void DestroyComponents();            // destroys every owned component, newest first

    // Unique among the owner's components (case-insensitive); raises EComponentError otherwise.
    QString Name() const { return FName; }
    virtual void SetName(const QString& name);

    TComponentState ComponentState() const { return FState; }
    bool IsLoading() const { return FState.testFlag(csLoading); }
    bool IsReading() const { return FState.testFlag(csReading); }
    bool IsDesigning() const { return FState.testFlag(csDesigning); }
    bool IsDestroying() const { return FState.testFlag(csDestroying); }

    // The loading bracket (see above). Nested brackets are counted.
    void BeginLoading();
    void EndLoading();
    // Switches the design state of this component and of its owned components.
    void SetDesigning(bool designing, bool setChildren = true);
    // Marks this component and its owned ones as being destroyed. Called by Free, by the owner
    // before it destroys its components, and by destructors that must know it early.
    void Destroying();

    // Removal notification.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    // Properties by name through the QObject meta-object ("is there a published property named
    // X, what is its value"). Names are case-sensitive, as declared with Q_PROPERTY.
    bool HasProperty(const char* name) const;
    QVariant GetProperty(const char* name) const; // invalid QVariant when there is none
    bool SetProperty(const char* name, const QVariant& value); // false when none or read-only

protected:
    // Called by Free and by the owner just before the component is deleted, while it is still
    // whole (a form raises OnDestroy here). Not called for a plain delete.
    virtual void BeforeDestruction() {}
    // Runs once after loading, in creation order. Overrides call the base (which clears csLoading).
    virtual void Loaded();
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Called when the component has been inserted into / removed from an owner.
    virtual void ValidateRename(TComponent* AComponent, const QString& curName,
                                const QString& newName);

private:
    void CollectLoading(std::vector<TComponent*>& list);
    void SetStateRecursive(TComponentState flags, bool on);
    void NotifyRemoval(); // once: tells free-notification clients and the owner
    void Insert(TComponent* c);
    void Remove(TComponent* c);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    QString FName;
    TComponentState FState;
    int FLoadingDepth = 0;
    bool FRemovalNotified = false;
};

// A component that is not a control: a QObject so that it has properties and signals.
class TNonVisualComponent : public QObject, public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
public:
    explicit TNonVisualComponent(TComponent* AOwner);
    QObject* GetQObject() override { return this; }
    void SetName(const QString& name) override;
};

// Properties by name on any QObject.
bool IsPublishedProp(const QObject* obj, const char* name);
QVariant GetPropValue(const QObject* obj, const char* name);
bool SetPropValue(QObject* obj, const char* name, const QVariant& value);
