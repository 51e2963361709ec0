#include "platform/pulse/PulseWave.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {
constexpr int kOpenTimeoutMs = 2000;
// The device's own buffer the stream asks for: it bounds how late MM_WOM_DONE can be and how soon
// a new stream is heard.
constexpr pa_usec_t kDeviceLatencyUs = 20 * PA_USEC_PER_MSEC;
// The server sends a request for more data every time this much has played, whatever is queued
// ahead: each is a wake-up of both processes, so they come four times a second. The stream's
// target length is the device latency plus twice this (the server derives the device latency
// from the two), and what is queued beyond it is held, not played sooner.
constexpr pa_usec_t kRequestEveryUs = 250 * PA_USEC_PER_MSEC;
// Queued buffers are handed to the server as soon as they are written, up to this far ahead of
// the ear: one request per buffer instead of one per server request, which is what costs (every
// message to or from the server is a wake-up of both processes). The server keeps what is ahead
// of its own latency in the stream's queue, so this adds no latency.
constexpr pa_usec_t kWriteAheadUs = 1000 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRecordFragmentUs = 20 * PA_USEC_PER_MSEC;
// A buffer is reported done once the server holds all of it and its end is within this lead of
// being heard, as a wave driver hands a buffer back once it no longer needs the memory: the
// application refills while plenty is still queued, so only a few done checks a second are needed
// and none has to come on time. The last buffer queued is the exception: it is reported when it
// has been heard, so "everything played" (the automatic stop at the end of a file, the position
// at that moment) still means heard.
constexpr pa_usec_t kEarlyDoneLeadUs = 300 * PA_USEC_PER_MSEC;
// Early reports are gathered: a done check comes at most this often while the first buffer due is
// due already, and sooner when the application keeps less queued (a check cannot give back more
// than every buffer but the last, and each must give back what has been played since the one
// before, or the server runs dry).
constexpr pa_usec_t kEarlyDoneBatchUs = 125 * PA_USEC_PER_MSEC;
// Done checks are timed for the moment the next buffer is due, but come at most every kDoneGapUs:
// buffers then come back several at a time, in one wake-up of each thread instead of one per
// buffer.
constexpr pa_usec_t kDoneGapUs = 25 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kMinDoneCheckUs = 2 * PA_USEC_PER_MSEC;
// A buffer written from another thread waits for the next done check, which hands it over
// without waking the loop thread once more, while the server still holds this much beyond that
// check.
constexpr pa_usec_t kWriteNowBelowUs = 60 * PA_USEC_PER_MSEC;
// While the server's last report says the stream is not playing (starting, resuming, run dry) the
// interpolated position stands still: check this often, with fresh timing every other check.
constexpr pa_usec_t kStalledCheckUs = 10 * PA_USEC_PER_MSEC;
// The interpolation is corrected from the server at least this often while playing.
constexpr pa_usec_t kTimingRefreshUs = 500 * PA_USEC_PER_MSEC;

void Unref(pa_operation* op) {
    if (op) pa_operation_unref(op);
}

void Report(IWaveEvents* events, const std::vector<WAVEHDR*>& done) {
    for (WAVEHDR* h : done)
        events->BufferDone(h);
}

// A stream of spec's format with the default channel layout; null when the server refuses it.
pa_stream* NewStream(PulseContext& ctx, const char* name, const pa_sample_spec& spec) {
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    return pa_stream_new(ctx.Context(), name, &spec, &map);
}

// Waits (bounded) until the server accepted or refused a connecting stream. Main-loop lock held.
bool WaitReady(PulseContext& ctx, pa_stream* stream) {
    ctx.WaitFor(
        [stream] {
            const auto s = pa_stream_get_state(stream);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        },
        kOpenTimeoutMs);
    return pa_stream_get_state(stream) == PA_STREAM_READY;
}

// A stream let go while the server was still creating it: it cannot be disconnected before the
// server has answered, and once it has, it would stay on the server (uncorked, silent) with
// nobody to end it. It ends as soon as it is ready; the reference taken in ReleaseStream goes
// with it. Loop thread.
void DisconnectOnceCreated(pa_stream* stream, void*) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_CREATING) return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    if (state == PA_STREAM_READY) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

