#include "platform/api/objbase.h"

#include "platform/api/ComPtr.h"
#include "platform/dshow/GraphInternal.h"

#include <QDir>
#include <QString>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unistd.h>
#include <vector>

// ---- Text ---------------------------------------------------------------------------------------

std::u16string WideFromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toStdU16String();
}

std::string Utf8FromWide(LPCOLESTR text) {
    if (!text) return {};
    return QString::fromUtf16(text).toStdString();
}

// ---- Library ------------------------------------------------------------------------------------
namespace {
thread_local int tInitCount = 0;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID, DWORD) {
    return tInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (tInitCount > 0) --tInitCount;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!(clsContext & CLSCTX_INPROC)) return REGDB_E_CLASSNOTREG;
    return AvCreateInstance(rclsid, riid, ppv);
}

LPVOID CoTaskMemAlloc(std::size_t cb) {
    return std::malloc(cb ? cb : 1);
}
LPVOID CoTaskMemRealloc(LPVOID pv, std::size_t cb) {
    return std::realloc(pv, cb ? cb : 1);
}
void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

namespace {
class TaskAllocator final : public IMalloc {
    AV_UNKNOWN_IMPL(IMalloc)
    void* Alloc(std::size_t cb) override { return CoTaskMemAlloc(cb); }
    void* Realloc(void* pv, std::size_t cb) override { return CoTaskMemRealloc(pv, cb); }
    void Free(void* pv) override { CoTaskMemFree(pv); }
    std::size_t GetSize(void*) override { return std::size_t(-1); }
};
} // namespace

HRESULT CoGetMalloc(DWORD memContext, IMalloc** ppMalloc) {
    if (!ppMalloc) return E_POINTER;
    *ppMalloc = nullptr;
    if (memContext != 1) return E_INVALIDARG; // MEMCTX_TASK
    *ppMalloc = MakeCom<TaskAllocator>().Detach();
    return S_OK;
}

// ---- GUID text ----------------------------------------------------------------------------------

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    const std::string s = Utf8FromWide(text);
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    static const char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    constexpr std::size_t kLen = sizeof kShape - 1;
    if (s.size() != kLen) return HResult(0x800401F3); // CO_E_CLASSSTRING
    BYTE bytes[16];
    int n = 0;
    for (std::size_t i = 0; i < kLen; ++i) {
        if (kShape[i] != 'X') {
            if (s[i] != kShape[i]) return HResult(0x800401F3);
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(s[i])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
            return HResult(0x800401F3);
        bytes[n++] = BYTE(std::stoi(s.substr(i, 2), nullptr, 16));
        ++i;
    }
    clsid->Data1 = DWORD(bytes[0]) << 24 | DWORD(bytes[1]) << 16 | DWORD(bytes[2]) << 8 | bytes[3];
    clsid->Data2 = WORD(bytes[4] << 8 | bytes[5]);
    clsid->Data3 = WORD(bytes[6] << 8 | bytes[7]);
    std::memcpy(clsid->Data4, bytes + 8, 8);
    return S_OK;
}

int StringFromGUID2(REFGUID g, LPOLESTR buffer, int cchMax) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    const int len = int(std::strlen(text)) + 1;
    if (!buffer || cchMax < len) return 0;
    for (int i = 0; i < len; ++i)
        buffer[i] = OLECHAR(text[i]);
    return len;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
    if (!text) return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*text) return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *text, 39);
    return S_OK;
}

