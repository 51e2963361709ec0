// The multimedia API functions: argument checks, handle tables, header flags and callbacks here;
// devices, streams and control values in the backend (platform/api/AudioBackend.h).
#include "platform/api/mmsystem.h"

#include "platform/api/AudioBackend.h"
#include "platform/api/HandleTable.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// ---- Callbacks ----------------------------------------------------------------------------------

struct Callback {
    DWORD kind = CALLBACK_NULL;
    DWORD_PTR target = 0;
    DWORD_PTR instance = 0;
};

// Checks the callback part of the open flags. Functions are offered only where the platform
// offers them (wave devices); windows everywhere.
MMRESULT MakeCallback(DWORD flags, DWORD_PTR target, DWORD_PTR instance, bool allowFunction,
                      Callback* cb) {
    cb->kind = flags & CALLBACK_TYPEMASK;
    cb->target = target;
    cb->instance = instance;
    switch (cb->kind) {
    case CALLBACK_NULL:
        return MMSYSERR_NOERROR;
    case CALLBACK_WINDOW:
        // The platform accepts no window for a window callback: then nothing is posted.
        if (target && !IsWindow(reinterpret_cast<HWND>(target))) return MMSYSERR_INVALPARAM;
        return MMSYSERR_NOERROR;
    case CALLBACK_FUNCTION:
        if (!allowFunction) return MMSYSERR_INVALFLAG;
        return target ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    default:
        return MMSYSERR_INVALFLAG; // events and threads are not offered
    }
}

void Deliver(const Callback& cb, std::uintptr_t handle, UINT msg, DWORD_PTR param1) {
    switch (cb.kind) {
    case CALLBACK_FUNCTION:
        reinterpret_cast<LPDRVCALLBACK>(cb.target)(reinterpret_cast<HDRVR>(handle), msg,
                                                   cb.instance, param1, 0);
        break;
    case CALLBACK_WINDOW:
        if (cb.target)
            PostMessage(reinterpret_cast<HWND>(cb.target), msg, handle,
                        static_cast<LPARAM>(param1));
        break;
    default:
        break;
    }
}

// ---- Handle table -------------------------------------------------------------------------------

struct Handle {
    virtual ~Handle() = default;
    // Releases the device; called once, outside the table lock.
    virtual void ForceClose() = 0;
    std::uintptr_t value = 0;
};

struct Table {
    std::mutex lock;
    std::map<std::uintptr_t, std::shared_ptr<Handle>> handles; // ordered: open order
    std::uintptr_t next = 0x40000; // above any device id; values are never reused
};

Table& Handles() {
    static Table table;
    return table;
}

std::uintptr_t AddHandle(const std::shared_ptr<Handle>& h) {
    auto& t = Handles();
    std::lock_guard g(t.lock);
    t.next += 0x10;
    h->value = t.next;
    t.handles.emplace(h->value, h);
    return h->value;
}

template <class T> std::shared_ptr<T> FindHandle(const void* handle) {
    auto& t = Handles();
    std::lock_guard g(t.lock);
    auto it = t.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.handles.end()) return nullptr;
    return std::dynamic_pointer_cast<T>(it->second);
}

std::shared_ptr<Handle> RemoveHandle(std::uintptr_t value) {
    auto& t = Handles();
    std::lock_guard g(t.lock);
    auto it = t.handles.find(value);
    if (it == t.handles.end()) return nullptr;
    auto h = it->second;
    t.handles.erase(it);
    return h;
}

template <class T> std::vector<std::shared_ptr<T>> AllHandles() {
    auto& t = Handles();
    std::lock_guard g(t.lock);
    std::vector<std::shared_ptr<T>> out;
    for (auto& [value, h] : t.handles)
        if (auto typed = std::dynamic_pointer_cast<T>(h)) out.push_back(typed);
    return out;
}

void CopyName(char* dst, std::size_t size, const std::string& src) {
    std::memset(dst, 0, size);
    std::memcpy(dst, src.data(), std::min(src.size(), size - 1));
}

// Copies a full capability record into a caller's buffer of cb bytes (shorter buffers receive the
// head), as the platform does.
template <class Caps> MMRESULT CopyCaps(const Caps& caps, void* dst, UINT cb) {
    std::memcpy(dst, &caps, std::min<std::size_t>(cb, sizeof(Caps)));
    return MMSYSERR_NOERROR;
}

bool IsMapperId(UINT_PTR id) {
    return static_cast<UINT>(id) == WAVE_MAPPER && id >= 0xFFFFFFFFu;
}

// Capabilities of a device of one kind, id already resolved. There is no mapper without a
// device to map to: asking for it then is a bad id, whatever the backend would answer.
template <class Caps, class Count, class Get>
MMRESULT QueryCaps(UINT id, void* dst, UINT cb, Count count, Get get) {
    if (id == WAVE_MAPPER && count() == 0) return MMSYSERR_BADDEVICEID;
    Caps caps{};
    if (MMRESULT r = get(id, &caps)) return r;
    return CopyCaps(caps, dst, cb);
}

// ---- Wave handles -------------------------------------------------------------------------------

template <class Stream> struct WaveHandle : Handle, IWaveEvents {
    Callback cb;
    UINT doneMsg = 0, closeMsg = 0;
    WAVEFORMATEX format{};
    std::unique_ptr<Stream> stream;
    std::atomic<int> queued{0};
    std::atomic<bool> closed{false};
    std::once_flag closeOnce;

    void BufferDone(WAVEHDR* hdr) override {
        if (!hdr) return;
        hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        queued.fetch_sub(1);
        if (!closed.load()) Deliver(cb, value, doneMsg, reinterpret_cast<DWORD_PTR>(hdr));
    }

    bool Gone() {
        UINT id = 0;
        return stream->GetDeviceId(&id) == MMSYSERR_NODRIVER;
    }

    // Closes the stream (it reports what it still held) and sends the close notice, once.
    void CloseStream() {
        std::call_once(closeOnce, [this] {
            stream->Close();
            closed = true;
            Deliver(cb, value, closeMsg, 0);
        });
    }
    void ForceClose() override { CloseStream(); }
};
using WaveOutHandle = WaveHandle<IWaveOutStream>;
using WaveInHandle = WaveHandle<IWaveInStream>;

