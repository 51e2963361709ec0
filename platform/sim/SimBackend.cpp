#include "platform/sim/SimBackend.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <numbers>

namespace {
constexpr DWORD kNoControl = 0xFFFFFFFF;
constexpr std::uint64_t kStepUs = 1000;      // Advance moves in 1 ms steps
constexpr std::uint64_t kPeakHoldUs = 25000; // a peak stays readable for one meter period

// A mono copy of a WAVE file, for the looped microphone signal.
struct WaveSignal {
    std::vector<float> samples;
    double rate = 0;
};

WaveSignal LoadWaveSignal(const QString& path) {
    WaveSignal out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QByteArray data = f.readAll();
    auto u32 = [&](qsizetype at) {
        return at + 4 <= data.size() ? qFromLittleEndian<quint32>(data.constData() + at) : 0u;
    };
    auto u16 = [&](qsizetype at) {
        return at + 2 <= data.size() ? qFromLittleEndian<quint16>(data.constData() + at) : 0u;
    };
    if (data.size() < 12 || data.left(4) != "RIFF" || data.mid(8, 4) != "WAVE") return out;
    int channels = 0, bits = 0;
    qsizetype pos = 12, dataAt = -1, dataLen = 0;
    while (pos + 8 <= data.size()) {
        const QByteArray id = data.mid(pos, 4);
        const qsizetype len = u32(pos + 4);
        if (id == "fmt " && len >= 16 && u16(pos + 8) == WAVE_FORMAT_PCM) {
            channels = u16(pos + 10);
            out.rate = u32(pos + 12);
            bits = u16(pos + 22);
        } else if (id == "data") {
            dataAt = pos + 8;
            dataLen = std::min<qsizetype>(len, data.size() - dataAt);
        }
        pos += 8 + len + (len & 1);
    }
    if (dataAt < 0 || channels < 1 || (bits != 8 && bits != 16) || out.rate <= 0) {
        out.rate = 0;
        return out;
    }
    const int frameBytes = channels * bits / 8;
    for (qsizetype at = dataAt; at + frameBytes <= dataAt + dataLen; at += frameBytes) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += bits == 16 ? static_cast<qint16>(u16(at + 2 * c)) / 32768.0f
                              : (static_cast<quint8>(data[at + c]) - 128) / 128.0f;
        out.samples.push_back(sum / channels);
    }
    return out;
}

std::string LineControlName(const SimLineConfig& line, const char* what) {
    return (line.name + " " + what).substr(0, MIXER_LONG_NAME_CHARS - 1);
}

bool IsPcmFormatFor(const WAVEFORMATEX& f, WORD maxChannels) {
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= maxChannels &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1000 &&
           f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

thread_local std::vector<const void*> tlsDelivering; // streams this thread is reporting for
} // namespace

// ---- Shared state -------------------------------------------------------------------------------

class SimMixer;

struct SimCard {
    SimCardConfig cfg;
    bool present = true;
    MMRESULT outFault = MMSYSERR_NOERROR, inFault = MMSYSERR_NOERROR;
    std::shared_ptr<SimMixer> mixer; // none without destinations
    MixerDesc desc;                  // built once; target device ids filled per query
    std::map<DWORD, std::vector<LONG>> values;
    // The controls the sound depends on.
    DWORD waveVolume = kNoControl, waveMute = kNoControl, wavePeak = kNoControl;
    DWORD micVolume = kNoControl, micMute = kNoControl, recordList = kNoControl;
    int micItem = -1;
    // Output peak (0..32767 per channel) held for one meter period.
    LONG stepPeak[2]{}, heldPeak[2]{};
    std::uint64_t heldAt[2]{};
    std::vector<std::uint8_t> played;
    WaveSignal wave;
};

struct StreamState {
    SimCard* card = nullptr;
    WAVEFORMATEX format{};
    IWaveEvents* events = nullptr;
    std::deque<WAVEHDR*> queue;
    DWORD offset = 0;        // bytes done of the front buffer
    std::uint64_t bytes = 0; // bytes played or recorded since open or reset
    std::uint64_t carry = 0; // fraction of a frame left from the last step (x 1e6)
    bool closed = false, gone = false;
    int delivering = 0;
    // Output: paused. Input: started, and the signal's phase.
    bool paused = false, started = false;
    double phase = 0;
};

class SimCore {
public:
    std::mutex lock;
    std::condition_variable delivered;
    std::vector<std::shared_ptr<SimCard>> cards; // every card ever added; present ones count
    std::vector<std::shared_ptr<StreamState>> outs, ins;
    bool waveMapper = true;
    bool keepPlayed = false;
    std::uint64_t now = 0;
    // Tells the real-time clock that a stream has work from now on (a buffer queued where none
    // was, a start or a restart). Called with the lock held (the clock thread never takes it
    // while holding its own); cleared when the backend goes, as streams may outlive it.
    std::function<void()> wakeClock;

    // Milliseconds until the next buffer fills or finishes playing (at most limit). Lock held.
    std::uint32_t MsToNextEvent(std::uint32_t limit) const {
        std::uint64_t next = limit;
        auto consider = [&](const StreamState& s) {
            const WAVEHDR* h = s.queue.front();
            const std::uint64_t left =
                h->dwBufferLength > s.offset ? h->dwBufferLength - s.offset : 0;
            const std::uint64_t perSecond =
                static_cast<std::uint64_t>(s.format.nSamplesPerSec) * s.format.nBlockAlign;
            if (perSecond) next = std::min(next, (left * 1000 + perSecond - 1) / perSecond);
        };
        for (const auto& s : outs)
            if (!s->closed && !s->gone && !s->paused && !s->queue.empty()) consider(*s);
        for (const auto& s : ins)
            if (!s->closed && !s->gone && s->started && !s->queue.empty()) consider(*s);
        return static_cast<std::uint32_t>(std::max<std::uint64_t>(next, 1));
    }