// Detaches the callbacks, disconnects and lets go of the stream. Main-loop lock held.
void ReleaseStream(pa_stream*& stream) {
    if (!stream) return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_CREATING) {
        // Our reference passes to the callback, which disconnects once the server has answered.
        pa_stream_set_state_callback(stream, &DisconnectOnceCreated, nullptr);
        stream = nullptr;
        return;
    }
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

// GetDeviceId of a stream on the server's default (no index) or on a chosen device, numbered by
// its place in the list (position; false once the device has gone).
MMRESULT DeviceIdOf(const PulseContext& ctx,
                    bool (PulseContext::*position)(std::uint32_t, UINT*) const, std::uint32_t index,
                    UINT* id) {
    if (index == PA_INVALID_INDEX) {
        *id = WAVE_MAPPER;
        return MMSYSERR_NOERROR;
    }
    return (ctx.*position)(index, id) ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}
} // namespace

bool PulseSpecOf(const WAVEFORMATEX& f, pa_sample_spec* spec) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
    if (f.nChannels < 1 || f.nChannels > 2) return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
    if (f.nSamplesPerSec < 1000 || f.nSamplesPerSec > 192000) return false;
    const DWORD align = f.nChannels * f.wBitsPerSample / 8;
    if (f.nBlockAlign != align || f.nAvgBytesPerSec != f.nSamplesPerSec * align) return false;
    spec->format = f.wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec->channels = static_cast<std::uint8_t>(f.nChannels);
    spec->rate = f.nSamplesPerSec;
    return pa_sample_spec_valid(spec) != 0;
}

// ---- Both ---------------------------------------------------------------------------------------

template <class Interface>
PulseStream<Interface>::PulseStream(std::shared_ptr<PulseContext> ctx, const pa_sample_spec& spec,
                                    std::string device, std::uint32_t index, IWaveEvents* events)
    : ctx_(std::move(ctx)), spec_(spec), device_(std::move(device)), index_(index),
      events_(events) {}

template <class Interface> MMRESULT PulseStream<Interface>::Open() {
    PulseLock l(*ctx_);
    if (!ctx_->Context() || !CreateStream()) return MMSYSERR_NODRIVER;
    if (!WaitReady(*ctx_, stream_)) {
        DropStream();
        return MMSYSERR_NODRIVER;
    }
    ctx_->AddListener(this);
    return MMSYSERR_NOERROR;
}

template <class Interface> void PulseStream<Interface>::DropStream() {
    ReleaseStream(stream_);
}

template <class Interface> void PulseStream<Interface>::Release() {
    PulseLock l(*ctx_);
    ctx_->RemoveListener(this);
    DropStream();
}