MMRESULT CheckHeader(LPWAVEHDR pwh, UINT cbwh) {
    if (!pwh || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

template <class H, class Open>
MMRESULT OpenWave(H** phandle, UINT id, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                  DWORD_PTR dwInstance, DWORD fdwOpen, UINT openMsg, UINT doneMsg, UINT closeMsg,
                  Open open) {
    using HandleT = std::conditional_t<std::is_same_v<H, HWAVEOUT__>, WaveOutHandle, WaveInHandle>;
    const bool query = fdwOpen & WAVE_FORMAT_QUERY;
    if (fdwOpen & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC | WAVE_MAPPED |
                    WAVE_FORMAT_DIRECT))
        return MMSYSERR_INVALFLAG;
    if (!query && phandle) *phandle = nullptr;
    if (!pwfx || (!query && !phandle)) return MMSYSERR_INVALPARAM;
    if (query) return open(id, *pwfx, fdwOpen, nullptr, nullptr);

    auto h = std::make_shared<HandleT>();
    if (MMRESULT r = MakeCallback(fdwOpen, dwCallback, dwInstance, true, &h->cb)) return r;
    std::memcpy(&h->format, pwfx, sizeof(WAVEFORMATEX));
    h->format.cbSize = 0;
    h->doneMsg = doneMsg;
    h->closeMsg = closeMsg;
    MMRESULT r = open(id, *pwfx, fdwOpen, h.get(), &h->stream);
    if (r == MMSYSERR_NOERROR && !h->stream) r = MMSYSERR_ERROR;
    if (r != MMSYSERR_NOERROR) return r;
    const std::uintptr_t value = AddHandle(h);
    *phandle = reinterpret_cast<H*>(value);
    Deliver(h->cb, value, openMsg, 0);
    return MMSYSERR_NOERROR;
}

template <class HandleT> MMRESULT CloseWave(const void* handle) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    // A device that has gone may be closed with buffers queued: the stream returns them.
    if (h->queued.load() > 0 && !h->Gone()) return WAVERR_STILLPLAYING;
    if (!RemoveHandle(h->value)) return MMSYSERR_INVALHANDLE;
    h->CloseStream();
    return MMSYSERR_NOERROR;
}

template <class HandleT> MMRESULT PrepareWave(const void* handle, LPWAVEHDR pwh, UINT cbwh) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = CheckHeader(pwh, cbwh)) return r;
    if (h->Gone()) return MMSYSERR_NODRIVER;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

template <class HandleT> MMRESULT UnprepareWave(const void* handle, LPWAVEHDR pwh, UINT cbwh) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = CheckHeader(pwh, cbwh)) return r;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

template <class HandleT, class Queue>
MMRESULT QueueWave(const void* handle, LPWAVEHDR pwh, UINT cbwh, Queue queue) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = CheckHeader(pwh, cbwh)) return r;
    if (!pwh->lpData && pwh->dwBufferLength) return MMSYSERR_INVALPARAM;
    if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->lpNext = nullptr;
    h->queued.fetch_add(1);
    MMRESULT r = queue(*h->stream, pwh);
    if (r != MMSYSERR_NOERROR) {
        pwh->dwFlags &= ~WHDR_INQUEUE;
        h->queued.fetch_sub(1);
    }
    return r;
}

template <class HandleT> MMRESULT PositionWave(const void* handle, LPMMTIME pmmt, UINT cbmmt) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pmmt || cbmmt < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
    std::uint64_t frames = 0;
    if (MMRESULT r = h->stream->GetPosition(&frames)) return r;
    if (pmmt->wType == TIME_SAMPLES) {
        pmmt->u.sample = static_cast<DWORD>(frames); // wraps at 2^32 as on the platform
    } else {
        // Milliseconds, SMPTE, MIDI and ticks are answered in bytes, as most drivers do.
        pmmt->wType = TIME_BYTES;
        pmmt->u.cb = static_cast<DWORD>(frames * h->format.nBlockAlign);
    }
    return MMSYSERR_NOERROR;
}

template <class HandleT> MMRESULT GetWaveId(const void* handle, LPUINT pu) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pu) return MMSYSERR_INVALPARAM;
    return h->stream->GetDeviceId(pu);
}

// A device id, or an open handle in its place (the platform accepts both in capability queries).
template <class HandleT> MMRESULT ResolveDeviceId(UINT_PTR id, UINT* out) {
    if (IsMapperId(id) || id == static_cast<UINT_PTR>(-1)) {
        *out = WAVE_MAPPER;
        return MMSYSERR_NOERROR;
    }
    if (id >= 0x40000) {
        auto h = FindHandle<HandleT>(reinterpret_cast<const void*>(id));
        if (!h) return MMSYSERR_BADDEVICEID;
        return h->stream->GetDeviceId(out);
    }
    *out = static_cast<UINT>(id);
    return MMSYSERR_NOERROR;
}

// ---- Error texts --------------------------------------------------------------------------------

