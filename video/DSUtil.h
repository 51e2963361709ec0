#pragma once
// Capture library helpers over the media streaming interfaces (platform/dshow): the exception of
// the capture library and the check of platform results, media types and their form storage,
// media-type, pin and filter lists, device enumeration and the stored identity of a device.
// Main thread only.
#include "framework/Classes.h"
#include "platform/dshow/dshow.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <memory>
#include <vector>

// A failing platform result. The message is the platform's text and the code in hexadecimal,
// e.g. "There is no common media type between these pins. ($80040207).".
class EDirectShowException : public Exception {
public:
    explicit EDirectShowException(QString message, HRESULT code = E_FAIL)
        : Exception(std::move(message)), FErrorCode(code) {}
    const char* ClassName() const noexcept override { return "EDirectShowException"; }
    HRESULT ErrorCode() const { return FErrorCode; }

private:
    HRESULT FErrorCode;
};

// A broken precondition of the capture library ("IPin not assigned", ...).
AV_DECLARE_EXCEPTION(EAssertionFailed, Exception);

// The message of a platform result: its text (at most 255 characters) and " ($XXXXXXXX).".
QString DSErrorMessage(HRESULT hr);
// Passes a non-negative result through; raises EDirectShowException for a negative one.
HRESULT CheckDSError(HRESULT hr);

// ---- Media types --------------------------------------------------------------------------------

// Owns one AM_MEDIA_TYPE and its format block (task allocator).
class TMediaType : public TPersistent {
public:
    // Fixed-size samples (-1), sample size 1, everything else zero.
    TMediaType();
    explicit TMediaType(const GUID& majorType);
    explicit TMediaType(const AM_MEDIA_TYPE* mt); // deep copy
    ~TMediaType() override;

    // Deep copy of another TMediaType; other classes go to the base (which raises).
    void Assign(const TPersistent* source) override;
    // Major type, subtype and format type equal, and the format blocks byte for byte.
    bool Equal(const TMediaType& other) const;

    AM_MEDIA_TYPE* AMMediaType() { return &FMediaType; }
    const AM_MEDIA_TYPE* AMMediaType() const { return &FMediaType; }
    GUID MajorType() const { return FMediaType.majortype; }
    void SetMajorType(const GUID& v) { FMediaType.majortype = v; }
    GUID SubType() const { return FMediaType.subtype; }
    void SetSubType(const GUID& v) { FMediaType.subtype = v; }
    GUID FormatType() const { return FMediaType.formattype; }
    void SetFormatType(const GUID& v) { FMediaType.formattype = v; }
    ULONG FormatLength() const { return FMediaType.cbFormat; }
    // The format block as a VIDEOINFOHEADER, or nullptr when it is missing or is none.
    const VIDEOINFOHEADER* VideoInfo() const;

    // Form storage, the binary property "data": the platform's 72-byte record in the 32-bit
    // layout (pointer fields written as zero), then the format block. Reading damaged data raises
    // EReadError-like EComponentError and leaves the type unchanged.
    static constexpr int kStoredRecordSize = 72;
    QByteArray WriteData() const;
    void ReadData(const QByteArray& data);
    // Always written, except when the ancestor holds an equal type.
    bool ShouldWriteData(const TMediaType* ancestor) const;

private:
    void FreeContents();
    void CopyFrom(const AM_MEDIA_TYPE& src);
    AM_MEDIA_TYPE FMediaType;
};

// The media types a pin offers (owned).
class TEnumMediaType : public TObject {
public:
    TEnumMediaType() = default;
    explicit TEnumMediaType(IPin* pin) { Assign(pin); }
    explicit TEnumMediaType(IEnumMediaTypes* e) { Assign(e); }
    ~TEnumMediaType() override { Clear(); }

    int Count() const { return int(FItems.size()); }
    TMediaType* Items(int index) const { return FItems.at(std::size_t(index)).get(); }
    void Clear() { FItems.clear(); }
    // Fills from the pin (EAssertionFailed "IPin not assigned" without one); an enumeration that
    // fails leaves the list empty.
    void Assign(IPin* pin);
    void Assign(IEnumMediaTypes* e); // "IEnumMediaType not assigned"

private:
    std::vector<std::unique_ptr<TMediaType>> FItems;
};

// A filter's pins (counted references), in the filter's order.
class TPinList : public TObject {
public:
    explicit TPinList(IBaseFilter* filter);
    void Update();
    int Count() const { return int(FItems.size()); }
    // Raises EDirectShowException when the entry is not a pin.
    ComPtr<IPin> Items(int index) const;
    ComPtr<IPin> First() const { return Items(0); }
    int Add(IUnknown* item);
    IBaseFilter* Filter() const { return FFilter.Get(); }

private:
    ComPtr<IBaseFilter> FFilter;
    std::vector<ComPtr<IUnknown>> FItems;
};