template <class Interface>
MMRESULT PulseStream<Interface>::GiveBack(const std::function<std::vector<WAVEHDR*>()>& take) {
    std::vector<WAVEHDR*> done;
    {
        PulseLock l(*ctx_);
        if (gone_) return MMSYSERR_NODRIVER;
        done = take();
    }
    Report(events_, done);
    return gone_ ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

template <class Interface> void PulseStream<Interface>::Fail() {
    gone_ = true;
    const std::vector<WAVEHDR*> done = TakeQueue();
    DropStream();
    Report(events_, done);
}

template <class Interface> MMRESULT PulseStream<Interface>::GetPosition(std::uint64_t* frames) {
    PulseLock l(*ctx_);
    if (gone_) return MMSYSERR_NODRIVER;
    *frames = Bytes() / pa_frame_size(&spec_);
    return MMSYSERR_NOERROR;
}

template <class Interface> MMRESULT PulseStream<Interface>::GetDeviceId(UINT* id) {
    if (gone_) return MMSYSERR_NODRIVER;
    constexpr bool kOutput = std::is_same_v<Interface, IWaveOutStream>;
    return DeviceIdOf(*ctx_, kOutput ? &PulseContext::SinkPosition : &PulseContext::SourcePosition,
                      index_, id);
}

template <class Interface> void PulseStream<Interface>::Close() {
    std::vector<WAVEHDR*> done;
    {
        PulseLock l(*ctx_);
        if (closed_) return;
        closed_ = true;
        ctx_->RemoveListener(this);
        done = TakeQueue();
        DropStream();
    }
    Report(events_, done);
}

template class PulseStream<IWaveOutStream>;
template class PulseStream<IWaveInStream>;

// ---- Output -------------------------------------------------------------------------------------

PulseWaveOut::~PulseWaveOut() {
    Release();
}

bool PulseWaveOut::CreateStream() {
    stream_ = NewStream(*ctx_, "Wave output", spec_);
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_, &PulseWaveOut::OnState, this);
    pa_stream_set_write_callback(stream_, &PulseWaveOut::OnWrite, this);
    pa_stream_set_underflow_callback(stream_, &PulseWaveOut::OnUnderflow, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(
        pa_usec_to_bytes(kDeviceLatencyUs + 2 * kRequestEveryUs, &spec_));
    // The server starts with the first frame and, after running dry, waits for the next, so an
    // underrun pauses the stream instead of skipping what comes next; a short last buffer plays
    // without a trigger. Should the server insist on more, Pump triggers.
    attr.prebuf = static_cast<std::uint32_t>(pa_frame_size(&spec_));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestEveryUs, &spec_));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // Timing is asked for when it is needed (a refresh every kTimingRefreshUs while playing); the
    // library's own updates would come several times a second at the start of every stream.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING);
    // A chosen device that goes away ends the stream rather than moving it elsewhere.
    if (!device_.empty()) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    const WaveOutLevel level = ctx_->GetWaveOutLevel(device_.empty() ? SinkName() : device_);
    if (level.mute) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_MUTED);
    if (paused_) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    pa_cvolume volume;
    pa_cvolume_set(&volume, spec_.channels,
                   LevelToPulse(level.volume.empty() ? 0xFFFF : level.volume[0]));
    if (spec_.channels == 2 && level.volume.size() >= 2) {
        volume.values[0] = LevelToPulse(level.volume[0]);
        volume.values[1] = LevelToPulse(level.volume[1]);
    } else if (!level.volume.empty()) {
        volume.values[0] =
            LevelToPulse(*std::max_element(level.volume.begin(), level.volume.end()));
    }
    if (pa_stream_connect_playback(stream_, device_.empty() ? nullptr : device_.c_str(), &attr,
                                   flags, &volume, nullptr) < 0) {
        DropStream();
        return false;
    }
    return true;
}

void PulseWaveOut::DropStream() {
    if (timer_) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(ctx_->Mainloop());
        api->time_free(timer_);
        timer_ = nullptr;
        timerArmed_ = false;
    }
    for (pa_operation** op : {&timingOp_, &drainOp_})
        if (*op) {
            pa_operation_cancel(*op); // its callback must not run once this object is gone
            pa_operation_unref(*op);
            *op = nullptr;
        }
    timingPending_ = false;
    drainedEnd_ = 0; // a new stream counts from zero
    dryGuard_ = false;
    reportValid_ = requestStale_ = false;
    PulseStream::DropStream();
}

std::string PulseWaveOut::SinkName() const {
    if (!device_.empty()) return device_;
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
        if (const char* name = pa_stream_get_device_name(stream_)) return name;
    PulseDevice d;
    return ctx_->Sink(WAVE_MAPPER, &d) ? d.name : std::string();
}

void PulseWaveOut::WaveOutLevelChanged(const std::string& sink, const WaveOutLevel& level) {
    if (SinkName() == sink) ApplyLevel(level);
}

void PulseWaveOut::ApplyLevel(const WaveOutLevel& level) {
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    const std::uint32_t index = pa_stream_get_index(stream_);
    pa_cvolume v;
    pa_cvolume_init(&v);
    v.channels = spec_.channels;
    for (std::uint8_t ch = 0; ch < spec_.channels; ++ch) {
        LONG l = 0;
        if (spec_.channels == 1)
            for (LONG x : level.volume)
                l = std::max(l, x);
        else if (ch < level.volume.size())
            l = level.volume[ch];
        v.values[ch] = LevelToPulse(l);
    }
    Unref(pa_context_set_sink_input_volume(ctx_->Context(), index, &v, nullptr, nullptr));
    Unref(pa_context_set_sink_input_mute(ctx_->Context(), index, level.mute, nullptr, nullptr));
}

