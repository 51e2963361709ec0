// The system device enumerator, device monikers and property bags, the class table behind
// CoCreateInstance, and the platform's error texts.
#include "platform/dshow/Filters.h"

#include <cstring>
#include <map>

namespace {
std::u16string GuidText(const GUID& g) {
    OLECHAR buf[40];
    StringFromGUID2(g, buf, 40);
    return buf;
}

class PropertyBag final : public IPropertyBag {
    AV_UNKNOWN_IMPL(IPropertyBag)
public:
    explicit PropertyBag(std::map<std::u16string, std::u16string> values)
        : FValues(std::move(values)) {}
    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (!name || !value) return E_POINTER;
        auto it = FValues.find(name);
        if (it == FValues.end()) return E_INVALIDARG;
        // A caller that asks for a type other than text gets the text anyway, as the platform's
        // bags answer "FriendlyName" and "CLSID".
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(it->second.c_str());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    std::map<std::u16string, std::u16string> FValues;
};

// One moniker class for every entry the enumerator lists: a camera ("@device:pnp:<path>"), a
// filter class ("@device:sw:{category}\{clsid}") or a category. The display name is what is saved.
class DeviceMoniker final : public NamedMoniker {
    AV_UNKNOWN_IMPL(IMoniker, IPersistStream, IPersist)
public:
    DeviceMoniker() = default;
    explicit DeviceMoniker(std::u16string displayName) : NamedMoniker(std::move(displayName)) {}

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_CDeviceMoniker;
        return S_OK;
    }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream* stream) override {
        if (!stream) return E_POINTER;
        std::uint32_t length = 0;
        ULONG read = 0;
        if (FAILED(stream->Read(&length, sizeof length, &read)) || read != sizeof length)
            return STG_E_READFAULT;
        if (length > 32768) return STG_E_READFAULT; // no display name is that long
        std::u16string name(length, u'\0');
        if (length && (FAILED(stream->Read(name.data(), length * sizeof(OLECHAR), &read)) ||
                       read != length * sizeof(OLECHAR)))
            return STG_E_READFAULT;
        FName = std::move(name);
        return S_OK;
    }
    HRESULT Save(IStream* stream, BOOL) override {
        if (!stream) return E_POINTER;
        const std::uint32_t length = std::uint32_t(FName.size());
        HRESULT hr = stream->Write(&length, sizeof length, nullptr);
        if (SUCCEEDED(hr) && length)
            hr = stream->Write(FName.data(), length * sizeof(OLECHAR), nullptr);
        return hr;
    }
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
        if (!size) return E_POINTER;
        size->QuadPart = 4 + FName.size() * sizeof(OLECHAR);
        return S_OK;
    }

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (auto path = CameraPath()) {
            auto backend = VideoBackend();
            auto device = backend->Find(*path);
            if (!device) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
            HRESULT hr = S_OK;
            ComPtr<IBaseFilter> filter = CreateCaptureFilter(backend, *device, &hr);
            if (!filter) return hr;
            return filter->QueryInterface(riid, ppv);
        }
        GUID clsid;
        if (ClassOf(&clsid)) return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, riid, ppv);
        return MK_E_NOOBJECT;
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!(riid == IID_IPropertyBag)) return E_NOINTERFACE;
        std::map<std::u16string, std::u16string> values;
        if (auto path = CameraPath()) {
            auto device = VideoBackend()->Find(*path);
            if (!device) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
            values[u"FriendlyName"] = WideFromUtf8(device->name);
            values[u"DevicePath"] = WideFromUtf8(device->path);
            if (device->hasClsid) values[u"CLSID"] = GuidText(CLSID_Proxy);
        } else {
            GUID clsid;
            if (!ClassOf(&clsid)) return MK_E_NOOBJECT;
            values[u"CLSID"] = GuidText(clsid);
            values[u"FriendlyName"] = FriendlyNameOf(clsid);
        }
        *ppv = static_cast<IPropertyBag*>(MakeCom<PropertyBag>(std::move(values)).Detach());
        return S_OK;
    }

    static std::u16string CameraName(const std::string& path) {
        return u"@device:pnp:" + WideFromUtf8(path);
    }
    static std::u16string ClassName(const GUID& category, const GUID& clsid) {
        return u"@device:sw:" + GuidText(category) + u"\\" + GuidText(clsid);
    }

