#pragma once
// Events are (receiver, handler) pairs, raised only when assigned:
//   Button->OnClick.Assign(this, &TMyForm::ButtonClick);   // member handler
//   Timer->OnTimer = [this](TObject*) { ... };              // any callable, no receiver
//   if (OnChange) OnChange(this);                           // raise only when assigned
// The receiver pointer is kept so that a component can drop the handlers of an object that is
// being destroyed (ClearIfReceiver), e.g. from its Notification override.
#include <functional>
#include <type_traits>
#include <utility>

class TObject;

// The identity of an object for receiver comparisons: the address of the complete object, so
// that a form seen through any of its bases compares equal.
template <class T> const void* ObjectIdentity(const T* p) {
    if constexpr (std::is_polymorphic_v<T>)
        return p ? dynamic_cast<const void*>(p) : nullptr;
    else
        return p;
}

template <class... Args> class TEvent {
public:
    using Handler = std::function<void(Args...)>;

    TEvent() = default;
    TEvent(std::nullptr_t) {}
    template <class F, class = std::enable_if_t<std::is_invocable_v<F&, Args...> &&
                                                !std::is_same_v<std::decay_t<F>, TEvent>>>
    TEvent(F&& fn) : FHandler(std::forward<F>(fn)) {}

    // A member function of the receiver.
    template <class R, class M> void Assign(R* receiver, void (M::*method)(Args...)) {
        static_assert(std::is_base_of_v<M, R>, "the handler must be a member of the receiver");
        FReceiver = ObjectIdentity(receiver);
        FHandler = [receiver, method](Args... args) { (receiver->*method)(args...); };
    }
    // Any callable, tied to a receiver for identity.
    template <class R, class F> void Assign(const R* receiver, F&& fn) {
        FReceiver = ObjectIdentity(receiver);
        FHandler = std::forward<F>(fn);
    }
    void Clear() {
        FReceiver = nullptr;
        FHandler = nullptr;
    }
    // Drops the handler when it belongs to the given receiver; true when it did.
    template <class R> bool ClearIfReceiver(const R* receiver) {
        const void* id = ObjectIdentity(receiver);
        if (!FHandler || id == nullptr || FReceiver != id) return false;
        Clear();
        return true;
    }

    explicit operator bool() const { return static_cast<bool>(FHandler); }
    bool Assigned() const { return static_cast<bool>(FHandler); }
    const void* Receiver() const { return FReceiver; } // ObjectIdentity of the receiver

    // Raises the event; does nothing when unassigned. A copy is called so that a handler may
    // reassign or clear the event it is running from.
    void operator()(Args... args) const {
        if (!FHandler) return;
        Handler h = FHandler;
        h(args...);
    }

private:
    const void* FReceiver = nullptr;
    Handler FHandler;
};

// The plain event: the sender only.
using TNotifyEvent = TEvent<TObject*>;