void PulseWaveOut::OnState(pa_stream* s, void* self) {
    auto* out = static_cast<PulseWaveOut*>(self);
    const auto state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY) {
        // The level goes with the connection, but PipeWire's service opens the stream at full
        // volume whatever it was given (or at one its session manager remembers): set it again.
        out->ApplyLevel(out->ctx_->GetWaveOutLevel(out->SinkName()));
        const pa_buffer_attr* attr = pa_stream_get_buffer_attr(s);
        out->triggerNeeded_ = attr && attr->prebuf > pa_frame_size(&out->spec_);
        out->Pump();
    } else if (!PA_STREAM_IS_GOOD(state))
        out->Fail();
    out->ctx_->Signal();
}

void PulseWaveOut::OnWrite(pa_stream*, std::size_t, void* self) {
    static_cast<PulseWaveOut*>(self)->Pump();
}

void PulseWaveOut::Pump() {
    HandOver();
    Rearm();
}

void PulseWaveOut::HandOver() {
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    const std::uint64_t limit = PlayedBytes() + pa_usec_to_bytes(kWriteAheadUs, &spec_);
    const std::uint64_t before = written_;
    while (written_ < limit) {
        while (unwritten_ < queue_.size() && offset_ == queue_[unwritten_].hdr->dwBufferLength) {
            ++unwritten_; // nothing (left) to send of this one
            offset_ = 0;
        }
        if (unwritten_ == queue_.size()) break;
        // The buffers waiting go over in as few messages as the server's memory blocks allow: a
        // message per buffer would wake the server once per buffer.
        std::uint64_t want = 0;
        for (std::size_t i = unwritten_; i < queue_.size() && written_ + want < limit; ++i)
            want += queue_[i].hdr->dwBufferLength - (i == unwritten_ ? offset_ : 0);
        std::size_t room = static_cast<std::size_t>(std::min(want, limit - written_));
        void* block = nullptr;
        if (pa_stream_begin_write(stream_, &block, &room) < 0 || !block || room == 0) break;
        std::size_t i = unwritten_, at = offset_, filled = 0;
        while (filled < room && i < queue_.size()) {
            const WAVEHDR* h = queue_[i].hdr;
            const std::size_t n = std::min<std::size_t>(h->dwBufferLength - at, room - filled);
            std::memcpy(static_cast<char*>(block) + filled, h->lpData + at, n);
            filled += n;
            at += n;
            if (at == h->dwBufferLength) {
                ++i;
                at = 0;
            }
        }
        if (pa_stream_write(stream_, block, filled, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            pa_stream_cancel_write(stream_);
            break;
        }
        unwritten_ = i;
        offset_ = at;
        written_ += filled;
    }
    if (written_ > before && dryGuard_) RequestTiming(); // new data behind a stream that ran dry
}

void PulseWaveOut::Rearm() {
    if (stream_ && triggerNeeded_ && unwritten_ == queue_.size() && written_ > triggeredAt_) {
        triggeredAt_ = written_;
        Unref(pa_stream_trigger(stream_, nullptr, nullptr));
    }
    if (!queue_.empty()) ArmTimer(NextCheckUs());
}

void PulseWaveOut::RequestTiming() {
    if (timingPending_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    if (timingOp_) pa_operation_unref(timingOp_); // answered: OnTiming ran
    timingOp_ = pa_stream_update_timing_info(stream_, &PulseWaveOut::OnTiming, this);
    timingPending_ = timingOp_ != nullptr;
    requestCovers_ = written_; // the server answers after taking everything sent before
}

void PulseWaveOut::ForgetReport() {
    reportValid_ = false;
    requestStale_ = timingPending_;
}

bool PulseWaveOut::ProvenHeardIn(std::uint64_t end, pa_usec_t* in) {
    if (drainedEnd_ >= end) {
        const pa_usec_t now = Now();
        *in = drainHeardAt_ > now ? drainHeardAt_ - now : 0;
        return true;
    }
    const pa_timing_info* ti =
        reportValid_ && stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!ti || ti->read_index_corrupt || ti->read_index < 0) return false;
    // Only what the server has taken: a playing stream would seem to go on taking what it had,
    // but PipeWire keeps the last part of a period back until the stream runs dry and is drained.
    const auto taken = static_cast<std::uint64_t>(ti->read_index);
    if (taken < end) return false;
    // The byte the sink took last at the report is heard the sink's latency later; the report
    // took its transport time to come.
    const pa_usec_t need = pa_bytes_to_usec(end, &spec_) + ti->sink_usec + ti->transport_usec;
    const pa_usec_t have = pa_bytes_to_usec(taken, &spec_) + pa_timeval_age(&ti->timestamp);
    *in = need > have ? need - have : 0;
    return true;
}

std::uint64_t PulseWaveOut::PlayedBytes() {
    // Paused, the position stands (the server's clock of a corked stream does not mean "heard").
    if (paused_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return played_;
    playedAt_ = Now();
    pa_usec_t t = 0;
    if (pa_stream_get_time(stream_, &t) == 0) {
        std::uint64_t bytes = pa_usec_to_bytes(t, &spec_);
        // The interpolation runs on through an underrun the server has not reported yet: once
        // it reaches the end of what was written, nothing written later counts as played until
        // the server has said where it really is.
        if (bytes >= written_ && !dryGuard_ && written_ > played_) {
            dryGuard_ = true;
            dryCap_ = written_;
            RequestTiming();
        }
        if (dryGuard_) bytes = std::min(bytes, dryCap_);
        played_ = std::max(played_, std::min(bytes, written_));
    }
    // The stream has run dry: the server's clock then keeps taking the device's current latency
    // off the last byte, so it never reaches the end. The end was heard once the latency the
    // device had when it took the last byte has passed.
    pa_usec_t in = 0;
    if (provenEnd_ < written_ && ProvenHeardIn(written_, &in) && in == 0) provenEnd_ = written_;
    played_ = std::max(played_, provenEnd_);
    return played_;
}

pa_usec_t PulseWaveOut::Now() {
    timeval tv{};
    return pa_timeval_load(pa_gettimeofday(&tv));
}

// How long until the next buffer is due (its end heard or, reported early, within the lead), as
// far as the interpolated position tells.
pa_usec_t PulseWaveOut::NextCheckUs() {
    const pa_timing_info* ti = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!ti || !ti->playing || dryGuard_ || queue_.empty()) return kStalledCheckUs;
    const pa_usec_t now = Now();
    auto since = [now](pa_usec_t last, pa_usec_t gap) {
        return last + gap > now ? last + gap - now : 0;
    };
    const std::uint64_t end = std::min<std::uint64_t>(queue_.front().end, written_);
    pa_usec_t wait = end > played_ ? pa_bytes_to_usec(end - played_, &spec_) : 0;
    // The last buffer: when the server's report says it will have been heard.
    pa_usec_t proven = 0;
    if (queue_.size() == 1 && unwritten_ == 1 && ProvenHeardIn(end, &proven))
        wait = std::min(wait, proven);
    // Reported early: the buffers the server holds, but the last one queued. The check waits for
    // the first of them to come within the lead, and for a batch period after the last check.
    const std::size_t early = std::min(unwritten_, queue_.size() - 1);
    if (early > 0) {
        const std::uint64_t due = played_ + pa_usec_to_bytes(kEarlyDoneLeadUs, &spec_);
        auto until = [&](std::uint64_t e) {
            return e > due ? pa_bytes_to_usec(e - due, &spec_) : 0;
        };
        // Short of the lead (starting, or after the application fell behind) the checks come
        // twice as often, to get there soon.
        const pa_usec_t batch = written_ - played_ < pa_usec_to_bytes(kEarlyDoneLeadUs, &spec_)
                                    ? batchUs_ / 2
                                    : batchUs_;
        wait = std::min(wait, std::max(until(queue_.front().end), since(lastCheck_, batch)));
    }
    // More to hand over (written later from another thread, or a buffer longer than the
    // write-ahead): look again while the server still holds half of what it has.
    if (unwritten_ < queue_.size() && written_ > played_)
        wait = std::min(wait, pa_bytes_to_usec(written_ - played_, &spec_) / 2);
    return std::max({wait, since(lastCheck_, kDoneGapUs), kMinDoneCheckUs});
}

void PulseWaveOut::ArmTimer(pa_usec_t inUs) {
    if (paused_ || !ctx_->Mainloop()) return;
    const pa_usec_t due = Now() + inUs;
    if (timerArmed_ && timerDue_ <= due) return; // an earlier check is coming
    timeval tv{};
    pa_timeval_store(&tv, due);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(ctx_->Mainloop());
    if (timer_)
        api->time_restart(timer_, &tv);
    else
        timer_ = api->time_new(api, &tv, &PulseWaveOut::OnTimer, this);
    timerArmed_ = true;
    timerDue_ = due;
}

void PulseWaveOut::OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* out = static_cast<PulseWaveOut*>(self);
    out->timerArmed_ = false;
    out->lastCheck_ = Now();
    if (out->stream_) {
        const pa_timing_info* ti = pa_stream_get_timing_info(out->stream_);
        const bool stalled = !ti || !ti->playing;
        if ((stalled && ++out->ticks_ % 2 == 0) ||
            (ti && pa_timeval_age(&ti->timestamp) >= kTimingRefreshUs))
            out->RequestTiming();
    }
    out->CheckDone();
}

