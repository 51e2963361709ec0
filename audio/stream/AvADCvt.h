#pragma once
// ADPCM decoding of our own: Microsoft ADPCM (format tag 0x0002) and three IMA-style 4-bit
// formats (0x0003 when it holds 4-bit samples, 0x0033, 0x0206). The decoders are plain functions
// on byte buffers, callable on any thread; the chain component built on them, TAvADPCMConverter,
// follows at the end.
#include "audio/display/AvUtils.h"
#include "audio/stream/AvConvert.h"
#include "framework/Exceptions.h"

#include <array>
#include <cstdint>
#include <vector>

// --- Microsoft ADPCM ----------------------------------------------------------------------------

// The seven coefficient pairs every Microsoft ADPCM stream carries; a stream with any other
// table is not decoded here.
inline constexpr std::int16_t MsAdpcmCoefficients[7][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

// Delta adaptation per 4-bit code, in 1/256.
inline constexpr std::int16_t MsAdpcmAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                                       768, 614, 512, 409, 307, 230, 230, 230};

// Block layout of a Microsoft ADPCM stream, read from its format record.
struct TAvMsAdpcmLayout {
    int Channels = 0;        // 1 or 2
    int BlockAlign = 0;      // bytes per block
    int SamplesPerBlock = 0; // frames a whole block decodes to
};

// Reads the layout of a Microsoft ADPCM format record (with its extra bytes). False unless the
// tag is 0x0002, there are 1 or 2 channels, a block holds at least its headers, and the record
// carries exactly the seven standard coefficient pairs. A samples-per-block value larger than the
// block can hold is cut to what the block holds, so a decoder never reads past a block.
bool ReadMsAdpcmLayout(const WAVEFORMATEX* fmt, TAvMsAdpcmLayout& layout);

// Frames decoded from a block of blockBytes bytes (a short last block gives fewer frames);
// 0 when the bytes do not hold the block headers.
int MsAdpcmBlockFrames(const TAvMsAdpcmLayout& layout, int blockBytes);

// Decodes srcBytes bytes of whole blocks, of which the last may be short, into interleaved PCM
// at dst: 16-bit signed samples, or 8-bit unsigned ones (the 16-bit value / 256 + 128) when bits
// is b8Bit. A damaged block (a predictor index that is not one of the seven) decodes to silence
// of its length, so the blocks after it keep their place. Returns the bytes written; dst must
// hold (blocks) * SamplesPerBlock * Channels * bytes per sample.
int DecodeMsAdpcm(const TAvMsAdpcmLayout& layout, const std::uint8_t* src, int srcBytes,
                  std::uint8_t* dst, TAvBits bits);

// --- IMA-style 4-bit decoders -------------------------------------------------------------------

// Step sizes of the IMA step table, index 0..88.
inline constexpr int ImaStepCount = 89;
extern const std::int16_t ImaStepTable[ImaStepCount];

// Difference per step index and 3-bit magnitude: table A (tag 0x0003) and table B (tags 0x0033
// and 0x0206).
using TAvImaDifferenceTable = std::array<std::array<std::int16_t, 8>, ImaStepCount>;
const TAvImaDifferenceTable& ImaDifferenceTableA();
const TAvImaDifferenceTable& ImaDifferenceTableB();

// Decoder state of one channel: three 16-bit words, as the stream state is kept per channel.
struct TAvImaChannelState {
    std::int16_t Predictor = 0;
    std::int16_t StepIndex = 0; // 0..88
    std::int16_t Reserved = 0;
};
using TAvImaState = std::array<TAvImaChannelState, 2>;

// True for a format the IMA-style decoders take: tag 0x0033 or 0x0206, or tag 0x0003 with 4 bits
// per sample (0x0003 with 32 or 64 bits is IEEE floating point, not ADPCM), with 1 or 2 channels.
bool IsImaStyleFormat(const WAVEFORMATEX* fmt);

// Whole input bytes the IMA-style decoder of tag with channels takes from srcBytes bytes: all of
// them, except that stereo 0x0033/0x0206 works in byte pairs (an odd last byte waits).
int ImaStyleUsableBytes(WORD tag, int channels, int srcBytes);