    template <class Pred> std::vector<SimCard*> Present(Pred pred) {
        std::vector<SimCard*> out;
        for (auto& c : cards)
            if (c->present && pred(*c)) out.push_back(c.get());
        return out;
    }
    std::vector<SimCard*> OutCards() {
        return Present([](const SimCard& c) { return c.cfg.waveOut; });
    }
    std::vector<SimCard*> InCards() {
        return Present([](const SimCard& c) { return c.cfg.waveIn; });
    }
    std::vector<SimCard*> MixerCards() {
        return Present([](const SimCard& c) { return c.mixer != nullptr; });
    }
    static int IndexOf(const std::vector<SimCard*>& list, const SimCard* card) {
        auto it = std::find(list.begin(), list.end(), card);
        return it == list.end() ? -1 : static_cast<int>(it - list.begin());
    }
    SimCard* FindCard(const std::string& name) {
        for (auto& c : cards)
            if (c->present && c->cfg.name == name) return c.get();
        return nullptr;
    }

    LONG Value(const SimCard& card, DWORD control, std::size_t index) const {
        auto it = card.values.find(control);
        if (it == card.values.end() || index >= it->second.size()) return 0;
        return it->second[index];
    }

    // What the microphone of the card contributes to its recording: volume, mute and selection.
    double MicGain(const SimCard& card) const {
        if (card.micVolume == kNoControl) return 1.0;
        double gain = Value(card, card.micVolume, 0) / 65535.0;
        if (card.micMute != kNoControl && Value(card, card.micMute, 0)) gain = 0;
        if (card.recordList != kNoControl && card.micItem >= 0 &&
            !Value(card, card.recordList, static_cast<std::size_t>(card.micItem)))
            gain = 0;
        return gain;
    }
    double WaveGain(const SimCard& card, int channel) const {
        if (card.waveVolume == kNoControl) return 1.0;
        if (card.waveMute != kNoControl && Value(card, card.waveMute, 0)) return 0;
        auto it = card.values.find(card.waveVolume);
        if (it == card.values.end() || it->second.empty()) return 1.0;
        const auto& v = it->second;
        return v[std::min<std::size_t>(static_cast<std::size_t>(channel), v.size() - 1)] / 65535.0;
    }

    struct Pending {
        std::shared_ptr<StreamState> stream;
        std::vector<WAVEHDR*> done;
    };
    // Reports finished buffers without holding the lock (callbacks may call back into the API).
    void Report(std::unique_lock<std::mutex>& g, std::vector<Pending>& pending) {
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [](const Pending& p) { return p.done.empty(); }),
                      pending.end());
        if (pending.empty()) return;
        for (auto& p : pending)
            ++p.stream->delivering;
        g.unlock();
        for (auto& p : pending) {
            tlsDelivering.push_back(p.stream.get());
            for (WAVEHDR* h : p.done)
                if (IWaveEvents* events = p.stream->events) // none once closed from a callback
                    events->BufferDone(h);
            tlsDelivering.pop_back();
        }
        g.lock();
        for (auto& p : pending)
            --p.stream->delivering;
        delivered.notify_all();
    }

    // Takes every queued buffer of the stream as done (input: with what it holds).
    static std::vector<WAVEHDR*> Drain(StreamState& s, bool input) {
        std::vector<WAVEHDR*> done(s.queue.begin(), s.queue.end());
        if (input && !done.empty()) done.front()->dwBytesRecorded = s.offset;
        s.queue.clear();
        s.offset = 0;
        return done;
    }

    // Closes a stream: reports what it still held, then waits until no other thread is reporting
    // for it, so no callback runs after Close returns.
    void CloseStream(const std::shared_ptr<StreamState>& s, bool input) {
        std::unique_lock g(lock);
        if (s->closed) return;
        s->closed = true;
        std::vector<Pending> pending{{s, Drain(*s, input)}};
        Report(g, pending);
        const int mine =
            static_cast<int>(std::count(tlsDelivering.begin(), tlsDelivering.end(), s.get()));
        delivered.wait(g, [&] { return s->delivering <= mine; });
        // Closed from inside a report of this stream on this thread: the rest of that report
        // must not reach the events, which the caller may free as soon as Close returns.
        s->events = nullptr;
        auto& list = input ? ins : outs;
        list.erase(std::remove(list.begin(), list.end(), s), list.end());
    }

    void Step(std::vector<Pending>& pending);
    void StepOutput(StreamState& s, std::vector<WAVEHDR*>& done);
    void StepInput(StreamState& s, std::vector<WAVEHDR*>& done);
};

// ---- Mixer --------------------------------------------------------------------------------------

class SimMixer : public IMixerDevice {
public:
    SimMixer(std::weak_ptr<SimCore> core, SimCard* card) : core_(std::move(core)), card_(card) {}

