#pragma once
// The connection to the sound server (PulseAudio, or PipeWire through its PulseAudio server) and
// the device list kept current from the server's subscription events.
//
// Threads: the server's callbacks run on the threaded main loop's own thread, with the main-loop
// lock held. Every other thread takes that lock (PulseLock) around calls into libpulse, and the
// cache mutex (short, never around a libpulse call) to read the device list. Lock order: main-loop
// lock before cache mutex, never the other way round.
#include "platform/api/mmsystem.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct PulsePort {
    std::string name, description;
    std::uint32_t type = 0; // PA_DEVICE_PORT_TYPE_*
    int available = PA_PORT_AVAILABLE_UNKNOWN;
};

// A sink or a source as last reported by the server.
struct PulseDevice {
    std::uint32_t index = PA_INVALID_INDEX;
    std::string name, description;
    pa_sample_spec spec{};
    pa_cvolume volume{};
    bool mute = false;
    bool monitor = false;                           // sources only: the monitor of a sink
    std::uint32_t monitorSource = PA_INVALID_INDEX; // sinks only: their monitor
    std::string monitorName;
    std::vector<PulsePort> ports;
    std::string activePort;
    std::uint32_t card = PA_INVALID_INDEX; // the sound card it belongs to, if any
    std::string busPath;                   // "device.bus_path": where the hardware sits
};

// Volume of this program's own playback on one sink (the mixer's "Wave Out" line).
struct WaveOutLevel {
    std::vector<LONG> volume{0xFFFF, 0xFFFF};
    bool mute = false;
};

// What follows the server through the context: the mixers and the open streams (as widgets follow
// a model's signals). Registered with AddListener; told with the main-loop lock held, never the
// cache mutex, so a listener may read the device list.
class PulseListener {
public:
    // Sinks or sources came or went, or changed their ports or channels. Main-loop thread (or the
    // thread connecting, at start); the application is told afterwards.
    virtual void DevicesChanged() {}
    // A sink or source changed its volume, mute or active port: its last two reports. Main-loop
    // thread.
    virtual void DeviceChanged(bool /*sink*/, const PulseDevice& /*before*/,
                               const PulseDevice& /*after*/) {}
    // This program's playback level on a sink was set. The thread that set it.
    virtual void WaveOutLevelChanged(const std::string& /*sink*/, const WaveOutLevel& /*level*/) {}

protected:
    ~PulseListener() = default;
};

class PulseContext {
public:
    // Connects to the server named by PULSE_SERVER (or the usual default), waiting at most
    // timeoutMs for the connection and the first device list. Never null; check Connected().
    // Without a server the context keeps trying (every second) and reports the devices, as
    // devices that came, once one answers.
    static std::shared_ptr<PulseContext> Connect(int timeoutMs);
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // The devices of one mixer (pointers into the cache, valid while its mutex is held).
    struct Pair {
        const PulseDevice* sink = nullptr;
        const PulseDevice* source = nullptr;
        std::string card; // the card's description, when both are of one card
    };

    bool Connected() const { return connected_.load(); }
    pa_threaded_mainloop* Mainloop() const { return mainloop_; }
    pa_context* Context() const { return context_; }
    // Whether the caller runs on the main-loop thread (which already holds the lock).
    bool InLoopThread() const;

    // Waits (main-loop lock held, not on the loop thread) until done() or the timeout; the loop
    // thread signals after every callback that may change the answer (Signal).
    bool WaitFor(const std::function<bool()>& done, int timeoutMs);
    void Signal();

    // ---- The cached device list (any thread) ----------------------------------------------------
    // Wave outputs are the sinks, wave inputs the sources that are not monitors, both in the order
    // of the mixers they belong to (Pairing), so that mixer i, wave output i and wave input i are
    // one device.
    std::vector<PulseDevice> Sinks() const;
    std::vector<PulseDevice> Sources() const;
    UINT SinkCount() const;
    UINT SourceCount() const;
    bool Sink(UINT id, PulseDevice* out) const;   // id may be WAVE_MAPPER: the default sink
    bool Source(UINT id, PulseDevice* out) const; // id may be WAVE_MAPPER: the default source
    bool SinkByIndex(std::uint32_t index, PulseDevice* out) const;
    bool SourceByIndex(std::uint32_t index, PulseDevice* out) const;
    // Position of a server index in the lists; false when the device has gone.
    bool SinkPosition(std::uint32_t index, UINT* id) const;
    bool SourcePosition(std::uint32_t index, UINT* id) const;
    // The devices of each mixer: mixer i serves sink i and source i. A sink and a source of one
    // sound card (the server's card, or the same bus path) make one mixer, named by the card; the
    // ones without a partner pair up in the server's order of creation. read runs with the cache
    // mutex held (it must not call back into the context).
    void ReadPairs(const std::function<void(const std::vector<Pair>&)>& read) const;

