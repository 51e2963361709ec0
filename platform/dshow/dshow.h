#pragma once
// The media streaming interfaces of the capture platform, with the platform's names, GUIDs,
// records and result codes, over GStreamer 1.x (see docs/ARCHITECTURE.md, "Capture platform"):
// a filter graph is a pipeline, a filter an element (or a bin), a pin a pad, a media type one fixed
// caps structure. Devices come from the video backend (platform/dshow/VideoBackend.h): simulated
// cameras or GStreamer's device monitor.
//
// Threads: every object is used on the main thread, except where a comment says otherwise (event
// notification, sample grabber and renderer callbacks run on GStreamer's streaming threads).
#include "platform/api/ComPtr.h"
#include "platform/api/objbase.h"

#include <string>
#include <utility>
#include <vector>

using REFERENCE_TIME = LONGLONG; // 100 ns units
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
using OAFilterState = LONG;

struct RECT {
    LONG left, top, right, bottom;
};
struct SIZE {
    LONG cx, cy;
};

// ---- Classes, categories, media types ----------------------------------------------------------
AV_DEFINE_GUID(CLSID_SystemDeviceEnum, 0x62BE5D10, 0x60EB, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9,
               0x11, 0xCE, 0x86);
AV_DEFINE_GUID(CLSID_CDeviceMoniker, 0x4315D437, 0x5B8C, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11,
               0xCE, 0x86);
AV_DEFINE_GUID(CLSID_VideoInputDeviceCategory, 0x860BB310, 0x5D01, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0,
               0xC9, 0x11, 0xCE, 0x86);
AV_DEFINE_GUID(CLSID_AudioInputDeviceCategory, 0x33D9A762, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0,
               0xC9, 0x11, 0xCE, 0x86);
AV_DEFINE_GUID(CLSID_ActiveMovieCategories, 0xDA4E3DA0, 0xD07D, 0x11D0, 0xBD, 0x50, 0x00, 0xA0,
               0xC9, 0x11, 0xCE, 0x86);
AV_DEFINE_GUID(CLSID_LegacyAmFilterCategory, 0x083863F1, 0x70DE, 0x11D0, 0xBD, 0x40, 0x00, 0xA0,
               0xC9, 0x11, 0xCE, 0x86);
AV_DEFINE_GUID(CLSID_FilterGraph, 0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
               0xA7, 0x70);
AV_DEFINE_GUID(CLSID_CaptureGraphBuilder2, 0xBF87B6E1, 0x8C27, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00,
               0x37, 0x61, 0xC5);
AV_DEFINE_GUID(CLSID_DvdGraphBuilder, 0xFCC152B7, 0xF372, 0x11D0, 0x8E, 0x00, 0x00, 0xC0, 0x4F,
               0xD7, 0xC0, 0x8B);
AV_DEFINE_GUID(CLSID_VideoRenderer, 0x70E102B0, 0x5556, 0x11CE, 0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55,
               0x59, 0x5A);
AV_DEFINE_GUID(CLSID_VideoMixingRenderer, 0xB87BEB7B, 0x8D29, 0x423F, 0xAE, 0x4D, 0x65, 0x82, 0xC1,
               0x01, 0x75, 0xAC);
AV_DEFINE_GUID(CLSID_OverlayMixer, 0xCD8743A1, 0x3736, 0x11D0, 0x9E, 0x69, 0x00, 0xC0, 0x4F, 0xD7,
               0xC1, 0x5B);
AV_DEFINE_GUID(CLSID_OverlayMixer2, 0xA0025E90, 0xE45B, 0x11D1, 0xAB, 0xE9, 0x00, 0xA0, 0xC9, 0x05,
               0xF3, 0x75);
AV_DEFINE_GUID(CLSID_SampleGrabber, 0xC1F400A0, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03,
               0x9E, 0x37);
AV_DEFINE_GUID(CLSID_NullRenderer, 0xC1F400A4, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03,
               0x9E, 0x37);
AV_DEFINE_GUID(CLSID_Colour, 0x1643E180, 0x90F5, 0x11CE, 0x97, 0xD5, 0x00, 0xAA, 0x00, 0x55, 0x59,
               0x5A);
AV_DEFINE_GUID(CLSID_MjpegDec, 0x301056D0, 0x6DFF, 0x11D2, 0x9E, 0xEB, 0x00, 0x60, 0x08, 0x03, 0x9E,
               0x37);
