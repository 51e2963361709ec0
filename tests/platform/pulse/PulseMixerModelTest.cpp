// The mixer a sink and a source with ports make, built from device records alone (no server): the
// lines, their names and ids, and the multiplexer over the ports.
#include "platform/pulse/PulseBackend.h"
#include "platform/pulse/PulseMixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

PulsePort Port(const std::string& name, const std::string& description, std::uint32_t type) {
    PulsePort p;
    p.name = name;
    p.description = description;
    p.type = type;
    return p;
}

PulseDevice Device(std::uint32_t index, const std::string& name, const std::string& description,
                   std::uint8_t channels) {
    PulseDevice d;
    d.index = index;
    d.name = name;
    d.description = description;
    d.spec = {PA_SAMPLE_S16LE, 44100, channels};
    pa_cvolume_set(&d.volume, channels, PA_VOLUME_NORM);
    return d;
}

const MixerLineDesc* Line(const MixerDesc& d, DWORD type) {
    for (auto& dst : d.destinations) {
        if (dst.componentType == type) return &dst;
        for (auto& src : dst.sources)
            if (src.componentType == type) return &src;
    }
    return nullptr;
}

TEST(PulseMixerModel, PortsBecomeRecordingLinesUnderAMultiplexer) {
    PulseDevice sink = Device(3, "alsa_output.usb", "USB Headset Analog Stereo", 2);
    sink.monitorSource = 4;
    sink.monitorName = "alsa_output.usb.monitor";
    PulseDevice source = Device(5, "alsa_input.usb", "USB Headset Mono", 1);
    source.ports = {
        Port("analog-input-linein", "Line In", PA_DEVICE_PORT_TYPE_LINE),
        Port("analog-input-mic", "Mic", PA_DEVICE_PORT_TYPE_UNKNOWN),
        Port("analog-input-internal-mic", "Internal Microphone", PA_DEVICE_PORT_TYPE_MIC),
        Port("iec958-stereo-input", "Digital Input (S/PDIF)", PA_DEVICE_PORT_TYPE_SPDIF)};
    source.activePort = "analog-input-mic";
    PulseMixer mixer({}, &sink, &source);
    const MixerDesc d = mixer.Description();

    EXPECT_EQ(d.name, "USB Headset");
    ASSERT_EQ(d.destinations.size(), 2u);
    const MixerLineDesc& spk = d.destinations[0];
    EXPECT_EQ(spk.componentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(spk.lineId, 0xFFFF0000u);
    EXPECT_EQ(spk.channels, 2u);
    EXPECT_EQ(spk.targetName, "USB Headset Analog Stereo");
    ASSERT_EQ(spk.sources.size(), 1u);
    EXPECT_EQ(spk.sources[0].componentType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);

    const MixerLineDesc& rec = d.destinations[1];
    EXPECT_EQ(rec.componentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    EXPECT_EQ(rec.lineId, 0xFFFF0001u);
    ASSERT_EQ(rec.sources.size(), 5u); // four ports and Stereo Mix
    const DWORD types[] = {MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                           MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                           MIXERLINE_COMPONENTTYPE_SRC_DIGITAL, MIXERLINE_COMPONENTTYPE_SRC_ANALOG};
    const char* names[] = {"Line In", "Microphone (Mic)", "Internal Microphone",
                           "Digital Input (S/PDIF)", "Stereo Mix"};
    for (DWORD k = 0; k < 5; ++k) {
        EXPECT_EQ(rec.sources[k].componentType, types[k]) << k;
        EXPECT_EQ(rec.sources[k].name, names[k]);
        EXPECT_EQ(rec.sources[k].lineId, (k << 16) | 1u);
        EXPECT_LE(rec.sources[k].shortName.size(), MIXER_SHORT_NAME_CHARS - 1);
        EXPECT_EQ(rec.sources[k].channels, k < 4 ? 1u : 2u);
    }
    // The multiplexer lists the lines in order, each item naming its line.
    ASSERT_EQ(rec.controls.size(), 1u);
    const MixerControlDesc& mux = rec.controls[0];
    EXPECT_EQ(mux.type, MIXERCONTROL_CONTROLTYPE_MUX);
    EXPECT_EQ(mux.id, mixer.MuxId());
    ASSERT_EQ(mux.items.size(), 5u);
    for (DWORD k = 0; k < 5; ++k) {
        EXPECT_EQ(mux.items[k].param1, rec.sources[k].lineId);
        EXPECT_EQ(mux.items[k].name, rec.sources[k].name);
    }
    // Control ids are unique through the mixer.
    std::vector<DWORD> ids;
    for (auto& dst : d.destinations) {
        for (auto& c : dst.controls)
            ids.push_back(c.id);
        for (auto& src : dst.sources)
            for (auto& c : src.controls)
                ids.push_back(c.id);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(ids.size(), 1 + 2 + 2 + 5 * 2u);

    // Without a server behind it the mixer answers as gone.
    std::vector<LONG> v;
    EXPECT_EQ(mixer.GetValues(mixer.SinkVolumeId(), v), MMSYSERR_NODRIVER);
}

TEST(PulseMixerModel, ASourceWithoutPortsIsOneMicrophoneAndNamesAreCutWhole) {
    // 40 bytes of two-byte characters: cut at 31 and 63 bytes without splitting one.
    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "\xC3\xA9"; // é
    PulseDevice source = Device(1, "webcam", longName, 2);
    PulseMixer mixer({}, nullptr, &source);
    const MixerDesc d = mixer.Description();
    EXPECT_EQ(d.name.size(), 30u); // 15 whole characters
    ASSERT_EQ(d.destinations.size(), 1u);
    EXPECT_EQ(d.destinations[0].lineId, 0xFFFF0000u);
    EXPECT_EQ(d.destinations[0].name.size(), 62u);
    EXPECT_EQ(d.destinations[0].shortName.size(), 14u);
    const MixerLineDesc* mic = Line(d, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    ASSERT_NE(mic, nullptr);
    EXPECT_EQ(mic->name, "Microphone");
    EXPECT_EQ(d.destinations[0].sources.size(), 1u); // no sink, so no Stereo Mix
    EXPECT_EQ(d.destinations[0].controls[0].items.size(), 1u);
}

// Levels are linear in amplitude on the server's (cubic) scale: half is -6 dB. Near full scale
// the server's steps are coarser than the levels, so a level comes back within a step or two (the
// mixer gives back exactly what it wrote; the conformance suite checks that).
TEST(PulseMixerModel, VolumesAreLinearInAmplitude) {
    EXPECT_EQ(LevelToPulse(0), PA_VOLUME_MUTED);
    EXPECT_EQ(LevelToPulse(0xFFFF), PA_VOLUME_NORM);
    EXPECT_EQ(LevelToPulse(-5), PA_VOLUME_MUTED); // clamped
    EXPECT_EQ(PulseToLevel(PA_VOLUME_NORM), 0xFFFF);
    EXPECT_EQ(PulseToLevel(PA_VOLUME_NORM * 3 / 2), 0xFFFF); // louder than normal reads full
    EXPECT_NEAR(pa_sw_volume_to_dB(LevelToPulse(0x8000)), -6.02, 0.01);
    EXPECT_NEAR(pa_sw_volume_to_dB(LevelToPulse(13 * 65535 / 100)), -17.72, 0.01);
    for (LONG l : {1, 100, 0x4000, 0x8000, 40000, 0xFFFE})
        EXPECT_NEAR(PulseToLevel(LevelToPulse(l)), l, 2) << l;
}

} // namespace
