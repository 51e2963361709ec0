#pragma once
// A counted reference to a platform interface: AddRef on copy, Release on reset and destruction.
//   ComPtr<IBaseFilter> f;
//   CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(f));
//   ComPtr<IPin> pin = f.As<IPin>();   // QueryInterface; empty when not offered
#include "platform/api/objbase.h"

#include <atomic>
#include <utility>

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference on p.
    ComPtr(T* p) : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.FPtr) {}
    ComPtr(ComPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& o) {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }
    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(T* p) {
        ComPtr c;
        c.FPtr = p;
        return c;
    }
    T* Detach() { return std::exchange(FPtr, nullptr); }
    void Reset() {
        if (T* p = std::exchange(FPtr, nullptr)) p->Release();
    }
    void Swap(ComPtr& o) noexcept { std::swap(FPtr, o.FPtr); }

    T* Get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // For out parameters: releases what is held first.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &FPtr;
    }
    void** AsVoid() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

    template <class U> ComPtr<U> As() const {
        ComPtr<U> out;
        if (FPtr) FPtr->QueryInterface(uuidof<U>(), out.AsVoid());
        return out;
    }
    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.FPtr == b.FPtr; }

private:
    T* FPtr = nullptr;
};

#define IID_PPV_ARGS(ptr) uuidof<std::remove_reference_t<decltype(*(ptr).Get())>>(), (ptr).AsVoid()

// Is this the same object (identity by IUnknown)?
inline bool SameObject(IUnknown* a, IUnknown* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    ComPtr<IUnknown> ua, ub;
    a->QueryInterface(IID_IUnknown, ua.AsVoid());
    b->QueryInterface(IID_IUnknown, ub.AsVoid());
    return ua.Get() == ub.Get();
}

// The reference count and QueryInterface of an implementation class:
//   class Foo final : public IFoo, public IBar {
//       AV_UNKNOWN_IMPL(IFoo, IBar)   // IUnknown answers as IFoo (the first)
//   };
template <class Self, class First, class... Rest>
HRESULT QueryInterfaceTable(Self* self, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(static_cast<First*>(self));
    } else {
        bool found = false;
        auto tryOne = [&](auto* iface) {
            using I = std::remove_pointer_t<decltype(iface)>;
            if (!found && riid == uuidof<I>()) {
                *ppv = static_cast<I*>(self);
                found = true;
            }
        };
        tryOne(static_cast<First*>(nullptr));
        (tryOne(static_cast<Rest*>(nullptr)), ...);
        if (!found) return E_NOINTERFACE;
    }
    self->AddRef();
    return S_OK;
}

#define AV_REFCOUNT_IMPL                                                                           \
public:                                                                                            \
    ULONG AddRef() override {                                                                      \
        return ++FRefCount;                                                                        \
    }                                                                                              \
    ULONG Release() override {                                                                     \
        ULONG r = --FRefCount;                                                                     \
        if (r == 0) delete this;                                                                   \
        return r;                                                                                  \
    }                                                                                              \
                                                                                                   \
private:                                                                                           \
    std::atomic<ULONG> FRefCount{0};                                                               \
                                                                                                   \
public:

#define AV_UNKNOWN_IMPL(...)                                                                       \
    AV_REFCOUNT_IMPL                                                                               \
    HRESULT QueryInterface(REFIID riid, void** ppv) override {                                     \
        return QueryInterfaceTable<std::remove_pointer_t<decltype(this)>, __VA_ARGS__>(this, riid, \
                                                                                       ppv);       \
    }

// Makes a new object and hands out its first reference.
template <class T, class... Args> ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}