AV_DEFINE_GUID(CLSID_SmartTee, 0xCC58E280, 0x8AA1, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61,
               0xC5);
// The kernel-streaming proxy: the class id a capture device's property bag names.
AV_DEFINE_GUID(CLSID_Proxy, 0x17CCA71B, 0xECD7, 0x11D0, 0xB9, 0x08, 0x00, 0xA0, 0xC9, 0x22, 0x31,
               0x96);
// This platform's video scaler (GStreamer's videoscale); the platform's renderers scale instead.
AV_DEFINE_GUID(CLSID_AvVideoScaler, 0x8C1D3E6A, 0x51B2, 0x4C0E, 0x9D, 0x21, 0x5F, 0x0A, 0x77, 0xE1,
               0x3B, 0x42);

AV_DEFINE_GUID(PIN_CATEGORY_CAPTURE, 0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC,
               0x16, 0xBA);
AV_DEFINE_GUID(PIN_CATEGORY_PREVIEW, 0xFB6C4282, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC,
               0x16, 0xBA);
AV_DEFINE_GUID(AMPROPSETID_Pin, 0x9B00F101, 0x1567, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37,
               0x61, 0xC5);
inline constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;

AV_DEFINE_GUID(MEDIATYPE_Video, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
               0x9B, 0x71);
AV_DEFINE_GUID(MEDIATYPE_Audio, 0x73647561, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
               0x9B, 0x71);
#define AV_FOURCC_SUBTYPE(name, fcc)                                                               \
    AV_DEFINE_GUID(name, fcc, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71)
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_YUY2, 0x32595559);
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_UYVY, 0x59565955);
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_MJPG, 0x47504A4D);
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_I420, 0x30323449);
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_IYUV, 0x56555949);
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_YV12, 0x32315659);
AV_FOURCC_SUBTYPE(MEDIASUBTYPE_NV12, 0x3231564E);
AV_DEFINE_GUID(MEDIASUBTYPE_RGB8, 0xE436EB7A, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
               0xA7, 0x70);
AV_DEFINE_GUID(MEDIASUBTYPE_RGB565, 0xE436EB7B, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
               0xA7, 0x70);
AV_DEFINE_GUID(MEDIASUBTYPE_RGB555, 0xE436EB7C, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
               0xA7, 0x70);
AV_DEFINE_GUID(MEDIASUBTYPE_RGB24, 0xE436EB7D, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
               0xA7, 0x70);
AV_DEFINE_GUID(MEDIASUBTYPE_RGB32, 0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
               0xA7, 0x70);
AV_DEFINE_GUID(FORMAT_VideoInfo, 0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55,
               0x59, 0x5A);
AV_DEFINE_GUID(FORMAT_VideoInfo2, 0xF72A76A0, 0xEB0A, 0x11D0, 0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC,
               0x16, 0xBA);
AV_DEFINE_GUID(FORMAT_None, 0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31,
               0x96);

// ---- Result codes -------------------------------------------------------------------------------
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = HResult(0x80040200);
inline constexpr HRESULT VFW_E_INVALIDSUBTYPE = HResult(0x80040201);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = HResult(0x80040204);
inline constexpr HRESULT VFW_E_FILTER_ACTIVE = HResult(0x80040205);
inline constexpr HRESULT VFW_E_NO_TYPES = HResult(0x80040206);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = HResult(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = HResult(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = HResult(0x80040209);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = HResult(0x8004020B);
inline constexpr HRESULT VFW_E_NO_INTERFACE = HResult(0x80040215);
inline constexpr HRESULT VFW_E_NOT_FOUND = HResult(0x80040216);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = HResult(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = HResult(0x80040218);
inline constexpr HRESULT VFW_E_NOT_STOPPED = HResult(0x80040224);
inline constexpr HRESULT VFW_E_WRONG_STATE = HResult(0x80040227);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = HResult(0x8004022A);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = HResult(0x8004022D);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = HResult(0x0004022D);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = HResult(0x00040237);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = HResult(0x8004025F);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = HResult(0x80040249);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = HResult(0x80040251);
inline constexpr HRESULT VFW_S_NO_STOP_TIME = HResult(0x00040270);
inline constexpr HRESULT VFW_S_NOPREVIEWPIN = HResult(0x0004027E);
inline constexpr HRESULT VFW_E_DVD_GRAPHNOTREADY = HResult(0x80040275);
inline constexpr HRESULT E_PROP_ID_UNSUPPORTED = HResult(0x80070490);

// The platform's text for a result code; the number of characters written (0: unknown code or no
// room). The text is cut to maxLen - 1 characters and always ends with a zero.
DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD maxLen);

// ---- Records ------------------------------------------------------------------------------------
// The media type record. It carries two pointers, so it has the 64-bit layout here; the form
// storage of a media type (video/DSUtil) writes the platform's 72-byte 32-bit layout instead.
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat; // CoTaskMemAlloc'ed
};

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_BITFIELDS = 3;

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize, MinCroppingSize, MaxCroppingSize;
    int CropGranularityX, CropGranularityY, CropAlignX, CropAlignY;
    SIZE MinOutputSize, MaxOutputSize;
    int OutputGranularityX, OutputGranularityY;
    int StretchTapsX, StretchTapsY, ShrinkTapsX, ShrinkTapsY;
    LONGLONG MinFrameInterval, MaxFrameInterval;
    LONG MinBitsPerSecond, MaxBitsPerSecond;
};

