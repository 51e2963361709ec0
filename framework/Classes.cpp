#include "framework/Classes.h"

#include <QMetaProperty>
#include <algorithm>
#include <exception>

void TPersistent::Assign(const TPersistent* source) {
    if (source == this) return;
    throw EComponentError(
        QStringLiteral("Cannot assign a %1 to a %2")
            .arg(source ? QString::fromLatin1(typeid(*source).name()) : QStringLiteral("nil"),
                 QString::fromLatin1(typeid(*this).name())));
}

// --- TComponent ---------------------------------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) {
        // A component created while its owner is loading is loaded with it.
        if (AOwner->IsLoading()) FState |= csLoading | csReading;
        if (AOwner->IsDesigning()) FState |= csDesigning;
        AOwner->Insert(this);
    }
}

TComponent::~TComponent() {
    // Normally Free or the owner has done this while the object was whole; a plain delete
    // arrives here with only the TComponent part left.
    Destroying();
    NotifyRemoval();
    DestroyComponents();
    for (TComponent* c : FFreeNotifies) {
        auto& theirs = c->FFreeNotifies;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    }
    FFreeNotifies.clear();
    if (FOwner) FOwner->Remove(this);
}

void TComponent::Free() {
    Destroying();
    BeforeDestruction();
    NotifyRemoval();
    delete this;
}

void TComponent::Destroying() {
    if (IsDestroying()) return;
    FState |= csDestroying;
    for (TComponent* c : FComponents)
        c->Destroying();
}

void TComponent::NotifyRemoval() {
    if (FRemovalNotified) return;
    FRemovalNotified = true;
    // Clients first, on a copy: a client may unregister itself while being told.
    const std::vector<TComponent*> clients = FFreeNotifies;
    for (TComponent* c : clients) {
        if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), c) == FFreeNotifies.end())
            continue;
        if (c != FOwner) c->Notification(this, opRemove);
    }
    if (FOwner) FOwner->Notification(this, opRemove);
}

void TComponent::DestroyComponents() {
    Destroying();
    while (!FComponents.empty()) {
        TComponent* c = FComponents.back();
        // Tell everyone while c is still whole, then let it go; its destructor removes it from
        // this list (also when a QWidget parent deleted it earlier).
        c->Destroying();
        c->BeforeDestruction();
        c->NotifyRemoval();
        Remove(c);
        c->FOwner = nullptr;
        delete c;
    }
}