// ---- BSTR and VARIANT ---------------------------------------------------------------------------
// A BSTR is preceded by its length in bytes, as on the platform.

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    auto* block =
        static_cast<BYTE*>(std::malloc(sizeof(std::uint32_t) + (length + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    const std::uint32_t bytes = length * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* s = reinterpret_cast<BSTR>(block + sizeof(std::uint32_t));
    if (text)
        std::memcpy(s, text, length * sizeof(OLECHAR));
    else
        std::memset(s, 0, length * sizeof(OLECHAR));
    s[length] = 0;
    return s;
}

BSTR SysAllocString(LPCOLESTR text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, UINT(std::char_traits<char16_t>::length(text)));
}

void SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<BYTE*>(text) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR text) {
    if (!text) return 0;
    std::uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<BYTE*>(text) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

// ---- Memory streams and stream persistence -----------------------------------------------------
namespace {
class MemStream final : public IStream {
    AV_UNKNOWN_IMPL(IStream, ISequentialStream)
public:
    MemStream(const BYTE* init, UINT cb) : FData(init, init + cb) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (!pv) return STG_E_INVALIDPOINTER;
        const std::size_t n =
            FPos < FData.size() ? std::min<std::size_t>(cb, FData.size() - FPos) : 0;
        if (n) std::memcpy(pv, FData.data() + FPos, n);
        FPos += n;
        if (read) *read = ULONG(n);
        return n == cb ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if (FPos + cb > FData.size()) FData.resize(FPos + cb);
        if (cb) std::memcpy(FData.data() + FPos, pv, cb);
        FPos += cb;
        if (written) *written = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        long long base = 0;
        switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<long long>(FPos);
            break;
        case STREAM_SEEK_END:
            base = static_cast<long long>(FData.size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        const long long target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        FPos = std::size_t(target);
        if (newPos) newPos->QuadPart = FPos;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        FData.resize(std::size_t(size.QuadPart));
        return S_OK;
    }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = 2; // STGTY_STREAM
        stat->cbSize.QuadPart = FData.size();
        return S_OK;
    }

private:
    std::vector<BYTE> FData;
    std::size_t FPos = 0;
};
} // namespace

IStream* SHCreateMemStream(const BYTE* init, UINT cbInit) {
    return MakeCom<MemStream>(init, init ? cbInit : 0).Detach();
}

HRESULT WriteClassStm(IStream* stream, REFCLSID clsid) {
    if (!stream) return E_INVALIDARG;
    return stream->Write(&clsid, sizeof clsid, nullptr);
}

HRESULT ReadClassStm(IStream* stream, CLSID* clsid) {
    if (!stream || !clsid) return E_INVALIDARG;
    ULONG read = 0;
    HRESULT hr = stream->Read(clsid, sizeof *clsid, &read);
    if (FAILED(hr)) return hr;
    return read == sizeof *clsid ? S_OK : STG_E_READFAULT;
}

HRESULT OleSaveToStream(IPersistStream* object, IStream* stream) {
    if (!stream) return E_INVALIDARG;
    if (!object) return WriteClassStm(stream, GUID_NULL);
    CLSID clsid;
    HRESULT hr = object->GetClassID(&clsid);
    if (FAILED(hr)) return hr;
    hr = WriteClassStm(stream, clsid);
    if (FAILED(hr)) return hr;
    return object->Save(stream, TRUE);
}

HRESULT OleLoadFromStream(IStream* stream, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CLSID clsid;
    HRESULT hr = ReadClassStm(stream, &clsid);
    if (FAILED(hr)) return hr;
    if (clsid == GUID_NULL) return REGDB_E_CLASSNOTREG;
    ComPtr<IPersistStream> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(object));
    if (FAILED(hr)) return hr;
    hr = object->Load(stream);
    if (FAILED(hr)) return hr;
    return object->QueryInterface(riid, ppv);
}

// ---- Item monikers and the running object table -------------------------------------------------
HRESULT NamedMoniker::IsEqual(IMoniker* other) {
    if (!other) return S_FALSE;
    LPOLESTR n = nullptr;
    if (FAILED(other->GetDisplayName(nullptr, nullptr, &n))) return S_FALSE;
    const bool same = n && FName == n;
    CoTaskMemFree(n);
    return same ? S_OK : S_FALSE;
}

HRESULT NamedMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) {
    if (!name) return E_POINTER;
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc((FName.size() + 1) * sizeof(OLECHAR)));
    if (!*name) return E_OUTOFMEMORY;
    std::memcpy(*name, FName.c_str(), (FName.size() + 1) * sizeof(OLECHAR));
    return S_OK;
}

