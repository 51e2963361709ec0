#pragma once
// Format converters over the platform's audio compression manager (platform/api/msacm.h).
//
// TAvACMConverter turns the format its Input delivers into the format set with SetPWaveFormat,
// chaining several compression-manager streams when no single one bridges the two (for example
// mu-law 8 kHz mono -> PCM 8 kHz mono -> PCM 44.1 kHz stereo). TAvPCMConverter is one whose target
// is always PCM: the format the platform suggests for the input (AutoConvert), or one built from
// its SampleRate, BitLength and Mode as Required says. Both work in the pull flow (BufferLoad pulls
// blocks from the Input, converts them and hands out what the caller asked for, keeping the rest)
// and in the push flow (BufferReady converts each arriving buffer and pushes the result on in
// pieces of at most the buffer size). Data they cannot or need not convert passes unchanged.
//
// TAvACMChain is the conversion itself, also for components that convert for their own use (the
// connector feeding displays): open it from one format to another, write source bytes into its
// source area, convert, read the output area.
//
// Threads: properties, formats and the open/start/stop notifications on the main thread;
// BufferLoad, BufferReady and Flushed on the thread that handles the driving device's buffers
// (Part of the chain's contract, see AvDSPObj.h). The converters take no locks.
#include "audio/stream/AvConvert.h"
#include "platform/api/msacm.h"

#include <QFlags>
#include <cstdint>
#include <vector>

AV_DECLARE_EXCEPTION(EAvConverterError, Exception);

enum TAvConvertQuality : std::uint8_t { cqHigh = 0, cqLow = 1 };

enum TAvRequiredParam : unsigned { rpBits = 0x1, rpChannels = 0x2, rpSampleRate = 0x4 };
using TAvRequiredParams = QFlags<TAvRequiredParam>;
Q_DECLARE_OPERATORS_FOR_FLAGS(TAvRequiredParams)

// True when the compression manager is there in version 2.00 or later. Any thread.
bool AcmAvailable();

// The PCM format the platform suggests for src: a copy of 8- or 16-bit mono or stereo PCM, else
// acmFormatSuggest with the tag alone (24-bit, float, many channels: 16-bit, at most stereo).
// Empty when there is none. Any thread.
TAvFormatPtr AcmSuggestPcm(const WAVEFORMATEX* src);

// Whether src can be turned into dst by one or more compression-manager streams (true when they
// do not differ). cqHigh asks for the slower, better resampling. Any thread.
bool CanConvertACM(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, TAvConvertQuality quality);

// A chain of compression-manager streams from one format to another. Each stage has a stream,
// its source area (the first stage's is the chain's source area), an output area sized by
// acmStreamSize and a prepared header. One thread at a time.
class TAvACMChain {
public:
    TAvACMChain() = default;
    ~TAvACMChain() { Close(); }
    TAvACMChain(const TAvACMChain&) = delete;
    TAvACMChain& operator=(const TAvACMChain&) = delete;

    // Finds and opens the stages src -> dst (none when they do not differ); the source area holds
    // sourceSize bytes, rounded down to src's block align (at least one block). False, with
    // nothing open, when no chain exists or a stream fails to open.
    bool Open(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, TAvConvertQuality quality,
              int sourceSize);
    void Close();
    bool IsOpen() const { return FOpen; }
    int StageCount() const { return static_cast<int>(FStages.size()); }

    // Source bytes not yet taken by the first stream stay at the front of the source area; new
    // bytes go after them (SourceFree, at most SourceFreeSize bytes), then Convert(n).
    BYTE* SourceFree();
    int SourceFreeSize() const;
    int SourceSize() const { return FSourceSize; }
    int SourceHeld() const;

    // Converts the held source and n new bytes through every stage; end drains the streams (call
    // again with end until it gives 0). Returns the bytes now in Output(), or -1 when a stream
    // fails (the platform's code in LastError()).
    int Convert(int n, bool end);
    // Copies up to n bytes of data into the source area and converts them; *taken (optional) is
    // set to the bytes copied. As Convert otherwise.
    int ConvertFrom(const void* data, int n, bool end, int* taken = nullptr);
    const BYTE* Output() const;
    int OutputCapacity() const;
    MMRESULT LastError() const { return FLastError; }

    // Data left inside the chain: held source of a later stage, or a stream whose output area
    // filled up (it may hold more).
    bool Pending() const;
    // Drops everything held (acmStreamReset on every stream).
    void Reset();

private:
    struct Stage {
        HACMSTREAM Stream = nullptr;
        std::vector<BYTE> Source; // held source at the front
        int Held = 0;
        std::vector<BYTE> Out;
        int OutLen = 0;
        bool Full = false; // the last conversion filled the output area
        DWORD BlockAlign = 1;
        ACMSTREAMHEADER Header{};
    };
    // False with *fits cleared when the stage's output area for srcBytes would be too large.
    bool AddStage(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, DWORD openFlags, int srcBytes,
                  bool* fits);
    bool PrepareStage(Stage& s);
    bool RunStage(Stage& s, bool end);