// Media-type helpers (any thread): free the format block and release pUnk / also free the record.
void FreeMediaType(AM_MEDIA_TYPE& mt);
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// Deep copy (format block and pUnk reference); E_OUTOFMEMORY leaves dst without a format.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
inline constexpr int MAX_FILTER_NAME = 128;
inline constexpr int MAX_PIN_NAME = 128;

struct IFilterGraph;
struct IBaseFilter;
struct IPin;
struct IEnumMediaTypes;
struct IReferenceClock;

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph; // counted: release it
};
struct PIN_INFO {
    IBaseFilter* pFilter; // counted: release it
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

// ---- Filters and pins ---------------------------------------------------------------------------
struct IMediaFilter : IPersist {
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};
AV_INTERFACE_ID(IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IEnumPins : IUnknown {
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** copy) = 0;
};
AV_INTERFACE_ID(IEnumPins, 0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IBaseFilter : IMediaFilter {
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* vendorInfo) = 0;
};
AV_INTERFACE_ID(IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IPin : IUnknown {
    // Output pins: connect to the input pin, with a media type when given (partial types match
    // by major type and subtype).
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
    // Breaks this pin's connection (both ends of the stream link); S_FALSE when not connected.
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT QueryId(LPWSTR* id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};
AV_INTERFACE_ID(IPin, 0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IEnumMediaTypes : IUnknown {
    // Each record is CoTaskMemAlloc'ed with its format: DeleteMediaType it.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** copy) = 0;
};
AV_INTERFACE_ID(IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55,
                0x59, 0x5A);

struct IEnumFilters : IUnknown {
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** copy) = 0;
};
AV_INTERFACE_ID(IEnumFilters, 0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

// The pin category (AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY) of capture filter pins.
struct IKsPropertySet : IUnknown {
    virtual HRESULT Set(REFGUID set, DWORD id, void* instance, DWORD cbInstance, void* data,
                        DWORD cbData) = 0;
    virtual HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD cbInstance, void* data,
                        DWORD cbData, DWORD* returned) = 0;
    virtual HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) = 0;
};
AV_INTERFACE_ID(IKsPropertySet, 0x31EFAC30, 0x515C, 0x11D0, 0xA9, 0xAA, 0x00, 0xAA, 0x00, 0x61,
                0xBE, 0x93);

// On a capture filter's output pin: the formats the device offers and the one it delivers.
struct IAMStreamConfig : IUnknown {
    // VFW_E_INVALIDMEDIATYPE when the device has no such format; VFW_E_NOT_STOPPED while the
    // graph runs.
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
    virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) = 0;
};
AV_INTERFACE_ID(IAMStreamConfig, 0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11,
                0x89, 0x56);

// ---- Device enumeration -------------------------------------------------------------------------
inline constexpr DWORD CDEF_DEVMON_PNP_DEVICE = 0x8;

struct ICreateDevEnum : IUnknown {
    // S_FALSE (and no enumerator) when the category is empty or unknown.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator,
                                          DWORD flags) = 0;
};
AV_INTERFACE_ID(ICreateDevEnum, 0x29840822, 0x5B84, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11,
                0xCE, 0x86);

