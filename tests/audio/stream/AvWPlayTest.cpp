// The wave player on the simulated sound system with its manual clock: what reaches the device
// and from where, a second Play, Play at the end, Stop while idle, a file changed while playing,
// ResetPosition both ways, loop counts, and files the chain converts (ADPCM, float under tag 3).
#include "audio/stream/AvWPlay.h"
#include "LavcAdpcm.h"
#include "WaveBuilder.h"
#include "platform/sim/SimBackend.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

using namespace wavetest;

namespace {

const char* const kCard = "Virtual Audio Device"; // wave output 0 of the default simulation

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const QByteArray& b) {
    return Bytes(b.begin(), b.end());
}

// Bytes that differ everywhere within a few kilobytes, so any shift shows.
QByteArray Pattern(int n, int seed = 0) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed + i / 251) & 0xFF);
    return b;
}

class WavePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto sim = std::make_unique<SimBackend>();
        Sim = sim.get();
        Sim->SetKeepPlayed(true);
        Installed = std::make_unique<ScopedAudioBackend>(std::move(sim));
        Form = std::make_unique<TAvComponent>(nullptr);
        Player = new TAvWavePlayer(Form.get());
        // As the speaker page stores it, with smaller buffers so that tests stay short.
        Player->SetBufferSize(512);
        Player->SetNumBuffers(4);
        Player->SetDeviceID(0);
        Player->SetTimeFormat(tfByte);
        Player->SetCallBackMode(cmWindow);
        Player->OnStart = [this](TObject*) { ++Starts; };
        Player->OnStop = [this](TObject*) { ++Stops; };
        Player->OnChange = [this](TObject*) { ++Changes; };
        Player->OnData = [this](TObject* s, TAvWaveHdr*) {
            EXPECT_EQ(s, Player);
            ++Data;
        };
    }
    void TearDown() override {
        Form.reset();
        Installed.reset();
    }

    // An 8 kHz 8-bit mono PCM file (8 bytes per millisecond).
    QString Pcm8k(const QString& name, const QByteArray& data) {
        const QString path = Dir.filePath(name);
        EXPECT_TRUE(WriteFile(path, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}, {"data", data}})));
        return path;
    }

    // Runs the sound system in 10 ms steps, delivering the window messages after each, until
    // done() holds; at most simMs of audio and 20 s of real time.
    bool RunUntil(const std::function<bool()>& done, int simMs = 20000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int t = 0; t <= simMs; t += 10) {
            QCoreApplication::sendPostedEvents();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            Sim->Advance(10);
        }
        QCoreApplication::sendPostedEvents();
        return done();
    }
    void Run(int ms) {
        RunUntil([] { return false; }, ms - 10);
    }
    bool Idle() const { return !(Player->State() & wsOpen); }

    QTemporaryDir Dir;
    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Installed;
    std::unique_ptr<TAvComponent> Form;
    TAvWavePlayer* Player = nullptr;
    int Starts = 0, Stops = 0, Changes = 0, Data = 0;
};

TEST_F(WavePlayerTest, PlayTwiceStopWhileIdleAndPlayAtTheEndRestarts) {
    Player->Stop(); // idle: harmless
    EXPECT_TRUE(Idle());
    const QByteArray data = Pattern(4000); // half a second
    Player->OpenFile(Pcm8k("a.wav", data));
    Player->Play();
    EXPECT_TRUE(Player->State() & wsStarted);
    EXPECT_EQ(Starts, 1);
    Player->Play(); // playing: nothing happens
    EXPECT_EQ(Starts, 1);
    EXPECT_THROW(Player->SetAutoConvert(false), Exception); // not while open
    EXPECT_TRUE(Player->AutoConvert());

    // To its end: the device stops and closes by itself.
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Stops, 1);
    EXPECT_GT(Data, 0);
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(data));
    EXPECT_EQ(Player->GetPosition(), data.size());

    // Play at the end starts from 0 again.
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(data));
    EXPECT_EQ(Starts, 2);
    EXPECT_EQ(Stops, 2);
    Player->Stop();
    EXPECT_EQ(Stops, 2);
}

