#include "video/DSUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <QtEndian>

#include <cstring>

// ---- Errors -------------------------------------------------------------------------------------

QString DSErrorMessage(HRESULT hr) {
    char text[256];
    AMGetErrorTextA(hr, text, sizeof text);
    return QString::fromUtf8(text) +
           QStringLiteral(" ($%1).").arg(QString::number(quint32(hr), 16).toUpper());
}

HRESULT CheckDSError(HRESULT hr) {
    if (FAILED(hr)) throw EDirectShowException(DSErrorMessage(hr), hr);
    return hr;
}

// ---- TMediaType ---------------------------------------------------------------------------------

TMediaType::TMediaType() {
    std::memset(&FMediaType, 0, sizeof FMediaType);
    FMediaType.bFixedSizeSamples = -1;
    FMediaType.lSampleSize = 1;
}

TMediaType::TMediaType(const GUID& majorType) : TMediaType() {
    FMediaType.majortype = majorType;
}

TMediaType::TMediaType(const AM_MEDIA_TYPE* mt) : TMediaType() {
    if (mt) CopyFrom(*mt);
}

TMediaType::~TMediaType() {
    FreeContents();
}

void TMediaType::FreeContents() {
    if (FMediaType.cbFormat != 0) {
        CoTaskMemFree(FMediaType.pbFormat);
        FMediaType.cbFormat = 0;
        FMediaType.pbFormat = nullptr;
    }
    if (FMediaType.pUnk) {
        FMediaType.pUnk->Release();
        FMediaType.pUnk = nullptr;
    }
}

void TMediaType::CopyFrom(const AM_MEDIA_TYPE& src) {
    if (&src == &FMediaType)
        throw EAssertionFailed(QStringLiteral("Cannot copy a media type onto itself"));
    FreeContents();
    FMediaType = src;
    FMediaType.pbFormat = nullptr;
    if (src.cbFormat != 0) {
        if (!src.pbFormat) {
            FMediaType.cbFormat = 0;
            throw EAssertionFailed(
                QStringLiteral("Media type has a format size but no format block"));
        }
        FMediaType.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
        if (FMediaType.pbFormat)
            std::memcpy(FMediaType.pbFormat, src.pbFormat, src.cbFormat);
        else
            FMediaType.cbFormat = 0;
    }
    if (FMediaType.pUnk) FMediaType.pUnk->AddRef();
}

void TMediaType::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TMediaType*>(source)) {
        if (other != this) CopyFrom(other->FMediaType);
        return;
    }
    TPersistent::Assign(source);
}