// ---- The graph ----------------------------------------------------------------------------------
struct IFilterGraph : IUnknown {
    // VFW_S_DUPLICATE_NAME when the name was taken and a numbered one was used.
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Reconnect(IPin* pin) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};
AV_INTERFACE_ID(IFilterGraph, 0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IGraphBuilder : IFilterGraph {
    // Connects, inserting converters (MJPEG decompressor, colour space converter, scaler).
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
    // Renders an output pin to a new video renderer.
    virtual HRESULT Render(IPin* out) = 0;
    virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) = 0;
    // A file descriptor (as DWORD_PTR) that receives the graph's log; 0 stops logging.
    virtual HRESULT SetLogFile(DWORD_PTR file) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;
};
AV_INTERFACE_ID(IGraphBuilder, 0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IFilterGraph2 : IGraphBuilder {
    virtual HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR name,
                                              IBaseFilter** filter) = 0;
    virtual HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) = 0;
};
AV_INTERFACE_ID(IFilterGraph2, 0x36B73882, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF,
                0x60);

struct IMediaControl : IUnknown {
    // S_FALSE: the graph is still on its way to the state.
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* state) = 0;
    virtual HRESULT StopWhenReady() = 0;
};
AV_INTERFACE_ID(IMediaControl, 0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
inline constexpr LONG EC_PALETTE_CHANGED = 0x09;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_QUALITY_CHANGE = 0x0B;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_OPENING_FILE = 0x10;
inline constexpr LONG EC_BUFFERING_DATA = 0x11;
inline constexpr LONG EC_FULLSCREEN_LOST = 0x12;
inline constexpr LONG EC_OLE_EVENT = 0x18;
inline constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
inline constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
inline constexpr LONG EC_END_OF_SEGMENT = 0x1C;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_STEP_COMPLETE = 0x24;
inline constexpr LONG EC_TIMECODE_AVAILABLE = 0x30;
inline constexpr LONG EC_EXTDEVICE_MODE_CHANGE = 0x31;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG EC_CLOCK_UNSET = 0x51;
inline constexpr LONG EC_VMR_RENDERDEVICE_SET = 0x53;
inline constexpr LONG EC_DVDBASE = 0x0100;
// DVD navigation's events (none arrive on this platform; the graph component still routes them).
inline constexpr LONG EC_DVD_DOMAIN_CHANGE = EC_DVDBASE + 0x01;
inline constexpr LONG EC_DVD_TITLE_CHANGE = EC_DVDBASE + 0x02;
inline constexpr LONG EC_DVD_CHAPTER_START = EC_DVDBASE + 0x03;
inline constexpr LONG EC_DVD_AUDIO_STREAM_CHANGE = EC_DVDBASE + 0x04;
inline constexpr LONG EC_DVD_SUBPICTURE_STREAM_CHANGE = EC_DVDBASE + 0x05;
inline constexpr LONG EC_DVD_ANGLE_CHANGE = EC_DVDBASE + 0x06;
inline constexpr LONG EC_DVD_BUTTON_CHANGE = EC_DVDBASE + 0x07;
inline constexpr LONG EC_DVD_VALID_UOPS_CHANGE = EC_DVDBASE + 0x08;
inline constexpr LONG EC_DVD_STILL_ON = EC_DVDBASE + 0x09;
inline constexpr LONG EC_DVD_STILL_OFF = EC_DVDBASE + 0x0A;
inline constexpr LONG EC_DVD_CURRENT_TIME = EC_DVDBASE + 0x0B;
inline constexpr LONG EC_DVD_ERROR = EC_DVDBASE + 0x0C;
inline constexpr LONG EC_DVD_WARNING = EC_DVDBASE + 0x0D;
inline constexpr LONG EC_DVD_CHAPTER_AUTOSTOP = EC_DVDBASE + 0x0E;
inline constexpr LONG EC_DVD_NO_FP_PGC = EC_DVDBASE + 0x0F;
inline constexpr LONG EC_DVD_PLAYBACK_RATE_CHANGE = EC_DVDBASE + 0x10;
inline constexpr LONG EC_DVD_PARENTAL_LEVEL_CHANGE = EC_DVDBASE + 0x11;
inline constexpr LONG EC_DVD_PLAYBACK_STOPPED = EC_DVDBASE + 0x12;
inline constexpr LONG EC_DVD_ANGLES_AVAILABLE = EC_DVDBASE + 0x13;
inline constexpr LONG EC_DVD_PLAYPERIOD_AUTOSTOP = EC_DVDBASE + 0x14;
inline constexpr LONG EC_DVD_BUTTON_AUTO_ACTIVATED = EC_DVDBASE + 0x15;
inline constexpr LONG EC_DVD_CMD_START = EC_DVDBASE + 0x16;
inline constexpr LONG EC_DVD_CMD_END = EC_DVDBASE + 0x17;
inline constexpr LONG EC_DVD_DISC_EJECTED = EC_DVDBASE + 0x18;
inline constexpr LONG EC_DVD_DISC_INSERTED = EC_DVDBASE + 0x19;
inline constexpr LONG EC_DVD_CURRENT_HMSF_TIME = EC_DVDBASE + 0x1A;
inline constexpr LONG EC_DVD_KARAOKE_MODE = EC_DVDBASE + 0x1B;
inline constexpr long AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IMediaEvent : IUnknown {
    virtual HRESULT GetEventHandle(OAEVENT* handle) = 0;
    // E_ABORT when no event came within the timeout (ms; 0: do not wait).
    virtual HRESULT GetEvent(long* code, LONG_PTR* param1, LONG_PTR* param2, long msTimeout) = 0;
    virtual HRESULT WaitForCompletion(long msTimeout, long* code) = 0;
    virtual HRESULT CancelDefaultHandling(long code) = 0;
    virtual HRESULT RestoreDefaultHandling(long code) = 0;
    // Releases what an event's parameters hold (EC_DEVICE_LOST: the device filter's IUnknown).
    virtual HRESULT FreeEventParams(long code, LONG_PTR param1, LONG_PTR param2) = 0;
};
AV_INTERFACE_ID(IMediaEvent, 0x56A868B6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IMediaEventEx : IMediaEvent {
    // Posts msg (wParam 0, lParam = instance) to the window whenever an event is queued; called
    // on GStreamer's threads, delivered by the window on its own (main) thread. 0: no window.
    virtual HRESULT SetNotifyWindow(OAHWND hwnd, long msg, LONG_PTR instance) = 0;
    virtual HRESULT SetNotifyFlags(long flags) = 0;
    virtual HRESULT GetNotifyFlags(long* flags) = 0;
};
AV_INTERFACE_ID(IMediaEventEx, 0x56A868C0, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

struct IBasicAudio : IUnknown {
    virtual HRESULT put_Volume(long volume) = 0; // -10000 (silent) .. 0 (full), in 1/100 dB
    virtual HRESULT get_Volume(long* volume) = 0;
    virtual HRESULT put_Balance(long balance) = 0; // -10000 (left) .. 10000 (right)
    virtual HRESULT get_Balance(long* balance) = 0;
};
AV_INTERFACE_ID(IBasicAudio, 0x56A868B3, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

// The graph builder callbacks, found through the graph's site (IObjectWithSite).
struct IAMGraphBuilderCallback : IUnknown {
    virtual HRESULT SelectedFilter(IMoniker* moniker) = 0; // failure: skip this filter
    virtual HRESULT CreatedFilter(IBaseFilter* filter) = 0;
};
AV_INTERFACE_ID(IAMGraphBuilderCallback, 0x4995F511, 0x9DDB, 0x4F12, 0xBD, 0x3B, 0xF0, 0x46, 0x11,
                0x80, 0x7B, 0x79);

struct IAMFilterGraphCallback : IUnknown {
    virtual HRESULT UnableToRender(IPin* pin) = 0;
};
AV_INTERFACE_ID(IAMFilterGraphCallback, 0x56A868FD, 0x0AD4, 0x11CE, 0xB0, 0xA3, 0x00, 0x20, 0xAF,
                0x0B, 0xA7, 0x70);

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    // Looks on the filter, then on its pins (of the category and major type when given).
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  REFIID riid, void** ppv) = 0;
    // Connects the source's output pin of the category (a filter or an output pin) through the
    // optional intermediate filter to the renderer (none: a new video renderer), inserting
    // converters. VFW_S_NOPREVIEWPIN when the preview came from the capture pin.
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
    virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                            const GUID* type, BOOL unconnected, int index, IPin** pin) = 0;
};
AV_INTERFACE_ID(ICaptureGraphBuilder2, 0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9,
                0xC6, 0xE3, 0x8D);

struct IDvdGraphBuilder : IUnknown {
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    virtual HRESULT GetDvdInterface(REFIID riid, void** ppv) = 0;
};
AV_INTERFACE_ID(IDvdGraphBuilder, 0xFCC152B6, 0xF372, 0x11D0, 0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7,
                0xC0, 0x8B);

// ---- This platform's renderer ------------------------------------------------------------------
// The video renderer (CLSID_VideoRenderer) opens no window of its own: it hands every frame, as
// 32-bit blue-green-red-x pixels, to the callback its owner sets. The callback runs on GStreamer's
// streaming thread, one frame at a time; SetFrameCallback (main thread) waits for a call in
// progress to end, so after it returns the old callback is not called any more.
struct AvVideoFrame {
    const BYTE* bits; // top row first
    int width, height, stride;
    REFERENCE_TIME time;           // stream time of the frame
    int sourceWidth, sourceHeight; // the picture's own size, before SetFrameSize's scaling
};
struct IAvVideoFrameSink : IUnknown {
    using Callback = void (*)(void* context, const AvVideoFrame& frame);
    virtual HRESULT SetFrameCallback(Callback callback, void* context) = 0;
    // Frames are scaled to this size inside the graph (bilinear) before they reach the callback;
    // 0 x 0: the picture's own size. Takes effect a few frames later, while running. Main thread.
    virtual HRESULT SetFrameSize(int width, int height) = 0;
    // Frames delivered since the filter was made.
    virtual ULONGLONG FrameCount() = 0;
};
AV_INTERFACE_ID(IAvVideoFrameSink, 0x9D3E1F70, 0x42A1, 0x4B7C, 0x8E, 0x0D, 0x61, 0x2B, 0x55, 0xC4,
                0x19, 0xA3);

// ---- Sample grabber -----------------------------------------------------------------------------
// One buffer of a stream. The samples the grabber hands out hold their buffer for as long as they
// are referenced; their data is the stream's own and only to be read (the setters answer
// E_NOTIMPL).
struct IMediaSample : IUnknown {
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual long GetSize() = 0;
    // Stream times in 100 ns; VFW_S_NO_STOP_TIME when only the start is known,
    // VFW_E_SAMPLE_TIME_NOT_SET when neither is.
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT IsSyncPoint() = 0; // S_OK or S_FALSE
    virtual HRESULT SetSyncPoint(BOOL isSyncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL isPreroll) = 0;
    virtual long GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(long length) = 0;
    // S_FALSE and none: the type is the connection's (ISampleGrabber::GetConnectedMediaType).
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
    // Frame numbers of the source, when it counts them (VFW_E_MEDIA_TIME_NOT_SET otherwise).
    virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
};
AV_INTERFACE_ID(IMediaSample, 0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
                0x70);

// Called on GStreamer's streaming thread for every buffer that passes the grabber.
struct ISampleGrabberCB : IUnknown {
    virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double sampleTime, BYTE* buffer, long bufferLen) = 0;
};
AV_INTERFACE_ID(ISampleGrabberCB, 0x0579154A, 0x2B53, 0x4994, 0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E,
                0xFF, 0x85);

