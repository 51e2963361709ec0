#include "platform/pulse/PulseContext.h"

#include "platform/api/AudioBackend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
constexpr int kDrainTimeoutMs = 1000;
constexpr pa_usec_t kReconnectUs = 1000 * PA_USEC_PER_MSEC;

void Unref(pa_operation* op) {
    if (op) pa_operation_unref(op);
}
} // namespace

// ---- Helpers ------------------------------------------------------------------------------------

LONG PulseToLevel(pa_volume_t v) {
    if (v >= PA_VOLUME_NORM) return 0xFFFF;
    return static_cast<LONG>(std::lround(pa_sw_volume_to_linear(v) * 0xFFFF));
}

pa_volume_t LevelToPulse(LONG level) {
    const LONG l = std::clamp<LONG>(level, 0, 0xFFFF);
    return pa_sw_volume_from_linear(static_cast<double>(l) / 0xFFFF);
}

std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t n = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

PulseLock::PulseLock(const PulseContext& ctx) {
    if (ctx.Mainloop() && !ctx.InLoopThread()) {
        loop_ = ctx.Mainloop();
        pa_threaded_mainloop_lock(loop_);
    }
}

PulseLock::~PulseLock() {
    if (loop_) pa_threaded_mainloop_unlock(loop_);
}

// ---- Connection ---------------------------------------------------------------------------------

PulseContext::PulseContext() = default;

std::shared_ptr<PulseContext> PulseContext::Connect(int timeoutMs) {
    std::shared_ptr<PulseContext> ctx(new PulseContext());
    if (!ctx->Start(timeoutMs)) ctx->WaitForServer();
    return ctx;
}

bool PulseContext::InLoopThread() const {
    return mainloop_ && pa_threaded_mainloop_in_thread(mainloop_);
}

void PulseContext::Signal() {
    if (mainloop_) pa_threaded_mainloop_signal(mainloop_, 0);
}

bool PulseContext::WaitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    if (!mainloop_ || InLoopThread()) return false;
    // A timer wakes the waiter at the deadline, so a silent server cannot hold it longer.
    struct Deadline {
        bool expired = false;
        pa_threaded_mainloop* loop;
    } deadline{false, mainloop_};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    timeval tv{};
    pa_timeval_add(pa_gettimeofday(&tv), static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event* timer = api->time_new(
        api, &tv,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* d) {
            auto* dl = static_cast<Deadline*>(d);
            dl->expired = true;
            pa_threaded_mainloop_signal(dl->loop, 0);
        },
        &deadline);
    bool ok = false;
    while (!(ok = done()) && !deadline.expired)
        pa_threaded_mainloop_wait(mainloop_);
    api->time_free(timer);
    return ok;
}

bool PulseContext::NewContext() {
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "AV Setup");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "avsetup");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "test");
    context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "AV Setup", props);
    pa_proplist_free(props);
    if (!context_) return false;
    pa_context_set_state_callback(context_, &PulseContext::OnContextState, this);
    pa_context_set_subscribe_callback(context_, &PulseContext::OnSubscription, this);
    // No autospawn: a desktop without a server gets no devices rather than a surprise daemon.
    // Again the server first reached, when there was one.
    return pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                              PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
}

void PulseContext::DropContext() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseContext::Subscribe() {
    Unref(pa_context_subscribe(context_,
                               static_cast<pa_subscription_mask_t>(
                                   PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                   PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD),
                               nullptr, nullptr));
    if (!listed_) pendingLists_ = 4;
    Unref(pa_context_get_server_info(context_, &PulseContext::OnServerInfo, this));
    // Cards first: the server answers in order, so a device's card is known when it comes.
    Unref(pa_context_get_card_info_list(context_, &PulseContext::OnCardInfo, this));
    Unref(pa_context_get_sink_info_list(context_, &PulseContext::OnSinkInfo, this));
    Unref(pa_context_get_source_info_list(context_, &PulseContext::OnSourceInfo, this));
}

bool PulseContext::Start(int timeoutMs) {
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_) return false;
    // Where to find the server: what the environment names now, kept for every later attempt.
    if (const char* env = std::getenv("PULSE_SERVER")) server_ = env;
    if (!NewContext()) return false;
    if (pa_threaded_mainloop_start(mainloop_) < 0) return false;
    loopRunning_ = true;

    pa_threaded_mainloop_lock(mainloop_);
    const bool ready = WaitFor(
        [this] {
            const auto s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        timeoutMs);
    bool ok = ready && pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (ok) {
        if (const char* server = pa_context_get_server(context_)) server_ = server;
        Subscribe();
        ok = WaitFor([this] { return pendingLists_ <= 0; }, timeoutMs);
        listed_ = true;
        if (ok) {
            connected_ = true;
            DevicesChanged(false);
        }
    }
    pa_threaded_mainloop_unlock(mainloop_);
    return ok;
}