    bool Present() const override {
        auto core = core_.lock();
        if (!core) return false;
        std::lock_guard g(core->lock);
        return card_->present;
    }
    MMRESULT GetId(UINT* id) const override {
        auto core = core_.lock();
        if (!core) return MMSYSERR_NODRIVER;
        std::lock_guard g(core->lock);
        const int i = SimCore::IndexOf(core->MixerCards(), card_);
        if (i < 0) return MMSYSERR_NODRIVER;
        *id = static_cast<UINT>(i);
        return MMSYSERR_NOERROR;
    }
    MixerDesc Description() const override {
        auto core = core_.lock();
        if (!core) return {};
        std::lock_guard g(core->lock);
        MixerDesc d = card_->desc;
        const int out = SimCore::IndexOf(core->OutCards(), card_);
        const int in = SimCore::IndexOf(core->InCards(), card_);
        auto fix = [&](MixerLineDesc& l) {
            if (l.targetType == MIXERLINE_TARGETTYPE_WAVEOUT) l.targetDeviceId = std::max(out, 0);
            if (l.targetType == MIXERLINE_TARGETTYPE_WAVEIN) l.targetDeviceId = std::max(in, 0);
        };
        for (auto& dst : d.destinations) {
            fix(dst);
            for (auto& src : dst.sources)
                fix(src);
        }
        return d;
    }
    MMRESULT GetValues(DWORD controlId, std::vector<LONG>& values) override {
        auto core = core_.lock();
        if (!core) return MMSYSERR_NODRIVER;
        std::lock_guard g(core->lock);
        if (!card_->present) return MMSYSERR_NODRIVER;
        if (controlId == card_->wavePeak) {
            values = {card_->heldPeak[0], card_->heldPeak[1]};
            return MMSYSERR_NOERROR;
        }
        auto it = card_->values.find(controlId);
        if (it == card_->values.end()) return MIXERR_INVALCONTROL;
        values = it->second;
        return MMSYSERR_NOERROR;
    }
    MMRESULT SetValues(DWORD controlId, const std::vector<LONG>& values) override {
        auto core = core_.lock();
        if (!core) return MMSYSERR_NODRIVER;
        {
            std::lock_guard g(core->lock);
            if (!card_->present) return MMSYSERR_NODRIVER;
            if (controlId == card_->wavePeak) return MMSYSERR_NOTSUPPORTED;
            auto it = card_->values.find(controlId);
            if (it == card_->values.end()) return MIXERR_INVALCONTROL;
            if (values.size() != it->second.size()) return MMSYSERR_INVALPARAM;
            it->second = values;
        }
        // Like a real mixer, every write is announced to every open handle.
        NotifyMixerControlChange(this, controlId);
        return MMSYSERR_NOERROR;
    }

private:
    std::weak_ptr<SimCore> core_;
    SimCard* card_;
};