bool TMediaType::Equal(const TMediaType& other) const {
    const AM_MEDIA_TYPE& a = FMediaType;
    const AM_MEDIA_TYPE& b = other.FMediaType;
    if (!(a.majortype == b.majortype) || !(a.subtype == b.subtype) ||
        !(a.formattype == b.formattype) || a.cbFormat != b.cbFormat)
        return false;
    return a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

const VIDEOINFOHEADER* TMediaType::VideoInfo() const {
    if (!(FMediaType.formattype == FORMAT_VideoInfo) || !FMediaType.pbFormat ||
        FMediaType.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(FMediaType.pbFormat);
}

namespace {
void PutGuid(QByteArray& out, const GUID& g) {
    BYTE b[16];
    qToLittleEndian<quint32>(g.Data1, b);
    qToLittleEndian<quint16>(g.Data2, b + 4);
    qToLittleEndian<quint16>(g.Data3, b + 6);
    std::memcpy(b + 8, g.Data4, 8);
    out.append(reinterpret_cast<const char*>(b), 16);
}
void Put32(QByteArray& out, quint32 v) {
    BYTE b[4];
    qToLittleEndian(v, b);
    out.append(reinterpret_cast<const char*>(b), 4);
}
GUID GetGuid(const char* p) {
    GUID g;
    g.Data1 = qFromLittleEndian<quint32>(p);
    g.Data2 = qFromLittleEndian<quint16>(p + 4);
    g.Data3 = qFromLittleEndian<quint16>(p + 6);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}
quint32 Get32(const char* p) {
    return qFromLittleEndian<quint32>(p);
}
} // namespace

QByteArray TMediaType::WriteData() const {
    QByteArray out;
    PutGuid(out, FMediaType.majortype);
    PutGuid(out, FMediaType.subtype);
    Put32(out, quint32(FMediaType.bFixedSizeSamples));
    Put32(out, quint32(FMediaType.bTemporalCompression));
    Put32(out, FMediaType.lSampleSize);
    PutGuid(out, FMediaType.formattype);
    Put32(out, 0); // pUnk: a pointer means nothing in a file
    Put32(out, FMediaType.cbFormat);
    Put32(out, 0); // pbFormat
    if (FMediaType.cbFormat)
        out.append(reinterpret_cast<const char*>(FMediaType.pbFormat),
                   qsizetype(FMediaType.cbFormat));
    return out;
}

void TMediaType::ReadData(const QByteArray& data) {
    if (data.size() < kStoredRecordSize)
        throw EComponentError(QStringLiteral("Media type data is too short"));
    const char* p = data.constData();
    const quint32 cbFormat = Get32(p + 64);
    if (quint64(data.size()) < quint64(kStoredRecordSize) + cbFormat)
        throw EComponentError(QStringLiteral("Media type data is shorter than its format block"));
    BYTE* block = nullptr;
    if (cbFormat) {
        block = static_cast<BYTE*>(CoTaskMemAlloc(cbFormat));
        if (!block) throw EComponentError(QStringLiteral("Out of memory reading a media type"));
        std::memcpy(block, p + kStoredRecordSize, cbFormat);
    }
    FreeContents();
    FMediaType.majortype = GetGuid(p);
    FMediaType.subtype = GetGuid(p + 16);
    FMediaType.bFixedSizeSamples = BOOL(Get32(p + 32));
    FMediaType.bTemporalCompression = BOOL(Get32(p + 36));
    FMediaType.lSampleSize = Get32(p + 40);
    FMediaType.formattype = GetGuid(p + 44);
    FMediaType.pUnk = nullptr;
    FMediaType.cbFormat = cbFormat;
    FMediaType.pbFormat = block;
}

bool TMediaType::ShouldWriteData(const TMediaType* ancestor) const {
    return !ancestor || !Equal(*ancestor);
}

// ---- TEnumMediaType -----------------------------------------------------------------------------

void TEnumMediaType::Assign(IPin* pin) {
    Clear();
    if (!pin) throw EAssertionFailed(QStringLiteral("IPin not assigned"));
    ComPtr<IEnumMediaTypes> e;
    if (pin->EnumMediaTypes(e.ReleaseAndGetAddressOf()) == S_OK && e) Assign(e.Get());
}

void TEnumMediaType::Assign(IEnumMediaTypes* e) {
    if (!FItems.empty()) Clear();
    if (!e) throw EAssertionFailed(QStringLiteral("IEnumMediaType not assigned"));
    AM_MEDIA_TYPE* mt = nullptr;
    while (e->Next(1, &mt, nullptr) == S_OK) {
        auto item = std::make_unique<TMediaType>(mt);
        DeleteMediaType(mt);
        mt = nullptr;
        FItems.push_back(std::move(item));
    }
}

// ---- TPinList, TFilterList ----------------------------------------------------------------------

TPinList::TPinList(IBaseFilter* filter) : FFilter(filter) {
    Update();
}

void TPinList::Update() {
    FItems.clear();
    if (!FFilter) return;
    ComPtr<IEnumPins> e;
    if (FAILED(FFilter->EnumPins(e.ReleaseAndGetAddressOf())) || !e) return;
    IPin* pin = nullptr;
    while (e->Next(1, &pin, nullptr) == S_OK) {
        FItems.push_back(ComPtr<IUnknown>(pin));
        pin->Release();
    }
}

ComPtr<IPin> TPinList::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EComponentError(QStringLiteral("List index out of bounds (%1)").arg(index));
    ComPtr<IPin> pin = FItems[std::size_t(index)].As<IPin>();
    if (!pin) throw EDirectShowException(DSErrorMessage(E_NOINTERFACE), E_NOINTERFACE);
    return pin;
}

int TPinList::Add(IUnknown* item) {
    FItems.push_back(ComPtr<IUnknown>(item));
    return Count() - 1;
}

TFilterList::TFilterList(IFilterGraph* graph) : FGraph(graph) {
    Update();
}

void TFilterList::Update() {
    FItems.clear();
    if (!FGraph) return;
    ComPtr<IEnumFilters> e;
    if (FAILED(FGraph->EnumFilters(e.ReleaseAndGetAddressOf())) || !e) return;
    IBaseFilter* f = nullptr;
    while (e->Next(1, &f, nullptr) == S_OK) {
        FItems.push_back(ComPtr<IUnknown>(f));
        f->Release();
    }
}

ComPtr<IBaseFilter> TFilterList::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EComponentError(QStringLiteral("List index out of bounds (%1)").arg(index));
    ComPtr<IBaseFilter> f = FItems[std::size_t(index)].As<IBaseFilter>();
    if (!f) throw EDirectShowException(DSErrorMessage(E_NOINTERFACE), E_NOINTERFACE);
    return f;
}

