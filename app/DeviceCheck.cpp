#include "app/DeviceCheck.h"

#include "app/AudioVideoSet.h"
#include "app/Installation.h"
#include "app/MixerLines.h"
#include "app/SoundCheck.h"
#include "audio/display/AvUtils.h"
#include "framework/IniFiles.h"
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"
#include "platform/dshow/VideoBackend.h"
#include "platform/pulse/PulseBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <gst/gst.h>

#include <atomic>
#include <cmath>
#include <cstring>

namespace {

constexpr int kRecordRate = 8000;
constexpr double kDefaultSeconds = 5;
constexpr double kMaxSeconds = 60;

struct TOptions {
    bool Json = false;
    QString Speaker, Microphone, Camera; // empty: the remembered choice, else the first
    double Seconds = kDefaultSeconds;
};

QString Usage() {
    return QCoreApplication::translate(
        "DeviceCheck",
        "用法：avsetup --check [--json] [--speaker 设备] [--microphone 设备] [--camera 设备] "
        "[--seconds 秒数]\n设备可以是列表中的位置（从 0 开始）、列表中的名称，或声音服务器"
        "上的设备描述或名称。\n");
}

// False (and why) for arguments the check does not take.
bool Parse(const QStringList& args, TOptions* o, QString* why) {
    for (int i = 1; i < args.size(); ++i) {
        QString a = args[i];
        QString value;
        const bool hasValue = a.startsWith(QLatin1String("--")) && a.contains(u'=');
        if (hasValue) {
            value = a.mid(a.indexOf(u'=') + 1);
            a = a.left(a.indexOf(u'='));
        }
        auto take = [&](QString* into) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    *why = QCoreApplication::translate("DeviceCheck", "%1 后面缺少值。").arg(a);
                    return false;
                }
                value = args[++i];
            }
            *into = value;
            return true;
        };
        if (a == QLatin1String("--check") && !hasValue) continue;
        if (a == QLatin1String("--json") && !hasValue) {
            o->Json = true;
        } else if (a == QLatin1String("--speaker")) {
            if (!take(&o->Speaker)) return false;
        } else if (a == QLatin1String("--microphone")) {
            if (!take(&o->Microphone)) return false;
        } else if (a == QLatin1String("--camera")) {
            if (!take(&o->Camera)) return false;
        } else if (a == QLatin1String("--seconds")) {
            QString text;
            if (!take(&text)) return false;
            bool ok = false;
            o->Seconds = text.toDouble(&ok);
            if (!ok || !(o->Seconds >= 1) || o->Seconds > kMaxSeconds) {
                *why = QCoreApplication::translate("DeviceCheck",
                                                   "--seconds 需要 1 到 %1 之间的秒数。")
                           .arg(kMaxSeconds);
                return false;
            }
        } else {
            *why = QCoreApplication::translate("DeviceCheck", "未知的参数：%1").arg(args[i]);
            return false;
        }
    }
    return true;
}

QString CapsName(const char* name) {
    return QString::fromUtf8(name, static_cast<qsizetype>(strnlen(name, MAXPNAMELEN)));
}

// Every name each wave device of a kind is known by: the list's text (its mixer's name), the
// device's own name and, on a sound server, its description and name there.
QList<QStringList> AudioDeviceNames(bool input) {
    IAudioBackend& backend = AudioBackend();
    auto* pulse = dynamic_cast<PulseBackend*>(&backend);
    QList<QStringList> all;
    const UINT count = input ? backend.WaveInCount() : backend.WaveOutCount();
    for (UINT i = 0; i < count; ++i) {
        // The device's own name first: it is what the report names.
        QStringList names;
        if (input) {
            WAVEINCAPSA caps{};
            if (backend.WaveInCaps(i, &caps) == MMSYSERR_NOERROR) names << CapsName(caps.szPname);
        } else {
            WAVEOUTCAPSA caps{};
            if (backend.WaveOutCaps(i, &caps) == MMSYSERR_NOERROR) names << CapsName(caps.szPname);
        }
        UINT mixerId = 0;
        if (backend.MixerIdOf(input ? MIXER_OBJECTF_WAVEIN : MIXER_OBJECTF_WAVEOUT, i, &mixerId) ==
            MMSYSERR_NOERROR)
            if (auto mixer = backend.Mixer(mixerId))
                names << QString::fromStdString(mixer->Description().name);
        if (pulse) {
            PulseDevice d;
            if (input ? pulse->Context().Source(i, &d) : pulse->Context().Sink(i, &d))
                names << QString::fromStdString(d.description) << QString::fromStdString(d.name);
        }
        names.removeAll(QString());
        if (names.isEmpty()) names << QString::number(i);
        all << names;
    }
    return all;
}

