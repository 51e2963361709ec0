#pragma once
// The description of a simulated sound system: sound cards, each with a wave output, a wave input
// and a mixer. Read from a small JSON text (resources/SimDevices.json is the default, a PC with
// two cards); see docs/ARCHITECTURE.md for the format.
#include "platform/api/mmsystem.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

// What a simulated microphone hears.
struct SimSignal {
    enum class Kind { Silence, Sine, WaveFile };
    Kind kind = Kind::Sine;
    double amplitude = 0.5; // 0..1 of full scale
    double frequency = 440; // Hz
    QString file;           // WAVE file, looped (Kind::WaveFile)
};

// One mixer line. Controls by name: "Volume", "Mute", "PeakMeter", and on a destination "Mux" or
// "Mixer" (a list whose items are the destination's sources).
struct SimLineConfig {
    DWORD componentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    std::string name, shortName;
    DWORD channels = 2;
    std::vector<std::string> controls;
    LONG volume = 0xC000; // initial volume on every channel
    bool mute = false;
    std::string selected;               // list controls: names of the initially selected sources
    std::vector<SimLineConfig> sources; // destinations only
};

struct SimCardConfig {
    std::string name;
    WORD manufacturerId = 1, productId = 1;
    MMVERSION driverVersion = 0x0500;
    bool waveOut = true, waveIn = true;
    WORD outChannels = 2, inChannels = 2;
    DWORD outFormats = 0x000FFFFF, inFormats = 0x000FFFFF; // WAVE_FORMAT_1M08 ...
    std::vector<SimLineConfig> destinations;               // the mixer; none: no mixer
    SimSignal signal;
};

struct SimConfig {
    std::vector<SimCardConfig> cards;
    bool waveMapper = true;

    // The default system (":/avsetup/SimDevices.json", or the file AVSETUP_SIM_CONFIG names).
    static SimConfig Default();
    static std::optional<SimConfig> Parse(const QByteArray& json, QString* error);
    static std::optional<SimConfig> Load(const QString& path, QString* error);
    // One card shaped like the default ones (for hot-plug tests).
    static SimCardConfig StandardCard(const std::string& name, bool muxRecording);
};
