#pragma once
// What the audio pages do beside their own tests: listen on a microphone whether the speaker's
// test sound is heard, and record a few seconds to play them back. Both poll their devices from
// a timer on the main thread (no callbacks from the devices' threads) and hand the analysis to a
// worker thread, whose result comes back through the same timer. Main thread.
#include "app/SoundCheck.h"
#include "platform/api/mmsystem.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <future>
#include <vector>

// Records a microphone while the looping test sound plays, and after every stretch long enough
// says whether the sound was heard and at what delay.
class TEchoListener : public QObject {
    Q_OBJECT
public:
    explicit TEchoListener(QObject* parent = nullptr);
    ~TEchoListener() override;

    // sound: the test sound as played, looping from the moment of the call. False when the
    // microphone cannot be opened (nothing is reported then).
    bool Start(UINT microphone, const TPcm16Sound& sound);
    void Stop();
    bool Listening() const { return FIn != nullptr; }
    // Called on the main thread after each stretch (about 4.5 s).
    std::function<void(const TEchoResult&)> OnResult;

private:
    void Poll();
    QTimer FTimer;
    HWAVEIN FIn = nullptr;
    std::vector<std::vector<std::int16_t>> FData;
    std::vector<WAVEHDR> FHeaders;
    int FNext = 0;
    std::vector<std::int16_t> FMono; // the sound, mono
    int FRate = 0;
    std::vector<std::int16_t> FStretch;
    std::size_t FRecorded = 0; // samples recorded before the current stretch
    std::size_t FWanted = 0;
    std::future<TEchoResult> FWork;
};

// "录音回放": records the microphone for a few seconds, then plays that on the speaker.
class TPlaybackTest : public QObject {
    Q_OBJECT
public:
    enum TPhase { phIdle, phRecording, phPlaying };
    static constexpr int Seconds = 5;

    explicit TPlaybackTest(QObject* parent = nullptr);
    ~TPlaybackTest() override;

    // False (and the platform's text) when the microphone cannot be opened.
    bool Start(UINT microphone, UINT speaker, QString* problem);
    // Stops at once, whatever it is doing; the devices are closed when it returns.
    void Stop();
    TPhase Phase() const { return FPhase; }
    // Called on the main thread: the phase and the seconds done in it (tenths), and when it
    // ends (phIdle; problem set when the speaker could not play).
    std::function<void(TPhase phase, double seconds, const QString& problem)> OnProgress;

private:
    void Poll();
    void Finish(const QString& problem);
    QTimer FTimer;
    TPhase FPhase = phIdle;
    HWAVEIN FIn = nullptr;
    HWAVEOUT FOut = nullptr;
    UINT FSpeaker = 0;
    std::vector<std::int16_t> FSamples;
    WAVEHDR FHeader{};
};