int TFilterList::Add(IUnknown* item) {
    FItems.push_back(ComPtr<IUnknown>(item));
    return Count() - 1;
}

int TFilterList::Remove(IUnknown* item) {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (SameObject(FItems[i].Get(), item)) {
            FItems.erase(FItems.begin() + std::ptrdiff_t(i));
            return int(i);
        }
    return -1;
}

// ---- TSysDevEnum --------------------------------------------------------------------------------

TSysDevEnum::TSysDevEnum(const GUID& category) {
    Fill(CLSID_ActiveMovieCategories, FCategories);
    SelectCategory(category);
}

void TSysDevEnum::SelectCategory(const GUID& category) {
    FCategory = category;
    Fill(category, FFilters);
}

namespace {
QString ReadBagText(IPropertyBag* bag, const char16_t* name, bool* ok) {
    VARIANT v;
    VariantInit(&v);
    QString text;
    *ok = SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR;
    if (*ok) text = QString::fromUtf16(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return text;
}

// The name as the platform's record holds it: at most 255 bytes, cut at a character boundary.
QString CutName(const QString& name) {
    QByteArray utf8 = name.toUtf8();
    if (utf8.size() <= 255) return name;
    int n = 255;
    while (n > 0 && (quint8(utf8[n]) & 0xC0) == 0x80)
        --n;
    return QString::fromUtf8(utf8.left(n));
}
} // namespace

void TSysDevEnum::Fill(const GUID& category, std::vector<TFilterEntry>& list) {
    list.clear();
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC,
                                IID_PPV_ARGS(devEnum))))
        return;
    ComPtr<IEnumMoniker> e;
    if (devEnum->CreateClassEnumerator(category, e.ReleaseAndGetAddressOf(), 0) != S_OK || !e)
        return;
    IMoniker* m = nullptr;
    while (e->Next(1, &m, nullptr) == S_OK) {
        ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Attach(m);
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(bag))) || !bag) continue;
        TFilterEntry entry;
        bool ok = false;
        entry.FriendlyName = CutName(ReadBagText(bag.Get(), u"FriendlyName", &ok));
        const QString clsid = ReadBagText(bag.Get(), u"CLSID", &ok);
        if (!ok ||
            FAILED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(clsid.utf16()), &entry.CLSID)))
            entry.CLSID = GUID_NULL;
        list.push_back(entry);
    }
}

ComPtr<IMoniker> TSysDevEnum::GetMoniker(int index) const {
    ComPtr<IMoniker> result;
    if (index < 0 || index >= FilterCount()) return result;
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC,
                                IID_PPV_ARGS(devEnum))))
        return result;
    ComPtr<IEnumMoniker> e;
    if (devEnum->CreateClassEnumerator(FCategory, e.ReleaseAndGetAddressOf(), 0) != S_OK || !e)
        return result;
    e->Skip(ULONG(index));
    e->Next(1, result.ReleaseAndGetAddressOf(), nullptr);
    e->Reset();
    return result;
}

// ---- TPersistentMemory, TBaseFilter -------------------------------------------------------------

void TPersistentMemory::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TPersistentMemory*>(source)) {
        FData = other->FData;
        return;
    }
    TPersistent::Assign(source);
}

QByteArray TPersistentMemory::WriteData() const {
    QByteArray out;
    Put32(out, quint32(FData.size()));
    out.append(FData);
    return out;
}

void TPersistentMemory::ReadData(const QByteArray& data) {
    if (data.size() < 4) throw EComponentError(QStringLiteral("Stored block is too short"));
    const quint32 length = Get32(data.constData());
    if (quint64(data.size()) - 4 < length)
        throw EComponentError(QStringLiteral("Stored block is shorter than its length"));
    FData = data.mid(4, qsizetype(length));
}

bool TPersistentMemory::ShouldWriteData(const TPersistentMemory* ancestor) const {
    if (!ancestor) return true;
    // Two empty blocks do not count as equal: an empty one is written as its zero length.
    return FData.isEmpty() || ancestor->FData != FData;
}