struct ISampleGrabber : IUnknown {
    virtual HRESULT SetOneShot(BOOL oneShot) = 0;
    // The type the input accepts (partial types match by major type and subtype).
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT SetBufferSamples(BOOL bufferThem) = 0;
    // With buffer none: the size needed. VFW_E_WRONG_STATE when no sample is kept.
    virtual HRESULT GetCurrentBuffer(long* bufferSize, long* buffer) = 0;
    virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;
    // whichMethod 0: SampleCB (the sample may be kept with AddRef), 1: BufferCB; else
    // E_INVALIDARG.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, long whichMethod) = 0;
};
AV_INTERFACE_ID(ISampleGrabber, 0x6B652FFF, 0x11FE, 0x4FCE, 0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7,
                0xC7, 0x8F);

// ---- Colour controls of this platform's renderer ------------------------------------------------
// The renderer's colour stage stands where the platform's overlay mixer adjusts the overlay
// surface: the same record, ranges and defaults (brightness 0..10000, 750 = normal; contrast and
// saturation 0..20000, 10000 = normal; hue -180..180; colour enable). Sharpness and gamma are not
// supported (their flags stay clear).
inline constexpr DWORD DDCOLOR_BRIGHTNESS = 0x01;
inline constexpr DWORD DDCOLOR_CONTRAST = 0x02;
inline constexpr DWORD DDCOLOR_HUE = 0x04;
inline constexpr DWORD DDCOLOR_SATURATION = 0x08;
inline constexpr DWORD DDCOLOR_SHARPNESS = 0x10;
inline constexpr DWORD DDCOLOR_GAMMA = 0x20;
inline constexpr DWORD DDCOLOR_COLORENABLE = 0x40;
struct DDCOLORCONTROL {
    DWORD dwSize;
    DWORD dwFlags;
    LONG lBrightness, lContrast, lHue, lSaturation, lSharpness, lGamma, lColorEnable;
    DWORD dwReserved1;
};
static_assert(sizeof(DDCOLORCONTROL) == 40);