TEST_F(WavePlayerTest, ResetPositionBothWays) {
    const QByteArray data = Pattern(8000); // one second
    Player->OpenFile(Pcm8k("b.wav", data));

    // False: the next Play continues where the sound was heard when it stopped.
    Player->SetResetPosition(false);
    Player->Play();
    Run(250);
    const std::int64_t heard = Player->GetPosition();
    EXPECT_NEAR(static_cast<double>(heard), 2000, 80);
    Player->Stop();
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(Player->GetPosition(), heard);
    Sim->TakePlayed(kCard);
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(data.mid(int(heard))));

    // True: the next Play starts where the reader stood, ahead of the heard position by what was
    // queued.
    Player->SetResetPosition(true);
    Player->Play(); // at the end: from 0
    Run(250);
    const std::int64_t heard2 = Player->GetPosition();
    Player->Stop();
    const std::int64_t reader = Player->GetPosition();
    EXPECT_GT(reader, heard2);
    EXPECT_LE(reader, heard2 + 4 * 512 + 512);
    Sim->TakePlayed(kCard);
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(data.mid(int(reader))));
}

TEST_F(WavePlayerTest, ChangingTheFileWhilePlayingStopsFirst) {
    const QByteArray a = Pattern(8000, 1), b = Pattern(3000, 2);
    Player->OpenFile(Pcm8k("a.wav", a));
    Player->Play();
    Run(100);
    const int changes = Changes;
    Player->OpenFile(Pcm8k("b.wav", b));
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Changes, changes + 1);
    EXPECT_EQ(Stops, 1);
    const Bytes first = Sim->TakePlayed(kCard);
    EXPECT_EQ(first, ToBytes(a.left(int(first.size()))));
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(b));

    // A missing file: the wave's error, and the player keeps the file it had.
    EXPECT_THROW(Player->OpenFile(Dir.filePath("missing.wav")), EAvWaveError);
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(b));
}

TEST_F(WavePlayerTest, LoopCounts) {
    const QByteArray data = Pattern(1500);
    Player->OpenFile(Pcm8k("l.wav", data));
    Player->SetLooping(true);
    Player->SetLoopCount(2); // the first pass and two loops
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(data + data + data));
    EXPECT_EQ(Stops, 1);

    // 0: endless, until stopped; the position stays within the file.
    Player->SetLoopCount(0);
    Player->Play();
    Run(1500); // eight passes
    EXPECT_TRUE(Player->State() & wsStarted);
    EXPECT_LT(Player->GetPosition(), data.size());
    Player->Stop();
    const Bytes played = Sim->TakePlayed(kCard);
    ASSERT_GT(played.size(), 7u * data.size());
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], std::uint8_t(data[int(i % data.size())])) << i;
}

// A seek while a finished buffer's message still waits in the queue: playback goes on from the
// new position to the end by itself (refills, the automatic stop, OnStop), and a looping player
// keeps looping instead of falling silent after one ring.
TEST_F(WavePlayerTest, ASeekWithAFinishedBufferWaitingGoesOn) {
    const QByteArray data = Pattern(8000);
    Player->OpenFile(Pcm8k("s.wav", data));
    Player->Play();
    Sim->Advance(100); // buffers have played; their message is not handled yet
    Player->SetPosition(4000);
    Sim->TakePlayed(kCard);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }, 2000)) << "playback stalled after the seek";
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(Sim->TakePlayed(kCard), ToBytes(data.mid(4000)));

    Player->SetLooping(true);
    Player->Play(); // at the end: from 0
    Sim->Advance(100);
    Player->SetPosition(6000);
    Run(2000); // past the end twice
    EXPECT_TRUE(Player->State() & wsStarted);
    Player->Stop();
    EXPECT_GT(Sim->TakePlayed(kCard).size(), 12000u);
}

// Stop and Play with ResetPosition false on a block-compressed file whose header's byte rate is
// far off: the second Play goes on where the first was stopped, not from the start.
TEST_F(WavePlayerTest, AdpcmStoppedAndPlayedGoesOn) {
    const auto enc = lavc::EncodeMs(lavc::TestSignal(2, 22050, 22050), 2, 22050, 512);
    QByteArray fmt(reinterpret_cast<const char*>(enc.Format.data()), int(enc.Format.size()));
    fmt.replace(8, 4, LE32(2000)); // nAvgBytesPerSec: a writer's wrong value
    QByteArray adpcm(reinterpret_cast<const char*>(enc.Data.data()), int(enc.Data.size()));
    const QString path = Dir.filePath("ms.wav");
    ASSERT_TRUE(WriteFile(path, Riff({{"fmt ", fmt}, {"data", adpcm}})));
    Player->OpenFile(path);
    const int blocks = adpcm.size() / 512;
    EXPECT_EQ(Player->Wave()->DataSamples(), blocks * enc.SamplesPerBlock);
    Player->SetResetPosition(false);
    Player->Play();
    Run(400);
    Player->Stop();
    const std::size_t first = Sim->TakePlayed(kCard).size();
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    const std::size_t second = Sim->TakePlayed(kCard).size();
    const std::size_t whole = std::size_t(blocks) * enc.SamplesPerBlock * 4;
    EXPECT_LT(second, whole - first / 2) << "played from the start again";
    EXPECT_GT(second, whole - first - 4 * 512 * 4);
}