ComPtr<IMoniker> TBaseFilter::Moniker() const {
    ComPtr<IMoniker> moniker;
    if (Empty()) return moniker;
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(Data().constData()), UINT(Data().size())));
    if (!stream) return moniker;
    if (FAILED(OleLoadFromStream(stream.Get(), IID_IMoniker, moniker.AsVoid()))) moniker.Reset();
    return moniker;
}

void TBaseFilter::SetMoniker(IMoniker* moniker) {
    if (!moniker) {
        Clear();
        return;
    }
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(SHCreateMemStream(nullptr, 0));
    if (!stream) return;
    if (FAILED(OleSaveToStream(moniker, stream.Get()))) {
        Clear();
        return;
    }
    STATSTG stat;
    stream->Stat(&stat, STATFLAG_NONAME);
    QByteArray bytes(qsizetype(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), ULONG(bytes.size()), &read);
    bytes.truncate(qsizetype(read));
    SetData(bytes);
}

ComPtr<IBaseFilter> TBaseFilter::CreateFilter() const {
    ComPtr<IBaseFilter> filter;
    ComPtr<IMoniker> moniker = Moniker();
    if (!moniker) return filter;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(filter)))) filter.Reset();
    return filter;
}

// ---- Property pages -----------------------------------------------------------------------------

TCameraControlsDialog::TCameraControlsDialog(QWidget* parent, const QString& caption,
                                             IAvDeviceControls* controls)
    : QDialog(parent), FControls(controls) {
    setWindowTitle(caption);
    setModal(true);
    // Close only: window managers would otherwise offer minimise and maximise on a dialog.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    auto* form = new QFormLayout;
    std::vector<AvDeviceControl> list;
    if (FControls) FControls->GetControls(&list);
    for (const AvDeviceControl& c : list) {
        const DWORD id = c.id;
        QWidget* editor = nullptr;
        const QString name = QString::fromStdString(c.name);
        switch (c.type) {
        case avcInteger: {
            auto* slider = new QSlider(Qt::Horizontal);
            slider->setRange(int(c.minimum), int(c.maximum));
            slider->setSingleStep(int(std::max<LONG>(1, c.step)));
            slider->setPageStep(int(std::max<LONG>(1, c.step)) * 10);
            auto* value = new QLabel;
            value->setMinimumWidth(40);
            connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
                value->setNum(v);
                Changed(id, v);
            });
            auto* row = new QWidget;
            auto* h = new QHBoxLayout(row);
            h->setContentsMargins(0, 0, 0, 0);
            h->addWidget(slider, 1);
            h->addWidget(value);
            slider->setObjectName(name);
            form->addRow(name, row);
            editor = slider;
            break;
        }
        case avcBoolean: {
            auto* box = new QCheckBox;
            connect(box, &QCheckBox::toggled, this,
                    [this, id](bool on) { Changed(id, on ? 1 : 0); });
            editor = box;
            break;
        }
        case avcMenu: {
            auto* combo = new QComboBox;
            for (const auto& [v, text] : c.menu)
                combo->addItem(QString::fromStdString(text), int(v));
            connect(combo, QOverload<int>::of(&QComboBox::activated), this,
                    [this, id, combo](int index) { Changed(id, combo->itemData(index).toInt()); });
            editor = combo;
            break;
        }
        case avcButton: {
            auto* button = new QPushButton(name);
            connect(button, &QPushButton::clicked, this, [this, id] { Changed(id, 1); });
            editor = button;
            break;
        }
        }
        if (!editor) continue;
        // Said by a screen reader: the row's label names the slider's row, not the slider.
        editor->setAccessibleName(name);
        if (c.type != avcInteger) {
            editor->setObjectName(name);
            form->addRow(c.type == avcButton ? QString() : name, editor);
        }
        FRows.push_back({c, editor});
    }
    Refresh(0, false);
    auto* defaults = new QPushButton(tr("默认值"));
    defaults->setObjectName(QStringLiteral("Defaults"));
    connect(defaults, &QPushButton::clicked, this, &TCameraControlsDialog::RestoreDefaults);
    auto* close = new QPushButton(QCoreApplication::translate("TCameraControlsDialog", "关闭"));
    close->setObjectName(QStringLiteral("Close"));
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    buttons->addButton(defaults, QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    // As large as its rows and buttons need, never less: nothing is cut off, nothing to maximise.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TCameraControlsDialog::Changed(DWORD id, LONG value) {
    // The row being moved keeps what the user does; the others show what the write did to them
    // (an automatic switch makes its manual value inactive, a failed write shows the old value).
    const bool ok = SUCCEEDED(FControls->SetValue(id, value));
    Refresh(id, ok);
}