struct IAvColorControl : IUnknown {
    // Reading fills the values and the supported flags; writing takes the flagged values.
    virtual HRESULT GetColorControls(DDCOLORCONTROL* cc) = 0;
    virtual HRESULT SetColorControls(const DDCOLORCONTROL* cc) = 0;
};
AV_INTERFACE_ID(IAvColorControl, 0x9D3E1F71, 0x42A1, 0x4B7C, 0x8E, 0x0D, 0x61, 0x2B, 0x55, 0xC4,
                0x19, 0xA3);

// ---- Property pages -----------------------------------------------------------------------------
struct CAUUID {
    ULONG cElems;
    GUID* pElems; // CoTaskMemAlloc'ed
};
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};
AV_INTERFACE_ID(ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00,
                0x34, 0x1D, 0x07);
struct IAMVfwCaptureDialogs : IUnknown {
    virtual HRESULT HasDialog(int dialog) = 0;
    virtual HRESULT ShowDialog(int dialog, HWND parent) = 0;
};
AV_INTERFACE_ID(IAMVfwCaptureDialogs, 0xD8D715A0, 0x6E5E, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00,
                0x37, 0x61, 0xC5);
struct IAMVfwCompressDialogs : IUnknown {
    virtual HRESULT ShowDialog(int dialog, HWND parent) = 0;
};
AV_INTERFACE_ID(IAMVfwCompressDialogs, 0xD8D715A3, 0x6E5E, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00,
                0x37, 0x61, 0xC5);