void PulseContext::Shutdown() {
    // Volumes and ports just written are still on their way: let them reach the server first.
    if (mainloop_ && context_ && connected_ && !InLoopThread()) {
        pa_threaded_mainloop_lock(mainloop_);
        if (pa_operation* op = pa_context_drain(
                context_,
                [](pa_context*, void* self) { static_cast<PulseContext*>(self)->Signal(); },
                this)) {
            WaitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; },
                    kDrainTimeoutMs);
            pa_operation_cancel(op);
            pa_operation_unref(op);
        }
        pa_threaded_mainloop_unlock(mainloop_);
    }
    if (mainloop_) pa_threaded_mainloop_stop(mainloop_);
    DropContext();
    connected_ = false;
    {
        std::lock_guard g(lock_);
        sinks_.clear();
        sources_.clear();
    }
    if (mainloop_) {
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
    }
}

PulseContext::~PulseContext() {
    Shutdown();
}

void PulseContext::OnContextState(pa_context* c, void* self) {
    auto* ctx = static_cast<PulseContext*>(self);
    const auto state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY && ctx->reconnecting_) {
        // The server is back: list everything again; each device comes as a new one.
        ctx->reconnecting_ = false;
        ctx->connected_ = true;
        ctx->Subscribe();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        if (ctx->connected_)
            ctx->ConnectionLost();
        else if (ctx->reconnecting_)
            ctx->ArmReconnect();
    }
    ctx->Signal();
}

void PulseContext::ConnectionLost() {
    connected_ = false;
    {
        std::lock_guard g(lock_);
        sinks_.clear();
        sources_.clear();
    }
    DevicesChanged(true);
    // A desktop's sound server restarts now and then (an update, a crash): try again until it is
    // back.
    reconnecting_ = true;
    ArmReconnect();
}

void PulseContext::WaitForServer() {
    if (!mainloop_) return;
    if (!loopRunning_) {
        if (pa_threaded_mainloop_start(mainloop_) < 0) {
            Shutdown();
            return;
        }
        loopRunning_ = true;
    }
    PulseLock l(*this);
    DropContext();
    connected_ = false;
    listed_ = true; // whatever comes now comes as new devices, announced
    reconnecting_ = true;
    ArmReconnect();
}

void PulseContext::ArmReconnect() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    timeval tv{};
    pa_timeval_add(pa_gettimeofday(&tv), kReconnectUs);
    if (reconnectTimer_) {
        api->time_restart(reconnectTimer_, &tv);
        return;
    }
    reconnectTimer_ = api->time_new(
        api, &tv,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
            auto* ctx = static_cast<PulseContext*>(self);
            ctx->DropContext();
            if (!ctx->NewContext()) ctx->ArmReconnect();
        },
        this);
}

// ---- Events -------------------------------------------------------------------------------------

void PulseContext::OnSubscription(pa_context* c, pa_subscription_event_type_t t,
                                  std::uint32_t index, void* self) {
    auto* ctx = static_cast<PulseContext*>(self);
    const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    switch (facility) {
    case PA_SUBSCRIPTION_EVENT_SINK:
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE)
            ctx->RemoveDevice(true, index);
        else
            Unref(pa_context_get_sink_info_by_index(c, index, &PulseContext::OnSinkInfo, ctx));
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE:
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE)
            ctx->RemoveDevice(false, index);
        else
            Unref(pa_context_get_source_info_by_index(c, index, &PulseContext::OnSourceInfo, ctx));
        break;
    case PA_SUBSCRIPTION_EVENT_SERVER:
        Unref(pa_context_get_server_info(c, &PulseContext::OnServerInfo, ctx));
        break;
    case PA_SUBSCRIPTION_EVENT_CARD:
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            std::lock_guard g(ctx->lock_);
            ctx->cards_.erase(index);
        } else {
            Unref(pa_context_get_card_info_by_index(c, index, &PulseContext::OnCardInfo, ctx));
        }
        break;
    default:
        break;
    }
}

void PulseContext::OnServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* ctx = static_cast<PulseContext*>(self);
    if (info) {
        std::lock_guard g(ctx->lock_);
        ctx->defaultSink_ = info->default_sink_name ? info->default_sink_name : "";
        ctx->defaultSource_ = info->default_source_name ? info->default_source_name : "";
    }
    if (!ctx->listed_) --ctx->pendingLists_;
    ctx->Signal();
}