namespace {
// Builds the mixer of a card: lines numbered as real drivers do (destination d: 0xFFFF0000 | d;
// source s of destination d: (s << 16) | d), control ids counted up through the mixer.
void BuildMixer(SimCard& card) {
    const auto& cfg = card.cfg;
    MixerDesc& d = card.desc;
    d.mid = cfg.manufacturerId;
    d.pid = cfg.productId;
    d.version = cfg.driverVersion;
    d.name = cfg.name;
    DWORD nextId = 0;
    auto target = [&](MixerLineDesc& l, DWORD type) {
        if ((type == MIXERLINE_TARGETTYPE_WAVEOUT && !cfg.waveOut) ||
            (type == MIXERLINE_TARGETTYPE_WAVEIN && !cfg.waveIn))
            return;
        l.targetType = type;
        l.targetMid = cfg.manufacturerId;
        l.targetPid = cfg.productId;
        l.targetVersion = cfg.driverVersion;
        l.targetName = cfg.name;
    };
    auto addControls = [&](const SimLineConfig& lc, MixerLineDesc& l) {
        for (const auto& name : lc.controls) {
            MixerControlDesc c;
            c.id = nextId++;
            if (name == "Volume") {
                c.type = MIXERCONTROL_CONTROLTYPE_VOLUME;
                c.shortName = "Volume";
                c.name = LineControlName(lc, "Volume");
                c.minimum = 0;
                c.maximum = kVolumeMaximum;
                c.steps = kVolumeSteps;
                card.values[c.id] = std::vector<LONG>(lc.channels, lc.volume);
            } else if (name == "Mute") {
                c.type = MIXERCONTROL_CONTROLTYPE_MUTE;
                c.flags = MIXERCONTROL_CONTROLF_UNIFORM;
                c.shortName = "Mute";
                c.name = LineControlName(lc, "Mute");
                c.maximum = 1;
                card.values[c.id] = {lc.mute ? 1 : 0};
            } else if (name == "PeakMeter") {
                c.type = MIXERCONTROL_CONTROLTYPE_PEAKMETER;
                c.shortName = "Peak";
                c.name = LineControlName(lc, "Peak Meter");
                c.minimum = -32768;
                c.maximum = 32767;
            } else { // "Mux" or "Mixer": a list over the destination's sources
                const bool mux = name == "Mux";
                c.type = mux ? MIXERCONTROL_CONTROLTYPE_MUX : MIXERCONTROL_CONTROLTYPE_MIXER;
                c.flags = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
                c.shortName = mux ? "Mux" : "Mixer";
                c.name = LineControlName(lc, mux ? "Mux" : "Mixer");
                c.maximum = 1;
                std::vector<LONG> sel;
                for (std::size_t s = 0; s < lc.sources.size(); ++s) {
                    const auto& src = lc.sources[s];
                    c.items.push_back({static_cast<DWORD>((s << 16) | d.destinations.size()),
                                       src.componentType, src.name});
                    const bool on =
                        src.name == lc.selected && !(mux && std::count(sel.begin(), sel.end(), 1));
                    sel.push_back(on ? 1 : 0);
                }
                if (mux && !sel.empty() && !std::count(sel.begin(), sel.end(), 1)) sel[0] = 1;
                card.values[c.id] = sel;
            }
            l.controls.push_back(std::move(c));
        }
    };
    for (std::size_t di = 0; di < cfg.destinations.size(); ++di) {
        const auto& dc = cfg.destinations[di];
        MixerLineDesc dst;
        dst.destination = static_cast<DWORD>(di);
        dst.lineId = 0xFFFF0000u | static_cast<DWORD>(di);
        dst.flags = MIXERLINE_LINEF_ACTIVE;
        dst.componentType = dc.componentType;
        dst.channels = dc.channels;
        dst.name = dc.name;
        dst.shortName = dc.shortName;
        const bool recording = dc.componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN ||
                               dc.componentType == MIXERLINE_COMPONENTTYPE_DST_VOICEIN;
        target(dst, recording ? MIXERLINE_TARGETTYPE_WAVEIN : MIXERLINE_TARGETTYPE_WAVEOUT);
        addControls(dc, dst);
        for (std::size_t si = 0; si < dc.sources.size(); ++si) {
            const auto& sc = dc.sources[si];
            MixerLineDesc src;
            src.destination = static_cast<DWORD>(di);
            src.source = static_cast<DWORD>(si);
            src.lineId = static_cast<DWORD>((si << 16) | di);
            src.flags = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
            src.componentType = sc.componentType;
            src.channels = sc.channels;
            src.name = sc.name;
            src.shortName = sc.shortName;
            if (sc.componentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT)
                target(src, MIXERLINE_TARGETTYPE_WAVEOUT);
            addControls(sc, src);
            dst.sources.push_back(std::move(src));
        }
        d.destinations.push_back(std::move(dst));
    }
    // The controls the simulated sound follows.
    auto controlOf = [](const MixerLineDesc& l, DWORD type) {
        for (auto& c : l.controls)
            if (c.type == type) return c.id;
        return kNoControl;
    };
    for (auto& dst : d.destinations) {
        const bool recording = dst.componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
        for (std::size_t si = 0; si < dst.sources.size(); ++si) {
            const auto& src = dst.sources[si];
            if (src.componentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT &&
                card.waveVolume == kNoControl) {
                card.waveVolume = controlOf(src, MIXERCONTROL_CONTROLTYPE_VOLUME);
                card.waveMute = controlOf(src, MIXERCONTROL_CONTROLTYPE_MUTE);
                card.wavePeak = controlOf(src, MIXERCONTROL_CONTROLTYPE_PEAKMETER);
            }
            if (recording && src.componentType == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE &&
                card.micItem < 0) {
                card.micVolume = controlOf(src, MIXERCONTROL_CONTROLTYPE_VOLUME);
                card.micMute = controlOf(src, MIXERCONTROL_CONTROLTYPE_MUTE);
                card.recordList = controlOf(dst, MIXERCONTROL_CONTROLTYPE_MUX);
                if (card.recordList == kNoControl)
                    card.recordList = controlOf(dst, MIXERCONTROL_CONTROLTYPE_MIXER);
                card.micItem = static_cast<int>(si);
            }
        }
    }
}
} // namespace

// ---- Streams ------------------------------------------------------------------------------------

void SimCore::StepOutput(StreamState& s, std::vector<WAVEHDR*>& done) {
    const WAVEFORMATEX& f = s.format;
    const std::uint64_t scaled = kStepUs * f.nSamplesPerSec + s.carry;
    std::uint64_t budget = scaled / 1000000 * f.nBlockAlign;
    s.carry = scaled % 1000000;
    SimCard& card = *s.card;
    const int bytesPerSample = f.wBitsPerSample / 8;
    while (!s.queue.empty()) {
        WAVEHDR* h = s.queue.front();
        const DWORD left = h->dwBufferLength > s.offset ? h->dwBufferLength - s.offset : 0;
        if (left > 0 && budget > 0) {
            const DWORD n = static_cast<DWORD>(std::min<std::uint64_t>(left, budget));
            const auto* p = reinterpret_cast<const std::uint8_t*>(h->lpData) + s.offset;
            for (DWORD i = 0; i + bytesPerSample <= n; i += bytesPerSample) {
                const int ch = static_cast<int>(((s.offset + i) / bytesPerSample) % f.nChannels);
                const int v = bytesPerSample == 2
                                  ? std::abs(static_cast<int>(
                                        static_cast<std::int16_t>(p[i] | p[i + 1] << 8)))
                                  : std::abs((p[i] - 128) * 256);
                const LONG peak = static_cast<LONG>(std::min(32767.0, v * WaveGain(card, ch)));
                const int meter = f.nChannels == 1 ? -1 : std::min(ch, 1);
                for (int m = 0; m < 2; ++m)
                    if (meter < 0 || meter == m)
                        card.stepPeak[m] = std::max(card.stepPeak[m], peak);
            }
            if (keepPlayed) card.played.insert(card.played.end(), p, p + n);
            s.offset += n;
            s.bytes += n;
            budget -= n;
        }
        if (s.offset < h->dwBufferLength) break; // the budget of this step is spent
        s.queue.pop_front();
        s.offset = 0;
        done.push_back(h);
    }
}