void PulseWaveOut::OnTiming(pa_stream*, int, void* self) {
    auto* out = static_cast<PulseWaveOut*>(self);
    out->timingPending_ = false;
    out->dryGuard_ = false;
    // An answer to a request sent before a pause or restart tells nothing of the run after it.
    if (!out->requestStale_) {
        out->reportValid_ = true;
        out->reportCovers_ = out->requestCovers_;
    }
    out->requestStale_ = false;
    out->CheckDone();
}

// A stream that has run dry may never show the server taking its last bytes: PipeWire keeps a
// resampler's last few frames back (its read position stops 20 of 6400 bytes short at 8 kHz) and
// plays them only when asked to drain. So when the server, asked after everything queued was
// handed over, says the stream is not playing although it has not taken everything, a drain goes
// out; its completion is the server's word that everything written before it has played. (A
// server that takes every byte proves the end by its report, and is never asked.) One at a time,
// unless more was written since.
void PulseWaveOut::DrainIfDry(std::uint64_t end) {
    if (paused_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    if (written_ < end || unwritten_ < queue_.size() || reportCovers_ < end) return;
    if (drainOp_ && drainCovers_ >= written_) return;
    const pa_timing_info* ti = reportValid_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!ti || ti->playing) return;
    if (drainOp_) {
        pa_operation_cancel(drainOp_);
        pa_operation_unref(drainOp_);
    }
    drainOp_ = pa_stream_drain(stream_, &PulseWaveOut::OnDrained, this);
    drainCovers_ = written_;
}

