#pragma once
// ADPCM decoding of our own: Microsoft ADPCM (format tag 0x0002) and three IMA-style 4-bit
// formats (0x0003 when it holds 4-bit samples, 0x0033, 0x0206). The decoders are plain functions
// on byte buffers, callable on any thread; the chain component built on them follows below.
#include "audio/display/AvUtils.h"

#include <array>
#include <cstdint>

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
// is b8Bit. A block whose predictor index is not one of the seven ends decoding. Returns the bytes
// written; dst must hold (blocks) * SamplesPerBlock * Channels * bytes per sample.
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