private:
    std::optional<std::string> CameraPath() const {
        static const std::u16string prefix = u"@device:pnp:";
        if (FName.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
        return Utf8FromWide(FName.c_str() + prefix.size());
    }
    bool ClassOf(GUID* clsid) const {
        const auto slash = FName.rfind(u'\\');
        if (FName.compare(0, 11, u"@device:sw:") != 0 || slash == std::u16string::npos)
            return false;
        return SUCCEEDED(CLSIDFromString(FName.c_str() + slash + 1, clsid));
    }
    static std::u16string FriendlyNameOf(const GUID& clsid) {
        if (clsid == CLSID_VideoInputDeviceCategory) return u"Video Capture Sources";
        if (clsid == CLSID_LegacyAmFilterCategory) return u"DirectShow Filters";
        for (const AvClassInfo& c : AvClasses())
            if (*c.clsid == clsid) return c.friendlyName;
        return {};
    }
};

class MonikerEnum final : public IEnumMoniker {
    AV_UNKNOWN_IMPL(IEnumMoniker)
public:
    explicit MonikerEnum(std::vector<std::u16string> names) : FNames(std::move(names)) {}
    HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (!monikers) return E_POINTER;
        ULONG n = 0;
        while (n < count && FPos < FNames.size())
            monikers[n++] = MakeCom<DeviceMoniker>(FNames[FPos++]).Detach();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        FPos = std::min(FNames.size(), FPos + count);
        return FPos < FNames.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        FPos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMoniker** copy) override {
        if (!copy) return E_POINTER;
        auto c = MakeCom<MonikerEnum>(FNames);
        c->FPos = FPos;
        *copy = c.Detach();
        return S_OK;
    }

private:
    std::vector<std::u16string> FNames;
    std::size_t FPos = 0;
};

class DevEnum final : public ICreateDevEnum {
    AV_UNKNOWN_IMPL(ICreateDevEnum)
public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD) override {
        if (!enumerator) return E_POINTER;
        *enumerator = nullptr;
        std::vector<std::u16string> names;
        if (category == CLSID_VideoInputDeviceCategory) {
            for (const VideoDevice& d : VideoBackend()->Devices())
                names.push_back(DeviceMoniker::CameraName(d.path));
        } else if (category == CLSID_ActiveMovieCategories) {
            for (const GUID* c : {&CLSID_VideoInputDeviceCategory, &CLSID_LegacyAmFilterCategory})
                names.push_back(DeviceMoniker::ClassName(CLSID_ActiveMovieCategories, *c));
        } else if (category == CLSID_LegacyAmFilterCategory) {
            for (const AvClassInfo& c : AvClasses())
                if (c.filter) names.push_back(DeviceMoniker::ClassName(category, *c.clsid));
        }
        if (names.empty()) return S_FALSE;
        *enumerator = MakeCom<MonikerEnum>(std::move(names)).Detach();
        return S_OK;
    }
};

ComPtr<IUnknown> ElementFilter(const CLSID& clsid, const char* factory, const char16_t* in,
                               const char16_t* out) {
    EnsureGStreamer();
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e) return nullptr;
    if (clsid == CLSID_NullRenderer) g_object_set(e, "sync", TRUE, nullptr);
    return ComPtr<IUnknown>(static_cast<IBaseFilter*>(new AvElementFilter(clsid, e, in, out)));
}

// A filter made of a chain of elements in a bin.
ComPtr<IUnknown> ChainFilter(const CLSID& clsid, const char* description, const char16_t* in,
                             const char16_t* out) {
    EnsureGStreamer();
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description, TRUE, &error);
    if (!bin) {
        g_clear_error(&error);
        return nullptr;
    }
    return ComPtr<IUnknown>(static_cast<IBaseFilter*>(new AvElementFilter(clsid, bin, in, out)));
}
} // namespace

HRESULT AvCreateClassMoniker(const AvClassInfo& info, IMoniker** moniker) {
    if (!moniker) return E_POINTER;
    *moniker =
        MakeCom<DeviceMoniker>(DeviceMoniker::ClassName(CLSID_LegacyAmFilterCategory, *info.clsid))
            .Detach();
    return S_OK;
}

const std::vector<AvClassInfo>& AvClasses() {
    // Converters in the order the graph builder tries them.
    static const std::vector<AvClassInfo> classes = {
        {&CLSID_MjpegDec, u"MJPEG Decompressor", true, true},
        {&CLSID_Colour, u"Color Space Converter", true, true},
        {&CLSID_AvVideoScaler, u"Video Scaler", true, true},
        {&CLSID_NullRenderer, u"Null Renderer", true, false},
    };
    return classes;
}

// Creators for classes that live in other units (the renderer and the sample grabber).
ComPtr<IUnknown> AvCreateVideoRenderer();
ComPtr<IUnknown> AvCreateSampleGrabber();