const char* ErrorText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "The specified command was carried out.";
    case MMSYSERR_ERROR:
        return "Undefined external error.";
    case MMSYSERR_BADDEVICEID:
        return "A device ID has been used that is out of range for your system.";
    case MMSYSERR_NOTENABLED:
        return "The driver was not enabled.";
    case MMSYSERR_ALLOCATED:
        return "The specified device is already in use. Wait until it is free, and then try "
               "again.";
    case MMSYSERR_INVALHANDLE:
        return "The specified device handle is invalid.";
    case MMSYSERR_NODRIVER:
        return "There is no driver installed on your system.";
    case MMSYSERR_NOMEM:
        return "There is not enough memory available for this task. Quit one or more "
               "applications to increase available memory, and then try again.";
    case MMSYSERR_NOTSUPPORTED:
        return "This function is not supported. Use the Capabilities function to determine which "
               "functions and messages the driver supports.";
    case MMSYSERR_BADERRNUM:
        return "An error number was specified that is not defined in the system.";
    case MMSYSERR_INVALFLAG:
        return "An invalid flag was passed to a system function.";
    case MMSYSERR_INVALPARAM:
        return "An invalid parameter was passed to a system function.";
    case MMSYSERR_HANDLEBUSY:
        return "The handle is being used simultaneously on another thread (for example by a "
               "callback).";
    case MMSYSERR_INVALIDALIAS:
        return "The specified alias was not found.";
    case MMSYSERR_BADDB:
        return "The registry database is corrupt.";
    case MMSYSERR_KEYNOTFOUND:
        return "The specified registry key was not found.";
    case MMSYSERR_READERROR:
        return "The registry could not be opened or could not be read.";
    case MMSYSERR_WRITEERROR:
        return "The registry could not be written to.";
    case MMSYSERR_DELETEERROR:
        return "The specified registry key could not be deleted.";
    case MMSYSERR_VALNOTFOUND:
        return "The specified registry key value could not be found.";
    case MMSYSERR_NODRIVERCB:
        return "The driver did not generate a valid OPEN callback.";
    case MMSYSERR_MOREDATA:
        return "More data is available.";
    case WAVERR_BADFORMAT:
        return "The specified format is not supported or cannot be translated. Use the "
               "Capabilities function to determine the supported formats.";
    case WAVERR_STILLPLAYING:
        return "Cannot perform this operation while media data is still playing. Reset the "
               "device, or wait until the data is finished playing.";
    case WAVERR_UNPREPARED:
        return "The wave header was not prepared. Use the Prepare function to prepare the "
               "header, and then try again.";
    case WAVERR_SYNC:
        return "Cannot open the device without using the WAVE_ALLOWSYNC flag. Use the flag, and "
               "then try again.";
    case MIXERR_INVALLINE:
        return "The specified mixer line is invalid.";
    case MIXERR_INVALCONTROL:
        return "The specified mixer control is invalid.";
    case MIXERR_INVALVALUE:
        return "The value is out of range for the mixer control.";
    default:
        return nullptr;
    }
}

MMRESULT WaveErrorText(MMRESULT code, LPSTR text, UINT cch) {
    if (!text || cch == 0) return MMSYSERR_INVALPARAM;
    text[0] = 0;
    const char* s = code <= MMSYSERR_LASTERROR || (code >= WAVERR_BASE && code <= WAVERR_LASTERROR)
                        ? ErrorText(code)
                        : nullptr;
    if (!s) return MMSYSERR_BADERRNUM;
    CopyName(text, cch, s);
    return MMSYSERR_NOERROR;
}

// ---- Mixer logic over a mixer's description -----------------------------------------------------

struct MixerHandle : Handle {
    std::shared_ptr<IMixerDevice> device;
    Callback cb;
    void ForceClose() override {}
};

struct LineRef {
    const MixerLineDesc* line = nullptr;
    const MixerLineDesc* destination = nullptr;
};

std::vector<LineRef> AllLines(const MixerDesc& d) {
    std::vector<LineRef> out;
    for (auto& dst : d.destinations)
        out.push_back({&dst, &dst});
    for (auto& dst : d.destinations)
        for (auto& src : dst.sources)
            out.push_back({&src, &dst});
    return out;
}

const MixerLineDesc* FindLine(const MixerDesc& d, DWORD lineId) {
    for (auto& ref : AllLines(d))
        if (ref.line->lineId == lineId) return ref.line;
    return nullptr;
}

const MixerControlDesc* FindControl(const MixerDesc& d, DWORD controlId,
                                    const MixerLineDesc** owner) {
    for (auto& ref : AllLines(d))
        for (auto& c : ref.line->controls)
            if (c.id == controlId) {
                if (owner) *owner = ref.line;
                return &c;
            }
    return nullptr;
}

