// The WAVE reader on arbitrary bytes, through the multimedia file I/O on a memory block with the
// header repairs: a wave it accepts reads to its end in pieces, seeks anywhere, is written out and
// reads back with the same format and length; its ADPCM data goes through our own decoders as the
// player would decode it. A refused wave raises EAvWaveError and nothing else.
#include "audio/stream/AvADCvt.h"
#include "audio/stream/AvWave.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "wave: %s\n", what);
        std::abort();
    }
}

// Decodes what was read as the ADPCM converter's decoders would, when the format is theirs.
void Decode(const WAVEFORMATEX* fmt, const std::vector<char>& data) {
    const auto* src = reinterpret_cast<const std::uint8_t*>(data.data());
    const int n = static_cast<int>(data.size());
    TAvMsAdpcmLayout ms;
    if (ReadMsAdpcmLayout(fmt, ms)) {
        const int blocks = (n + ms.BlockAlign - 1) / ms.BlockAlign;
        std::vector<std::uint8_t> out(std::size_t(blocks) * ms.SamplesPerBlock * ms.Channels * 2);
        const int written = DecodeMsAdpcm(ms, src, n, out.data(), b16Bit);
        Check(written >= 0 && std::size_t(written) <= out.size(), "MS ADPCM wrote past its room");
    } else if (IsImaStyleFormat(fmt)) {
        TAvImaState state{};
        const int usable = ImaStyleUsableBytes(fmt->wFormatTag, fmt->nChannels, n);
        Check(usable >= 0 && usable <= n, "IMA decoder takes bytes it was not given");
        std::vector<std::int16_t> out(std::size_t(usable) * 2);
        const int samples =
            DecodeImaStyle(fmt->wFormatTag, fmt->nChannels, state, src, usable, out.data());
        Check(samples >= 0 && std::size_t(samples) <= out.size(), "IMA wrote past its room");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TAvWave wave;
    try {
        wave.LoadFromMemory(bytes);
    } catch (const EAvWaveError&) {
        return 0;
    }
    (void)wave.FormatString();
    (void)wave.Repairs();
    for (int i = 0; i < AvInfoTagCount; ++i)
        (void)wave.InfoTag(i);
    const WAVEFORMATEX* fmt = wave.GetPWaveFormat();
    if (!fmt) return 0;
    const LONG length = wave.Length();
    Check(length >= 0, "negative length");

    std::vector<char> all;
    try {
        wave.OpenFile();
    } catch (const EAvWaveError&) {
        return 0;
    }
    std::vector<char> piece(std::max<int>(fmt->nBlockAlign, 1) * 3 + 1);
    for (int guard = 0; guard < 1 << 16; ++guard) {
        const LONG got = wave.Read(piece.data(), static_cast<LONG>(piece.size()));
        Check(got >= 0 && got <= static_cast<LONG>(piece.size()), "read out of range");
        if (got == 0) break;
        all.insert(all.end(), piece.begin(), piece.begin() + got);
    }
    Check(all.size() <= size, "read more than the file holds");
    Decode(fmt, all);
    // Seeks: start, middle, end, past the end.
    const LONG past = length < std::numeric_limits<LONG>::max() ? length + 1 : length;
    for (LONG p : {LONG(0), length / 2, length, past}) {
        wave.SetPosition(p);
        (void)wave.Read(piece.data(), static_cast<LONG>(piece.size()));
    }
    wave.CloseFile();

    // Written out with its format, it reads back with that format and the whole blocks read.
    static const QString path = [] {
        static QTemporaryDir dir(QDir("/dev/shm").exists()
                                     ? QStringLiteral("/dev/shm/avsetup-fuzz-XXXXXX")
                                     : QDir::tempPath() + "/avsetup-fuzz-XXXXXX");
        return dir.filePath("out.wav");
    }();
    const int tag = wave.FormatTag();
    // MPEG data is a stream of frames: it is kept whole, whatever its header's block align says.
    const WORD align = tag == 0x0055 || tag == 0x0050 ? 1 : std::max<WORD>(fmt->nBlockAlign, 1);
    TAvWave written;
    try {
        written.CreateFile(path, fmt);
    } catch (const EAvWaveError&) {
        Check(false, "a format the reader accepts cannot be written");
    }
    const LONG put = written.Write(all.data(), static_cast<LONG>(all.size()));
    Check(put == static_cast<LONG>(all.size()), "a write to tmpfs came short");
    written.CloseFile();
    TAvWave again;
    try {
        again.SetFileName(path);
    } catch (const EAvWaveError&) {
        Check(false, "a written wave does not read back");
    }
    Check(again.FormatTag() == tag, "written wave has another format");
    Check(again.DataSize() == all.size() - all.size() % align, "written wave has other data");
    return 0;
}