namespace {
class ItemMoniker final : public NamedMoniker {
    AV_UNKNOWN_IMPL(IMoniker, IPersistStream, IPersist)
public:
    explicit ItemMoniker(std::u16string name) : NamedMoniker(std::move(name)) {}
    const std::u16string& Name() const { return FName; }

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = {0x00000304, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // CLSID_ItemMoniker
        return S_OK;
    }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return MK_E_NOOBJECT; }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) override { return MK_E_NOOBJECT; }
};

class RunningObjectTable final : public IRunningObjectTable {
    AV_UNKNOWN_IMPL(IRunningObjectTable)
public:
    HRESULT Register(DWORD, IUnknown* object, IMoniker* name, DWORD* key) override {
        if (!object || !name || !key) return E_INVALIDARG;
        LPOLESTR display = nullptr;
        HRESULT hr = name->GetDisplayName(nullptr, nullptr, &display);
        if (FAILED(hr)) return hr;
        std::string file = Utf8FromWide(display);
        CoTaskMemFree(display);
        std::lock_guard g(Lock());
        Entry e{ComPtr<IUnknown>(object), ComPtr<IMoniker>(name), {}};
        if (auto inspect = e.object.As<IAvGraphInspect>()) {
            // The delimiter is not part of the file name; path separators must not be either.
            while (!file.empty() && file.front() == '!')
                file.erase(file.begin());
            for (char& c : file)
                if (c == '/') c = '_';
            e.dumpPath = GraphDumpFolder() + "/" + file + ".dot";
            inspect->SetDumpFile(e.dumpPath);
        }
        *key = ++NextKey();
        Table().emplace(*key, std::move(e));
        return S_OK;
    }
    HRESULT Revoke(DWORD key) override {
        Entry e;
        {
            std::lock_guard g(Lock());
            auto it = Table().find(key);
            if (it == Table().end()) return E_INVALIDARG;
            e = std::move(it->second);
            Table().erase(it);
        }
        if (auto inspect = e.object.As<IAvGraphInspect>()) inspect->SetDumpFile({});
        return S_OK;
    }
    HRESULT IsRunning(IMoniker* name) override {
        std::lock_guard g(Lock());
        for (auto& [k, e] : Table())
            if (e.name->IsEqual(name) == S_OK) return S_OK;
        return S_FALSE;
    }
    HRESULT GetObject(IMoniker* name, IUnknown** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        std::lock_guard g(Lock());
        for (auto& [k, e] : Table())
            if (e.name->IsEqual(name) == S_OK) {
                *object = ComPtr<IUnknown>(e.object).Detach();
                return S_OK;
            }
        return MK_E_UNAVAILABLE;
    }

private:
    struct Entry {
        ComPtr<IUnknown> object;
        ComPtr<IMoniker> name;
        std::string dumpPath;
    };
    static std::mutex& Lock() {
        static std::mutex m;
        return m;
    }
    static std::map<DWORD, Entry>& Table() {
        static std::map<DWORD, Entry> t;
        return t;
    }
    static DWORD& NextKey() {
        static DWORD k = 0;
        return k;
    }
};
} // namespace

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker) {
    if (!moniker) return E_INVALIDARG;
    std::u16string name = delimiter ? delimiter : u"";
    name += item ? item : u"";
    *moniker = MakeCom<ItemMoniker>(std::move(name)).Detach();
    return S_OK;
}

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** table) {
    if (!table) return E_INVALIDARG;
    *table = MakeCom<RunningObjectTable>().Detach();
    return S_OK;
}

std::string GraphDumpFolder() {
    QString dir = qEnvironmentVariable("AVSETUP_GRAPH_DIR");
    if (dir.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        dir = runtime.isEmpty() ? QStringLiteral("/tmp/avsetup-%1/graphs").arg(::getuid())
                                : runtime + QStringLiteral("/avsetup/graphs");
    }
    QDir().mkpath(dir);
    return dir.toStdString();
}