DWORD ControlChannels(const MixerControlDesc& c, const MixerLineDesc& line) {
    return (c.flags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<DWORD>(line.channels, 1);
}
DWORD ControlItems(const MixerControlDesc& c) {
    return (c.flags & MIXERCONTROL_CONTROLF_MULTIPLE) ? static_cast<DWORD>(c.items.size()) : 0;
}

void FillLine(const MixerLineDesc& l, MIXERLINEA* p) {
    const DWORD cb = p->cbStruct;
    std::memset(p, 0, sizeof(MIXERLINEA));
    p->cbStruct = cb;
    p->dwDestination = l.destination;
    p->dwSource = (l.flags & MIXERLINE_LINEF_SOURCE) ? l.source : 0;
    p->dwLineID = l.lineId;
    p->fdwLine = l.flags;
    p->dwComponentType = l.componentType;
    p->cChannels = l.channels;
    p->cConnections = static_cast<DWORD>(l.sources.size());
    p->cControls = static_cast<DWORD>(l.controls.size());
    CopyName(p->szShortName, sizeof p->szShortName, l.shortName);
    CopyName(p->szName, sizeof p->szName, l.name);
    p->Target.dwType = l.targetType;
    p->Target.dwDeviceID = l.targetDeviceId;
    p->Target.wMid = l.targetMid;
    p->Target.wPid = l.targetPid;
    p->Target.vDriverVersion = l.targetVersion;
    CopyName(p->Target.szPname, sizeof p->Target.szPname, l.targetName);
}

void FillControl(const MixerControlDesc& c, MIXERCONTROLA* p) {
    std::memset(p, 0, sizeof(MIXERCONTROLA));
    p->cbStruct = sizeof(MIXERCONTROLA);
    p->dwControlID = c.id;
    p->dwControlType = c.type;
    p->fdwControl = c.flags;
    p->cMultipleItems = ControlItems(c);
    CopyName(p->szShortName, sizeof p->szShortName, c.shortName);
    CopyName(p->szName, sizeof p->szName, c.name);
    p->Bounds.lMinimum = c.minimum;
    p->Bounds.lMaximum = c.maximum;
    p->Metrics.cSteps = c.steps;
}

bool IsMeter(const MixerControlDesc& c) {
    return (c.type & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_METER;
}
bool IsSingleSelect(const MixerControlDesc& c) {
    return (c.type & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST &&
           (c.type & MIXERCONTROL_CT_SUBCLASS_MASK) == MIXERCONTROL_CT_SC_LIST_SINGLE;
}
bool IsBooleanUnits(const MixerControlDesc& c) {
    return (c.type & MIXERCONTROL_CT_UNITS_MASK) == MIXERCONTROL_CT_UNITS_BOOLEAN;
}

// The mixer an object names: a mixer id or handle, or a device id or handle of another kind.
MMRESULT ResolveMixer(HMIXEROBJ obj, DWORD fdw, std::shared_ptr<IMixerDevice>* out, UINT* mixerId) {
    const DWORD kind = fdw & MIXER_OBJECTF_TYPEMASK;
    const UINT id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(obj));
    auto& be = AudioBackend();
    UINT mx = 0;
    switch (kind) {
    case MIXER_OBJECTF_MIXER:
        if (id >= be.MixerCount()) return MMSYSERR_BADDEVICEID;
        mx = id;
        break;
    case MIXER_OBJECTF_HMIXER: {
        auto h = FindHandle<MixerHandle>(obj);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!h->device->Present()) return MMSYSERR_NODRIVER;
        if (out) *out = h->device;
        if (mixerId) return h->device->GetId(mixerId);
        return MMSYSERR_NOERROR;
    }
    case MIXER_OBJECTF_WAVEOUT:
    case MIXER_OBJECTF_WAVEIN:
    case MIXER_OBJECTF_MIDIOUT:
    case MIXER_OBJECTF_MIDIIN:
    case MIXER_OBJECTF_AUX: {
        UINT count = kind == MIXER_OBJECTF_WAVEOUT   ? be.WaveOutCount()
                     : kind == MIXER_OBJECTF_WAVEIN  ? be.WaveInCount()
                     : kind == MIXER_OBJECTF_MIDIOUT ? be.MidiOutCount()
                     : kind == MIXER_OBJECTF_MIDIIN  ? be.MidiInCount()
                                                     : be.AuxCount();
        if (count == 0) return MMSYSERR_NODRIVER;
        if (id != WAVE_MAPPER && id >= count) return MMSYSERR_BADDEVICEID;
        if (MMRESULT r = be.MixerIdOf(kind, id, &mx)) return r;
        break;
    }
    case MIXER_OBJECTF_HWAVEOUT:
    case MIXER_OBJECTF_HWAVEIN: {
        UINT dev = 0;
        if (MMRESULT r = kind == MIXER_OBJECTF_HWAVEOUT ? GetWaveId<WaveOutHandle>(obj, &dev)
                                                        : GetWaveId<WaveInHandle>(obj, &dev))
            return r;
        if (MMRESULT r = be.MixerIdOf(kind & ~MIXER_OBJECTF_HANDLE, dev, &mx)) return r;
        break;
    }
    case MIXER_OBJECTF_HMIDIOUT:
    case MIXER_OBJECTF_HMIDIIN:
        return MMSYSERR_INVALHANDLE; // MIDI devices are listed, never opened
    default:
        return MMSYSERR_INVALFLAG;
    }
    if (mixerId) *mixerId = mx;
    if (out) {
        *out = be.Mixer(mx);
        if (!*out || !(*out)->Present()) return MMSYSERR_NODRIVER;
    }
    return MMSYSERR_NOERROR;
}

// Checks a details record against the control it names; gives the control, its line, and the
// channel and item counts of the caller's array.
MMRESULT CheckDetails(const MixerDesc& d, const MIXERCONTROLDETAILS* p, DWORD elementSize,
                      const MixerControlDesc** control, const MixerLineDesc** line, DWORD* channels,
                      DWORD* items) {
    if (!p || p->cbStruct < sizeof(MIXERCONTROLDETAILS) || !p->paDetails ||
        p->cbDetails < elementSize)
        return MMSYSERR_INVALPARAM;
    *control = FindControl(d, p->dwControlID, line);
    if (!*control) return MIXERR_INVALCONTROL;
    const DWORD full = ControlChannels(**control, **line);
    if (p->cChannels != 1 && p->cChannels != full) return MMSYSERR_INVALPARAM;
    const DWORD n = ControlItems(**control);
    if (p->cMultipleItems != n) return MMSYSERR_INVALPARAM;
    *channels = p->cChannels;
    *items = n;
    return MMSYSERR_NOERROR;
}

template <class T> T* Element(const MIXERCONTROLDETAILS* p, DWORD index) {
    return reinterpret_cast<T*>(static_cast<char*>(p->paDetails) +
                                static_cast<std::size_t>(index) * p->cbDetails);
}

} // namespace

namespace mmapi {
void CloseAllHandles() {
    std::vector<std::shared_ptr<Handle>> all;
    {
        auto& t = Handles();
        std::lock_guard g(t.lock);
        for (auto& [value, h] : t.handles)
            all.push_back(h);
        t.handles.clear();
    }
    for (auto& h : all)
        h->ForceClose();
}
} // namespace mmapi

// ---- Wave output --------------------------------------------------------------------------------