void PulseContext::OnCardInfo(pa_context*, const pa_card_info* info, int eol, void* self) {
    auto* ctx = static_cast<PulseContext*>(self);
    if (info) {
        const char* d = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_DESCRIPTION);
        std::lock_guard g(ctx->lock_);
        ctx->cards_[info->index] = d && *d ? d : (info->name ? info->name : "");
    }
    if (eol && !ctx->listed_) --ctx->pendingLists_;
    ctx->Signal();
}

void PulseContext::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* ctx = static_cast<PulseContext*>(self);
    if (info) ctx->StoreSink(*info);
    if (eol && !ctx->listed_) --ctx->pendingLists_;
    ctx->Signal();
}

void PulseContext::OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* ctx = static_cast<PulseContext*>(self);
    if (info) ctx->StoreSource(*info);
    if (eol && !ctx->listed_) --ctx->pendingLists_;
    ctx->Signal();
}

namespace {
template <class Info> PulseDevice MakeDevice(const Info& info) {
    PulseDevice d;
    d.index = info.index;
    d.name = info.name ? info.name : "";
    d.description = info.description && *info.description ? info.description : d.name;
    d.spec = info.sample_spec;
    d.volume = info.volume;
    d.mute = info.mute != 0;
    for (std::uint32_t i = 0; i < info.n_ports && info.ports; ++i) {
        const auto* p = info.ports[i];
        if (!p) break;
        PulsePort port;
        port.name = p->name ? p->name : "";
        port.description = p->description && *p->description ? p->description : port.name;
        port.type = p->type;
        port.available = p->available;
        d.ports.push_back(std::move(port));
    }
    if (info.active_port && info.active_port->name) d.activePort = info.active_port->name;
    d.card = info.card;
    if (const char* bus = pa_proplist_gets(info.proplist, PA_PROP_DEVICE_BUS_PATH)) d.busPath = bus;
    return d;
}

bool SameStructure(const PulseDevice& a, const PulseDevice& b) {
    if (a.ports.size() != b.ports.size() || a.spec.channels != b.spec.channels) return false;
    for (std::size_t i = 0; i < a.ports.size(); ++i)
        if (a.ports[i].name != b.ports[i].name) return false;
    return true;
}
} // namespace

void PulseContext::StoreSink(const pa_sink_info& info) {
    PulseDevice d = MakeDevice(info);
    d.monitorSource = info.monitor_source;
    d.monitorName = info.monitor_source_name ? info.monitor_source_name : "";
    PulseDevice before;
    bool existed = false;
    {
        std::lock_guard g(lock_);
        auto it = sinks_.find(d.index);
        if (it != sinks_.end()) {
            existed = true;
            before = it->second;
        }
        sinks_[d.index] = d;
    }
    if (!listed_) return; // the first list: mixers are built once it is complete
    if (!existed || !SameStructure(before, d))
        DevicesChanged(true);
    else
        for (PulseListener* l : Listeners())
            l->DeviceChanged(true, before, d);
}

void PulseContext::StoreSource(const pa_source_info& info) {
    PulseDevice d = MakeDevice(info);
    d.monitor = info.monitor_of_sink != PA_INVALID_INDEX;
    PulseDevice before;
    bool existed = false;
    {
        std::lock_guard g(lock_);
        auto it = sources_.find(d.index);
        if (it != sources_.end()) {
            existed = true;
            before = it->second;
        }
        sources_[d.index] = d;
    }
    if (!listed_) return;
    if (!d.monitor && (!existed || !SameStructure(before, d)))
        DevicesChanged(true);
    else if (existed)
        for (PulseListener* l : Listeners())
            l->DeviceChanged(false, before, d);
}

void PulseContext::RemoveDevice(bool sink, std::uint32_t index) {
    bool removed = false;
    {
        std::lock_guard g(lock_);
        auto& map = sink ? sinks_ : sources_;
        auto it = map.find(index);
        if (it != map.end()) {
            removed = sink || !it->second.monitor;
            map.erase(it);
        }
    }
    if (removed) DevicesChanged(true);
}