// Decodes ImaStyleUsableBytes(tag, channels, srcBytes) bytes into 16-bit interleaved samples at
// dst (two per byte), carrying the predictor and step index in state. Returns the samples
// written. Tag 0x0003: table A, the predictor wraps at 16 bits; mono high nibble first, stereo
// low nibble left and high nibble right. Tags 0x0033/0x0206: table B, the predictor saturates;
// mono high nibble first, stereo high nibble left and low nibble right with the bytes taken in
// swapped pairs (1, 0, 3, 2, ...).
int DecodeImaStyle(WORD tag, int channels, TAvImaState& state, const std::uint8_t* src,
                   int srcBytes, std::int16_t* dst);

// Converts 16-bit samples to 8-bit unsigned ones in place (value / 256, toward zero, + 128);
// dst may equal src. Returns count.
int Pcm16To8(const std::int16_t* src, int count, std::uint8_t* dst);

// --- The converter ------------------------------------------------------------------------------

AV_DECLARE_EXCEPTION(EAvADPCMError, Exception);

// A chain component that decodes the ADPCM formats above into PCM of BitLength bits with the
// input's channels and rate; PCM and disabled input pass through unchanged (data and format).
// Other formats pass through too, but count as needing a conversion this component cannot make
// (CanConvert false), so the wave player leaves them to the PCM converter behind it. It works in
// the pull flow: BufferLoad pulls source blocks from the Input, decodes them and hands out what
// the caller asked for, keeping the rest for the next pull. Source bytes that do not yet make a
// whole block wait for the next pull; when the source wraps to its start (looping) or ends, a
// short last block is decoded as it is and the decoder starts afresh.
//
// Threads: properties, formats and the open/start/stop notifications on the main thread;
// BufferLoad and Flushed on the thread that handles the driving device's buffers. No locks.
class TAvADPCMConverter : public TAvCustomConverter {
    Q_OBJECT
    Q_PROPERTY(TAvDSPComponent* Input READ Input WRITE SetInput)
    Q_PROPERTY(TAvDSPComponent* Output READ Output WRITE SetOutput)
    Q_PROPERTY(int BitLength READ BitLengthInt WRITE SetBitLengthInt)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
public:
    explicit TAvADPCMConverter(TComponent* AOwner);

    void SetEnabled(bool v);
    // Width of the decoded PCM (b16Bit by default).
    TAvBits BitLength() const { return FBitLength; }
    void SetBitLength(TAvBits v);

    // True when the held input needs no decoding (none, or PCM) or is a format decoded here.
    // Judged on the input alone, whatever Enabled says, so that a player may decide with it
    // whether to enable the converter.
    bool CanConvert() const;

    // Ignored: the output format is always derived from the input.
    void SetPWaveFormat(const WAVEFORMATEX* f) override;
    void InputFormatChanged(const WAVEFORMATEX* f) override;

    // Opened sizes the buffers (raises EAvADPCMError when enabled for an input it cannot
    // decode); Closed frees them. Stopped also drops the held source bytes; Flushed drops what
    // is pending (source bytes, decoded bytes and decoder state).
    void Stopped() override;
    void BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) override;

    // The decoded PCM for the held input (none when it is not decoded here).
    void BuildDestFormat() override;

protected:
    void UpdateConversion() override;
    // Sizes the buffers for the held input.
    void PrepareConversion() override;
    void FreeConversion() override;
    void RestartConversion() override;
    [[noreturn]] void Fail() override;

private:
    int BitLengthInt() const { return FBitLength; }
    void SetBitLengthInt(int v) { SetBitLength(v == b8Bit ? b8Bit : b16Bit); }
    // Decodes the held source bytes; final decodes a short last block too. Returns bytes made.
    int Decode(bool final);

    TAvBits FBitLength = b16Bit;
    TAvMsAdpcmLayout FLayout;          // for tag 0x0002
    std::vector<std::uint8_t> FSource; // source block; held bytes at the front
    int FHeld = 0;                     // source bytes waiting for a whole block
    std::vector<std::uint8_t> FOut;    // decoded bytes
    bool FLoopPending = false;         // the source wrapped; mark the buffer that ends the pass
    TAvImaState FState{};
};