namespace {
// What differs between wave output and input: the backend's calls, the capabilities and the
// notices of the handle.
struct WaveOutSide {
    using HandleT = WaveOutHandle;
    using Caps = WAVEOUTCAPSA;
    static constexpr UINT kOpen = MM_WOM_OPEN, kDone = MM_WOM_DONE, kClose = MM_WOM_CLOSE;
    static UINT Count() { return AudioBackend().WaveOutCount(); }
    static MMRESULT GetCaps(UINT id, Caps* caps) { return AudioBackend().WaveOutCaps(id, caps); }
    static MMRESULT Open(UINT id, const WAVEFORMATEX& format, DWORD flags, IWaveEvents* events,
                         std::unique_ptr<IWaveOutStream>* stream) {
        return AudioBackend().OpenWaveOut(id, format, flags, events, stream);
    }
};

struct WaveInSide {
    using HandleT = WaveInHandle;
    using Caps = WAVEINCAPSA;
    static constexpr UINT kOpen = MM_WIM_OPEN, kDone = MM_WIM_DATA, kClose = MM_WIM_CLOSE;
    static UINT Count() { return AudioBackend().WaveInCount(); }
    static MMRESULT GetCaps(UINT id, Caps* caps) { return AudioBackend().WaveInCaps(id, caps); }
    static MMRESULT Open(UINT id, const WAVEFORMATEX& format, DWORD flags, IWaveEvents* events,
                         std::unique_ptr<IWaveInStream>* stream) {
        return AudioBackend().OpenWaveIn(id, format, flags, events, stream);
    }
};

template <class Side> MMRESULT WaveDevCaps(UINT_PTR device, typename Side::Caps* caps, UINT cb) {
    if (!caps) return MMSYSERR_INVALPARAM;
    UINT id = 0;
    if (MMRESULT r = ResolveDeviceId<typename Side::HandleT>(device, &id)) return r;
    return QueryCaps<typename Side::Caps>(id, caps, cb, &Side::Count, &Side::GetCaps);
}

template <class Side, class H>
MMRESULT WaveOpen(H** phandle, UINT id, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                  DWORD_PTR dwInstance, DWORD fdwOpen) {
    return OpenWave(phandle, id, pwfx, dwCallback, dwInstance, fdwOpen, Side::kOpen, Side::kDone,
                    Side::kClose, &Side::Open);
}
} // namespace

UINT waveOutGetNumDevs() {
    return WaveOutSide::Count();
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
    return WaveDevCaps<WaveOutSide>(uDeviceID, pwoc, cbwoc);
}

MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    return WaveErrorText(mmrError, pszText, cchText);
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen) {
    return WaveOpen<WaveOutSide>(phwo, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
    return CloseWave<WaveOutHandle>(hwo);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return PrepareWave<WaveOutHandle>(hwo, pwh, cbwh);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return UnprepareWave<WaveOutHandle>(hwo, pwh, cbwh);
}
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return QueueWave<WaveOutHandle>(hwo, pwh, cbwh,
                                    [](IWaveOutStream& s, WAVEHDR* h) { return s.Write(h); });
}

namespace {
template <class HandleT, class Op> MMRESULT WithStream(const void* handle, Op op) {
    auto h = FindHandle<HandleT>(handle);
    if (!h) return MMSYSERR_INVALHANDLE;
    return op(*h->stream);
}
} // namespace

MMRESULT waveOutPause(HWAVEOUT hwo) {
    return WithStream<WaveOutHandle>(hwo, [](IWaveOutStream& s) { return s.Pause(); });
}
MMRESULT waveOutRestart(HWAVEOUT hwo) {
    return WithStream<WaveOutHandle>(hwo, [](IWaveOutStream& s) { return s.Restart(); });
}
MMRESULT waveOutReset(HWAVEOUT hwo) {
    return WithStream<WaveOutHandle>(hwo, [](IWaveOutStream& s) { return s.Reset(); });
}
MMRESULT waveOutBreakLoop(HWAVEOUT hwo) {
    // Loops are not played (every buffer plays once), so there is never a loop to break.
    return WithStream<WaveOutHandle>(hwo, [](IWaveOutStream& s) {
        UINT id = 0;
        return s.GetDeviceId(&id);
    });
}
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt) {
    return PositionWave<WaveOutHandle>(hwo, pmmt, cbmmt);
}
MMRESULT waveOutGetID(HWAVEOUT hwo, LPUINT puDeviceID) {
    return GetWaveId<WaveOutHandle>(hwo, puDeviceID);
}

// ---- Wave input ---------------------------------------------------------------------------------

UINT waveInGetNumDevs() {
    return WaveInSide::Count();
}

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic) {
    return WaveDevCaps<WaveInSide>(uDeviceID, pwic, cbwic);
}

MMRESULT waveInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    return WaveErrorText(mmrError, pszText, cchText);
}

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    return WaveOpen<WaveInSide>(phwi, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
}

MMRESULT waveInClose(HWAVEIN hwi) {
    return CloseWave<WaveInHandle>(hwi);
}
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return PrepareWave<WaveInHandle>(hwi, pwh, cbwh);
}
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return UnprepareWave<WaveInHandle>(hwi, pwh, cbwh);
}
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return QueueWave<WaveInHandle>(hwi, pwh, cbwh, [](IWaveInStream& s, WAVEHDR* h) {
        h->dwBytesRecorded = 0;
        return s.AddBuffer(h);
    });
}
MMRESULT waveInStart(HWAVEIN hwi) {
    return WithStream<WaveInHandle>(hwi, [](IWaveInStream& s) { return s.Start(); });
}
MMRESULT waveInStop(HWAVEIN hwi) {
    return WithStream<WaveInHandle>(hwi, [](IWaveInStream& s) { return s.Stop(); });
}
MMRESULT waveInReset(HWAVEIN hwi) {
    return WithStream<WaveInHandle>(hwi, [](IWaveInStream& s) { return s.Reset(); });
}
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt) {
    return PositionWave<WaveInHandle>(hwi, pmmt, cbmmt);
}
MMRESULT waveInGetID(HWAVEIN hwi, LPUINT puDeviceID) {
    return GetWaveId<WaveInHandle>(hwi, puDeviceID);
}

// ---- Mixer --------------------------------------------------------------------------------------

UINT mixerGetNumDevs() {
    return AudioBackend().MixerCount();
}