inline constexpr int VfwCaptureDialog_Source = 1, VfwCaptureDialog_Format = 2,
                     VfwCaptureDialog_Display = 4;
inline constexpr int VfwCompressDialog_Config = 1, VfwCompressDialog_About = 2,
                     VfwCompressDialog_QueryConfig = 4, VfwCompressDialog_QueryAbout = 8;

// A camera's own controls (V4L2 controls; brightness, contrast, hue, saturation on a simulated
// camera). Its property page (CLSID_AvCameraControlsPage) is one dialog built from this list.
AV_DEFINE_GUID(CLSID_AvCameraControlsPage, 0x5A7C0B1E, 0x2F6D, 0x4E83, 0x9C, 0x4A, 0x1B, 0x7E, 0x30,
               0xD2, 0x66, 0x51);
enum AvControlType { avcInteger = 1, avcBoolean = 2, avcMenu = 3, avcButton = 4 };
struct AvDeviceControl {
    DWORD id = 0;
    std::string name;
    AvControlType type = avcInteger;
    LONG minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    std::vector<std::pair<LONG, std::string>> menu; // value, name
    bool readOnly = false;                          // shown, never written
    // Not in effect now (a manual value while its automatic switch is on, or held by another
    // program); may change whenever another control is written.
    bool inactive = false;
};
struct IAvDeviceControls : IUnknown {
    // The controls as the device reports them now (flags included). Main thread.
    virtual HRESULT GetControls(std::vector<AvDeviceControl>* controls) = 0;
    virtual HRESULT GetValue(DWORD id, LONG* value) = 0;
    // Acts on the picture at once; out-of-range values are clamped.
    virtual HRESULT SetValue(DWORD id, LONG value) = 0;
};
AV_INTERFACE_ID(IAvDeviceControls, 0x5A7C0B1F, 0x2F6D, 0x4E83, 0x9C, 0x4A, 0x1B, 0x7E, 0x30, 0xD2,
                0x66, 0x51);
