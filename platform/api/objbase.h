#pragma once
// The component object model subset the capture platform needs: GUIDs, result codes, IUnknown,
// class creation, the task allocator, memory streams with stream persistence, monikers and their
// property bags, BSTR/VARIANT, and the running object table.
//
// Interfaces are abstract C++ classes with the platform's names and methods (only the methods this
// program or its tests use are declared; the order of methods is not a binary contract). Wide text
// is UTF-16 (OLECHAR = char16_t), as on the platform. Reference counts are thread-safe; objects are
// otherwise used on the thread that made them unless an interface comment says more.
#include "platform/api/guiddef.h"
#include "platform/api/mmsystem.h"
#include "platform/api/windef.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using ULONGLONG = std::uint64_t;
using LONG_PTR = std::intptr_t;
using SCODE = HRESULT;
using OLECHAR = char16_t;
using WCHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
inline constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
inline constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

// ---- Result codes -------------------------------------------------------------------------------
inline constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
inline constexpr HRESULT HResult(std::uint32_t v) {
    return static_cast<HRESULT>(v);
}
inline constexpr HRESULT HRESULT_FROM_WIN32(DWORD e) {
    return e == 0 ? 0 : HResult((e & 0xFFFF) | 0x80070000u);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = HResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = HResult(0x80004002);
inline constexpr HRESULT E_POINTER = HResult(0x80004003);
inline constexpr HRESULT E_ABORT = HResult(0x80004004);
inline constexpr HRESULT E_FAIL = HResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = HResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = HResult(0x80070005);
inline constexpr HRESULT E_HANDLE = HResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = HResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = HResult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = HResult(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = HResult(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = HResult(0x800401F0);
inline constexpr HRESULT MK_E_UNAVAILABLE = HResult(0x800401E3);
inline constexpr HRESULT MK_E_NOOBJECT = HResult(0x800401E5);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = HResult(0x80030001);
inline constexpr HRESULT STG_E_READFAULT = HResult(0x8003001E);
inline constexpr HRESULT STG_E_INVALIDPOINTER = HResult(0x80030009);
inline constexpr HRESULT RPC_E_CHANGED_MODE = HResult(0x80010106);
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;

// ---- IUnknown -----------------------------------------------------------------------------------
// The id of an interface type: uuidof<IFoo>() == IID_IFoo.
template <class I> struct InterfaceIdOf;
template <class I> constexpr const IID& uuidof() {
    return InterfaceIdOf<I>::value;
}

#define AV_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                            \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
// Declares IID_<I> and binds it to the interface type.
#define AV_INTERFACE_ID(I, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                              \
    AV_DEFINE_GUID(IID_##I, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8);                            \
    template <> struct InterfaceIdOf<I> { static constexpr const IID& value = IID_##I; }

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default; // released, never deleted through an interface
};
AV_INTERFACE_ID(IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);

// ---- Library, classes, task allocator ----------------------------------------------------------
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Counted per thread as on the platform; S_FALSE when the thread was initialised already.
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
// Creates an object of a registered class (the capture platform's classes: system device
// enumerator, filter graph, capture graph builder, renderers, sample grabber, converters, device
// moniker). REGDB_E_CLASSNOTREG for any other class, CLASS_E_NOAGGREGATION with an outer object.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** ppv);
// The task allocator (any thread). Memory handed across interfaces (media-type formats, strings,
// page lists) comes from here and goes back here.
LPVOID CoTaskMemAlloc(std::size_t cb);
LPVOID CoTaskMemRealloc(LPVOID pv, std::size_t cb);
void CoTaskMemFree(LPVOID pv);

struct IMalloc : IUnknown {
    virtual void* Alloc(std::size_t cb) = 0;
    virtual void* Realloc(void* pv, std::size_t cb) = 0;
    virtual void Free(void* pv) = 0;
    virtual std::size_t GetSize(void* pv) = 0;
};
AV_INTERFACE_ID(IMalloc, 0x00000002, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);
HRESULT CoGetMalloc(DWORD memContext, IMalloc** ppMalloc);

// GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
int StringFromGUID2(REFGUID guid, LPOLESTR buffer,
                    int cchMax);                         // characters with the zero; 0: short
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text); // CoTaskMemFree the text

// ---- Strings and variants ----------------------------------------------------------------------
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

enum VARENUM : VARTYPE { VT_EMPTY = 0, VT_NULL = 1, VT_I4 = 3, VT_BSTR = 8, VT_UI4 = 19 };

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        LONG lVal;
        ULONG ulVal;
        BSTR bstrVal;
        LONGLONG llVal;
    };
};
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);