// The device a check uses: the one named, else the remembered one, else the first. -1 when there
// is none (missing: a name that matches nothing).
int ChooseDevice(const QString& named, int remembered, const QList<QStringList>& names,
                 bool* missing) {
    *missing = false;
    if (!named.isEmpty()) {
        const int found = FindDevice(named, names);
        *missing = found < 0;
        return found;
    }
    if (names.isEmpty()) return -1;
    return remembered >= 0 && remembered < names.size() ? remembered : 0;
}

// ---- Sound -----------------------------------------------------------------------------------

// Plays the test sound on the speaker (when there is one) while recording the microphone (when
// there is one) for the given time; the recording in mono at kRecordRate.
struct TAudioRun {
    bool Played = false;
    std::vector<std::int16_t> Recorded;
    QString Problem; // technical text of a device that failed to open
};

TAudioRun RunAudio(int speaker, int microphone, const TPcm16Sound* sound, double seconds) {
    TAudioRun run;
    const std::size_t wanted = static_cast<std::size_t>(seconds * kRecordRate);
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    WAVEFORMATEX inFormat{};
    BuildPcmFormat(&inFormat, 16, 1, kRecordRate);
    constexpr int kBuffers = 10;
    constexpr int kBufferSamples = kRecordRate / 10; // 100 ms
    std::vector<std::vector<std::int16_t>> data(kBuffers,
                                                std::vector<std::int16_t>(kBufferSamples));
    std::vector<WAVEHDR> headers(kBuffers);
    if (microphone >= 0) {
        if (MMRESULT r =
                waveInOpen(&in, static_cast<UINT>(microphone), &inFormat, 0, 0, CALLBACK_NULL)) {
            char text[MAXERRORLENGTH] = {};
            waveInGetErrorTextA(r, text, sizeof text);
            run.Problem = QStringLiteral("waveInOpen: ") + QString::fromUtf8(text);
            in = nullptr;
        } else {
            for (int b = 0; b < kBuffers; ++b) {
                headers[b].lpData = reinterpret_cast<LPSTR>(data[b].data());
                headers[b].dwBufferLength = kBufferSamples * 2;
                waveInPrepareHeader(in, &headers[b], sizeof(WAVEHDR));
                waveInAddBuffer(in, &headers[b], sizeof(WAVEHDR));
            }
        }
    }
    // The sound as many times over as the time needs, in one buffer.
    std::vector<std::int16_t> played;
    WAVEHDR outHeader{};
    if (speaker >= 0 && sound) {
        WAVEFORMATEX f{};
        BuildPcmFormat(&f, 16, static_cast<WORD>(sound->Channels), static_cast<DWORD>(sound->Rate));
        const double length = double(sound->Mono.size()) / sound->Rate;
        const int copies = std::max(1, static_cast<int>(std::ceil(seconds / length)));
        for (int c = 0; c < copies; ++c)
            played.insert(played.end(), sound->Interleaved.begin(), sound->Interleaved.end());
        if (MMRESULT r = waveOutOpen(&out, static_cast<UINT>(speaker), &f, 0, 0, CALLBACK_NULL)) {
            char text[MAXERRORLENGTH] = {};
            waveOutGetErrorTextA(r, text, sizeof text);
            run.Problem = QStringLiteral("waveOutOpen: ") + QString::fromUtf8(text);
            out = nullptr;
        } else {
            outHeader.lpData = reinterpret_cast<LPSTR>(played.data());
            outHeader.dwBufferLength = static_cast<DWORD>(played.size() * 2);
            waveOutPrepareHeader(out, &outHeader, sizeof(WAVEHDR));
        }
    }
    // Recording starts first, so the delay found is the whole way from the player to the ear.
    if (in) waveInStart(in);
    if (out) run.Played = waveOutWrite(out, &outHeader, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;

    QElapsedTimer clock;
    clock.start();
    const qint64 deadline = static_cast<qint64>(seconds * 1000) + 5000;
    int next = 0;
    while (clock.elapsed() < deadline) {
        if (in) {
            WAVEHDR& h = headers[next];
            if (h.dwFlags & WHDR_DONE) {
                const auto* s = reinterpret_cast<const std::int16_t*>(h.lpData);
                run.Recorded.insert(run.Recorded.end(), s, s + h.dwBytesRecorded / 2);
                if (run.Recorded.size() >= wanted) break;
                waveInAddBuffer(in, &h, sizeof(WAVEHDR));
                next = (next + 1) % kBuffers;
                continue;
            }
            MMTIME t{};
            t.wType = TIME_BYTES;
            if (waveInGetPosition(in, &t, sizeof t) != MMSYSERR_NOERROR) break; // device gone
        } else if (clock.elapsed() >= static_cast<qint64>(seconds * 1000)) {
            break;
        }
        QThread::msleep(5);
    }
    if (out) {
        MMTIME t{};
        t.wType = TIME_SAMPLES;
        run.Played = run.Played && waveOutGetPosition(out, &t, sizeof t) == MMSYSERR_NOERROR &&
                     t.u.sample > 0;
        waveOutReset(out);
        waveOutUnprepareHeader(out, &outHeader, sizeof(WAVEHDR));
        waveOutClose(out);
    }
    if (in) {
        waveInReset(in);
        for (auto& h : headers)
            waveInUnprepareHeader(in, &h, sizeof(WAVEHDR));
        waveInClose(in);
    }
    if (run.Recorded.size() > wanted) run.Recorded.resize(wanted);
    return run;
}

// ---- Camera ----------------------------------------------------------------------------------

TCameraCheck RunCamera(const VideoDevice& device, double seconds, QString* problem) {
    TCameraCheck check;
    check.Device = QString::fromStdString(device.name);
    if (device.formats.empty()) return check;
    // The size the wizard's preview asks for, else the camera's first.
    VideoFormat format = device.formats.front();
    for (const VideoFormat& f : device.formats)
        if (f.width == 176) {
            format = f;
            break;
        }
    EnsureGStreamer();
    GstElement* source = VideoBackend()->CreateSource(device.path, format);
    if (!source) {
        *problem = QStringLiteral("camera source: device gone");
        return check;
    }
    GstElement* pipeline = gst_pipeline_new("avsetup-check");
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    GstCaps* caps = CapsFromFormat(format);
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, filter, sink, nullptr);
    std::atomic<int> frames{0};
    if (gst_element_link_many(source, filter, sink, nullptr)) {
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer counter) {
                static_cast<std::atomic<int>*>(counter)->fetch_add(1);
                return GST_PAD_PROBE_OK;
            },
            &frames, nullptr);
        gst_object_unref(pad);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        QElapsedTimer clock;
        clock.start();
        const qint64 total = static_cast<qint64>(seconds * 1000);
        for (qint64 left = total; left > 0; left = total - clock.elapsed()) {
            GstMessage* m = gst_bus_timed_pop_filtered(bus, left * GST_MSECOND, GST_MESSAGE_ERROR);
            if (!m) break;
            GError* error = nullptr;
            gst_message_parse_error(m, &error, nullptr);
            *problem = QStringLiteral("camera: ") + QString::fromUtf8(error ? error->message : "");
            if (error) g_error_free(error);
            gst_message_unref(m);
            break;
        }
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
    } else {
        *problem = QStringLiteral("camera: the format cannot be delivered");
    }
    gst_object_unref(pipeline);
    check.Frames = frames.load();
    if (check.Frames > 0) {
        check.Width = format.width;
        check.Height = format.height;
    }
    return check;
}