// A graph's filters (counted references).
class TFilterList : public TObject {
public:
    explicit TFilterList(IFilterGraph* graph);
    void Update();
    int Count() const { return int(FItems.size()); }
    ComPtr<IBaseFilter> Items(int index) const;
    int Add(IUnknown* item);
    // By identity; the index it had, -1 when absent.
    int Remove(IUnknown* item);
    IFilterGraph* Graph() const { return FGraph.Get(); }

private:
    ComPtr<IFilterGraph> FGraph;
    std::vector<ComPtr<IUnknown>> FItems;
};

// ---- Device enumeration -------------------------------------------------------------------------

struct TFilterEntry {
    QString FriendlyName; // cut to 255 bytes of text
    GUID CLSID = GUID_NULL;
};

class TSysDevEnum : public TObject {
public:
    explicit TSysDevEnum(const GUID& category);
    void SelectCategory(const GUID& category);
    GUID SelectedCategory() const { return FCategory; }
    int CountCategories() const { return int(FCategories.size()); }
    TFilterEntry Categories(int index) const { return FCategories.at(std::size_t(index)); }
    int FilterCount() const { return int(FFilters.size()); }
    TFilterEntry Filters(int index) const { return FFilters.at(std::size_t(index)); }
    // The moniker of device index of the selected category, or none outside the range.
    ComPtr<IMoniker> GetMoniker(int index) const;

private:
    static void Fill(const GUID& category, std::vector<TFilterEntry>& list);
    GUID FCategory = GUID_NULL;
    std::vector<TFilterEntry> FCategories, FFilters;
};

// ---- Stored device identity ---------------------------------------------------------------------

// An owned byte block, stored with a form as the binary property "data": a 32-bit little-endian
// length, then the bytes.
class TPersistentMemory : public TPersistent {
public:
    void Assign(const TPersistent* source) override;
    const QByteArray& Data() const { return FData; }
    void SetData(const QByteArray& data) { FData = data; }
    void Clear() { FData.clear(); }
    bool Empty() const { return FData.isEmpty(); }

    QByteArray WriteData() const;
    // Damaged data (short, or a length beyond the bytes) raises EComponentError, unchanged.
    void ReadData(const QByteArray& data);
    // Written unless the ancestor holds the same non-empty block.
    bool ShouldWriteData(const TPersistentMemory* ancestor) const;

private:
    QByteArray FData;
};

// A device's identity: its moniker as saved with stream persistence.
class TBaseFilter : public TPersistentMemory {
public:
    ComPtr<IMoniker> Moniker() const; // none when empty or unreadable
    void SetMoniker(IMoniker* moniker);
    // The device bound as a filter; none without a moniker or when the device is gone.
    ComPtr<IBaseFilter> CreateFilter() const;
};

// ---- Property pages -----------------------------------------------------------------------------
// A fixed type: a kind arrives as a number from callers and settings, and an unknown one is
// answered, not undefined.
enum TPropertyPage : int {
    ppDefault,
    ppVFWCapDisplay,
    ppVFWCapFormat,
    ppVFWCapSource,
    ppVFWCompConfig,
    ppVFWCompAbout
};

// Opens the filter's configuration dialog, modal over parent: its property pages (here the
// camera's own controls, captioned with the filter's name in its graph) or an older driver's
// dialog. S_FALSE without a filter or for an unknown kind; E_NOINTERFACE (nothing shown) when the
// filter offers none.
HRESULT ShowFilterPropertyPage(QWidget* parent, IBaseFilter* filter,
                               TPropertyPage kind = ppDefault);

// The dialog of a camera's controls: a slider per range (with its steps), a check box per switch,
// a list per menu, a button per action; each change acts at once. Controls that are read-only or
// not in effect now (a manual value under its automatic switch) are shown disabled and follow the
// other rows. "默认值" restores the driver's defaults. Object names: the control's name (widgets),
// "Defaults" (the button). Main thread.
class TCameraControlsDialog : public QDialog {
    Q_OBJECT
public:
    TCameraControlsDialog(QWidget* parent, const QString& caption, IAvDeviceControls* controls);
    void RestoreDefaults();

private:
    struct Row {
        AvDeviceControl control;
        QWidget* editor;
    };
    void Changed(DWORD id, LONG value);
    // Every row again from the device: values (but the one just moved, after a good write) and
    // which rows can be changed now.
    void Refresh(DWORD except, bool skipExcept);
    void Show(const Row& row, LONG value);
    ComPtr<IAvDeviceControls> FControls;
    std::vector<Row> FRows;
};
