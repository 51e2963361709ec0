// A whole WAVE file on a memory block pulled through the player's chain, as its wave output pulls
// it: the wave file component, our ADPCM converter and the PCM converter over the compression
// manager (every decoder and rate step it offers). Every pull stays within the room it was given,
// the chain comes to an end, a playable PCM file gives sound, and whatever the chain refuses it
// refuses with its own error.
//
// Input: two control bytes, then the file. The first picks the output (bit 0: 8 bits, bit 1:
// mono, bit 2: the format the platform suggests instead, bits 3-4: the ADPCM converter's width
// and whether it runs), the second the output rate (bits 0-2) and the pull size (bits 3-4).
#include "audio/stream/AvWPlay.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "wavefile: %s\n", what);
        std::abort();
    }
}

// The chain's components as the wave output drives them.
void Run(TAvWavePlayer& player, int size) {
    TAvDSPComponent* chain[] = {player.WaveFile(), player.ADPCMConverter(), player.PCMConverter()};
    const WAVEFORMATEX* f = player.PCMConverter()->PWaveFormat();
    if (!IsValidPcmFormat(f)) return; // nothing a device could play: the player refuses it
    for (TAvDSPComponent* c : chain)
        c->Opened();
    for (TAvDSPComponent* c : chain)
        c->Started();
    std::vector<char> block(AvWaveHdrSize + size);
    TAvWaveHdr* h = AvInitWaveHdr(block.data(), size);
    std::int64_t total = 0;
    bool ended = false;
    // A file of at most the input's bytes makes at most ~400 times as many at the output (8-bit
    // mono at the lowest rate to 16-bit stereo at the highest); far more pulls than that: a chain
    // that never ends. A header with a rate below any real one (2 Hz) may rightly make hundreds
    // of megabytes at a real rate: only a few thousand pulls of those are checked.
    const bool nonsenseRate = player.Wave()->GetPWaveFormat()->nSamplesPerSec < 1000;
    for (int guard = 0, pulls = nonsenseRate ? 4096 : 1 << 16; guard < pulls; ++guard) {
        h->dwBufferLength = static_cast<DWORD>(size);
        h->dwBytesRecorded = 0;
        bool more = false;
        player.PCMConverter()->BufferLoad(h, more);
        Check(h->dwBytesRecorded <= static_cast<DWORD>(size), "a pull filled more than its room");
        total += h->dwBytesRecorded;
        if (!more || h->dwBytesRecorded == 0) {
            ended = true;
            break;
        }
    }
    Check(ended || nonsenseRate, "the chain never ends");
    const WAVEFORMATEX* in = player.Wave()->GetPWaveFormat();
    if (in->wFormatTag == WAVE_FORMAT_PCM && in->wBitsPerSample == 16 && in->nChannels <= 2 &&
        player.Wave()->DataSize() >= 16u * in->nBlockAlign && player.PCMConverter()->AutoConvert())
        Check(total > 0, "a playable PCM file gives no sound");
    for (TAvDSPComponent* c : chain)
        c->Stopped();
    for (TAvDSPComponent* c : chain)
        c->Closed();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int argc = 1;
    static char name[] = "fuzz_wavefile";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t out = data[0], shape = data[1];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 2),
                           static_cast<qsizetype>(size - 2));
    TAvWavePlayer player(nullptr);
    try {
        player.Wave()->LoadFromMemory(bytes);
    } catch (const EAvWaveError&) {
        return 0;
    }
    if (player.Wave()->Empty() || !player.Wave()->GetPWaveFormat()) return 0;
    static const int kRates[] = {0, 8000, 11025, 22050, 44100, 48000, 88200, 4000};
    static const int kSizes[] = {64, 333, 2048, 8192};
    try {
        TAvADPCMConverter* adpcm = player.ADPCMConverter();
        adpcm->SetBitLength((out & 8) ? b8Bit : b16Bit);
        adpcm->SetEnabled(!(out & 16) && adpcm->CanConvert());
        TAvPCMConverter* pcm = player.PCMConverter();
        pcm->SetAutoConvert((out & 4) != 0);
        if (!(out & 4)) {
            pcm->SetBitLength((out & 1) ? b8Bit : b16Bit);
            pcm->SetMode((out & 2) ? mMono : mStereo);
            const int rate = kRates[shape & 7];
            pcm->SetSampleRate(
                rate ? rate : static_cast<int>(player.Wave()->GetPWaveFormat()->nSamplesPerSec));
        }
        Run(player, kSizes[(shape >> 3) & 3]);
    } catch (const Exception&) {
        // The chain's own refusal (no converter for the format, a stream that fails).
    }
    return 0;
}