void SimCore::StepInput(StreamState& s, std::vector<WAVEHDR*>& done) {
    const WAVEFORMATEX& f = s.format;
    const std::uint64_t scaled = kStepUs * f.nSamplesPerSec + s.carry;
    std::uint64_t frames = scaled / 1000000;
    s.carry = scaled % 1000000;
    SimCard& card = *s.card;
    const double gain = MicGain(card);
    const SimSignal& sig = card.cfg.signal;
    const double step = sig.kind == SimSignal::Kind::WaveFile
                            ? (card.wave.rate > 0 ? card.wave.rate / f.nSamplesPerSec : 0)
                            : 2 * std::numbers::pi * sig.frequency / f.nSamplesPerSec;
    for (; frames > 0; --frames) {
        double v = 0;
        switch (sig.kind) {
        case SimSignal::Kind::Silence:
            break;
        case SimSignal::Kind::Sine:
            v = sig.amplitude * std::sin(s.phase);
            s.phase = std::fmod(s.phase + step, 2 * std::numbers::pi);
            break;
        case SimSignal::Kind::WaveFile:
            if (!card.wave.samples.empty()) {
                v = sig.amplitude * card.wave.samples[static_cast<std::size_t>(s.phase)];
                s.phase += step;
                if (s.phase >= card.wave.samples.size()) s.phase = 0;
            }
            break;
        }
        v = std::clamp(v * gain, -1.0, 1.0);
        // Skip finished buffers; a frame that finds no buffer is lost (an overrun).
        while (!s.queue.empty() && s.queue.front()->dwBufferLength - s.offset < f.nBlockAlign) {
            s.queue.front()->dwBytesRecorded = s.offset;
            done.push_back(s.queue.front());
            s.queue.pop_front();
            s.offset = 0;
        }
        if (s.queue.empty()) continue;
        auto* p = reinterpret_cast<std::uint8_t*>(s.queue.front()->lpData) + s.offset;
        for (int c = 0; c < f.nChannels; ++c) {
            if (f.wBitsPerSample == 16) {
                const auto x = static_cast<std::int16_t>(std::lround(v * 32767));
                p[2 * c] = static_cast<std::uint8_t>(x & 0xFF);
                p[2 * c + 1] = static_cast<std::uint8_t>((x >> 8) & 0xFF);
            } else {
                p[c] = static_cast<std::uint8_t>(128 + std::lround(v * 127));
            }
        }
        s.offset += f.nBlockAlign;
        s.bytes += f.nBlockAlign;
        if (s.queue.front()->dwBufferLength - s.offset < f.nBlockAlign) {
            s.queue.front()->dwBytesRecorded = s.offset;
            done.push_back(s.queue.front());
            s.queue.pop_front();
            s.offset = 0;
        }
    }
}

void SimCore::Step(std::vector<Pending>& pending) {
    now += kStepUs;
    for (auto& c : cards)
        c->stepPeak[0] = c->stepPeak[1] = 0;
    for (auto& s : outs) {
        if (s->closed || s->gone || s->paused) continue;
        Pending p{s, {}};
        StepOutput(*s, p.done);
        if (!p.done.empty()) pending.push_back(std::move(p));
    }
    for (auto& s : ins) {
        if (s->closed || s->gone || !s->started) continue;
        Pending p{s, {}};
        StepInput(*s, p.done);
        if (!p.done.empty()) pending.push_back(std::move(p));
    }
    for (auto& c : cards)
        for (int m = 0; m < 2; ++m)
            if (c->stepPeak[m] >= c->heldPeak[m] || now - c->heldAt[m] >= kPeakHoldUs) {
                c->heldPeak[m] = c->stepPeak[m];
                c->heldAt[m] = now;
            }
}