std::vector<PulseContext::Pair> PulseContext::Pairing() const {
    std::vector<const PulseDevice*> sinks, sources;
    for (auto& [i, d] : sinks_)
        sinks.push_back(&d);
    for (auto& [i, d] : sources_)
        if (!d.monitor) sources.push_back(&d);
    auto oneCard = [](const PulseDevice& a, const PulseDevice& b) {
        return (a.card != PA_INVALID_INDEX && a.card == b.card) ||
               (!a.busPath.empty() && a.busPath == b.busPath);
    };
    std::vector<Pair> pairs;
    std::vector<const PulseDevice*> loneSinks;
    std::vector<bool> taken(sources.size(), false);
    for (const PulseDevice* sink : sinks) {
        bool paired = false;
        for (std::size_t k = 0; k < sources.size() && !paired; ++k)
            if (!taken[k] && oneCard(*sink, *sources[k])) {
                taken[k] = paired = true;
                Pair p{sink, sources[k], {}};
                if (sink->card != PA_INVALID_INDEX && sink->card == sources[k]->card)
                    if (auto c = cards_.find(sink->card); c != cards_.end()) p.card = c->second;
                pairs.push_back(std::move(p));
            }
        if (!paired) loneSinks.push_back(sink);
    }
    std::vector<const PulseDevice*> loneSources;
    for (std::size_t k = 0; k < sources.size(); ++k)
        if (!taken[k]) loneSources.push_back(sources[k]);
    for (std::size_t k = 0; k < std::max(loneSinks.size(), loneSources.size()); ++k)
        pairs.push_back({k < loneSinks.size() ? loneSinks[k] : nullptr,
                         k < loneSources.size() ? loneSources[k] : nullptr,
                         {}});
    return pairs;
}

void PulseContext::DevicesChanged(bool notify) {
    for (PulseListener* l : Listeners())
        l->DevicesChanged();
    if (notify) NotifyAudioDevicesChanged();
}

void PulseContext::ReadPairs(const std::function<void(const std::vector<Pair>&)>& read) const {
    std::lock_guard g(lock_);
    read(Pairing());
}

// ---- Cache reads --------------------------------------------------------------------------------

// The wave devices of one direction, in mixer order (lock_ held).
namespace {
template <class Get>
std::vector<const PulseDevice*> InMixerOrder(const std::vector<PulseContext::Pair>& pairs,
                                             Get get) {
    std::vector<const PulseDevice*> out;
    for (auto& p : pairs)
        if (const PulseDevice* d = get(p)) out.push_back(d);
    return out;
}
} // namespace

std::vector<PulseDevice> PulseContext::Sinks() const {
    std::lock_guard g(lock_);
    std::vector<PulseDevice> out;
    for (const PulseDevice* d : InMixerOrder(Pairing(), [](const Pair& p) { return p.sink; }))
        out.push_back(*d);
    return out;
}

std::vector<PulseDevice> PulseContext::Sources() const {
    std::lock_guard g(lock_);
    std::vector<PulseDevice> out;
    for (const PulseDevice* d : InMixerOrder(Pairing(), [](const Pair& p) { return p.source; }))
        out.push_back(*d);
    return out;
}

UINT PulseContext::SinkCount() const {
    std::lock_guard g(lock_);
    return static_cast<UINT>(sinks_.size());
}

UINT PulseContext::SourceCount() const {
    std::lock_guard g(lock_);
    return static_cast<UINT>(
        std::count_if(sources_.begin(), sources_.end(), [](auto& e) { return !e.second.monitor; }));
}

namespace {
// Device id (or the mapper: the default device, else the first) in a list in mixer order.
bool PickDevice(const std::vector<const PulseDevice*>& list, UINT id,
                const std::string& defaultName, PulseDevice* out) {
    if (id == WAVE_MAPPER) {
        for (const PulseDevice* d : list)
            if (d->name == defaultName) return *out = *d, true;
        // A mapper without a known default (the server names none yet): the first device.
        if (!list.empty()) return *out = *list.front(), true;
        return false;
    }
    if (id >= list.size()) return false;
    *out = *list[id];
    return true;
}

bool PositionOf(const std::vector<const PulseDevice*>& list, std::uint32_t index, UINT* id) {
    for (std::size_t n = 0; n < list.size(); ++n)
        if (list[n]->index == index) {
            *id = static_cast<UINT>(n);
            return true;
        }
    return false;
}
} // namespace

bool PulseContext::Sink(UINT id, PulseDevice* out) const {
    std::lock_guard g(lock_);
    return PickDevice(InMixerOrder(Pairing(), [](const Pair& p) { return p.sink; }), id,
                      defaultSink_, out);
}

bool PulseContext::Source(UINT id, PulseDevice* out) const {
    std::lock_guard g(lock_);
    return PickDevice(InMixerOrder(Pairing(), [](const Pair& p) { return p.source; }), id,
                      defaultSource_, out);
}