MMRESULT mixerGetDevCapsA(UINT_PTR uMxId, LPMIXERCAPSA pmxcaps, UINT cbmxcaps) {
    if (!pmxcaps) return MMSYSERR_INVALPARAM;
    std::shared_ptr<IMixerDevice> dev;
    if (uMxId >= 0x40000 && uMxId != static_cast<UINT_PTR>(-1) && !IsMapperId(uMxId)) {
        if (MMRESULT r = ResolveMixer(reinterpret_cast<HMIXEROBJ>(uMxId), MIXER_OBJECTF_HMIXER,
                                      &dev, nullptr))
            return r;
    } else {
        const UINT id = static_cast<UINT>(uMxId);
        if (id >= AudioBackend().MixerCount()) return MMSYSERR_BADDEVICEID; // no mixer mapper
        dev = AudioBackend().Mixer(id);
        if (!dev || !dev->Present()) return MMSYSERR_NODRIVER;
    }
    const MixerDesc d = dev->Description();
    MIXERCAPSA caps{};
    caps.wMid = d.mid;
    caps.wPid = d.pid;
    caps.vDriverVersion = d.version;
    CopyName(caps.szPname, sizeof caps.szPname, d.name);
    caps.cDestinations = static_cast<DWORD>(d.destinations.size());
    return CopyCaps(caps, pmxcaps, cbmxcaps);
}

