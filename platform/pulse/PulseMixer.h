#pragma once
// Mixer i of the PulseAudio backend: sink i as a Speakers destination (volume, mute) with this
// program's playback as its "Wave Out" source line, and source i as a recording destination whose
// source lines are the source's ports, picked by a multiplexer. See docs/ARCHITECTURE.md.
//
// PulseMixers keeps the mixers of one context: it listens to the context, re-pairs its mixers when
// the device set changes and hands each device change to the mixer it belongs to.
//
// Threads: the IMixerDevice calls come from any thread; the change hooks (SinkChanged,
// SourceChanged) from the main-loop thread, without the context's cache mutex held.
#include "platform/api/AudioBackend.h"
#include "platform/pulse/PulseContext.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PulseMixers;

class PulseMixer : public IMixerDevice {
public:
    // What a mixer stands for; a mixer lives while its key stays the same.
    struct Key {
        std::string sink, source;
        std::uint32_t sinkIndex = PA_INVALID_INDEX, sourceIndex = PA_INVALID_INDEX;
        std::uint32_t monitorIndex = PA_INVALID_INDEX; // the sink's monitor ("Stereo Mix")
        std::string monitor;
        std::vector<std::string> ports;
        std::string card; // the card both devices belong to (its description), if any
        bool operator==(const Key&) const = default;
    };

    // card: the description of the sound card both devices belong to (the mixer's name), or empty.
    // set: the mixers it is one of (its id is its place there; none: no id).
    PulseMixer(std::weak_ptr<PulseContext> ctx, const PulseDevice* sink, const PulseDevice* source,
               const std::string& card = {}, std::weak_ptr<const PulseMixers> set = {});
    static Key KeyOf(const PulseDevice* sink, const PulseDevice* source,
                     const std::string& card = {});
    const Key& GetKey() const { return key_; }

    bool Present() const override { return !gone_.load(); }
    MMRESULT GetId(UINT* id) const override;
    MixerDesc Description() const override;
    MMRESULT GetValues(DWORD controlId, std::vector<LONG>& values) override;
    MMRESULT SetValues(DWORD controlId, const std::vector<LONG>& values) override;

    // The devices behind the mixer went away: every call answers MMSYSERR_NODRIVER from now on.
    void MarkGone() { gone_ = true; }
    // Post the notices for what changed between two reports of the mixer's sink or source.
    void SinkChanged(const PulseDevice& before, const PulseDevice& after);
    void SourceChanged(const PulseDevice& before, const PulseDevice& after);

    // Control ids, for tests and the backend's own use (0 when the mixer has no such control).
    DWORD SinkVolumeId() const { return sinkVolume_; }
    DWORD SinkMuteId() const { return sinkMute_; }
    DWORD MuxId() const { return mux_; }

private:
    enum class Role {
        SinkVolume,
        SinkMute,
        WaveVolume,
        WaveMute,
        SourceVolume,
        SourceMute,
        MonitorVolume,
        MonitorMute,
        Mux
    };
    struct Binding {
        DWORD id;
        Role role;
    };
    DWORD AddControl(MixerLineDesc& line, Role role, DWORD type, const std::string& name,
                     const std::string& shortName);
    const Binding* Find(DWORD controlId) const;
    void NotifyRole(Role role) const;
    // The recording line's selected item: a port, or the Stereo Mix line (the last).
    std::size_t Selected(const PulseContext& ctx, const PulseDevice& source) const;
    DWORD RecordingLineId(std::size_t item) const;

    // Levels written to a device volume. The server's volume steps are coarser than 65535 levels
    // near full scale, so a read gives back what was written while the server still holds the
    // volume that write made; a change made elsewhere reads as the server has it.
    struct Written {
        pa_cvolume volume{};
        std::vector<LONG> levels;
    };
    void Remember(Role role, const pa_cvolume& volume, const std::vector<LONG>& levels);
    // The levels of a device volume: the written ones while the server still holds them.
    std::vector<LONG> Levels(Role role, const pa_cvolume& volume, int channels) const;

    std::weak_ptr<PulseContext> ctx_;
    std::weak_ptr<const PulseMixers> set_;
    Key key_;
    mutable std::mutex writtenLock_;
    std::map<Role, Written> written_;
    std::atomic<bool> gone_{false};
    MixerDesc desc_;     // structure; flags and target ids are filled in per call
    int sinkDst_ = -1;   // destination index of the Speakers line
    int sourceDst_ = -1; // destination index of the recording line
    int sinkChannels_ = 2, sourceChannels_ = 1, monitorChannels_ = 2;
    std::size_t items_ = 0;  // of the multiplexer
    bool stereoMix_ = false; // the last item records the sink's monitor
    std::vector<Binding> bindings_;
    DWORD sinkVolume_ = 0, sinkMute_ = 0, mux_ = 0;
};

// The mixers of one context, in its pairing's order: mixer i serves sink i and source i. Mixers
// whose devices stay the same survive a change of the device set; the others are marked gone.
class PulseMixers final : public PulseListener, public std::enable_shared_from_this<PulseMixers> {
public:
    // Builds the mixers of the devices known now and follows the context from then on. Any thread
    // but the loop thread's own callbacks.
    static std::shared_ptr<PulseMixers> Create(std::shared_ptr<PulseContext> ctx);
    // Stops following the context; every mixer handed out reads as gone.
    ~PulseMixers();
    PulseMixers(const PulseMixers&) = delete;
    PulseMixers& operator=(const PulseMixers&) = delete;

    // Any thread.
    UINT Count() const;
    std::shared_ptr<PulseMixer> Mixer(UINT id) const;
    bool Position(const PulseMixer* mixer, UINT* id) const;

    // PulseListener: main-loop lock held.
    void DevicesChanged() override;
    void DeviceChanged(bool sink, const PulseDevice& before, const PulseDevice& after) override;

private:
    explicit PulseMixers(std::shared_ptr<PulseContext> ctx) : ctx_(std::move(ctx)) {}

    std::shared_ptr<PulseContext> ctx_;
    // Taken inside the context's cache mutex (while re-pairing), never around a call into it.
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<PulseMixer>> mixers_;
};