// ---- Streams and persistence -------------------------------------------------------------------
struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};
inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;
inline constexpr DWORD STATFLAG_NONAME = 1;

struct STATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    DWORD grfMode;
    CLSID clsid;
};

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};
AV_INTERFACE_ID(ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44,
                0x77, 0x3D);

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD statFlag) = 0;
};
AV_INTERFACE_ID(IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);

// A growable stream in memory, starting with a copy of the given bytes (none: empty).
IStream* SHCreateMemStream(const BYTE* init, UINT cbInit);

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};
AV_INTERFACE_ID(IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);

struct IPersistStream : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
};
AV_INTERFACE_ID(IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x46);

HRESULT WriteClassStm(IStream* stream, REFCLSID clsid);
HRESULT ReadClassStm(IStream* stream, CLSID* clsid);
// The class id, then the object's own Save; loading creates the class and asks it to Load.
HRESULT OleSaveToStream(IPersistStream* object, IStream* stream);
HRESULT OleLoadFromStream(IStream* stream, REFIID riid, void** ppv);

// ---- Monikers and property bags ----------------------------------------------------------------
struct IBindCtx;
struct IErrorLog;

struct IMoniker : IPersistStream {
    virtual HRESULT BindToObject(IBindCtx* bc, IMoniker* toLeft, REFIID riid, void** ppv) = 0;
    virtual HRESULT BindToStorage(IBindCtx* bc, IMoniker* toLeft, REFIID riid, void** ppv) = 0;
    virtual HRESULT IsEqual(IMoniker* other) = 0;
    virtual HRESULT GetDisplayName(IBindCtx* bc, IMoniker* toLeft, LPOLESTR* name) = 0;
};
AV_INTERFACE_ID(IMoniker, 0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);

// A moniker that is its display name (the item and the device monikers): it hands out the name
// and equals any moniker with the same display name.
class NamedMoniker : public IMoniker {
public:
    HRESULT IsEqual(IMoniker* other) override;
    HRESULT GetDisplayName(IBindCtx* bc, IMoniker* toLeft, LPOLESTR* name) override;

protected:
    NamedMoniker() = default;
    explicit NamedMoniker(std::u16string name) : FName(std::move(name)) {}
    std::u16string FName;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** copy) = 0;
};
AV_INTERFACE_ID(IEnumMoniker, 0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46);

struct IPropertyBag : IUnknown {
    // E_INVALIDARG when the bag has no such property.
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;
};
AV_INTERFACE_ID(IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8,
                0x51);

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker);

// ---- Running object table -----------------------------------------------------------------------
// There is no system-wide table on Linux. Registering a filter graph writes its structure as a
// Graphviz file (see docs/ARCHITECTURE.md, "Graph inspection") and keeps it current until the
// entry is revoked, which removes the file.
struct IRunningObjectTable : IUnknown {
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* key) = 0;
    virtual HRESULT Revoke(DWORD key) = 0;
    virtual HRESULT IsRunning(IMoniker* name) = 0;
    virtual HRESULT GetObject(IMoniker* name, IUnknown** object) = 0;
};
AV_INTERFACE_ID(IRunningObjectTable, 0x00000010, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x00, 0x46);
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);

// ---- Site and services -------------------------------------------------------------------------
struct IObjectWithSite : IUnknown {
    virtual HRESULT SetSite(IUnknown* site) = 0;
    virtual HRESULT GetSite(REFIID riid, void** ppv) = 0;
};
AV_INTERFACE_ID(IObjectWithSite, 0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D,
                0x73, 0x52);

struct IServiceProvider : IUnknown {
    virtual HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) = 0;
};
AV_INTERFACE_ID(IServiceProvider, 0x6D5140C1, 0x7436, 0x11CE, 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60,
                0x09, 0xFA);

// UTF-16 helpers for the platform's wide strings.
std::u16string WideFromUtf8(const std::string& text);
std::string Utf8FromWide(LPCOLESTR text);