// MPEG layer III as ffmpeg writes it into WAVE, with a block align of 1152 that is no unit of the
// data: every byte is kept and the device gets what the reference decoder makes of all of it, the
// last frame of both channels included.
TEST_F(WavePlayerTest, Mp3PlaysToItsLastFrameAsTheReferenceDecodes) {
    const int rate = 44100, frames = rate * 3 / 2;
    std::vector<std::int16_t> pcm(std::size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        pcm[2 * i] = std::int16_t(12000 * std::sin(2 * M_PI * 440 * i / rate));
        pcm[2 * i + 1] = std::int16_t(6000 * std::sin(2 * M_PI * 660 * i / rate));
    }
    const auto mp3 = lavc::EncodeMp3(pcm, 2, rate, 128000);
    ASSERT_NE(mp3.size() % 1152, 0u);
    QByteArray fmt = FmtBody(0x55, 2, rate, 0, 1152, 16000, false) + LE16(12) + LE16(1) + LE32(2) +
                     LE16(1152) + LE16(1) + LE16(1393);
    const QByteArray data(reinterpret_cast<const char*>(mp3.data()), int(mp3.size()));
    const QString path = Dir.filePath("mp3.wav");
    ASSERT_TRUE(WriteFile(path, Riff({{"fmt ", fmt}, {"data", data}})));
    Player->OpenFile(path);
    EXPECT_EQ(Player->Wave()->DataSize(), mp3.size());
    Player->SetBufferSize(8192);
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    const Bytes played = Sim->TakePlayed(kCard);
    const auto ref = lavc::DecodeMp3(mp3);
    ASSERT_EQ(played.size(), ref.size() * 2);
    for (std::size_t i = 0; i < ref.size(); ++i) {
        std::int16_t v;
        std::memcpy(&v, played.data() + 2 * i, 2);
        ASSERT_NEAR(v, ref[i], 1) << "frame " << i / 2 << (i % 2 ? " right" : " left") << " of "
                                  << ref.size() / 2;
    }
}

TEST_F(WavePlayerTest, ConvertedFilesPlayAsPcm) {
    // Microsoft ADPCM: our decoder's output reaches the device, and positions count in the file.
    const auto enc = lavc::EncodeMs(lavc::TestSignal(2, 11025), 2, 11025, 512);
    QByteArray fmt(reinterpret_cast<const char*>(enc.Format.data()), int(enc.Format.size()));
    QByteArray adpcm(reinterpret_cast<const char*>(enc.Data.data()), int(enc.Data.size()));
    const QString path = Dir.filePath("ms.wav");
    ASSERT_TRUE(WriteFile(path, Riff({{"fmt ", fmt}, {"fact", LE32(11025)}, {"data", adpcm}})));
    Player->OpenFile(path);
    EXPECT_TRUE(Player->ADPCMConverter()->Enabled());
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    TAvMsAdpcmLayout l;
    ASSERT_TRUE(ReadMsAdpcmLayout(enc.Fmt(), l));
    Bytes decoded(enc.Data.size() / 512 * l.SamplesPerBlock * 4);
    decoded.resize(
        size_t(DecodeMsAdpcm(l, enc.Data.data(), int(enc.Data.size()), decoded.data(), b16Bit)));
    EXPECT_EQ(Sim->TakePlayed(kCard), decoded);

    // IEEE float under tag 3: left to the PCM converter, which makes 16-bit PCM of it.
    QByteArray floats;
    std::vector<float> wave(4000);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = 0.5f * std::sin(2 * M_PI * 440 * double(i) / 8000);
    floats.append(reinterpret_cast<const char*>(wave.data()), int(wave.size() * 4));
    const QString fpath = Dir.filePath("float.wav");
    ASSERT_TRUE(WriteFile(fpath, Riff({{"fmt ", FmtBody(3, 1, 8000, 32, {}, {}, true)},
                                       {"fact", LE32(4000)},
                                       {"data", floats}})));
    Player->OpenFile(fpath);
    EXPECT_FALSE(Player->ADPCMConverter()->Enabled());
    Player->Play();
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    const Bytes played = Sim->TakePlayed(kCard);
    ASSERT_EQ(played.size(), wave.size() * 2);
    for (size_t i = 0; i < wave.size(); ++i) {
        std::int16_t v;
        std::memcpy(&v, played.data() + 2 * i, 2);
        ASSERT_NEAR(v, wave[i] * 32768, 2) << i;
    }
}

} // namespace