void PulseWaveOut::OnDrained(pa_stream*, int success, void* self) {
    auto* out = static_cast<PulseWaveOut*>(self);
    if (out->drainOp_) {
        pa_operation_unref(out->drainOp_);
        out->drainOp_ = nullptr;
    }
    if (!success) return;
    // The server has taken the last byte: it is heard once the sink's latency has passed.
    const pa_timing_info* ti = out->stream_ ? pa_stream_get_timing_info(out->stream_) : nullptr;
    out->drainedEnd_ = out->drainCovers_;
    out->drainHeardAt_ = Now() + (ti ? std::min(ti->sink_usec, kDeviceLatencyUs * 5) : 0);
    out->CheckDone();
}

void PulseWaveOut::OnUnderflow(pa_stream*, void* self) {
    auto* out = static_cast<PulseWaveOut*>(self);
    out->RequestTiming();
}

void PulseWaveOut::CheckDone() {
    HandOver(); // buffers written since the last check may be due at once
    const std::uint64_t played = PlayedBytes();
    // Paused, nothing is reported early: the application would refill (and the server hold)
    // without end, and a wave output that is priming its ring is not ready for them yet.
    const std::uint64_t early =
        paused_ ? played : played + pa_usec_to_bytes(kEarlyDoneLeadUs, &spec_);
    if (unwritten_ > 0 && queue_.size() > 1 && queue_.front().end <= early) {
        // What the application keeps queued, less the last buffer, which stays: a little less
        // than that may be played between two checks. (Measured when buffers are due: right
        // after they went back, the application has not queued them again yet.)
        const std::uint64_t held = queuedEnd_ - reportedEnd_ - queue_.back().hdr->dwBufferLength;
        batchUs_ = std::min(kEarlyDoneBatchUs, pa_bytes_to_usec(held, &spec_) * 9 / 10);
    }
    std::vector<WAVEHDR*> done;
    while (unwritten_ > 0) {
        const std::uint64_t end = queue_.front().end;
        if (queue_.size() > 1) {
            if (end > early) break;
        } else {
            // The last one is done when heard, and that on the server's word: the client's
            // interpolation of the position may run a little ahead, and whatever the server
            // still holds once every buffer is done may be thrown away (a stop resets).
            pa_usec_t in = 0;
            if (end > provenEnd_) {
                const bool proven = !paused_ && ProvenHeardIn(end, &in);
                if (!proven || in > 0) {
                    // A drain on its way answers by itself; asking meanwhile would only
                    // bounce reports with the server until it does.
                    if (!proven && end <= played && !drainOp_) RequestTiming();
                    if (!proven) DrainIfDry(end);
                    break;
                }
                provenEnd_ = end;
                played_ = std::max(played_, end);
            }
        }
        reportedEnd_ = end;
        done.push_back(queue_.front().hdr);
        queue_.pop_front();
        --unwritten_;
    }
    Rearm();
    Report(events_, done); // the application may queue more from here: the queue is consistent
}

