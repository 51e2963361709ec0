#pragma once
// TAvWavePlayer: plays a WAVE file on a chosen output device. It owns and links its own chain,
//
//   wave file -> ADPCM converter -> PCM converter -> wave output -> the player
//
// so any file the wave file reads plays: ADPCM is decoded by our own converter, the rest (float,
// mu-law, other rates ...) by the PCM converter, PCM passes through both unchanged.
//
//   Player->SetLooping(true);
//   Player->OpenFile(dir + "TestSnd.wav");   // EAvWaveError when missing or not a WAVE file
//   Player->Play();                           // opens the device and the chain, plays
//   ...
//   Player->Stop();                           // stops and closes the device
//
// Threads: every operation and property belongs to the main thread. The wave output's events
// reach the player on the thread that handles finished buffers (the main thread with cmWindow,
// as the speaker page uses it); OnData fires there too.
#include "audio/stream/AvACMCvt.h"
#include "audio/stream/AvADCvt.h"
#include "audio/stream/AvDSPObj.h"
#include "audio/stream/AvWavOut.h"
#include "audio/stream/AvWave.h"

#include <atomic>
#include <cstdint>

class TAvWavePlayer : public TAvDSPComponent {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(TAvWave* Wave READ Wave WRITE SetWave)
    Q_PROPERTY(int BufferSize READ BufferSize WRITE SetBufferSize)
    Q_PROPERTY(int NumBuffers READ NumBuffers WRITE SetNumBuffers)
    Q_PROPERTY(int DeviceID READ DeviceID WRITE SetDeviceID)
    Q_PROPERTY(QString ProductName READ ProductName)
    Q_PROPERTY(int CallBackMode READ CallBackModeInt WRITE SetCallBackModeInt)
    Q_PROPERTY(bool Looping READ Looping WRITE SetLooping)
    Q_PROPERTY(int LoopCount READ LoopCount WRITE SetLoopCountInt)
    Q_PROPERTY(int TimeFormat READ TimeFormatInt WRITE SetTimeFormatInt)
    Q_PROPERTY(bool ResetPosition READ ResetPosition WRITE SetResetPosition)
    Q_PROPERTY(bool AutoConvert READ AutoConvert WRITE SetAutoConvert)
public:
    explicit TAvWavePlayer(TComponent* AOwner);
    ~TAvWavePlayer() override;

    // The file to play: the wave's FileName (EAvWaveError when it is missing or no valid WAVE
    // file; the player then keeps the wave it had). Playing stops first.
    void OpenFile(const QString& name);
    // Plays from the current position; a position at the end starts from 0. Nothing happens while
    // playing or when the wave holds no data. Failures to open the device or the chain raise
    // (EAvWaveOutError, EAvADPCMError, EAvConverterError) and leave the player idle.
    void Play();
    // Stops and closes the device; harmless when idle.
    void Stop();
    // Position in TimeFormat units: while playing, what has been heard; else where the wave's
    // reader stands.
    std::int64_t GetPosition();
    // Moves playback (or, idle, the reader) to p.
    void SetPosition(std::int64_t p);
    // The wave output's device state.
    TAvWaveOutState State() const { return FWaveOut->State(); }

    // --- Properties ---
    TAvWave* Wave() const { return FWaveFile->Wave(); }
    void SetWave(TAvWave* w) { FWaveFile->SetWave(w); }
    int BufferSize() const override { return FWaveOut->BufferSize(); }
    void SetBufferSize(int n) override { FWaveOut->SetBufferSize(n); }
    int NumBuffers() const { return FWaveOut->NumBuffers(); }
    void SetNumBuffers(int n) { FWaveOut->SetNumBuffers(n); }
    TAvDeviceId DeviceID() const { return FWaveOut->DeviceID(); }
    void SetDeviceID(TAvDeviceId id) { FWaveOut->SetDeviceID(id); }
    QString ProductName() const { return FWaveOut->ProductName(); }
    TAvCBMode CallBackMode() const { return FWaveOut->CallBackMode(); }
    void SetCallBackMode(TAvCBMode m) { FWaveOut->SetCallBackMode(m); }
    bool Looping() const { return FWaveOut->Looping(); }
    void SetLooping(bool v) { FWaveOut->SetLooping(v); }
    int LoopCount() const { return FWaveOut->LoopCount(); }
    void SetLoopCount(std::uint16_t n) { FWaveOut->SetLoopCount(n); }
    TAvTimeFormats TimeFormat() const { return FWaveOut->TimeFormat(); }
    // Sets the wave output's and the wave's time format.
    void SetTimeFormat(TAvTimeFormats f);
    // False: the next Play continues where the sound was stopped.
    bool ResetPosition() const { return FResetPosition; }
    void SetResetPosition(bool v) { FResetPosition = v; }
    // Both converters at work (true), or the file's data goes to the device as it is. Raises
    // text 60 when changed while the device is open.
    bool AutoConvert() const { return FAutoConvert; }
    void SetAutoConvert(bool v);

    // The owned chain, for tools and tests that look inside.
    TAvWaveFile* WaveFile() const { return FWaveFile; }
    TAvADPCMConverter* ADPCMConverter() const { return FADPCMConverter; }
    TAvPCMConverter* PCMConverter() const { return FPCMConverter; }
    TAvWaveOut* WaveOut() const { return FWaveOut; }

    // OnStart: the device opened; OnStop: it closed again; OnPause/OnRestart: the output paused
    // or went on (not when a seek does it); OnChange: the wave changed (playing stopped first);
    // OnData (Sender = the player): a buffer has played.
    TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
    TAvBufferEvent OnData;

private:
    void DeviceStopped();
    void DeviceClosed();
    void WaveChanged();
    void WaveFormatSettled();

    int CallBackModeInt() const { return CallBackMode(); }
    void SetCallBackModeInt(int v) { SetCallBackMode(static_cast<TAvCBMode>(v)); }
    void SetLoopCountInt(int v) { SetLoopCount(static_cast<std::uint16_t>(v)); }
    int TimeFormatInt() const { return TimeFormat(); }
    void SetTimeFormatInt(int v) { SetTimeFormat(static_cast<TAvTimeFormats>(v)); }

    // Position at which playback started; the output counts from there (0 again after a loop).
    std::atomic<std::int64_t> FStartOffset{0};
    // The output gave back the buffer of a wrap: the offset goes to 0 once the wrap is heard.
    std::atomic<bool> FLoopPending{false};
    std::int64_t FStopPosition = -1; // -1: not yet taken
    bool FSeeking = false;
    bool FResetPosition = true;
    bool FAutoConvert = true;
    TAvWaveFile* FWaveFile = nullptr;
    TAvADPCMConverter* FADPCMConverter = nullptr;
    TAvPCMConverter* FPCMConverter = nullptr;
    TAvWaveOut* FWaveOut = nullptr;
};