bool PulseContext::SinkByIndex(std::uint32_t index, PulseDevice* out) const {
    std::lock_guard g(lock_);
    auto it = sinks_.find(index);
    if (it == sinks_.end()) return false;
    *out = it->second;
    return true;
}

bool PulseContext::SourceByIndex(std::uint32_t index, PulseDevice* out) const {
    std::lock_guard g(lock_);
    auto it = sources_.find(index);
    if (it == sources_.end()) return false;
    *out = it->second;
    return true;
}

bool PulseContext::SinkPosition(std::uint32_t index, UINT* id) const {
    std::lock_guard g(lock_);
    return PositionOf(InMixerOrder(Pairing(), [](const Pair& p) { return p.sink; }), index, id);
}

bool PulseContext::SourcePosition(std::uint32_t index, UINT* id) const {
    std::lock_guard g(lock_);
    return PositionOf(InMixerOrder(Pairing(), [](const Pair& p) { return p.source; }), index, id);
}

// ---- Writes -------------------------------------------------------------------------------------

void PulseContext::SetSinkVolume(std::uint32_t index, const pa_cvolume& volume) {
    {
        PulseLock l(*this);
        if (!context_) return;
        Unref(pa_context_set_sink_volume_by_index(context_, index, &volume, nullptr, nullptr));
    }
    std::lock_guard g(lock_);
    if (auto it = sinks_.find(index); it != sinks_.end()) it->second.volume = volume;
}

void PulseContext::SetSinkMute(std::uint32_t index, bool mute) {
    {
        PulseLock l(*this);
        if (!context_) return;
        Unref(pa_context_set_sink_mute_by_index(context_, index, mute, nullptr, nullptr));
    }
    std::lock_guard g(lock_);
    if (auto it = sinks_.find(index); it != sinks_.end()) it->second.mute = mute;
}

void PulseContext::SetSourceVolume(std::uint32_t index, const pa_cvolume& volume) {
    {
        PulseLock l(*this);
        if (!context_) return;
        Unref(pa_context_set_source_volume_by_index(context_, index, &volume, nullptr, nullptr));
    }
    std::lock_guard g(lock_);
    if (auto it = sources_.find(index); it != sources_.end()) it->second.volume = volume;
}

void PulseContext::SetSourceMute(std::uint32_t index, bool mute) {
    {
        PulseLock l(*this);
        if (!context_) return;
        Unref(pa_context_set_source_mute_by_index(context_, index, mute, nullptr, nullptr));
    }
    std::lock_guard g(lock_);
    if (auto it = sources_.find(index); it != sources_.end()) it->second.mute = mute;
}

void PulseContext::SetSourcePort(std::uint32_t index, const std::string& port) {
    {
        PulseLock l(*this);
        if (!context_) return;
        Unref(pa_context_set_source_port_by_index(context_, index, port.c_str(), nullptr, nullptr));
    }
    std::lock_guard g(lock_);
    if (auto it = sources_.find(index); it != sources_.end()) it->second.activePort = port;
}

std::string PulseContext::RecordFrom(const std::string& source) const {
    std::lock_guard g(lock_);
    auto it = recordFrom_.find(source);
    return it == recordFrom_.end() ? std::string() : it->second;
}

void PulseContext::SetRecordFrom(const std::string& source, const std::string& monitor) {
    std::lock_guard g(lock_);
    if (monitor.empty())
        recordFrom_.erase(source);
    else
        recordFrom_[source] = monitor;
}

WaveOutLevel PulseContext::GetWaveOutLevel(const std::string& sink) const {
    std::lock_guard g(lock_);
    auto it = waveOutLevels_.find(sink);
    return it == waveOutLevels_.end() ? WaveOutLevel{} : it->second;
}

void PulseContext::SetWaveOutLevel(const std::string& sink, const WaveOutLevel& level) {
    {
        std::lock_guard g(lock_);
        waveOutLevels_[sink] = level;
    }
    ApplyWaveOutLevel(sink);
}

void PulseContext::AddListener(PulseListener* listener) {
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void PulseContext::RemoveListener(PulseListener* listener) {
    std::erase(listeners_, listener);
}

void PulseContext::ApplyWaveOutLevel(const std::string& sink) {
    PulseLock l(*this);
    if (!context_) return;
    const WaveOutLevel level = GetWaveOutLevel(sink);
    for (PulseListener* s : Listeners())
        s->WaveOutLevelChanged(sink, level);
}