std::vector<WAVEHDR*> PulseWaveOut::TakeQueue() {
    std::vector<WAVEHDR*> all;
    for (auto& p : queue_)
        all.push_back(p.hdr);
    queue_.clear();
    unwritten_ = offset_ = 0;
    reportedEnd_ = queuedEnd_;
    return all;
}

MMRESULT PulseWaveOut::Write(WAVEHDR* hdr) {
    PulseLock l(*ctx_);
    if (gone_ || closed_) return MMSYSERR_NODRIVER;
    queuedEnd_ += hdr->dwBufferLength;
    queue_.push_back({hdr, queuedEnd_});
    // Handing data over from another thread wakes the loop thread to send it; while the server
    // has plenty, the next done check takes it along (one is always armed while buffers wait).
    // What the server still holds is judged from the last look at the position, less the time
    // since (asking the clock costs the client library a system call).
    const pa_usec_t now = Now();
    const pa_usec_t held = written_ > played_ ? pa_bytes_to_usec(written_ - played_, &spec_) : 0;
    const pa_usec_t since = now > playedAt_ ? now - playedAt_ : 0;
    const bool ample = !ctx_->InLoopThread() && timerArmed_ && !dryGuard_ && !paused_ &&
                       held >= since + (timerDue_ > now ? timerDue_ - now : 0) + kWriteNowBelowUs;
    if (!ample) Pump();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::Pause() {
    PulseLock l(*ctx_);
    if (gone_) return MMSYSERR_NODRIVER;
    paused_ = true;
    ForgetReport();
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
        Unref(pa_stream_cork(stream_, 1, nullptr, nullptr));
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::Restart() {
    PulseLock l(*ctx_);
    if (gone_) return MMSYSERR_NODRIVER;
    paused_ = false;
    ForgetReport();
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
        Unref(pa_stream_cork(stream_, 0, nullptr, nullptr));
    if (!queue_.empty()) ArmTimer(NextCheckUs());
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::Reset() {
    return GiveBack([this] {
        std::vector<WAVEHDR*> done = TakeQueue();
        queuedEnd_ = reportedEnd_ = written_ = played_ = provenEnd_ = triggeredAt_ = 0;
        paused_ = false;
        // A fresh stream drops what the server still holds and starts its clock at zero; it
        // connects while the caller goes on, and data written meanwhile waits in the queue.
        DropStream();
        if (!CreateStream()) gone_ = true;
        return done;
    });
}

// ---- Input --------------------------------------------------------------------------------------

PulseWaveIn::~PulseWaveIn() {
    Release();
}

bool PulseWaveIn::CreateStream() {
    stream_ = NewStream(*ctx_, "Wave input", spec_);
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_, &PulseWaveIn::OnState, this);
    pa_stream_set_read_callback(stream_, &PulseWaveIn::OnRead, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kRecordFragmentUs, &spec_));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    if (!device_.empty()) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, device_.empty() ? nullptr : device_.c_str(), &attr,
                                 flags) < 0) {
        DropStream();
        return false;
    }
    return true;
}