    std::vector<Stage> FStages;
    bool FOpen = false;
    int FSourceSize = 0;
    MMRESULT FLastError = MMSYSERR_NOERROR;
};

// Converts between any two formats the compression manager can bridge.
class TAvACMConverter : public TAvCustomConverter {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Quality READ QualityInt WRITE SetQualityInt)
public:
    explicit TAvACMConverter(TComponent* AOwner);
    ~TAvACMConverter() override;

    void SetEnabled(bool v);
    TAvConvertQuality Quality() const { return FQuality; }
    void SetQuality(TAvConvertQuality q);

    // The target format: ignored for none and while loading or being destroyed; otherwise kept as
    // the requested format and the conversion re-derived.
    void SetPWaveFormat(const WAVEFORMATEX* f) override;
    void InputFormatChanged(const WAVEFORMATEX* f) override;

    void BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(TAvWaveHdr* lpWaveHdr) override;

    // The requested format.
    void BuildDestFormat() override;

    const WAVEFORMATEX* RequestedFormat() const { return FRequested.get(); }
    // Streams in the open chain (0 while closed or passing through).
    int StageCount() const { return FChain.StageCount(); }

protected:
    void UpdateConversion() override;
    // Opens the chain (a source area of whole input blocks).
    void PrepareConversion() override;
    void FreeConversion() override;
    void RestartConversion() override { FChain.Reset(); }
    [[noreturn]] void Fail() override;
    // Same tag, bits, channels and rate.
    static bool SameShape(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

    TAvConvertQuality FQuality = cqLow;
    TAvFormatPtr FRequested;

private:
    int QualityInt() const { return FQuality; }
    void SetQualityInt(int q) { SetQuality(q == cqHigh ? cqHigh : cqLow); }
    void PushOut(TAvWaveHdr* source, const BYTE* data, int n);

    TAvACMChain FChain;
    std::vector<BYTE> FPushBlock; // header + data for the push flow
};

// A converter whose target is PCM.
class TAvPCMConverter : public TAvACMConverter {
    Q_OBJECT
    Q_PROPERTY(bool AutoConvert READ AutoConvert WRITE SetAutoConvert)
    Q_PROPERTY(int SampleRate READ SampleRate WRITE SetSampleRate)
    Q_PROPERTY(int BitLength READ BitLengthInt WRITE SetBitLengthInt)
    Q_PROPERTY(int Mode READ ModeInt WRITE SetModeInt)
    Q_PROPERTY(int Required READ RequiredInt WRITE SetRequiredInt)
public:
    static constexpr int MinSampleRate = 8000;
    static constexpr int MaxSampleRate = 88200;

    explicit TAvPCMConverter(TComponent* AOwner);

    bool AutoConvert() const { return FAutoConvert; }
    void SetAutoConvert(bool v);
    int SampleRate() const { return FSampleRate; }
    void SetSampleRate(int rate); // clamped to 8000..88200
    TAvBits BitLength() const { return FBitLength; }
    void SetBitLength(TAvBits b);
    TAvMode Mode() const { return FMode; }
    void SetMode(TAvMode m); // values of 2 and more are ignored
    TAvRequiredParams Required() const { return FRequired; }
    void SetRequired(TAvRequiredParams r);

    // A valid PCM format (8 or 16 bits, 1 or 2 channels, rate in range), else EAvConverterError
    // "Invalid WaveFormat" (not at design time). It only triggers the update: the destination
    // always comes from BuildDestFormat.
    void SetPWaveFormat(const WAVEFORMATEX* f) override;
    void BuildDestFormat() override;

private:
    int BitLengthInt() const { return FBitLength; }
    void SetBitLengthInt(int b) { SetBitLength(b == b16Bit ? b16Bit : b8Bit); }
    int ModeInt() const { return FMode; }
    void SetModeInt(int m);
    int RequiredInt() const { return static_cast<int>(FRequired.toInt()); }
    void SetRequiredInt(int r) { SetRequired(TAvRequiredParams::fromInt(r & 7)); }
    // After a property change: the new destination goes out through SetPWaveFormat.
    void PropertyChanged();

    bool FAutoConvert = true;
    int FSampleRate = 11025;
    TAvBits FBitLength = b8Bit;
    TAvMode FMode = mMono;
    TAvRequiredParams FRequired = rpBits | rpChannels | rpSampleRate;
};
