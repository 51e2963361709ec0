#pragma once
// A second, independent client of the test's sound server: it changes the server behind the
// backend's back (modules, volumes) and reads what the server really holds. Every call waits for
// the server's answer, with a deadline.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class PulseAdmin {
public:
    struct Device {
        std::uint32_t index = PA_INVALID_INDEX, module = PA_INVALID_INDEX;
        std::string name, description;
        pa_cvolume volume{};
        bool mute = false;
        bool monitor = false;
        pa_usec_t latency = 0;
    };
    struct Module {
        std::string name, argument;
    };

    // server: a server address; by default the one PULSE_SERVER names.
    explicit PulseAdmin(const char* server = nullptr) {
        loop_ = pa_threaded_mainloop_new();
        ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "avsetup-test-admin");
        pa_context_set_state_callback(
            ctx_, [](pa_context*, void* l) { Signal(l); }, loop_);
        pa_context_connect(ctx_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        pa_threaded_mainloop_start(loop_);
        Locked([&] {
            Wait([&] {
                auto s = pa_context_get_state(ctx_);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            });
        });
    }
    ~PulseAdmin() {
        pa_threaded_mainloop_stop(loop_);
        pa_context_disconnect(ctx_);
        pa_context_unref(ctx_);
        pa_threaded_mainloop_free(loop_);
    }
    PulseAdmin(const PulseAdmin&) = delete;
    PulseAdmin& operator=(const PulseAdmin&) = delete;

    bool Ready() {
        bool ok = false;
        Locked([&] { ok = pa_context_get_state(ctx_) == PA_CONTEXT_READY; });
        return ok;
    }

    std::vector<Device> Sinks() {
        Query<Device> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_sink_info_list(
                    ctx_,
                    [](pa_context*, const pa_sink_info* i, int eol, void* u) {
                        auto* q = static_cast<Query<Device>*>(u);
                        if (i) {
                            q->items.push_back(Make(*i));
                            q->items.back().latency = i->latency;
                        }
                        if (eol) q->Finish();
                    },
                    &q),
                q);
        });
        return q.items;
    }
    std::vector<Device> Sources() {
        Query<Device> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_source_info_list(
                    ctx_,
                    [](pa_context*, const pa_source_info* i, int eol, void* u) {
                        auto* q = static_cast<Query<Device>*>(u);
                        if (i) {
                            Device d = Make(*i);
                            d.monitor = i->monitor_of_sink != PA_INVALID_INDEX;
                            q->items.push_back(d);
                        }
                        if (eol) q->Finish();
                    },
                    &q),
                q);
        });
        return q.items;
    }
    bool FindSink(const std::string& name, Device* out) {
        for (auto& d : Sinks())
            if (d.name == name) return *out = d, true;
        return false;
    }
    bool FindSource(const std::string& name, Device* out) {
        for (auto& d : Sources())
            if (d.name == name) return *out = d, true;
        return false;
    }

    // Every playback stream on the server: its index and the name of its sink.
    std::vector<std::pair<std::uint32_t, std::string>> SinkInputs() {
        Query<std::pair<std::uint32_t, std::uint32_t>> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_sink_input_info_list(
                    ctx_,
                    [](pa_context*, const pa_sink_input_info* i, int eol, void* u) {
                        auto* q = static_cast<Query<std::pair<std::uint32_t, std::uint32_t>>*>(u);
                        if (i) q->items.emplace_back(i->index, i->sink);
                        if (eol) q->Finish();
                    },
                    &q),
                q);
        });
        const auto sinks = Sinks();
        std::vector<std::pair<std::uint32_t, std::string>> out;
        for (auto& [input, sink] : q.items)
            for (auto& d : sinks)
                if (d.index == sink) out.emplace_back(input, d.name);
        return out;
    }
    // The first channel's volume of every playback stream on the server.
    std::vector<pa_volume_t> SinkInputVolumes() {
        Query<pa_volume_t> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_sink_input_info_list(
                    ctx_,
                    [](pa_context*, const pa_sink_input_info* i, int eol, void* u) {
                        auto* q = static_cast<Query<pa_volume_t>*>(u);
                        if (i) q->items.push_back(i->mute ? PA_VOLUME_MUTED : i->volume.values[0]);
                        if (eol) q->Finish();
                    },
                    &q),
                q);
        });
        return q.items;
    }
    bool MoveSinkInput(std::uint32_t index, const std::string& sink) {
        return Success([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_move_sink_input_by_name(ctx_, index, sink.c_str(), cb, u);
        });
    }

    // The source of every record stream on the server.
    std::vector<std::uint32_t> SourceOutputSources() {
        Query<std::uint32_t> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_source_output_info_list(
                    ctx_,
                    [](pa_context*, const pa_source_output_info* i, int eol, void* u) {
                        auto* q = static_cast<Query<std::uint32_t>*>(u);
                        if (i) q->items.push_back(i->source);
                        if (eol) q->Finish();
                    },
                    &q),
                q);
        });
        return q.items;
    }

    Module ModuleInfo(std::uint32_t index) {
        Query<Module> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_module_info(
                    ctx_, index,
                    [](pa_context*, const pa_module_info* i, int eol, void* u) {
                        auto* q = static_cast<Query<Module>*>(u);
                        if (i)
                            q->items.push_back(
                                {i->name ? i->name : "", i->argument ? i->argument : ""});
                        if (eol) q->Finish();
                    },
                    &q),
                q);
        });
        return q.items.empty() ? Module{} : q.items.front();
    }

    // The new module's index, PA_INVALID_INDEX on failure. PipeWire's PulseAudio service has no
    // null or sine source: a virtual source made by its null sink stands in (silent, yet it
    // records at its pace as they do).
    std::uint32_t LoadModule(std::string name, std::string args) {
        if ((name == "module-null-source" || name == "module-sine-source") && OnPipeWire()) {
            std::string kept = "media.class=Audio/Source/Virtual";
            std::size_t at = 0;
            while (at < args.size()) {
                std::size_t end = args.find(' ', at);
                if (end == std::string::npos) end = args.size();
                const std::string word = args.substr(at, end - at);
                if (word.rfind("source_name=", 0) == 0)
                    kept += " sink_name=" + word.substr(12);
                else if (word.rfind("description=", 0) == 0)
                    kept += " sink_properties=device.description=" + word.substr(12);
                else if (word.rfind("source_properties=", 0) == 0)
                    kept += " sink_properties=" + word.substr(18);
                else if (word.rfind("channels=", 0) == 0)
                    kept += " " + word;
                at = end + 1;
            }
            name = "module-null-sink";
            args = kept;
        }
        Query<std::uint32_t> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_load_module(
                    ctx_, name.c_str(), args.c_str(),
                    [](pa_context*, std::uint32_t idx, void* u) {
                        auto* q = static_cast<Query<std::uint32_t>*>(u);
                        q->items.push_back(idx);
                        q->Finish();
                    },
                    &q),
                q);
        });
        return q.items.empty() ? PA_INVALID_INDEX : q.items.front();
    }
    // The server is PipeWire's PulseAudio service.
    bool OnPipeWire() {
        Query<std::string> q;
        q.admin = this;
        Locked([&] {
            Run(pa_context_get_server_info(
                    ctx_,
                    [](pa_context*, const pa_server_info* i, void* u) {
                        auto* q = static_cast<Query<std::string>*>(u);
                        q->items.push_back(i && i->server_name ? i->server_name : "");
                        q->Finish();
                    },
                    &q),
                q);
        });
        return !q.items.empty() && q.items.front().find("PipeWire") != std::string::npos;
    }
    bool UnloadModule(std::uint32_t index) {
        return Success([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_unload_module(ctx_, index, cb, u);
        });
    }
    bool SetSinkVolume(const std::string& name, const pa_cvolume& v) {
        return Success([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_sink_volume_by_name(ctx_, name.c_str(), &v, cb, u);
        });
    }
    bool SetSourceVolume(const std::string& name, const pa_cvolume& v) {
        return Success([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_source_volume_by_name(ctx_, name.c_str(), &v, cb, u);
        });
    }
    bool SetSourceMute(const std::string& name, bool mute) {
        return Success([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_source_mute_by_name(ctx_, name.c_str(), mute, cb, u);
        });
    }
    bool SetSinkMute(const std::string& name, bool mute) {
        return Success([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_sink_mute_by_name(ctx_, name.c_str(), mute, cb, u);
        });
    }