namespace {
// What the wave output and input streams share: the handle checks, the position, the device
// index and closing. Input says which device list and which draining rule apply.
template <class Interface, bool Input> class SimStream : public Interface {
public:
    SimStream(std::shared_ptr<SimCore> core, std::shared_ptr<StreamState> s)
        : core_(std::move(core)), s_(std::move(s)) {}
    ~SimStream() override { core_->CloseStream(s_, Input); }

    MMRESULT Reset() override {
        std::unique_lock g(core_->lock);
        if (MMRESULT r = Check()) return r;
        std::vector<SimCore::Pending> pending{{s_, SimCore::Drain(*s_, Input)}};
        s_->bytes = 0;
        s_->carry = 0;
        // Output: a reset ends a pause, the next buffer plays at once. Input: recording stops.
        (Input ? s_->started : s_->paused) = false;
        core_->Report(g, pending);
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetPosition(std::uint64_t* frames) override {
        std::lock_guard g(core_->lock);
        if (MMRESULT r = Check()) return r;
        *frames = s_->bytes / s_->format.nBlockAlign;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetDeviceId(UINT* id) override {
        std::lock_guard g(core_->lock);
        if (MMRESULT r = Check()) return r;
        const auto list = Input ? core_->InCards() : core_->OutCards();
        *id = static_cast<UINT>(SimCore::IndexOf(list, s_->card));
        return MMSYSERR_NOERROR;
    }
    void Close() override { core_->CloseStream(s_, Input); }

protected:
    // Queues a buffer behind the others.
    MMRESULT Queue(WAVEHDR* hdr) {
        std::lock_guard g(core_->lock);
        if (MMRESULT r = Check()) return r;
        s_->queue.push_back(hdr);
        // The first buffer starts now, not when the clock next looks.
        if (s_->queue.size() == 1 && core_->wakeClock) core_->wakeClock();
        return MMSYSERR_NOERROR;
    }
    // Sets a flag of the stream (output: paused; input: started).
    MMRESULT SetFlag(bool StreamState::*flag, bool value) {
        std::lock_guard g(core_->lock);
        if (MMRESULT r = Check()) return r;
        s_.get()->*flag = value;
        if (core_->wakeClock) core_->wakeClock();
        return MMSYSERR_NOERROR;
    }
    MMRESULT Check() const {
        if (s_->closed) return MMSYSERR_INVALHANDLE;
        if (s_->gone) return MMSYSERR_NODRIVER;
        return MMSYSERR_NOERROR;
    }
    std::shared_ptr<SimCore> core_;
    std::shared_ptr<StreamState> s_;
};

class SimWaveOut : public SimStream<IWaveOutStream, false> {
public:
    using SimStream::SimStream;
    MMRESULT Write(WAVEHDR* hdr) override { return Queue(hdr); }
    MMRESULT Pause() override { return SetFlag(&StreamState::paused, true); }
    MMRESULT Restart() override { return SetFlag(&StreamState::paused, false); }
};

class SimWaveIn : public SimStream<IWaveInStream, true> {
public:
    using SimStream::SimStream;
    MMRESULT AddBuffer(WAVEHDR* hdr) override { return Queue(hdr); }
    MMRESULT Start() override { return SetFlag(&StreamState::started, true); }
    MMRESULT Stop() override {
        std::unique_lock g(core_->lock);
        if (MMRESULT r = Check()) return r;
        s_->started = false;
        std::vector<SimCore::Pending> pending{{s_, {}}};
        if (!s_->queue.empty() && s_->offset > 0) { // the partly filled buffer comes back
            s_->queue.front()->dwBytesRecorded = s_->offset;
            pending[0].done.push_back(s_->queue.front());
            s_->queue.pop_front();
            s_->offset = 0;
        }
        core_->Report(g, pending);
        return MMSYSERR_NOERROR;
    }
};
} // namespace

// ---- Backend ------------------------------------------------------------------------------------

SimBackend::SimBackend(SimConfig config) : core_(std::make_shared<SimCore>()) {
    core_->waveMapper = config.waveMapper;
    core_->wakeClock = [this] { WakeClock(); };
    for (const auto& card : config.cards)
        AddCard(card);
    built_ = true; // cards from now on come at run time and are announced
}

SimBackend::~SimBackend() {
    {
        std::lock_guard g(core_->lock);
        core_->wakeClock = nullptr;
    }
    StopRealTimeClock();
}

SimBackend* SimBackend::Current() {
    return dynamic_cast<SimBackend*>(&AudioBackend());
}

void SimBackend::Advance(std::uint32_t ms) {
    std::lock_guard a(advanceLock_);
    for (std::uint32_t i = 0; i < ms; ++i) {
        std::unique_lock g(core_->lock);
        std::vector<SimCore::Pending> pending;
        core_->Step(pending);
        core_->Report(g, pending);
    }
}

std::uint64_t SimBackend::Now() const {
    std::lock_guard g(core_->lock);
    return core_->now;
}

void SimBackend::StartRealTimeClock(std::uint32_t stepMs) {
    if (clock_.joinable() && clock_.get_id() == std::this_thread::get_id()) return; // runs: us
    StopRealTimeClock();
    {
        std::lock_guard g(clockLock_);
        clockStop_ = false;
    }
    stepMs = std::max<std::uint32_t>(stepMs, 1);
    clock_ = std::thread([this, stepMs] {
        // While no stream is open (and for a while after the last one closed, so held meter
        // values run out) the clock sleeps until a stream opens, instead of ticking for nothing.
        constexpr std::uint64_t kIdleAfterUs = 200 * kStepUs;
        // Between buffer events the clock sleeps: it advances to the next buffer that fills or
        // finishes (at least stepMs, at most this much at a time), and a stream that gets work
        // meanwhile wakes it to catch up to real time first.
        const std::uint32_t maxChunk = std::max<std::uint32_t>(stepMs, 100);
        auto start = std::chrono::steady_clock::now();
        std::uint64_t advanced = 0; // ms advanced since start
        std::uint64_t busyAt = Now();
        for (;;) {
            clockWoken_ = false;
            bool idle = false;
            std::uint32_t chunk = stepMs;
            {
                std::lock_guard c(core_->lock);
                if (!core_->outs.empty() || !core_->ins.empty()) busyAt = core_->now;
                idle = core_->now - busyAt >= kIdleAfterUs;
                chunk = std::clamp(core_->MsToNextEvent(maxChunk), stepMs, maxChunk);
            }
            std::unique_lock g(clockLock_);
            if (idle) {
                clockSleeping_ = true;
                clockWake_.wait(g, [&] { return clockStop_ || clockWoken_.load(); });
                clockSleeping_ = false;
                if (clockStop_) return;
                start = std::chrono::steady_clock::now(); // no catching up the time slept
                advanced = 0;
                g.unlock();
                busyAt = Now();
                continue;
            }
            const bool woken =
                clockWake_.wait_until(g, start + (advanced + chunk) * std::chrono::milliseconds(1),
                                      [&] { return clockStop_ || clockWoken_.load(); });
            if (clockStop_) return;
            g.unlock();
            std::uint64_t target = advanced + chunk;
            if (woken) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start);
                target =
                    std::min<std::uint64_t>(target, static_cast<std::uint64_t>(elapsed.count()));
            }
            if (target > advanced) Advance(static_cast<std::uint32_t>(target - advanced));
            advanced = std::max(advanced, target);
        }
    });
}