// ---- Output ----------------------------------------------------------------------------------

QString JsonString(const QString& s) {
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        if (c == u'"' || c == u'\\')
            out += u'\\', out += c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + u'"';
}
QString JsonBool(bool b) {
    return b ? QStringLiteral("true") : QStringLiteral("false");
}
QString JsonNumber(std::optional<double> v) {
    return v ? QString::number(std::round(*v * 10) / 10, 'f', 1) : QStringLiteral("null");
}

} // namespace

bool IsCheckCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--check") == 0) return true;
    return false;
}

int FindDevice(const QString& text, const QList<QStringList>& names) {
    bool isNumber = false;
    const int position = text.trimmed().toInt(&isNumber);
    if (isNumber) return position >= 0 && position < names.size() ? position : -1;
    for (int i = 0; i < names.size(); ++i)
        for (const QString& n : names[i])
            if (n.compare(text.trimmed(), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

int RunDeviceCheck(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    auto print = [](std::FILE* f, const QString& s) {
        std::fputs(s.toUtf8().constData(), f);
        std::fflush(f);
    };
    TOptions o;
    QString why;
    if (!Parse(arguments, &o, &why)) {
        print(err, why + u'\n' + Usage());
        return 2;
    }

    const TIniFile ini(SettingsFilePath(QCoreApplication::applicationDirPath()));
    bool speakerMissing = false, microphoneMissing = false, cameraMissing = false;
    const QList<QStringList> speakers = AudioDeviceNames(false);
    const QList<QStringList> microphones = AudioDeviceNames(true);
    const int speaker = ChooseDevice(o.Speaker, ini.ReadInteger("Audio", "DeviceOut", 0), speakers,
                                     &speakerMissing);
    const int microphone = ChooseDevice(o.Microphone, ini.ReadInteger("Audio", "DeviceIn", 0),
                                        microphones, &microphoneMissing);
    QStringList problems; // technical details, for standard error

    // The speaker and the microphone in one go: the microphone's levels are those it recorded
    // while the test sound played.
    TPcm16Sound sound;
    const QString soundFile =
        av::ProgramDataFile(QCoreApplication::applicationDirPath(), QStringLiteral("TestSnd.wav"));
    const bool haveSound = LoadPcm16Sound(soundFile, &sound);
    if (speaker >= 0 && !haveSound) problems << QStringLiteral("cannot read ") + soundFile;
    std::optional<TSpeakerCheck> speakerCheck;
    std::optional<TMicrophoneCheck> microphoneCheck;
    if (speaker >= 0 || microphone >= 0) {
        const TAudioRun run =
            RunAudio(speaker, microphone, haveSound ? &sound : nullptr, o.Seconds);
        if (!run.Problem.isEmpty()) problems << run.Problem;
        if (speaker >= 0) {
            TSpeakerCheck s;
            s.Device = speakers[speaker].first();
            s.Played = run.Played;
            const TLineState line = ReadLineState(static_cast<UINT>(speaker), false);
            s.Muted = line.Muted;
            s.VolumePercent = line.VolumePercent;
            if (microphone >= 0 && haveSound) {
                const TEchoDetector detector(sound.Mono, sound.Rate, kRecordRate);
                const TEchoResult echo = detector.Find(run.Recorded);
                s.Heard = s.Played && echo.Heard;
                s.Correlation = echo.Correlation;
                if (s.Heard) s.LatencyMs = echo.LatencyMs;
            }
            speakerCheck = s;
        }
        if (microphone >= 0) {
            TMicrophoneCheck m;
            m.Device = microphones[microphone].first();
            const TSoundLevels levels = MeasureLevels(run.Recorded);
            if (levels.PeakDbfs > -150) m.PeakDbfs = levels.PeakDbfs;
            m.Signal = levels.Signal;
            m.Clipped = levels.Clipped;
            const TLineState line = ReadLineState(static_cast<UINT>(microphone), true);
            m.Muted = line.Muted;
            m.VolumePercent = line.VolumePercent;
            microphoneCheck = m;
        }
    }

    std::optional<TCameraCheck> cameraCheck;
    {
        const std::vector<VideoDevice> cameras = VideoBackend()->Devices();
        QList<QStringList> names;
        for (const VideoDevice& d : cameras)
            names << QStringList{QString::fromStdString(d.name), QString::fromStdString(d.path)};
        const int camera =
            ChooseDevice(o.Camera, ini.ReadInteger("Video", "Device", 0), names, &cameraMissing);
        if (camera >= 0) {
            QString problem;
            cameraCheck = RunCamera(cameras[static_cast<std::size_t>(camera)], o.Seconds, &problem);
            if (!problem.isEmpty()) problems << problem;
        }
    }

    // What needs the user's attention. A camera counts only when there is one or one was named:
    // many computers have none.
    QStringList attention;
    if (!speakerCheck)
        attention << (speakerMissing
                          ? QCoreApplication::translate("DeviceCheck", "找不到扬声器“%1”。")
                                .arg(o.Speaker)
                          : QCoreApplication::translate("DeviceCheck", "未找到扬声器或耳机。"));
    else {
        if (speakerCheck->Muted)
            attention << QCoreApplication::translate("DeviceCheck", "扬声器已静音。");
        if (speakerCheck->VolumePercent == 0)
            attention << QCoreApplication::translate("DeviceCheck", "扬声器音量为 0。");
        if (!speakerCheck->Played)
            attention << QCoreApplication::translate("DeviceCheck", "扬声器无法播放测试声音。");
        else if (!speakerCheck->Heard)
            attention << QCoreApplication::translate("DeviceCheck",
                                                     "麦克风没有听到扬声器播放的测试声音。");
    }
    if (!microphoneCheck)
        attention << (microphoneMissing
                          ? QCoreApplication::translate("DeviceCheck", "找不到麦克风“%1”。")
                                .arg(o.Microphone)
                          : QCoreApplication::translate("DeviceCheck", "未找到麦克风。"));
    else {
        if (microphoneCheck->Muted)
            attention << QCoreApplication::translate("DeviceCheck", "麦克风已静音。");
        if (microphoneCheck->VolumePercent == 0)
            attention << QCoreApplication::translate("DeviceCheck", "麦克风音量为 0。");
        if (!microphoneCheck->Signal)
            attention << QCoreApplication::translate("DeviceCheck", "麦克风只录到了静音。");
        if (microphoneCheck->Clipped)
            attention << QCoreApplication::translate("DeviceCheck", "麦克风音量太大，声音失真。");
    }
    if (cameraMissing)
        attention << QCoreApplication::translate("DeviceCheck", "找不到摄像头“%1”。").arg(o.Camera);
    else if (cameraCheck && cameraCheck->Frames == 0)
        attention << QCoreApplication::translate("DeviceCheck", "摄像头没有送出画面。");

    if (o.Json) {
        QString j = QStringLiteral("{\"speaker\": ");
        if (speakerCheck) {
            const TSpeakerCheck& s = *speakerCheck;
            j += QStringLiteral("{\"device\": %1, \"played\": %2, \"heard\": %3, \"latency_ms\": "
                                "%4, \"muted\": %5, \"volume_percent\": %6}")
                     .arg(JsonString(s.Device), JsonBool(s.Played), JsonBool(s.Heard),
                          JsonNumber(s.LatencyMs), JsonBool(s.Muted),
                          s.VolumePercent >= 0 ? QString::number(s.VolumePercent)
                                               : QStringLiteral("null"));
        } else {
            j += QStringLiteral("null");
        }
        j += QStringLiteral(", \"microphone\": ");
        if (microphoneCheck) {
            const TMicrophoneCheck& m = *microphoneCheck;
            j +=
                QStringLiteral("{\"device\": %1, \"peak_dbfs\": %2, \"signal\": %3, \"muted\": %4}")
                    .arg(JsonString(m.Device), JsonNumber(m.PeakDbfs), JsonBool(m.Signal),
                         JsonBool(m.Muted));
        } else {
            j += QStringLiteral("null");
        }
        j += QStringLiteral(", \"camera\": ");
        if (cameraCheck)
            j += QStringLiteral("{\"device\": %1, \"frames\": %2, \"width\": %3, \"height\": %4}")
                     .arg(JsonString(cameraCheck->Device))
                     .arg(cameraCheck->Frames)
                     .arg(cameraCheck->Width)
                     .arg(cameraCheck->Height);
        else
            j += QStringLiteral("null");
        print(out, j + QStringLiteral("}\n"));
    } else {
        QString text;
        if (speakerCheck) {
            const TSpeakerCheck& s = *speakerCheck;
            text += QCoreApplication::translate("DeviceCheck", "扬声器：%1\n").arg(s.Device);
            text += s.Played ? QCoreApplication::translate("DeviceCheck", "  测试声音：已播放\n")
                             : QCoreApplication::translate("DeviceCheck", "  测试声音：无法播放\n");
            if (s.Heard)
                text += QCoreApplication::translate("DeviceCheck",
                                                    "  麦克风听到了测试声音，往返延迟 %1 毫秒\n")
                            .arg(*s.LatencyMs, 0, 'f', 1);
            else
                text += QCoreApplication::translate("DeviceCheck", "  麦克风没有听到测试声音\n");
            if (s.VolumePercent >= 0)
                text += QCoreApplication::translate("DeviceCheck", "  音量：%1%\n")
                            .arg(s.VolumePercent);
            if (s.Muted) text += QCoreApplication::translate("DeviceCheck", "  已静音\n");
        } else {
            text += QCoreApplication::translate("DeviceCheck", "扬声器：无\n");
        }
        if (microphoneCheck) {
            const TMicrophoneCheck& m = *microphoneCheck;
            text += QCoreApplication::translate("DeviceCheck", "麦克风：%1\n").arg(m.Device);
            text += m.PeakDbfs ? QCoreApplication::translate("DeviceCheck", "  峰值电平：%1 dBFS\n")
                                     .arg(*m.PeakDbfs, 0, 'f', 1)
                               : QCoreApplication::translate("DeviceCheck",
                                                             "  峰值电平：无（完全静音）\n");
            text += m.Signal ? QCoreApplication::translate("DeviceCheck", "  有声音\n")
                             : QCoreApplication::translate("DeviceCheck", "  没有声音\n");
            if (m.Clipped)
                text += QCoreApplication::translate("DeviceCheck", "  声音失真（音量太大）\n");
            if (m.Muted) text += QCoreApplication::translate("DeviceCheck", "  已静音\n");
        } else {
            text += QCoreApplication::translate("DeviceCheck", "麦克风：无\n");
        }
        if (cameraCheck)
            text +=
                QCoreApplication::translate("DeviceCheck", "摄像头：%1\n  %2 秒内 %3 帧，%4×%5\n")
                    .arg(cameraCheck->Device)
                    .arg(o.Seconds)
                    .arg(cameraCheck->Frames)
                    .arg(cameraCheck->Width)
                    .arg(cameraCheck->Height);
        else
            text += QCoreApplication::translate("DeviceCheck", "摄像头：无\n");
        text += attention.isEmpty()
                    ? QCoreApplication::translate("DeviceCheck", "结果：一切正常。\n")
                    : QCoreApplication::translate("DeviceCheck", "结果：需要注意：%1\n")
                          .arg(attention.join(u' '));
        print(out, text);
    }
    for (const QString& p : problems)
        print(err, QStringLiteral("avsetup: ") + p + u'\n');
    return attention.isEmpty() ? 0 : 1;
}