int TComponent::ComponentIndex() const {
    if (!FOwner) return -1;
    auto& v = FOwner->FComponents;
    auto it = std::find(v.begin(), v.end(), this);
    return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(const QString& name) const {
    if (name.isEmpty()) return nullptr;
    for (TComponent* c : FComponents)
        if (c->FName.compare(name, Qt::CaseInsensitive) == 0) return c;
    return nullptr;
}

void TComponent::Insert(TComponent* c) {
    FComponents.push_back(c);
    c->FOwner = this;
    Notification(c, opInsert);
}

void TComponent::Remove(TComponent* c) {
    auto it = std::find(FComponents.begin(), FComponents.end(), c);
    if (it == FComponents.end()) return;
    FComponents.erase(it);
    c->FOwner = nullptr;
}

void TComponent::InsertComponent(TComponent* c) {
    if (!c || c->FOwner == this) return;
    if (!c->FName.isEmpty()) ValidateRename(c, QString(), c->FName);
    if (c->FOwner) c->FOwner->RemoveComponent(c);
    Insert(c);
}

void TComponent::RemoveComponent(TComponent* c) {
    if (!c || c->FOwner != this) return;
    Notification(c, opRemove);
    Remove(c);
}

void TComponent::ValidateRename(TComponent* AComponent, const QString& curName,
                                const QString& newName) {
    if (newName.isEmpty() || curName.compare(newName, Qt::CaseInsensitive) == 0) return;
    TComponent* other = FindComponent(newName);
    if (other && other != AComponent)
        throw EComponentError(QStringLiteral("A component named %1 already exists").arg(newName));
}

void TComponent::SetName(const QString& name) {
    if (name == FName) return;
    if (FOwner) FOwner->ValidateRename(this, FName, name);
    FName = name;
}

void TComponent::SetStateRecursive(TComponentState flags, bool on) {
    if (on)
        FState |= flags;
    else
        FState &= ~flags;
    for (TComponent* c : FComponents)
        c->SetStateRecursive(flags, on);
}

void TComponent::BeginLoading() {
    if (FLoadingDepth++ == 0) SetStateRecursive(csLoading | csReading, true);
}

void TComponent::CollectLoading(std::vector<TComponent*>& list) {
    if (IsLoading()) list.push_back(this);
    for (TComponent* c : FComponents)
        c->CollectLoading(list);
}

void TComponent::EndLoading() {
    if (FLoadingDepth == 0 || --FLoadingDepth > 0) return;
    SetStateRecursive(csReading, false);
    std::vector<TComponent*> list;
    CollectLoading(list);
    std::exception_ptr failure;
    // A component that a Loaded destroys must not be called afterwards: track removals through
    // a guard list of still-owned components.
    for (TComponent* c : list) {
        bool alive = (c == this);
        if (!alive) {
            std::vector<TComponent*> stack{this};
            while (!stack.empty() && !alive) {
                TComponent* p = stack.back();
                stack.pop_back();
                for (TComponent* k : p->FComponents) {
                    if (k == c) {
                        alive = true;
                        break;
                    }
                    stack.push_back(k);
                }
            }
        }
        if (!alive || !c->IsLoading()) continue;
        // One failing Loaded must not leave the components after it loading for ever: they
        // all get theirs, then the first failure goes on to the caller.
        try {
            c->Loaded();
        } catch (...) {
            if (!failure) failure = std::current_exception();
            if (c->IsLoading()) c->TComponent::Loaded();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TComponent::Loaded() {
    FState &= ~TComponentState(csLoading);
}

void TComponent::SetDesigning(bool designing, bool setChildren) {
    if (designing)
        FState |= csDesigning;
    else
        FState &= ~TComponentState(csDesigning);
    if (setChildren)
        for (TComponent* c : FComponents)
            c->SetDesigning(designing, true);
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end())
        FFreeNotifies.push_back(other);
    auto& theirs = other->FFreeNotifies;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), other),
                        FFreeNotifies.end());
    auto& theirs = other->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
    // Pass it on to the owned components (siblings of the one concerned), newest first, on a
    // copy in case a handler frees something.
    const std::vector<TComponent*> owned = FComponents;
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
        TComponent* c = *it;
        if (c == AComponent) continue;
        if (std::find(FComponents.begin(), FComponents.end(), c) == FComponents.end()) continue;
        c->Notification(AComponent, Operation);
    }
}

bool TComponent::HasProperty(const char* name) const {
    return IsPublishedProp(GetQObject(), name);
}
QVariant TComponent::GetProperty(const char* name) const {
    return GetPropValue(GetQObject(), name);
}
bool TComponent::SetProperty(const char* name, const QVariant& value) {
    return SetPropValue(GetQObject(), name, value);
}

// --- TNonVisualComponent ------------------------------------------------------------------------

TNonVisualComponent::TNonVisualComponent(TComponent* AOwner) : TComponent(AOwner) {}

void TNonVisualComponent::SetName(const QString& name) {
    TComponent::SetName(name);
    setObjectName(name);
}

// --- properties by name -------------------------------------------------------------------------

bool IsPublishedProp(const QObject* obj, const char* name) {
    return obj && obj->metaObject()->indexOfProperty(name) >= 0;
}

QVariant GetPropValue(const QObject* obj, const char* name) {
    if (!IsPublishedProp(obj, name)) return {};
    return obj->property(name);
}

bool SetPropValue(QObject* obj, const char* name, const QVariant& value) {
    if (!obj) return false;
    const QMetaObject* mo = obj->metaObject();
    const int index = mo->indexOfProperty(name);
    if (index < 0 || !mo->property(index).isWritable()) return false;
    return mo->property(index).write(obj, value);
}