void SimBackend::WakeClock() {
    clockWoken_ = true;
    std::lock_guard g(clockLock_);
    clockWake_.notify_all();
}

void SimBackend::StopRealTimeClock() {
    {
        std::lock_guard g(clockLock_);
        clockStop_ = true;
    }
    clockWake_.notify_all();
    // Asked from a callback on the clock thread: the thread ends after this step; joined later.
    if (clock_.joinable() && clock_.get_id() != std::this_thread::get_id()) clock_.join();
}

void SimBackend::AddCard(const SimCardConfig& cfg) {
    auto card = std::make_shared<SimCard>();
    card->cfg = cfg;
    if (cfg.signal.kind == SimSignal::Kind::WaveFile) card->wave = LoadWaveSignal(cfg.signal.file);
    if (!cfg.destinations.empty()) {
        BuildMixer(*card);
        card->mixer = std::make_shared<SimMixer>(core_, card.get());
    }
    {
        std::lock_guard g(core_->lock);
        core_->cards.push_back(std::move(card));
    }
    if (built_) NotifyAudioDevicesChanged();
}

bool SimBackend::RemoveCard(const std::string& name) {
    {
        std::unique_lock g(core_->lock);
        SimCard* card = core_->FindCard(name);
        if (!card) return false;
        card->present = false;
        // Buffers queued on the card's devices come back done; the handles stay, failing.
        std::vector<SimCore::Pending> pending;
        for (auto* list : {&core_->outs, &core_->ins})
            for (auto& s : *list)
                if (s->card == card && !s->closed) {
                    s->gone = true;
                    pending.push_back({s, SimCore::Drain(*s, list == &core_->ins)});
                }
        core_->Report(g, pending);
    }
    NotifyAudioDevicesChanged();
    return true;
}

std::vector<std::string> SimBackend::CardNames() const {
    std::lock_guard g(core_->lock);
    std::vector<std::string> names;
    for (auto* c : core_->Present([](const SimCard&) { return true; }))
        names.push_back(c->cfg.name);
    return names;
}

void SimBackend::SetOpenFault(const std::string& name, Direction direction, MMRESULT code) {
    std::lock_guard g(core_->lock);
    if (SimCard* c = core_->FindCard(name))
        (direction == Direction::Output ? c->outFault : c->inFault) = code;
}

void SimBackend::SetSignal(const std::string& name, const SimSignal& signal) {
    WaveSignal wave;
    if (signal.kind == SimSignal::Kind::WaveFile) wave = LoadWaveSignal(signal.file);
    std::lock_guard g(core_->lock);
    if (SimCard* c = core_->FindCard(name)) {
        c->cfg.signal = signal;
        c->wave = std::move(wave);
        for (auto& s : core_->ins)
            if (s->card == c) s->phase = 0;
    }
}

void SimBackend::SetKeepPlayed(bool keep) {
    std::lock_guard g(core_->lock);
    core_->keepPlayed = keep;
}

std::vector<std::uint8_t> SimBackend::TakePlayed(const std::string& name) {
    std::lock_guard g(core_->lock);
    std::vector<std::uint8_t> out;
    for (auto& c : core_->cards)
        if (c->cfg.name == name) out.swap(c->played);
    return out;
}

UINT SimBackend::WaveOutCount() {
    std::lock_guard g(core_->lock);
    return static_cast<UINT>(core_->OutCards().size());
}

UINT SimBackend::WaveInCount() {
    std::lock_guard g(core_->lock);
    return static_cast<UINT>(core_->InCards().size());
}

UINT SimBackend::MixerCount() {
    std::lock_guard g(core_->lock);
    return static_cast<UINT>(core_->MixerCards().size());
}

namespace {
// Fills the head every capability record shares.
template <class Caps>
void FillHead(Caps* caps, WORD mid, WORD pid, MMVERSION ver, const std::string& name) {
    caps->wMid = mid;
    caps->wPid = pid;
    caps->vDriverVersion = ver;
    std::memset(caps->szPname, 0, sizeof caps->szPname);
    std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname - 1));
}