HRESULT AvCreateInstance(REFCLSID clsid, REFIID riid, void** ppv) {
    ComPtr<IUnknown> object;
    if (clsid == CLSID_SystemDeviceEnum)
        object = ComPtr<IUnknown>(MakeCom<DevEnum>().Get());
    else if (clsid == CLSID_FilterGraph)
        object = AvCreateGraph();
    else if (clsid == CLSID_CaptureGraphBuilder2)
        object = AvCreateCaptureBuilder();
    else if (clsid == CLSID_CDeviceMoniker)
        object = ComPtr<IUnknown>(static_cast<IMoniker*>(MakeCom<DeviceMoniker>().Get()));
    else if (clsid == CLSID_Colour)
        object = ElementFilter(clsid, "videoconvert", u"XForm In", u"XForm Out");
    else if (clsid == CLSID_MjpegDec)
        // The decoder picks its output from the picture (4:2:0, 4:2:2, grey), so it converts
        // to whatever the next filter takes itself.
        object = ChainFilter(clsid, "jpegdec ! videoconvert", u"XForm In", u"XForm Out");
    else if (clsid == CLSID_AvVideoScaler)
        object = ElementFilter(clsid, "videoscale", u"XForm In", u"XForm Out");
    else if (clsid == CLSID_NullRenderer)
        object = ElementFilter(clsid, "fakesink", u"In", u"");
    else if (clsid == CLSID_VideoRenderer)
        object = AvCreateVideoRenderer();
    else if (clsid == CLSID_SampleGrabber)
        object = AvCreateSampleGrabber();
    else
        return REGDB_E_CLASSNOTREG;          // e.g. the DVD graph builder: no DVD navigation here
    if (!object) return REGDB_E_CLASSNOTREG; // the GStreamer element is not installed
    return object->QueryInterface(riid, ppv);
}

// ---- Error texts --------------------------------------------------------------------------------

DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD maxLen) {
    struct Text {
        HRESULT hr;
        const char* text;
    };
    static const Text kTexts[] = {
        {E_FAIL, "Unspecified error"},
        {E_NOTIMPL, "Not implemented"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_POINTER, "Invalid pointer"},
        {E_ABORT, "Operation aborted"},
        {E_UNEXPECTED, "Catastrophic failure"},
        {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
        {E_INVALIDARG, "The parameter is incorrect."},
        {E_ACCESSDENIED, "Access is denied."},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {HRESULT_FROM_WIN32(ERROR_GEN_FAILURE),
         "A device attached to the system is not functioning."},
        {HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES),
         "Insufficient system resources exist to complete the requested service."},
        {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), "The device is not connected."},
        {VFW_E_INVALIDMEDIATYPE, "The specified media type is invalid."},
        {VFW_E_INVALIDSUBTYPE, "The specified media subtype is invalid."},
        {VFW_E_ALREADY_CONNECTED,
         "The operation cannot be performed because the pins are already connected."},
        {VFW_E_FILTER_ACTIVE, "The operation cannot be performed because the filter is active."},
        {VFW_E_NO_TYPES, "One of the specified pins supports no media types."},
        {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
        {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
        {VFW_E_NOT_CONNECTED,
         "The operation cannot be performed because the pins are not connected."},
        {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
        {VFW_E_NO_INTERFACE, "The required interface was not found."},
        {VFW_E_NOT_FOUND, "An object or name was not found."},
        {VFW_E_CANNOT_CONNECT,
         "No combination of intermediate filters could be found to make the connection."},
        {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
        {VFW_E_NOT_STOPPED,
         "The operation could not be performed because the filter is not stopped."},
        {VFW_E_WRONG_STATE,
         "The operation could not be performed because the filter is in the wrong state."},
        {VFW_E_TYPE_NOT_ACCEPTED, "This media type is not accepted."},
        {VFW_E_DUPLICATE_NAME,
         "Cannot add a filter whose name duplicates one already in the graph."},
        {VFW_E_SAMPLE_TIME_NOT_SET, "No time stamp has been set for this sample."},
        {VFW_E_MEDIA_TIME_NOT_SET, "No media time was set for this sample."},
        {VFW_S_NO_STOP_TIME, "The stop time for the sample was not set."},
        {VFW_E_NOT_IN_GRAPH,
         "The operation cannot be performed because the filter is not in the filter graph."},
        {E_PROP_ID_UNSUPPORTED, "Element not found."},
    };
    if (!buffer || maxLen == 0) return 0;
    for (const Text& t : kTexts) {
        if (t.hr != hr) continue;
        const std::size_t n = std::min<std::size_t>(std::strlen(t.text), maxLen - 1);
        std::memcpy(buffer, t.text, n);
        buffer[n] = 0;
        return DWORD(n);
    }
    buffer[0] = 0;
    return 0;
}
