#pragma once
// Helpers for audio tests on the multimedia API: recorders for window messages and wave
// callbacks (both thread-safe), PCM formats and buffers with their own data.
#include "platform/api/mmsystem.h"
#include "platform/api/windef.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace conformance {

// Records messages posted to a window (any thread).
class MessageRecorder : public IMessageTarget {
public:
    struct Msg {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    MessageRecorder() : hwnd_(RegisterMessageTarget(this)) {}
    ~MessageRecorder() override { UnregisterMessageTarget(hwnd_); }
    void Post(UINT msg, WPARAM wParam, LPARAM lParam) override {
        std::lock_guard g(lock_);
        msgs_.push_back({msg, wParam, lParam});
    }
    HWND Hwnd() const { return hwnd_; }
    std::vector<Msg> Messages(UINT msg = 0) const {
        std::lock_guard g(lock_);
        std::vector<Msg> out;
        for (auto& m : msgs_)
            if (msg == 0 || m.msg == msg) out.push_back(m);
        return out;
    }
    void Clear() {
        std::lock_guard g(lock_);
        msgs_.clear();
    }

private:
    HWND hwnd_;
    mutable std::mutex lock_;
    std::vector<Msg> msgs_;
};

// Records wave callbacks (CALLBACK_FUNCTION), which come on a platform thread.
class CallbackRecorder {
public:
    struct Call {
        HDRVR handle;
        UINT msg;
        DWORD_PTR instance, p1;
    };
    static void CALLBACK_Proc(HDRVR h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR) {
        auto* self = reinterpret_cast<CallbackRecorder*>(inst);
        std::lock_guard g(self->lock_);
        self->calls_.push_back({h, msg, inst, p1});
    }
    DWORD_PTR Proc() const { return reinterpret_cast<DWORD_PTR>(&CALLBACK_Proc); }
    DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }
    std::vector<Call> Calls(UINT msg = 0) const {
        std::lock_guard g(lock_);
        std::vector<Call> out;
        for (auto& c : calls_)
            if (msg == 0 || c.msg == msg) out.push_back(c);
        return out;
    }
    std::size_t Count(UINT msg) const { return Calls(msg).size(); }

private:
    mutable std::mutex lock_;
    std::vector<Call> calls_;
};

// Closes a wave handle still open when the scope ends. A failed assertion leaves the test early
// with the stream open; closed later (with the backend), it would give its buffers back into a
// callback and headers that are gone: a lock on freed memory then hangs or aborts the whole run.
// Declare it after the callback's target and the buffers, so it goes before them.
class CloseAtExit {
public:
    explicit CloseAtExit(HWAVEOUT& h) : out_(&h) {}
    explicit CloseAtExit(HWAVEIN& h) : in_(&h) {}
    ~CloseAtExit() {
        // A handle already closed answers MMSYSERR_INVALHANDLE (handles are never reused).
        if (out_ && *out_ && waveOutReset(*out_) == MMSYSERR_NOERROR) waveOutClose(*out_);
        if (in_ && *in_ && waveInReset(*in_) == MMSYSERR_NOERROR) waveInClose(*in_);
    }
    CloseAtExit(const CloseAtExit&) = delete;
    CloseAtExit& operator=(const CloseAtExit&) = delete;

private:
    HWAVEOUT* out_ = nullptr;
    HWAVEIN* in_ = nullptr;
};

inline WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Looks up the control of a type on a line (MIXER_GETLINECONTROLSF_ONEBYTYPE); objFlag names
// what obj is (MIXER_OBJECTF_MIXER: a mixer id).
inline MMRESULT ControlOfType(HMIXEROBJ obj, DWORD objFlag, DWORD lineId, DWORD type,
                              MIXERCONTROLA* c) {
    MIXERLINECONTROLSA lc{};
    lc.cbStruct = sizeof lc;
    lc.dwLineID = lineId;
    lc.dwControlType = type;
    lc.cControls = 1;
    lc.cbmxctrl = sizeof *c;
    lc.pamxctrl = c;
    return mixerGetLineControlsA(obj, &lc, objFlag | MIXER_GETLINECONTROLSF_ONEBYTYPE);
}

// Gets or sets the values of a control (MIXER_GETCONTROLDETAILSF_VALUE or
// MIXER_SETCONTROLDETAILSF_VALUE): channels values for each of max(items, 1) rows, in v, which the
// caller sizes. objFlag names what obj is, as in ControlOfType.
inline MMRESULT ControlValues(HMIXEROBJ obj, DWORD objFlag, DWORD controlId, DWORD channels,
                              DWORD items, std::vector<LONG>& v, bool set) {
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = controlId;
    d.cChannels = channels;
    d.cMultipleItems = items;
    d.cbDetails = sizeof(LONG);
    d.paDetails = v.data();
    return set ? mixerSetControlDetails(obj, &d, objFlag | MIXER_SETCONTROLDETAILSF_VALUE)
               : mixerGetControlDetailsA(obj, &d, objFlag | MIXER_GETCONTROLDETAILSF_VALUE);
}

// A header with its own data.
struct Buffer {
    explicit Buffer(DWORD bytes, std::uint8_t fill = 0) : data(bytes, fill) {
        hdr.lpData = reinterpret_cast<LPSTR>(data.data());
        hdr.dwBufferLength = bytes;
    }
    std::vector<std::uint8_t> data;
    WAVEHDR hdr{};
};

} // namespace conformance