void PulseWaveIn::DropStream() {
    started_ = false;
    PulseStream::DropStream();
}

std::vector<WAVEHDR*> PulseWaveIn::TakeQueue() {
    std::vector<WAVEHDR*> all(queue_.begin(), queue_.end());
    queue_.clear();
    return all;
}

void PulseWaveIn::OnState(pa_stream* s, void* self) {
    auto* in = static_cast<PulseWaveIn*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) in->Fail();
    in->ctx_->Signal();
}

void PulseWaveIn::OnRead(pa_stream* s, std::size_t, void* self) {
    auto* in = static_cast<PulseWaveIn*>(self);
    std::vector<WAVEHDR*> done;
    while (pa_stream_readable_size(s) > 0) {
        const void* data = nullptr;
        std::size_t n = 0;
        if (pa_stream_peek(s, &data, &n) < 0 || n == 0) break;
        if (in->started_) {
            std::size_t at = 0;
            while (at < n && !in->queue_.empty()) {
                WAVEHDR* h = in->queue_.front();
                const std::size_t take =
                    std::min<std::size_t>(n - at, h->dwBufferLength - h->dwBytesRecorded);
                if (data)
                    std::memcpy(h->lpData + h->dwBytesRecorded, static_cast<const char*>(data) + at,
                                take);
                else // a hole in the stream: silence
                    std::memset(h->lpData + h->dwBytesRecorded,
                                in->spec_.format == PA_SAMPLE_U8 ? 0x80 : 0, take);
                h->dwBytesRecorded += static_cast<DWORD>(take);
                in->recorded_ += take;
                at += take;
                if (h->dwBytesRecorded >= h->dwBufferLength) {
                    done.push_back(h);
                    in->queue_.pop_front();
                }
            }
            // With no buffer queued the data is lost, as with any recorder that is not fed; the
            // position counts what the application received.
        }
        pa_stream_drop(s);
    }
    Report(in->events_, done);
}

MMRESULT PulseWaveIn::AddBuffer(WAVEHDR* hdr) {
    PulseLock l(*ctx_);
    if (gone_ || closed_) return MMSYSERR_NODRIVER;
    if (hdr->dwBufferLength == 0) {
        // Nothing to fill: it is done at once, behind the ones before it.
        if (queue_.empty()) {
            events_->BufferDone(hdr);
            return MMSYSERR_NOERROR;
        }
    }
    queue_.push_back(hdr);
    return MMSYSERR_NOERROR;
}

void PulseWaveIn::Cork(bool cork) {
    if (started_ != cork) return;
    started_ = !cork;
    Unref(pa_stream_cork(stream_, cork, nullptr, nullptr));
}

MMRESULT PulseWaveIn::Start() {
    PulseLock l(*ctx_);
    if (gone_) return MMSYSERR_NODRIVER;
    Cork(false);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::Stop() {
    // The buffer being filled comes back with what it holds.
    return GiveBack([this] {
        Cork(true);
        std::vector<WAVEHDR*> done;
        if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) {
            done.push_back(queue_.front());
            queue_.pop_front();
        }
        return done;
    });
}

MMRESULT PulseWaveIn::Reset() {
    return GiveBack([this] {
        Cork(true);
        Unref(pa_stream_flush(stream_, nullptr, nullptr));
        recorded_ = 0;
        return TakeQueue();
    });
}