private:
    template <class T> struct Query {
        PulseAdmin* admin = nullptr;
        std::vector<T> items;
        bool done = false;
        void Finish() {
            done = true;
            Signal(admin->loop_);
        }
    };
    static void Signal(void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }
    template <class Info> static Device Make(const Info& i) {
        Device d;
        d.index = i.index;
        d.module = i.owner_module;
        d.name = i.name ? i.name : "";
        d.description = i.description ? i.description : "";
        d.volume = i.volume;
        d.mute = i.mute != 0;
        return d;
    }
    void Locked(const std::function<void()>& f) {
        pa_threaded_mainloop_lock(loop_);
        f();
        pa_threaded_mainloop_unlock(loop_);
    }
    // Waits (lock held) until done() or 5 s passed; a watchdog timer wakes the wait.
    void Wait(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            timeval tv{};
            pa_timeval_add(pa_gettimeofday(&tv), 50 * PA_USEC_PER_MSEC);
            pa_time_event* e = api->time_new(
                api, &tv,
                [](pa_mainloop_api*, pa_time_event*, const timeval*, void* l) { Signal(l); },
                loop_);
            pa_threaded_mainloop_wait(loop_);
            api->time_free(e);
        }
    }
    // An answer that does not come in time is cancelled: its callback would write into a query
    // already gone.
    template <class T> void Run(pa_operation* op, Query<T>& q) {
        if (!op) return;
        Wait([&] { return q.done; });
        if (!q.done) pa_operation_cancel(op);
        pa_operation_unref(op);
    }
    bool Success(const std::function<pa_operation*(pa_context_success_cb_t, void*)>& call) {
        Query<int> q;
        q.admin = this;
        Locked([&] {
            Run(call(
                    [](pa_context*, int ok, void* u) {
                        auto* q = static_cast<Query<int>*>(u);
                        q->items.push_back(ok);
                        q->Finish();
                    },
                    &q),
                q);
        });
        return !q.items.empty() && q.items.front() != 0;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* ctx_ = nullptr;
};

// Polls cond until it holds or the deadline passes; for waiting on the server, never for a fixed
// time.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