    // ---- Writes (any thread but the loop thread's own callbacks; asynchronous, never wait) -----
    // The cache follows at once, so a read right after a write sees the new value.
    void SetSinkVolume(std::uint32_t index, const pa_cvolume& volume);
    void SetSinkMute(std::uint32_t index, bool mute);
    void SetSourceVolume(std::uint32_t index, const pa_cvolume& volume);
    void SetSourceMute(std::uint32_t index, bool mute);
    void SetSourcePort(std::uint32_t index, const std::string& port);
    // "Stereo Mix" on a recording line: the source then records from a sink's monitor instead
    // (empty: from itself). Streams opened afterwards follow it.
    std::string RecordFrom(const std::string& source) const;
    void SetRecordFrom(const std::string& source, const std::string& monitor);
    WaveOutLevel GetWaveOutLevel(const std::string& sink) const;
    void SetWaveOutLevel(const std::string& sink, const WaveOutLevel& level);

    // Listeners come and go with the main-loop lock held (any thread); one added is told of
    // every change from then on, one removed of none once this returns.
    void AddListener(PulseListener* listener);
    void RemoveListener(PulseListener* listener);

private:
    PulseContext();
    bool Start(int timeoutMs);
    void Shutdown();
    bool NewContext(); // a context connecting (asynchronously) to the server
    void DropContext();
    void Subscribe(); // events, then the server, sink and source lists

    static void OnContextState(pa_context* c, void* self);
    static void OnSubscription(pa_context* c, pa_subscription_event_type_t t, std::uint32_t index,
                               void* self);
    static void OnServerInfo(pa_context* c, const pa_server_info* info, void* self);
    static void OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void OnSourceInfo(pa_context* c, const pa_source_info* info, int eol, void* self);

    void StoreSink(const pa_sink_info& info);
    void StoreSource(const pa_source_info& info);
    void RemoveDevice(bool sink, std::uint32_t index);
    // Tells the listeners that the device set changed (they re-pair their mixers), then, with
    // notify, the application.
    void DevicesChanged(bool notify);
    // Every listener, for one event (a copy: a listener may come or go meanwhile).
    std::vector<PulseListener*> Listeners() const { return listeners_; }
    void ApplyWaveOutLevel(const std::string& sink);
    void ConnectionLost();
    void ArmReconnect(); // loop thread
    // No server answered at start: keep the loop running and try again until one does.
    void WaitForServer();
    static void OnCardInfo(pa_context* c, const pa_card_info* info, int eol, void* self);

    // Sinks and sources in mixer order (lock_ held): first the pairs of one card, by the sink's
    // order, then the rest paired in order; a mixer with one device only comes last.
    std::vector<Pair> Pairing() const;

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> connected_{false};
    bool listed_ = false; // the first device lists have arrived (loop thread)
    bool loopRunning_ = false;
    std::string server_;                      // the server connected to first
    bool reconnecting_ = false;               // the connection was lost (loop thread)
    pa_time_event* reconnectTimer_ = nullptr; // loop thread
    int pendingLists_ = 0;                    // loop thread

    mutable std::mutex lock_;                              // guards everything below
    std::map<std::uint32_t, PulseDevice> sinks_, sources_; // by server index: creation order
    std::map<std::uint32_t, std::string> cards_;           // card index: description
    std::string defaultSink_, defaultSource_;
    std::map<std::string, WaveOutLevel> waveOutLevels_;
    std::map<std::string, std::string> recordFrom_;

    std::vector<PulseListener*> listeners_; // main-loop lock
};

// Holds the main-loop lock for a scope; a no-op on the loop thread, which holds it already.
class PulseLock {
public:
    explicit PulseLock(const PulseContext& ctx);
    ~PulseLock();
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    pa_threaded_mainloop* loop_ = nullptr;
};

// Volumes: 0..65535 are linear in amplitude (the pages put a decibel slider over them, as over a
// sound card's volume), so 32768 is -6 dB; the server's own scale is cubic and libpulse converts.
// Louder than normal reads as 65535.
LONG PulseToLevel(pa_volume_t v);
pa_volume_t LevelToPulse(LONG level);

// Cuts UTF-8 text to at most maxBytes bytes without splitting a character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);