// The card a wave id names; the mapper stands for the first device.
SimCard* CardFor(const std::vector<SimCard*>& list, bool mapper, UINT id, MMRESULT* error) {
    if (list.empty()) {
        *error = id == WAVE_MAPPER ? MMSYSERR_BADDEVICEID : MMSYSERR_NODRIVER;
        return nullptr;
    }
    if (id == WAVE_MAPPER) {
        if (mapper) return list.front();
        *error = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    if (id >= list.size()) {
        *error = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    return list[id];
}
} // namespace

namespace {
DWORD Formats(const SimCard& c, bool input) {
    return input ? c.cfg.inFormats : c.cfg.outFormats;
}
WORD Channels(const SimCard& c, bool input) {
    return input ? c.cfg.inChannels : c.cfg.outChannels;
}

// Capabilities of a wave device; the mapper offers what any of the devices offers.
template <class Caps>
MMRESULT WaveCaps(const std::vector<SimCard*>& list, bool mapper, UINT id, bool input, Caps* caps) {
    MMRESULT error = MMSYSERR_NOERROR;
    SimCard* card = CardFor(list, mapper, id, &error);
    if (!card) return error == MMSYSERR_NODRIVER ? MMSYSERR_BADDEVICEID : error;
    *caps = {};
    if (id == WAVE_MAPPER) {
        FillHead(caps, 1, input ? 3 : 2, 0x0500, "Sound Mapper");
        for (auto* c : list) {
            caps->dwFormats |= Formats(*c, input);
            caps->wChannels = std::max(caps->wChannels, Channels(*c, input));
        }
    } else {
        FillHead(caps, card->cfg.manufacturerId, card->cfg.productId, card->cfg.driverVersion,
                 card->cfg.name);
        caps->dwFormats = Formats(*card, input);
        caps->wChannels = Channels(*card, input);
    }
    return MMSYSERR_NOERROR;
}

// Opens a wave stream of a card (under the core's lock). Null with the result when refused, and
// for a format query, which only checks.
std::shared_ptr<StreamState> OpenStream(SimCore& core, bool input, UINT id,
                                        const WAVEFORMATEX& format, DWORD flags,
                                        IWaveEvents* events, MMRESULT* result) {
    *result = MMSYSERR_NOERROR;
    SimCard* card = CardFor(input ? core.InCards() : core.OutCards(), core.waveMapper, id, result);
    if (!card) return nullptr;
    const MMRESULT fault = input ? card->inFault : card->outFault;
    if (fault == WAVERR_BADFORMAT || !IsPcmFormatFor(format, Channels(*card, input))) {
        *result = WAVERR_BADFORMAT;
        return nullptr;
    }
    if (flags & WAVE_FORMAT_QUERY) return nullptr;
    if (fault != MMSYSERR_NOERROR) {
        *result = fault;
        return nullptr;
    }
    auto s = std::make_shared<StreamState>();
    s->card = card;
    s->format = format;
    s->format.cbSize = 0;
    s->events = events;
    (input ? core.ins : core.outs).push_back(s);
    return s;
}
} // namespace

MMRESULT SimBackend::WaveOutCaps(UINT id, WAVEOUTCAPSA* caps) {
    std::lock_guard g(core_->lock);
    const MMRESULT r = WaveCaps(core_->OutCards(), core_->waveMapper, id, false, caps);
    if (r == MMSYSERR_NOERROR)
        caps->dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
    return r;
}

MMRESULT SimBackend::WaveInCaps(UINT id, WAVEINCAPSA* caps) {
    std::lock_guard g(core_->lock);
    return WaveCaps(core_->InCards(), core_->waveMapper, id, true, caps);
}

MMRESULT SimBackend::OpenWaveOut(UINT id, const WAVEFORMATEX& format, DWORD flags,
                                 IWaveEvents* events, std::unique_ptr<IWaveOutStream>* stream) {
    MMRESULT r = MMSYSERR_NOERROR;
    {
        std::lock_guard g(core_->lock);
        if (auto s = OpenStream(*core_, false, id, format, flags, events, &r))
            *stream = std::make_unique<SimWaveOut>(core_, std::move(s));
    }
    if (stream && *stream) WakeClock();
    return r;
}

MMRESULT SimBackend::OpenWaveIn(UINT id, const WAVEFORMATEX& format, DWORD flags,
                                IWaveEvents* events, std::unique_ptr<IWaveInStream>* stream) {
    MMRESULT r = MMSYSERR_NOERROR;
    {
        std::lock_guard g(core_->lock);
        if (auto s = OpenStream(*core_, true, id, format, flags, events, &r))
            *stream = std::make_unique<SimWaveIn>(core_, std::move(s));
    }
    if (stream && *stream) WakeClock();
    return r;
}

std::shared_ptr<IMixerDevice> SimBackend::Mixer(UINT id) {
    std::lock_guard g(core_->lock);
    const auto list = core_->MixerCards();
    if (id >= list.size()) return nullptr;
    return list[id]->mixer;
}

MMRESULT SimBackend::MixerIdOf(DWORD objectType, UINT id, UINT* mixerId) {
    std::lock_guard g(core_->lock);
    std::vector<SimCard*> list;
    if (objectType == MIXER_OBJECTF_WAVEOUT)
        list = core_->OutCards();
    else if (objectType == MIXER_OBJECTF_WAVEIN)
        list = core_->InCards();
    else
        return MMSYSERR_NODRIVER; // no MIDI or aux devices
    MMRESULT error = MMSYSERR_NOERROR;
    SimCard* card = CardFor(list, core_->waveMapper, id, &error);
    if (!card) return error;
    const int mx = SimCore::IndexOf(core_->MixerCards(), card);
    if (mx < 0) return MMSYSERR_NODRIVER;
    *mixerId = static_cast<UINT>(mx);
    return MMSYSERR_NOERROR;
}

std::unique_ptr<IAudioBackend> CreateSimAudioBackend() {
    auto sim = std::make_unique<SimBackend>();
    // The program runs the simulation at real time; tests that drive the clock install their own.
    if (qgetenv("AVSETUP_SIM_CLOCK") != "manual") sim->StartRealTimeClock();
    return sim;
}