MMRESULT mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                   DWORD fdwOpen) {
    if (phmx) *phmx = nullptr;
    if (fdwOpen & ~(CALLBACK_TYPEMASK | MIXER_OBJECTF_TYPEMASK)) return MMSYSERR_INVALFLAG;
    auto h = std::make_shared<MixerHandle>();
    if (MMRESULT r = MakeCallback(fdwOpen, dwCallback, dwInstance, false, &h->cb)) return r;
    if (!phmx) return MMSYSERR_INVALPARAM;
    if (MMRESULT r = ResolveMixer(reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(uMxId)),
                                  fdwOpen & MIXER_OBJECTF_TYPEMASK, &h->device, nullptr))
        return r;
    *phmx = reinterpret_cast<HMIXER>(AddHandle(h));
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER hmx) {
    auto h = FindHandle<MixerHandle>(hmx);
    if (!h || !RemoveHandle(h->value)) return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetID(HMIXEROBJ hmxobj, UINT* puMxId, DWORD fdwId) {
    if (!puMxId) return MMSYSERR_INVALPARAM;
    if (fdwId & ~MIXER_OBJECTF_TYPEMASK) return MMSYSERR_INVALFLAG;
    UINT id = 0;
    MMRESULT r = ResolveMixer(hmxobj, fdwId, nullptr, &id);
    if (r == MMSYSERR_NOERROR)
        *puMxId = id;
    else if (r == MMSYSERR_NODRIVER)
        *puMxId = static_cast<UINT>(-1);
    return r;
}

MMRESULT mixerGetLineInfoA(HMIXEROBJ hmxobj, LPMIXERLINEA pmxl, DWORD fdwInfo) {
    if (!pmxl || pmxl->cbStruct < sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
    if (fdwInfo & ~(MIXER_OBJECTF_TYPEMASK | MIXER_GETLINEINFOF_QUERYMASK))
        return MMSYSERR_INVALFLAG;
    const DWORD query = fdwInfo & MIXER_GETLINEINFOF_QUERYMASK;
    if (query > MIXER_GETLINEINFOF_TARGETTYPE) return MMSYSERR_INVALFLAG;
    std::shared_ptr<IMixerDevice> dev;
    if (MMRESULT r = ResolveMixer(hmxobj, fdwInfo & MIXER_OBJECTF_TYPEMASK, &dev, nullptr))
        return r;
    const MixerDesc d = dev->Description();
    const MixerLineDesc* found = nullptr;
    switch (query) {
    case MIXER_GETLINEINFOF_DESTINATION:
        if (pmxl->dwDestination >= d.destinations.size()) return MMSYSERR_INVALPARAM;
        found = &d.destinations[pmxl->dwDestination];
        break;
    case MIXER_GETLINEINFOF_SOURCE:
        if (pmxl->dwDestination >= d.destinations.size()) return MMSYSERR_INVALPARAM;
        if (pmxl->dwSource >= d.destinations[pmxl->dwDestination].sources.size())
            return MMSYSERR_INVALPARAM;
        found = &d.destinations[pmxl->dwDestination].sources[pmxl->dwSource];
        break;
    case MIXER_GETLINEINFOF_LINEID:
        found = FindLine(d, pmxl->dwLineID);
        break;
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
        for (auto& ref : AllLines(d))
            if (ref.line->componentType == pmxl->dwComponentType) {
                found = ref.line;
                break;
            }
        break;
    case MIXER_GETLINEINFOF_TARGETTYPE: {
        const auto& t = pmxl->Target;
        const std::string name(t.szPname, strnlen(t.szPname, sizeof t.szPname));
        for (auto& ref : AllLines(d)) {
            const MixerLineDesc& l = *ref.line;
            if (l.targetType != MIXERLINE_TARGETTYPE_UNDEFINED && l.targetType == t.dwType &&
                l.targetMid == t.wMid && l.targetPid == t.wPid &&
                l.targetVersion == t.vDriverVersion &&
                l.targetName.substr(0, MAXPNAMELEN - 1) == name) {
                found = ref.line;
                break;
            }
        }
        break;
    }
    }
    if (!found) return MIXERR_INVALLINE;
    FillLine(*found, pmxl);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineControlsA(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSA pmxlc, DWORD fdwControls) {
    if (!pmxlc || pmxlc->cbStruct < sizeof(MIXERLINECONTROLSA)) return MMSYSERR_INVALPARAM;
    if (fdwControls & ~(MIXER_OBJECTF_TYPEMASK | MIXER_GETLINECONTROLSF_QUERYMASK))
        return MMSYSERR_INVALFLAG;
    const DWORD query = fdwControls & MIXER_GETLINECONTROLSF_QUERYMASK;
    if (query > MIXER_GETLINECONTROLSF_ONEBYTYPE) return MMSYSERR_INVALFLAG;
    if (!pmxlc->pamxctrl || pmxlc->cbmxctrl < sizeof(MIXERCONTROLA) || pmxlc->cControls == 0)
        return MMSYSERR_INVALPARAM;
    std::shared_ptr<IMixerDevice> dev;
    if (MMRESULT r = ResolveMixer(hmxobj, fdwControls & MIXER_OBJECTF_TYPEMASK, &dev, nullptr))
        return r;
    const MixerDesc d = dev->Description();
    auto slot = [&](DWORD i) {
        return reinterpret_cast<MIXERCONTROLA*>(reinterpret_cast<char*>(pmxlc->pamxctrl) +
                                                static_cast<std::size_t>(i) * pmxlc->cbmxctrl);
    };
    switch (query) {
    case MIXER_GETLINECONTROLSF_ALL: {
        const MixerLineDesc* line = FindLine(d, pmxlc->dwLineID);
        if (!line) return MIXERR_INVALLINE;
        if (pmxlc->cControls != line->controls.size()) return MMSYSERR_INVALPARAM;
        for (DWORD i = 0; i < pmxlc->cControls; ++i)
            FillControl(line->controls[i], slot(i));
        return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINECONTROLSF_ONEBYID: {
        if (pmxlc->cControls != 1) return MMSYSERR_INVALPARAM;
        const MixerLineDesc* line = nullptr;
        const MixerControlDesc* c = FindControl(d, pmxlc->dwControlID, &line);
        if (!c) return MIXERR_INVALCONTROL;
        pmxlc->dwLineID = line->lineId; // the platform names the owning line
        FillControl(*c, slot(0));
        return MMSYSERR_NOERROR;
    }
    default: {
        if (pmxlc->cControls != 1) return MMSYSERR_INVALPARAM;
        const MixerLineDesc* line = FindLine(d, pmxlc->dwLineID);
        if (!line) return MIXERR_INVALLINE;
        for (auto& c : line->controls)
            if (c.type == pmxlc->dwControlType) {
                FillControl(c, slot(0));
                return MMSYSERR_NOERROR;
            }
        return MIXERR_INVALCONTROL;
    }
    }
}

MMRESULT mixerGetControlDetailsA(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
    if (fdwDetails & ~(MIXER_OBJECTF_TYPEMASK | MIXER_GETCONTROLDETAILSF_QUERYMASK))
        return MMSYSERR_INVALFLAG;
    const DWORD query = fdwDetails & MIXER_GETCONTROLDETAILSF_QUERYMASK;
    if (query > MIXER_GETCONTROLDETAILSF_LISTTEXT) return MMSYSERR_INVALFLAG;
    if (!pmxcd) return MMSYSERR_INVALPARAM;
    std::shared_ptr<IMixerDevice> dev;
    if (MMRESULT r = ResolveMixer(hmxobj, fdwDetails & MIXER_OBJECTF_TYPEMASK, &dev, nullptr))
        return r;
    const MixerDesc d = dev->Description();
    const MixerControlDesc* c = nullptr;
    const MixerLineDesc* line = nullptr;
    DWORD channels = 0, items = 0;
    const DWORD elementSize = query == MIXER_GETCONTROLDETAILSF_LISTTEXT
                                  ? sizeof(MIXERCONTROLDETAILS_LISTTEXTA)
                                  : sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    if (MMRESULT r = CheckDetails(d, pmxcd, elementSize, &c, &line, &channels, &items)) return r;
    const DWORD rows = std::max<DWORD>(items, 1);

    if (query == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
        if (items == 0) return MMSYSERR_INVALPARAM; // only list controls have item texts
        for (DWORD i = 0; i < rows; ++i)
            for (DWORD ch = 0; ch < channels; ++ch) {
                auto* e = Element<MIXERCONTROLDETAILS_LISTTEXTA>(pmxcd, i * channels + ch);
                e->dwParam1 = c->items[i].param1;
                e->dwParam2 = c->items[i].param2;
                CopyName(e->szName, sizeof e->szName, c->items[i].name);
            }
        return MMSYSERR_NOERROR;
    }

    std::vector<LONG> values;
    if (MMRESULT r = dev->GetValues(c->id, values)) return r;
    const DWORD full = ControlChannels(*c, *line);
    values.resize(static_cast<std::size_t>(rows) * full, 0);
    for (DWORD i = 0; i < rows; ++i)
        for (DWORD ch = 0; ch < channels; ++ch) {
            LONG v = values[i * full + ch];
            if (channels == 1 && full > 1) // all channels as one: the loudest, so balance stays
                for (DWORD k = 1; k < full; ++k)
                    v = std::max(v, values[i * full + k]);
            *Element<LONG>(pmxcd, i * channels + ch) = v;
        }
    return MMSYSERR_NOERROR;
}

MMRESULT mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
    if (fdwDetails & ~(MIXER_OBJECTF_TYPEMASK | MIXER_SETCONTROLDETAILSF_QUERYMASK))
        return MMSYSERR_INVALFLAG;
    const DWORD query = fdwDetails & MIXER_SETCONTROLDETAILSF_QUERYMASK;
    if (query == MIXER_SETCONTROLDETAILSF_CUSTOM) return MMSYSERR_NOTSUPPORTED;
    if (query != MIXER_SETCONTROLDETAILSF_VALUE) return MMSYSERR_INVALFLAG;
    if (!pmxcd) return MMSYSERR_INVALPARAM;
    std::shared_ptr<IMixerDevice> dev;
    if (MMRESULT r = ResolveMixer(hmxobj, fdwDetails & MIXER_OBJECTF_TYPEMASK, &dev, nullptr))
        return r;
    const MixerDesc d = dev->Description();
    const MixerControlDesc* c = nullptr;
    const MixerLineDesc* line = nullptr;
    DWORD channels = 0, items = 0;
    if (MMRESULT r = CheckDetails(d, pmxcd, sizeof(LONG), &c, &line, &channels, &items)) return r;
    if (IsMeter(*c)) return MMSYSERR_NOTSUPPORTED; // meters are read-only

    std::vector<LONG> values;
    if (MMRESULT r = dev->GetValues(c->id, values)) return r;
    const DWORD rows = std::max<DWORD>(items, 1);
    const DWORD full = ControlChannels(*c, *line);
    values.resize(static_cast<std::size_t>(rows) * full, 0);
    const std::vector<LONG> before = values;
    const bool boolean =
        IsBooleanUnits(*c) || (c->type & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST;
    for (DWORD i = 0; i < rows; ++i)
        for (DWORD ch = 0; ch < channels; ++ch) {
            LONG v = *Element<LONG>(pmxcd, i * channels + ch);
            if (boolean)
                v = v ? 1 : 0;
            else if ((c->type & MIXERCONTROL_CT_UNITS_MASK) == MIXERCONTROL_CT_UNITS_UNSIGNED)
                v = static_cast<LONG>(std::clamp<DWORD>(static_cast<DWORD>(v),
                                                        static_cast<DWORD>(c->minimum),
                                                        static_cast<DWORD>(c->maximum)));
            else
                v = std::clamp(v, c->minimum, std::max(c->minimum, c->maximum));
            if (channels == 1) // one value for all channels
                for (DWORD k = 0; k < full; ++k)
                    values[i * full + k] = v;
            else
                values[i * full + ch] = v;
        }
    if (IsSingleSelect(*c) && items > 0) {
        // At most one item stays selected: a newly selected one wins over the old selection.
        for (DWORD ch = 0; ch < full; ++ch) {
            int chosen = -1;
            for (DWORD i = 0; i < rows && chosen < 0; ++i)
                if (values[i * full + ch] && !before[i * full + ch]) chosen = static_cast<int>(i);
            for (DWORD i = 0; i < rows && chosen < 0; ++i)
                if (values[i * full + ch]) chosen = static_cast<int>(i);
            for (DWORD i = 0; i < rows; ++i)
                values[i * full + ch] = static_cast<int>(i) == chosen ? 1 : 0;
        }
    }
    return dev->SetValues(c->id, values);
}

// ---- Aux and MIDI -------------------------------------------------------------------------------

namespace {
template <class Caps, class Count, class Get>
MMRESULT DeviceCaps(UINT_PTR id, Caps* caps, UINT cb, Count count, Get get) {
    if (!caps) return MMSYSERR_INVALPARAM;
    const UINT n = count();
    const UINT dev = static_cast<UINT>(id);
    if (dev != WAVE_MAPPER && dev >= n) return n ? MMSYSERR_BADDEVICEID : MMSYSERR_NODRIVER;
    return QueryCaps<Caps>(dev, caps, cb, count, get);
}
} // namespace

UINT auxGetNumDevs() {
    return AudioBackend().AuxCount();
}
MMRESULT auxGetDevCapsA(UINT_PTR uDeviceID, AUXCAPSA* pac, UINT cbac) {
    return DeviceCaps(
        uDeviceID, pac, cbac, [] { return AudioBackend().AuxCount(); },
        [](UINT id, AUXCAPSA* c) { return AudioBackend().AuxCaps(id, c); });
}
UINT midiOutGetNumDevs() {
    return AudioBackend().MidiOutCount();
}
MMRESULT midiOutGetDevCapsA(UINT_PTR uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc) {
    return DeviceCaps(
        uDeviceID, pmoc, cbmoc, [] { return AudioBackend().MidiOutCount(); },
        [](UINT id, MIDIOUTCAPSA* c) { return AudioBackend().MidiOutCaps(id, c); });
}
UINT midiInGetNumDevs() {
    return AudioBackend().MidiInCount();
}
MMRESULT midiInGetDevCapsA(UINT_PTR uDeviceID, MIDIINCAPSA* pmic, UINT cbmic) {
    return DeviceCaps(
        uDeviceID, pmic, cbmic, [] { return AudioBackend().MidiInCount(); },
        [](UINT id, MIDIINCAPSA* c) { return AudioBackend().MidiInCaps(id, c); });
}

// ---- MCI error texts ----------------------------------------------------------------------------

BOOL mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText, UINT cchText) {
    // The command interface has texts for its own codes only (MCIERR_BASE and above); other
    // multimedia codes are not its and give FALSE, as on the platform.
    struct Entry {
        MCIERROR code;
        const char* text;
    };
    static const Entry texts[] = {
        {MCIERR_BASE + 1, "Invalid device ID. Use the ID given to the device when the device was "
                          "opened."},
        {MCIERR_BASE + 3, "The driver cannot recognize the specified command parameter."},
        {MCIERR_BASE + 5, "The driver cannot recognize the specified command."},
        {MCIERR_BASE + 6, "There is a problem with your media device. Make sure it is working "
                          "correctly or contact the device manufacturer."},
        {MCIERR_BASE + 7, "The specified device is not open or is not recognized by MCI."},
        {MCIERR_BASE + 8, "Not enough memory is available for this task."},
        {MCIERR_BASE + 11, "The specified device is not open or is not recognized by MCI."},
        {MCIERR_BASE + 14, "An unknown error has occurred."},
    };
    if (!pszText || cchText == 0) return FALSE;
    pszText[0] = 0;
    for (auto& e : texts)
        if (e.code == mcierr) {
            CopyName(pszText, cchText, e.text);
            return TRUE;
        }
    return FALSE;
}

// ---- Notifications from backends ----------------------------------------------------------------

void NotifyMixerControlChange(const IMixerDevice* mixer, DWORD controlId) {
    for (auto& h : AllHandles<MixerHandle>())
        if (h->device.get() == mixer) Deliver(h->cb, h->value, MM_MIXM_CONTROL_CHANGE, controlId);
}

void NotifyMixerLineChange(const IMixerDevice* mixer, DWORD lineId) {
    for (auto& h : AllHandles<MixerHandle>())
        if (h->device.get() == mixer) Deliver(h->cb, h->value, MM_MIXM_LINE_CHANGE, lineId);
}

void NotifyAudioDevicesChanged() {
    for (auto& h : AllHandles<MixerHandle>())
        for (auto& dst : h->device->Description().destinations)
            Deliver(h->cb, h->value, MM_MIXM_LINE_CHANGE, dst.lineId);
    BroadcastMessage(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}
