#include "platform/sim/SimConfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>

namespace {
const std::map<QString, DWORD>& ComponentTypes() {
    static const std::map<QString, DWORD> types = {
        {"Undefined", MIXERLINE_COMPONENTTYPE_DST_UNDEFINED},
        {"Digital", MIXERLINE_COMPONENTTYPE_DST_DIGITAL},
        {"LineOut", MIXERLINE_COMPONENTTYPE_DST_LINE},
        {"Monitor", MIXERLINE_COMPONENTTYPE_DST_MONITOR},
        {"Speakers", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS},
        {"Headphones", MIXERLINE_COMPONENTTYPE_DST_HEADPHONES},
        {"Telephone", MIXERLINE_COMPONENTTYPE_DST_TELEPHONE},
        {"WaveIn", MIXERLINE_COMPONENTTYPE_DST_WAVEIN},
        {"VoiceIn", MIXERLINE_COMPONENTTYPE_DST_VOICEIN},
        {"SrcUndefined", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
        {"SrcDigital", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"Line", MIXERLINE_COMPONENTTYPE_SRC_LINE},
        {"Microphone", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Synthesizer", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER},
        {"CompactDisc", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC},
        {"SrcTelephone", MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE},
        {"PCSpeaker", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"WaveOut", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"Auxiliary", MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY},
        {"Analog", MIXERLINE_COMPONENTTYPE_SRC_ANALOG},
    };
    return types;
}

// A whole number in 0..max, written as a JSON number or as a string ("0x000FFFFF" or decimal).
bool ParseNumber(const QJsonValue& v, quint32 max, quint32* out) {
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (!(d >= 0 && d <= max) || d != static_cast<double>(static_cast<quint32>(d)))
            return false;
        *out = static_cast<quint32>(d);
        return true;
    }
    if (v.isString()) {
        bool ok = false;
        const quint32 n = v.toString().toUInt(&ok, 0);
        if (!ok || n > max) return false;
        *out = n;
        return true;
    }
    return false;
}

// An optional number of an object: absent leaves out as it is; present must be valid.
bool OptionalNumber(const QJsonObject& o, const char* key, quint32 max, quint32* out,
                    QString* error) {
    if (!o.contains(QLatin1String(key))) return true;
    if (ParseNumber(o.value(QLatin1String(key)), max, out)) return true;
    *error = QString("%1 must be a whole number from 0 to %2").arg(key).arg(max);
    return false;
}

bool ParseLine(const QJsonObject& o, bool destination, SimLineConfig* line, QString* error) {
    const QString type = o.value("type").toString();
    auto it = ComponentTypes().find(type);
    if (it == ComponentTypes().end()) {
        *error = QString("unknown line type \"%1\"").arg(type);
        return false;
    }
    line->componentType = it->second;
    // Source and destination share some names: a source type is looked up on the source side.
    if (!destination && line->componentType < MIXERLINE_COMPONENTTYPE_SRC_FIRST) {
        *error = QString("\"%1\" is not a source line type").arg(type);
        return false;
    }
    if (destination && line->componentType >= MIXERLINE_COMPONENTTYPE_SRC_FIRST) {
        *error = QString("\"%1\" is not a destination line type").arg(type);
        return false;
    }
    line->name = o.value("name").toString(type).toStdString();
    line->shortName = o.value("shortName")
                          .toString(QString::fromStdString(line->name))
                          .left(MIXER_SHORT_NAME_CHARS - 1)
                          .toStdString();
    line->channels = static_cast<DWORD>(o.value("channels").toInt(2));
    if (line->channels < 1 || line->channels > 8) {
        *error = "channels must lie in 1..8";
        return false;
    }
    for (const auto& c : o.value("controls").toArray()) {
        const QString name = c.toString();
        static const QStringList known = {"Volume", "Mute", "PeakMeter", "Mux", "Mixer"};
        if (!known.contains(name) || (!destination && (name == "Mux" || name == "Mixer"))) {
            *error = QString("unknown control \"%1\" on line \"%2\"")
                         .arg(name, QString::fromStdString(line->name));
            return false;
        }
        line->controls.push_back(name.toStdString());
    }
    quint32 volume = 0xC000;
    if (o.contains("volume") && !ParseNumber(o.value("volume"), 0xFFFFFFFFu, &volume)) {
        *error = "volume must be a number";
        return false;
    }
    line->volume = static_cast<LONG>(std::min<quint32>(volume, 0xFFFF));
    line->mute = o.value("mute").toBool(false);
    line->selected = o.value("selected").toString().toStdString();
    if (destination)
        for (const auto& s : o.value("sources").toArray()) {
            SimLineConfig src;
            if (!ParseLine(s.toObject(), false, &src, error)) return false;
            line->sources.push_back(std::move(src));
        }
    return true;
}

SimLineConfig Line(DWORD type, const std::string& name, const std::string& shortName,
                   DWORD channels, std::vector<std::string> controls) {
    SimLineConfig l;
    l.componentType = type;
    l.name = name;
    l.shortName = shortName;
    l.channels = channels;
    l.controls = std::move(controls);
    return l;
}
} // namespace

std::optional<SimConfig> SimConfig::Parse(const QByteArray& json, QString* error) {
    QString dummy;
    if (!error) error = &dummy;
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = pe.error != QJsonParseError::NoError ? pe.errorString() : "not a JSON object";
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    SimConfig cfg;
    cfg.waveMapper = root.value("waveMapper").toBool(true);
    for (const auto& cv : root.value("cards").toArray()) {
        const QJsonObject c = cv.toObject();
        SimCardConfig card;
        card.name = c.value("name").toString().left(MAXPNAMELEN - 1).toStdString();
        if (card.name.empty()) {
            *error = "every card needs a name";
            return std::nullopt;
        }
        quint32 mid = card.manufacturerId, pid = card.productId, ver = card.driverVersion;
        if (!OptionalNumber(c, "manufacturerId", 0xFFFF, &mid, error) ||
            !OptionalNumber(c, "productId", 0xFFFF, &pid, error) ||
            !OptionalNumber(c, "driverVersion", 0xFFFFFFFFu, &ver, error))
            return std::nullopt;
        card.manufacturerId = static_cast<WORD>(mid);
        card.productId = static_cast<WORD>(pid);
        card.driverVersion = ver;
        const QJsonValue out = c.value("waveOut"), in = c.value("waveIn");
        card.waveOut = !out.isBool() || out.toBool();
        card.waveIn = !in.isBool() || in.toBool();
        // A wave device: 1 or 2 channels and the standard formats it offers.
        auto device = [&](const QJsonValue& v, WORD* channels, DWORD* formats) {
            if (!v.isObject()) return true;
            const QJsonObject d = v.toObject();
            quint32 ch = *channels;
            if (!OptionalNumber(d, "channels", 2, &ch, error) ||
                !OptionalNumber(d, "formats", 0xFFFFFFFFu, formats, error))
                return false;
            if (ch < 1) {
                *error = "wave devices have 1 or 2 channels";
                return false;
            }
            *channels = static_cast<WORD>(ch);
            return true;
        };
        if (!device(out, &card.outChannels, &card.outFormats) ||
            !device(in, &card.inChannels, &card.inFormats))
            return std::nullopt;
        for (const auto& d : c.value("mixer").toArray()) {
            SimLineConfig dst;
            if (!ParseLine(d.toObject(), true, &dst, error)) return std::nullopt;
            card.destinations.push_back(std::move(dst));
        }
        const QJsonObject sig = c.value("signal").toObject();
        const QString kind = sig.value("kind").toString("sine");
        if (kind == "silence")
            card.signal.kind = SimSignal::Kind::Silence;
        else if (kind == "sine")
            card.signal.kind = SimSignal::Kind::Sine;
        else if (kind == "wave")
            card.signal.kind = SimSignal::Kind::WaveFile;
        else {
            *error = QString("unknown signal kind \"%1\"").arg(kind);
            return std::nullopt;
        }
        card.signal.amplitude = std::clamp(sig.value("amplitude").toDouble(0.5), 0.0, 1.0);
        card.signal.frequency = std::max(0.0, sig.value("frequency").toDouble(440));
        card.signal.file = sig.value("file").toString();
        cfg.cards.push_back(std::move(card));
    }
    return cfg;
}

std::optional<SimConfig> SimConfig::Load(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QString("cannot read %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    return Parse(f.readAll(), error);
}

SimCardConfig SimConfig::StandardCard(const std::string& name, bool muxRecording) {
    SimCardConfig card;
    card.name = name;
    SimLineConfig speakers =
        Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", "Speakers", 2, {"Volume", "Mute"});
    speakers.sources = {
        Line(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "Wave Out", "Wave", 2,
             {"Volume", "Mute", "PeakMeter"}),
        Line(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Microphone", "Mic", 1, {"Volume", "Mute"}),
        Line(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD Audio", "CD", 2, {"Volume", "Mute"}),
        Line(MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line In", "Line", 2, {"Volume", "Mute"}),
    };
    speakers.sources[1].mute = true; // the microphone is not heard on the speakers by default
    SimLineConfig recording = Line(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording Control",
                                   "Recording", 2, {muxRecording ? "Mux" : "Mixer"});
    recording.selected = "Microphone";
    recording.sources = {
        Line(MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line In", "Line", 2, {"Volume"}),
        Line(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Microphone", "Mic", 1, {"Volume"}),
        Line(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD Audio", "CD", 2, {"Volume"}),
    };
    card.destinations = {speakers, recording};
    return card;
}

SimConfig SimConfig::Default() {
    const QByteArray env = qgetenv("AVSETUP_SIM_CONFIG");
    const QString path = env.isEmpty() ? QString(":/avsetup/SimDevices.json") : QString(env);
    QString error;
    if (auto cfg = Load(path, &error)) return *cfg;
    qWarning("Simulated sound system: %s; using the built-in two-card system", qPrintable(error));
    SimConfig cfg;
    cfg.cards = {StandardCard("Virtual Audio Device", true), StandardCard("USB Headset", false)};
    cfg.cards[1].manufacturerId = 2;
    cfg.cards[1].productId = 7;
    return cfg;
}