void TCameraControlsDialog::Refresh(DWORD except, bool skipExcept) {
    std::vector<AvDeviceControl> now;
    FControls->GetControls(&now);
    for (Row& row : FRows) {
        for (const AvDeviceControl& c : now)
            if (c.id == row.control.id) {
                row.control.readOnly = c.readOnly;
                row.control.inactive = c.inactive;
            }
        row.editor->setEnabled(!row.control.readOnly && !row.control.inactive);
        if (skipExcept && row.control.id == except) continue;
        LONG value = row.control.defaultValue;
        if (row.control.type != avcButton && SUCCEEDED(FControls->GetValue(row.control.id, &value)))
            Show(row, value);
    }
}

void TCameraControlsDialog::Show(const Row& row, LONG value) {
    // Showing a value writes nothing back.
    const QSignalBlocker block(row.editor);
    if (auto* slider = qobject_cast<QSlider*>(row.editor)) {
        slider->setValue(int(value));
        if (auto* label = slider->parentWidget()->findChild<QLabel*>()) label->setNum(int(value));
    } else if (auto* box = qobject_cast<QCheckBox*>(row.editor)) {
        box->setChecked(value != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(row.editor)) {
        combo->setCurrentIndex(combo->findData(int(value)));
    }
}

void TCameraControlsDialog::RestoreDefaults() {
    // Switches first, so an automatic mode going back on takes its manual values with it and the
    // manual values the driver then refuses do not stop the rest.
    for (int pass = 0; pass < 2; ++pass)
        for (const Row& row : FRows) {
            if (row.control.type == avcButton || row.control.readOnly) continue;
            if ((row.control.type == avcInteger) != (pass == 1)) continue;
            FControls->SetValue(row.control.id, row.control.defaultValue);
        }
    Refresh(0, false);
}

HRESULT ShowFilterPropertyPage(QWidget* parent, IBaseFilter* filter, TPropertyPage kind) {
    if (!filter || kind < ppDefault || kind > ppVFWCompAbout) return S_FALSE;
    HRESULT hr = S_OK;
    switch (kind) {
    case ppDefault: {
        ComPtr<ISpecifyPropertyPages> pages;
        hr = filter->QueryInterface(IID_PPV_ARGS(pages));
        if (hr != S_OK) return hr;
        CAUUID list{0, nullptr};
        hr = pages->GetPages(&list);
        if (hr != S_OK) return hr;
        FILTER_INFO info{};
        hr = filter->QueryFilterInfo(&info);
        if (hr == S_OK) {
            // The property frame: one page here, the camera's controls.
            ComPtr<IAvDeviceControls> controls;
            hr = filter->QueryInterface(IID_PPV_ARGS(controls));
            if (hr == S_OK) {
                TCameraControlsDialog dialog(parent, QString::fromUtf16(info.achName),
                                             controls.Get());
                dialog.exec();
            }
            if (info.pGraph) info.pGraph->Release();
        }
        CoTaskMemFree(list.pElems);
        return hr;
    }
    case ppVFWCapDisplay:
    case ppVFWCapFormat:
    case ppVFWCapSource: {
        static const int codes[] = {0, VfwCaptureDialog_Display, VfwCaptureDialog_Format,
                                    VfwCaptureDialog_Source};
        ComPtr<IAMVfwCaptureDialogs> dialogs;
        hr = filter->QueryInterface(IID_PPV_ARGS(dialogs));
        if (FAILED(hr)) return hr;
        hr = dialogs->HasDialog(codes[kind]);
        if (hr == S_OK) hr = dialogs->ShowDialog(codes[kind], nullptr);
        return hr;
    }
    case ppVFWCompConfig:
    case ppVFWCompAbout: {
        const int query =
            kind == ppVFWCompConfig ? VfwCompressDialog_QueryConfig : VfwCompressDialog_QueryAbout;
        const int dialog =
            kind == ppVFWCompConfig ? VfwCompressDialog_Config : VfwCompressDialog_About;
        ComPtr<IAMVfwCompressDialogs> dialogs;
        hr = filter->QueryInterface(IID_PPV_ARGS(dialogs));
        if (FAILED(hr)) return hr;
        hr = dialogs->ShowDialog(query, nullptr);
        if (hr == S_OK) hr = dialogs->ShowDialog(dialog, nullptr);
        return hr;
    }
    }
    return hr;
}
