// Our own ADPCM decoders on arbitrary formats and data: odd block aligns, channel counts, sample
// counts and coefficient tables. A format they take decodes any bytes within the room its layout
// promises, 8-bit and 16-bit, and the IMA-style state carries across pieces of any size.
//
// Input: a format record (18 bytes and its cbSize extra bytes, as far as the input has them),
// then the data. When the input's first byte is odd, the MS ADPCM record gets the standard
// coefficient table written in, so the decoder is reached with every other field arbitrary.
#include "audio/stream/AvADCvt.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "adpcm: %s\n", what);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(WAVEFORMATEX)) return 0;
    WAVEFORMATEX head;
    std::memcpy(&head, data, sizeof head);
    const std::size_t extra = std::min<std::size_t>(head.cbSize, size - sizeof head);
    // The record as a reader would hand it over: header and the extra bytes it holds.
    std::vector<std::uint8_t> record(sizeof head + std::max<std::size_t>(extra, 32), 0);
    std::memcpy(record.data(), data, sizeof head + extra);
    auto* fmt = reinterpret_cast<WAVEFORMATEX*>(record.data());
    if ((data[0] & 1) && fmt->wFormatTag == WAVE_FORMAT_ADPCM) {
        // wSamplesPerBlock, wNumCoef = 7, the seven pairs.
        fmt->cbSize = 32;
        std::uint8_t* p = record.data() + sizeof(WAVEFORMATEX) + 2;
        const std::uint16_t n = 7;
        std::memcpy(p, &n, 2);
        std::memcpy(p + 2, MsAdpcmCoefficients, sizeof MsAdpcmCoefficients);
    }
    const std::uint8_t* src = data + sizeof head + extra;
    const int n = static_cast<int>(size - sizeof head - extra);

    TAvMsAdpcmLayout ms;
    if (ReadMsAdpcmLayout(fmt, ms)) {
        Check(ms.Channels >= 1 && ms.Channels <= 2 && ms.BlockAlign > 0 && ms.SamplesPerBlock >= 0,
              "MS ADPCM layout out of range");
        const int blocks = (n + ms.BlockAlign - 1) / ms.BlockAlign;
        for (TAvBits bits : {b16Bit, b8Bit}) {
            const std::size_t room =
                std::size_t(blocks) * ms.SamplesPerBlock * ms.Channels * (bits == b16Bit ? 2 : 1);
            // Exactly the promised room: ASan sees a write past it.
            std::vector<std::uint8_t> out(room);
            const int written = DecodeMsAdpcm(ms, src, n, out.data(), bits);
            Check(written >= 0 && std::size_t(written) <= room, "MS ADPCM wrote past its room");
        }
        (void)MsAdpcmBlockFrames(ms, n);
    }
    if (IsImaStyleFormat(fmt)) {
        // Whole, then in pieces of the input's choosing: the same samples.
        TAvImaState whole{}, pieces{};
        const int usable = ImaStyleUsableBytes(fmt->wFormatTag, fmt->nChannels, n);
        Check(usable >= 0 && usable <= n, "takes bytes it was not given");
        std::vector<std::int16_t> a(std::size_t(usable) * 2);
        const int samples =
            DecodeImaStyle(fmt->wFormatTag, fmt->nChannels, whole, src, usable, a.data());
        Check(samples >= 0 && std::size_t(samples) <= a.size(), "IMA wrote past its room");
        std::vector<std::int16_t> b;
        const int step = 1 + data[1] % 7;
        int at = 0, pending = 0;
        while (at < n) {
            const int len = std::min(step, n - at) + pending;
            const int take = ImaStyleUsableBytes(fmt->wFormatTag, fmt->nChannels, len);
            std::vector<std::int16_t> part(std::size_t(take) * 2);
            const int got = DecodeImaStyle(fmt->wFormatTag, fmt->nChannels, pieces,
                                           src + at - pending, take, part.data());
            b.insert(b.end(), part.begin(), part.begin() + got);
            pending = len - take;
            at += std::min(step, n - at);
        }
        Check(b.size() == std::size_t(samples) && std::equal(b.begin(), b.end(), a.begin()),
              "decoding in pieces differs from decoding whole");
        for (auto& s : whole)
            Check(s.StepIndex >= 0 && s.StepIndex <= 88, "step index out of range");
    }
    return 0;
}
