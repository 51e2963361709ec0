#include "audio/stream/AvWave.h"

#include "resources/AvResources.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

const std::array<TAvInfoTagDef, AvInfoTagCount> AvInfoTags = {{
    {"IARL", "Archival Location", "Where the subject of the file is archived."},
    {"IART", "Artist", "The artist of the original subject of the file."},
    {"ICMS", "Commissioned", "Who commissioned the subject of the file."},
    {"ICMT", "Comments", "General comments about the file or its subject."},
    {"ICOP", "Copyright", "The copyright information for the file."},
    {"ICRD", "Creation Date", "When the subject of the file was created (year-month-day)."},
    {"ICRP", "Cropped", "Whether and how an image was cropped."},
    {"IDIM", "Dimensions", "The size of the original subject of the file."},
    {"IDPI", "Dots Per Inch", "The dots-per-inch setting of the digitizer that made the file."},
    {"IENG", "Engineer", "The engineer who worked on the file."},
    {"IGNR", "Genre", "The kind of the original work."},
    {"IKEY", "Keywords", "Keywords for the file or its subject, separated by semicolons."},
    {"ILGT", "Lightness", "Lightness changes on the digitizer needed to make the file."},
    {"IMED", "Medium", "The medium of the original subject of the file."},
    {"INAM", "Name", "The title of the subject of the file."},
    {"IPLT", "Palette Setting", "The number of colours requested when digitizing an image."},
    {"IPRD", "Product", "The title the file was originally made for."},
    {"ISBJ", "Subject", "What the file is about."},
    {"ISFT", "Software", "The software package that made the file."},
    {"ISHP", "Sharpness", "Sharpness changes on the digitizer needed to make the file."},
    {"ISRC", "Source", "Who supplied the original subject of the file."},
    {"ISRF", "Source Form", "The form of the material that was digitized."},
    {"ITCH", "Technician", "The technician who digitized the subject of the file."},
}};

int AvInfoTagIndex(FOURCC id) {
    for (int i = 0; i < AvInfoTagCount; ++i)
        if (mmioStringToFOURCC(AvInfoTags[i].Id, 0) == id) return i;
    return -1;
}

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kDisp = mmioFOURCC('D', 'I', 'S', 'P');
constexpr FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');
constexpr WORD kMpeg = 0x0050; // MPEG-1 audio (layers I and II)
// The largest format record: 18 bytes and a 16-bit count of extra bytes.
constexpr DWORD kMaxFormatBytes = 18 + 0xFFFF;
// INFO and DISP chunks are read whole; larger ones are skipped.
constexpr DWORD kMaxListBytes = 16u << 20;
constexpr std::size_t kMaxChunkList = 1024;

QString FourCCText(FOURCC id) {
    QString s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((id >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? QChar(c) : QChar('?');
    }
    return s;
}

DWORD GetLE32(const char* p) {
    DWORD v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<DWORD>(static_cast<BYTE>(p[i])) << (8 * i);
    return v;
}
void PutLE32(char* p, DWORD v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

QString MmioErrorText(MMRESULT r) {
    switch (r) {
    case MMIOERR_FILENOTFOUND:
        return QStringLiteral("file not found");
    case MMIOERR_PATHNOTFOUND:
        return QStringLiteral("path not found");
    case MMIOERR_ACCESSDENIED:
        return QStringLiteral("access denied");
    case MMIOERR_TOOMANYOPENFILES:
        return QStringLiteral("too many open files");
    case MMIOERR_OUTOFMEMORY:
        return QStringLiteral("out of memory");
    case MMIOERR_INVALIDFILE:
        return QStringLiteral("not a regular file");
    default:
        return QStringLiteral("cannot open the file (error %1)").arg(r);
    }
}

// Opens the record's wave: memory procedure for resources and memory blocks, else the file.
HMMIO OpenWave(TAvWaveIO& io, const QString& name, DWORD flags, DWORD mode) {
    MMIOINFO info{};
    if (flags & (WIO_OPENRESOURCE | WIO_OPENMEMORY)) {
        info.fccIOProc = FOURCC_MEM;
        info.pchBuffer = io.Memory.data();
        info.cchBuffer = static_cast<LONG>(io.Memory.size());
        return mmioOpen(nullptr, &info, MMIO_READ);
    }
    const QByteArray path = QFile::encodeName(name);
    HMMIO h = mmioOpen(path.constData(), &info, mode | MMIO_ALLOCBUF);
    if (!h) io.Error = MmioErrorText(info.wErrorRet);
    return h;
}

void ReadInfoList(TAvWaveIO& io, const QByteArray& list) {
    qsizetype off = 0;
    while (off + 8 <= list.size()) {
        const FOURCC id = GetLE32(list.constData() + off);
        qsizetype size = GetLE32(list.constData() + off + 4);
        if (size > list.size() - off - 8) {
            io.Repairs << QStringLiteral("INFO tag '%1' cut from %2 to %3 bytes")
                              .arg(FourCCText(id))
                              .arg(size)
                              .arg(list.size() - off - 8);
            size = list.size() - off - 8;
        }
        QByteArray value = list.mid(off + 8, size);
        const qsizetype zero = value.indexOf('\0');
        if (zero >= 0) value.truncate(zero);
        const int tag = AvInfoTagIndex(id);
        if (tag >= 0) io.Info[tag].Value = value;
        off += 8 + size + (size & 1);
    }
}

bool ReadExactly(HMMIO h, char* p, LONG n) {
    return n <= 0 || mmioRead(h, p, n) == n;
}

int FailParse(TAvWaveIO& io, QString* error, int code, const QString& why) {
    if (io.hmmio) mmioClose(io.hmmio, 0);
    io.hmmio = nullptr;
    if (error) *error = why;
    return code;
}

// The unit the data is kept and cut in. MPEG audio is a stream of frames of varying length: its
// header's block align (1152, the frame's samples, as some writers put it) is no unit of the data,
// and cutting to it would lose the end of the last frame.
DWORD BlockAlign(const TAvWaveIO& io) {
    const WAVEFORMATEX* f = io.Format.get();
    if (!f || f->nBlockAlign == 0 || f->wFormatTag == WAVE_FORMAT_MPEGLAYER3 ||
        f->wFormatTag == kMpeg)
        return 1;
    return f->nBlockAlign;
}

DWORD BytesToSamplesOf(const TAvWaveIO& io, DWORD bytes) {
    const WAVEFORMATEX* f = io.Format.get();
    if (!f) return 0;
    // Sample positions are signed 32-bit: a damaged header's huge rate must not wrap them.
    constexpr double kMost = 0x7FFFFFFF;
    if (io.ByteRate > 0)
        return static_cast<DWORD>(std::min(kMost, bytes * double(f->nSamplesPerSec) / io.ByteRate));
    if (io.dwFramesPerBlock > 0) {
        std::uint64_t s = std::uint64_t(bytes / BlockAlign(io)) * io.dwFramesPerBlock;
        if (io.FactCounts) s = std::min<std::uint64_t>(s, io.dwDataSamples);
        return static_cast<DWORD>(std::min<std::uint64_t>(s, 0x7FFFFFFF));
    }
    if (f->nAvgBytesPerSec == 0) return 0;
    return static_cast<DWORD>(std::min<std::uint64_t>(
        0x7FFFFFFF, std::uint64_t(bytes) * f->nSamplesPerSec / f->nAvgBytesPerSec));
}

DWORD SamplesToBytesOf(const TAvWaveIO& io, LONG samples) {
    const WAVEFORMATEX* f = io.Format.get();
    if (!f || samples <= 0) return 0;
    // The end of the data is its last byte, whatever rounding the conversions below do.
    if (io.dwDataSamples > 0 && DWORD(samples) >= io.dwDataSamples) return io.dwDataBytes;
    const DWORD align = BlockAlign(io);
    std::uint64_t bytes;
    if (io.ByteRate > 0)
        bytes = static_cast<std::uint64_t>(samples * io.ByteRate / f->nSamplesPerSec);
    else if (io.dwFramesPerBlock > 0)
        bytes = (std::uint64_t(samples) + io.dwFramesPerBlock - 1) / io.dwFramesPerBlock * align;
    else if (f->nSamplesPerSec == 0)
        return 0;
    else
        bytes = (std::uint64_t(samples) * f->nAvgBytesPerSec + f->nSamplesPerSec - 1) /
                f->nSamplesPerSec;
    bytes = (bytes + align - 1) / align * align; // whole blocks, rounded up
    return static_cast<DWORD>(std::min<std::uint64_t>(bytes, UINT32_MAX));
}

constexpr FOURCC kRf64 = mmioFOURCC('R', 'F', '6', '4');
constexpr FOURCC kBw64 = mmioFOURCC('B', 'W', '6', '4');
constexpr FOURCC kDs64 = mmioFOURCC('d', 's', '6', '4');

std::uint64_t GetLE64(const char* p) {
    return GetLE32(p) | (std::uint64_t(GetLE32(p + 4)) << 32);
}

QString FmtCutText(DWORD held, DWORD declared) {
    return QStringLiteral("the file ends inside its 'fmt ' chunk (%1 of %2 bytes)")
        .arg(held)
        .arg(declared);
}

QString GuidText(const GUID& g) {
    QString s = QStringLiteral("{%1-%2-%3-")
                    .arg(g.Data1, 8, 16, QLatin1Char('0'))
                    .arg(g.Data2, 4, 16, QLatin1Char('0'))
                    .arg(g.Data3, 4, 16, QLatin1Char('0'));
    for (int i = 0; i < 8; ++i) {
        if (i == 2) s += QLatin1Char('-');
        s += QStringLiteral("%1").arg(uint(g.Data4[i]), 2, 16, QLatin1Char('0'));
    }
    return s.toUpper() + QLatin1Char('}');
}

// The format a record holds: its own tag, or the tag an EXTENSIBLE record's sub-format names
// (0 when the record is too short for one or it names no tag). held: bytes of the record.
WORD EffectiveTag(const WAVEFORMATEX* f, DWORD held) {
    if (f->wFormatTag != WAVE_FORMAT_EXTENSIBLE) return f->wFormatTag;
    if (held < sizeof(WAVEFORMATEXTENSIBLE) || f->cbSize < 22) return 0;
    GUID base = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f)->SubFormat;
    const DWORD inner = base.Data1;
    base.Data1 = 0;
    if (!(base == WaveSubFormat(0)) || inner == 0 || inner > 0xFFFF ||
        inner == WAVE_FORMAT_EXTENSIBLE)
        return 0;
    return static_cast<WORD>(inner);
}

// Sample frames in one block of the format; 0 when it has no blocks of a fixed length.
DWORD FramesPerBlock(const WAVEFORMATEX* f, WORD tag) {
    const DWORD align = f->nBlockAlign, ch = f->nChannels;
    if (align == 0 || ch == 0) return 0;
    switch (tag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        return 1;
    case WAVE_FORMAT_IEEE_FLOAT:
        if (f->wBitsPerSample >= 8) return 1;
        [[fallthrough]]; // 4 bits under this tag: IMA-style ADPCM, two samples a byte
    case 0x0033:
    case 0x0206:
        return (align * 2) % ch == 0 ? align * 2 / ch : 0;
    case WAVE_FORMAT_ADPCM: {
        // As the decoder reads it: the samples per block the record names, at most what fits.
        if (align < 7 * ch) return 0;
        const DWORD whole = (align - 7 * ch) * 2 / ch + 2;
        const auto* extra = reinterpret_cast<const BYTE*>(f) + sizeof(WAVEFORMATEX);
        const DWORD named = f->cbSize >= 2 ? DWORD(extra[0] | (extra[1] << 8)) : 0;
        return named >= 2 ? std::min(named, whole) : whole;
    }
    case WAVE_FORMAT_IMA_ADPCM:
        return align > 4 * ch ? (align - 4 * ch) * 2 / ch + 1 : 0;
    case WAVE_FORMAT_GSM610:
        return align == 65 ? 320 : 0;
    default:
        return 0;
    }
}

// Bytes per second of the first MPEG audio layer III frame found in n bytes; 0 when none is.
DWORD MpegByteRate(const char* p, LONG n) {
    static constexpr int kMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                       112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                       64, 80, 96, 112, 128, 144, 160, 0};
    for (LONG i = 0; i + 3 < n; ++i) {
        const auto b0 = BYTE(p[i]), b1 = BYTE(p[i + 1]), b2 = BYTE(p[i + 2]);
        if (b0 != 0xFF || (b1 & 0xE0) != 0xE0) continue;
        const int version = (b1 >> 3) & 3, layer = (b1 >> 1) & 3, index = b2 >> 4;
        if (version == 1 || layer != 1 || ((b2 >> 2) & 3) == 3) continue;
        const int kbps = version == 3 ? kMpeg1[index] : kMpeg2[index];
        if (kbps) return DWORD(kbps) * 1000 / 8;
    }
    return 0;
}

// The sample count of the parsed data: from the blocks when the format has them (the fact count
// when it agrees with them, since it tells how much of the last block is samples), otherwise
// through the byte rate, which a plausible fact count then corrects.
void CountSamples(TAvWaveIO& io) {
    const WAVEFORMATEX* f = io.Format.get();
    const DWORD bytes = io.dwDataBytes;
    const LONG fact = io.lFactSamples;
    io.FactCounts = false;
    io.ByteRate = 0;
    io.dwDataSamples = BytesToSamplesOf(io, bytes);
    if (fact < 0 || DWORD(fact) == io.dwDataSamples) return;
    const DWORD fpb = io.dwFramesPerBlock;
    if (fpb > 0) {
        const DWORD counted = io.dwDataSamples;
        if (fpb > 1 && DWORD(fact) < counted && DWORD(fact) > counted - std::min(counted, fpb)) {
            io.dwDataSamples = DWORD(fact);
            io.FactCounts = true;
            return;
        }
    } else if (fact > 0 && bytes > 0 && f->nSamplesPerSec > 0) {
        const double estimate = io.dwDataSamples;
        if (estimate == 0 || (fact >= estimate / 2 && fact <= estimate * 2)) {
            io.ByteRate = double(bytes) * f->nSamplesPerSec / fact;
            io.dwDataSamples = DWORD(fact);
            return;
        }
    }
    io.Repairs << QStringLiteral("fact sample count %1 replaced by %2%3")
                      .arg(fact)
                      .arg(io.dwDataSamples)
                      .arg(fpb > 0 ? QStringLiteral(" (counted from the blocks)") : QString());
}

} // namespace

// ---- Parsing -----------------------------------------------------------------------------------

int WioOpen(const QString& name, DWORD flags, const QByteArray& memory, TAvWaveIOPtr& out,
            QString* error) {
    out.reset();
    if (!(flags & (WIO_OPENFILE | WIO_OPENRESOURCE | WIO_OPENMEMORY))) {
        if (error) *error = QStringLiteral("nothing to open");
        return WIOERR_BADPARAM;
    }
    auto io = std::make_unique<TAvWaveIO>();
    io->dwFlags = flags & (WIO_OPENFILE | WIO_OPENRESOURCE | WIO_OPENMEMORY);
    io->Name = name;
    if (flags & (WIO_OPENRESOURCE | WIO_OPENMEMORY)) io->Memory = memory;
    // Parsing only reads: a file is opened read-only, so a write-protected file parses too.
    io->hmmio = OpenWave(*io, name, io->dwFlags, MMIO_READ);
    if (!io->hmmio) return FailParse(*io, error, WIOERR_FILEERROR, io->Error);
    HMMIO h = io->hmmio;

    MMCKINFO& riff = io->ckRiff;
    if (mmioDescend(h, &riff, nullptr, 0) != MMSYSERR_NOERROR ||
        (riff.ckid != FOURCC_RIFF && riff.ckid != kRf64 && riff.ckid != kBw64))
        return FailParse(*io, error, WIOERR_FILEERROR, QStringLiteral("not a RIFF file"));
    // RF64 and BW64 (recordings past 4 GB) are RIFF with 64-bit sizes in a "ds64" chunk.
    const bool wide = riff.ckid != FOURCC_RIFF;
    io->Container = riff.ckid;
    if (wide) {
        char type[4];
        if (!ReadExactly(h, type, 4))
            return FailParse(*io, error, WIOERR_FILEERROR, QStringLiteral("not a RIFF file"));
        riff.fccType = GetLE32(type);
    }
    if (riff.fccType != kWave)
        return FailParse(
            *io, error, WIOERR_FILEERROR,
            QStringLiteral("RIFF form type is '%1', not 'WAVE'").arg(FourCCText(riff.fccType)));
    const LONG end = mmioSeek(h, 0, SEEK_END);
    if (end < 0 || mmioSeek(h, 12, SEEK_SET) != 12)
        return FailParse(*io, error, WIOERR_FILEERROR, QStringLiteral("cannot seek in the file"));
    const auto fileSize = static_cast<DWORD>(end);
    io->dwFileSize = fileSize;
    const DWORD riffDeclared = riff.cksize;
    if (wide) {
        riff.cksize = fileSize - 8; // until "ds64" says otherwise
    } else if (std::uint64_t(riff.cksize) + 8 > fileSize) {
        io->Repairs << QStringLiteral("RIFF chunk cut from %1 to %2 bytes")
                           .arg(riff.cksize)
                           .arg(fileSize - 8);
        riff.cksize = fileSize - 8;
    }
    std::uint64_t riffEnd = std::uint64_t(riff.dwDataOffset) + riff.cksize;
    bool unfinished = false;

    bool seenFmt = false, seenData = false, seenFact = false, previousWasData = false;
    bool secondFmtBeforeData = false;
    DWORD dataEnd = fileSize;
    std::uint64_t dataDeclared = 0;
    std::uint64_t ds64Data = 0;
    bool haveDs64 = false;
    FOURCC overrun = 0; // a chunk before the data that claims more than the file holds
    std::uint64_t overrunDeclared = 0;
    DWORD fmtDeclared = 0, fmtHeld = 0; // "fmt " size as declared, bytes the file holds of it
    for (;;) {
        MMCKINFO ck{};
        if (mmioDescend(h, &ck, nullptr, 0) != MMSYSERR_NOERROR) break;
        const DWORD declared = ck.cksize;
        std::uint64_t declared64 = declared;
        // An RF64 data chunk's real size is in "ds64"; the 32-bit field holds 0xFFFFFFFF.
        if (wide && haveDs64 && ck.ckid == kData && declared == 0xFFFFFFFF) {
            declared64 = ds64Data;
            ck.cksize = static_cast<DWORD>(std::min<std::uint64_t>(ds64Data, UINT32_MAX));
        }
        const std::uint64_t chunkEnd = std::uint64_t(ck.dwDataOffset) + declared64;
        if (chunkEnd > riffEnd && seenFmt && seenData) break;
        // A file of thousands of tiny chunks must not cost memory: the list keeps the first ones.
        if (io->Chunks.size() < kMaxChunkList)
            io->Chunks.push_back({ck.ckid, ck.fccType, ck.dwDataOffset - 8, declared});
        if (seenData && !io->ForeignAfterData && ck.ckid != kFact && ck.ckid != kDisp &&
            !(ck.ckid == FOURCC_LIST && ck.fccType == kInfo))
            io->ForeignAfterData = ck.ckid;
        if (chunkEnd > fileSize) {
            ck.cksize = fileSize - ck.dwDataOffset;
            if (!seenData && ck.ckid != kData && ck.ckid != kFmt && !overrun) {
                overrun = ck.ckid;
                overrunDeclared = declared64;
            }
            if (ck.ckid != kData && ck.ckid != kFmt) // their own notes say more
                io->Repairs << QStringLiteral("'%1' chunk cut from %2 to %3 bytes")
                                   .arg(FourCCText(ck.ckid))
                                   .arg(declared64)
                                   .arg(ck.cksize);
        }
        if (previousWasData) {
            dataEnd = ck.dwDataOffset - 8;
            previousWasData = false;
        }
        if (ck.ckid == kDs64 && wide && !seenData) {
            // riff size, data size, sample count (64 bits each), then a table we do not need.
            char sizes[24];
            if (ck.cksize >= 24 && ReadExactly(h, sizes, 24)) {
                haveDs64 = true;
                const std::uint64_t riffSize = GetLE64(sizes);
                ds64Data = GetLE64(sizes + 8);
                const std::uint64_t count = GetLE64(sizes + 16);
                // Compared without adding to it: a damaged size may be near 2^64.
                const bool past = riffSize > std::uint64_t(fileSize) - 8;
                if (past && riffDeclared == 0xFFFFFFFF)
                    io->Repairs << QStringLiteral("RIFF chunk cut from %1 to %2 bytes")
                                       .arg(riffSize)
                                       .arg(fileSize - 8);
                riffEnd = past ? fileSize : riffSize + 8;
                if (count > 0 && count <= INT32_MAX && io->lFactSamples < 0)
                    io->lFactSamples = static_cast<LONG>(count);
            }
        } else if (ck.ckid == FOURCC_LIST && ck.fccType == kInfo) {
            if (ck.cksize >= 4 && ck.cksize - 4 <= kMaxListBytes) {
                QByteArray list(ck.cksize - 4, '\0');
                if (!ReadExactly(h, list.data(), LONG(list.size())))
                    return FailParse(*io, error, WIOERR_FILEERROR,
                                     QStringLiteral("cannot read the INFO list"));
                ReadInfoList(*io, list);
            }
        } else if (ck.ckid == kDisp) {
            if (ck.cksize >= 4 && ck.cksize - 4 <= kMaxListBytes) {
                TAvDispItem item;
                char type[4];
                item.Data.resize(ck.cksize - 4);
                if (!ReadExactly(h, type, 4) ||
                    !ReadExactly(h, item.Data.data(), LONG(item.Data.size())))
                    return FailParse(*io, error, WIOERR_FILEERROR,
                                     QStringLiteral("cannot read a DISP chunk"));
                item.Type = GetLE32(type);
                io->Disp.push_back(std::move(item));
            }
        } else if (ck.ckid == kFmt) {
            if (seenFmt) {
                io->Repairs << QStringLiteral("second 'fmt ' chunk: reading stopped there");
                secondFmtBeforeData = !seenData;
                break;
            }
            seenFmt = true;
            fmtDeclared = declared;
            fmtHeld = ck.cksize;
            const DWORD bytes = std::min(ck.cksize, kMaxFormatBytes);
            const DWORD held = std::max<DWORD>(bytes, 18) + 1;
            io->Format.reset(static_cast<WAVEFORMATEX*>(std::calloc(held, 1)));
            if (!io->Format)
                return FailParse(*io, error, WIOERR_NOMEM, QStringLiteral("out of memory"));
            io->dwFormatBytes = held;
            if (!ReadExactly(h, reinterpret_cast<char*>(io->Format.get()), LONG(bytes)))
                return FailParse(*io, error, WIOERR_FILEERROR,
                                 QStringLiteral("cannot read the 'fmt ' chunk"));
            // Tag, channels, rate, byte rate and block align are the least a format has.
            if (bytes < 14) {
                if (fmtHeld < fmtDeclared)
                    return FailParse(*io, error, WIOERR_BADFILE, FmtCutText(fmtHeld, fmtDeclared));
                return FailParse(
                    *io, error, WIOERR_BADFILE,
                    QStringLiteral("the 'fmt ' chunk is too short (%1 bytes)").arg(fmtDeclared));
            }
            WAVEFORMATEX* f = io->Format.get();
            // The extra bytes a format announces must be there: a copy reads cbSize of them.
            const DWORD extra = bytes > 18 ? bytes - 18 : 0;
            if (f->wFormatTag != WAVE_FORMAT_PCM && f->cbSize > extra) {
                io->Repairs << QStringLiteral("format extra size cut from %1 to %2 bytes")
                                   .arg(f->cbSize)
                                   .arg(extra);
                f->cbSize = static_cast<WORD>(extra);
            }
            if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE && bytes < sizeof(WAVEFORMATEXTENSIBLE))
                io->Refusal = QStringLiteral("the 'fmt ' chunk is too short for its EXTENSIBLE "
                                             "extension (%1 of %2 bytes)")
                                  .arg(bytes)
                                  .arg(sizeof(WAVEFORMATEXTENSIBLE));
            // The oldest headers (14 bytes) have no bits field; damaged ones may hold 0 there.
            if (f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 0 && f->nChannels > 0 &&
                f->nBlockAlign > 0 && f->nBlockAlign % f->nChannels == 0) {
                f->wBitsPerSample = static_cast<WORD>(8 * (f->nBlockAlign / f->nChannels));
                io->Repairs << QStringLiteral("%1: %2 bits per sample taken from the block align")
                                   .arg(bytes < 16 ? QStringLiteral("no bits field")
                                                   : QStringLiteral("bits per sample 0"))
                                   .arg(f->wBitsPerSample);
            }
        } else if (ck.ckid == kData) {
            if (seenData) {
                io->Repairs << QStringLiteral("second 'data' chunk: reading stopped there");
                break;
            }
            seenData = true;
            dataDeclared = declared64;
            io->dwDataOffset = ck.dwDataOffset;
            io->ckData = ck;
            previousWasData = true;
            // Data and RIFF sizes both 0: a writer that never finished its file; everything
            // after the header is samples. (A finished empty recording has a RIFF size.)
            if (declared == 0 && riffDeclared == 0) {
                unfinished = true;
                break;
            }
        } else if (ck.ckid == kFact) {
            if (seenFact) {
                io->Repairs << QStringLiteral("second 'fact' chunk: reading stopped there");
                break;
            }
            seenFact = true;
            char count[4];
            if (ck.cksize >= 4 && ReadExactly(h, count, 4))
                io->lFactSamples = static_cast<LONG>(GetLE32(count));
        }
        if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) {
            // A chunk that reaches the end of the file (its pad byte missing, or cut) ends the
            // walk; what it lacked is judged below.
            if (seenData || std::uint64_t(ck.dwDataOffset) + ck.cksize >= fileSize) break;
            return FailParse(
                *io, error, WIOERR_FILEERROR,
                QStringLiteral("cannot move past the '%1' chunk").arg(FourCCText(ck.ckid)));
        }
    }

    WAVEFORMATEX* f = io->Format.get();
    if (!f) return FailParse(*io, error, WIOERR_BADFILE, QStringLiteral("no 'fmt ' chunk"));
    const WORD tag = EffectiveTag(f, io->dwFormatBytes);
    // MPEG audio without a byte rate: the first frame's header has it.
    if (f->nAvgBytesPerSec == 0 && tag == WAVE_FORMAT_MPEGLAYER3 && seenData) {
        char head[4096];
        const LONG n = mmioSeek(h, LONG(io->dwDataOffset), SEEK_SET) == LONG(io->dwDataOffset)
                           ? mmioRead(h, head, sizeof head)
                           : -1;
        if (const DWORD rate = MpegByteRate(head, n); rate) {
            io->Repairs << QStringLiteral("bytes per second repaired from 0 to %1 (from the first "
                                          "MPEG frame)")
                               .arg(rate);
            f->nAvgBytesPerSec = rate;
        }
    }
    mmioClose(h, 0);
    io->hmmio = nullptr;

    if (tag == WAVE_FORMAT_PCM) {
        // Samples are stored in whole bytes: 12 valid bits take a 16-bit container, 20 a 24-bit
        // one, and play as that container (the low bits are zero).
        const WORD container = static_cast<WORD>((f->wBitsPerSample + 7u) / 8u * 8u);
        if (container != f->wBitsPerSample) {
            io->Repairs << QStringLiteral("%1-bit samples in %2-bit containers: played as %2-bit")
                               .arg(f->wBitsPerSample)
                               .arg(container);
            io->wValidBits = f->wBitsPerSample;
            f->wBitsPerSample = container;
        } else if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE && io->Refusal.isEmpty()) {
            const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f);
            if (x->Samples.wValidBitsPerSample && x->Samples.wValidBitsPerSample < container)
                io->wValidBits = x->Samples.wValidBitsPerSample;
        }
    }
    if (tag == WAVE_FORMAT_PCM || (tag == WAVE_FORMAT_IEEE_FLOAT && f->wBitsPerSample >= 8)) {
        // A PCM header is fully determined by channels, bits and rate; damaged headers often get
        // the derived fields wrong.
        const DWORD align = DWORD(f->nChannels) * (f->wBitsPerSample / 8u);
        if (align != f->nBlockAlign && align <= 0xFFFF && align > 0) {
            io->Repairs << QStringLiteral("block align repaired from %1 to %2")
                               .arg(f->nBlockAlign)
                               .arg(align);
            f->nBlockAlign = static_cast<WORD>(align);
        }
        const std::uint64_t rate = std::uint64_t(f->nBlockAlign) * f->nSamplesPerSec;
        if (rate != f->nAvgBytesPerSec && rate <= UINT32_MAX) {
            io->Repairs << QStringLiteral("bytes per second repaired from %1 to %2")
                               .arg(f->nAvgBytesPerSec)
                               .arg(rate);
            f->nAvgBytesPerSec = static_cast<DWORD>(rate);
        }
    }
    if (f->nChannels == 0 || f->nSamplesPerSec == 0 || f->nBlockAlign == 0) {
        if (fmtHeld < fmtDeclared)
            return FailParse(*io, error, WIOERR_BADFILE, FmtCutText(fmtHeld, fmtDeclared));
        return FailParse(*io, error, WIOERR_BADFILE,
                         QStringLiteral("unusable format (%1 channels, %2 Hz, block align %3)")
                             .arg(f->nChannels)
                             .arg(f->nSamplesPerSec)
                             .arg(f->nBlockAlign));
    }
    io->dwFramesPerBlock = FramesPerBlock(f, tag);
    if (f->nAvgBytesPerSec == 0 && io->dwFramesPerBlock > 0) {
        // Compressed blocks of a known size: the rate follows from the block layout.
        const std::uint64_t rate =
            (std::uint64_t(f->nBlockAlign) * f->nSamplesPerSec + io->dwFramesPerBlock / 2) /
            io->dwFramesPerBlock;
        if (rate > 0 && rate <= UINT32_MAX) {
            io->Repairs << QStringLiteral("bytes per second repaired from 0 to %1 (from the "
                                          "block size)")
                               .arg(rate);
            f->nAvgBytesPerSec = static_cast<DWORD>(rate);
        }
    }
    if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE && io->Refusal.isEmpty() && tag == 0) {
        const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f);
        io->Refusal = QStringLiteral("the EXTENSIBLE sub-format %1 is not one this reader knows")
                          .arg(GuidText(x->SubFormat));
    }

    DWORD bytes = 0;
    if (!seenData) {
        io->dwDataOffset = 0;
        QString why;
        if (fmtHeld < fmtDeclared)
            why = FmtCutText(fmtHeld, fmtDeclared);
        else if (secondFmtBeforeData)
            why = QStringLiteral("a second 'fmt ' chunk comes before any 'data' chunk");
        else if (overrun)
            why = QStringLiteral("chunk '%1' claims %2 bytes, more than the file holds, before any "
                                 "'data' chunk")
                      .arg(FourCCText(overrun))
                      .arg(overrunDeclared);
        else
            why = QStringLiteral("no 'data' chunk");
        if (io->Refusal.isEmpty()) io->Refusal = why;
    } else {
        const DWORD extent = dataEnd > io->dwDataOffset ? dataEnd - io->dwDataOffset : 0;
        if (unfinished && extent > 0) {
            // A writer that never finished its file: the samples run to the end.
            bytes = extent;
            io->Repairs << QStringLiteral("data chunk size 0 taken as the %1 bytes up to %2")
                               .arg(extent)
                               .arg(dataEnd == fileSize ? QStringLiteral("the end of the file")
                                                        : QStringLiteral("the next chunk"));
        } else if (dataDeclared > extent) {
            bytes = extent;
            io->Repairs << QStringLiteral("data chunk cut from %1 to %2 bytes")
                               .arg(dataDeclared)
                               .arg(extent);
        } else {
            // Never more than declared: the pad byte and bytes after the RIFF are no samples.
            bytes = static_cast<DWORD>(dataDeclared);
        }
        // Positions are 32-bit: a larger wave plays as far as they reach.
        const DWORD reach = DWORD(INT32_MAX) - std::min<DWORD>(io->dwDataOffset, INT32_MAX);
        if (bytes > reach) {
            io->Repairs << QStringLiteral("only the first %1 of %2 data bytes can be played")
                               .arg(reach)
                               .arg(bytes);
            bytes = reach;
        }
        const DWORD unit = BlockAlign(*io);
        const DWORD whole = bytes - bytes % unit;
        if (whole != bytes)
            io->Repairs << QStringLiteral("data cut from %1 to %2 bytes (whole blocks of %3)")
                               .arg(bytes)
                               .arg(whole)
                               .arg(unit);
        bytes = whole;
    }
    io->dwDataBytes = bytes;
    CountSamples(*io);
    if (io->Refusal.isEmpty() && bytes > 0 && io->dwFramesPerBlock == 0 &&
        f->nAvgBytesPerSec == 0 && io->ByteRate <= 0)
        io->Refusal = QStringLiteral("bytes per second is 0 and the format (tag 0x%1) does not "
                                     "tell it")
                          .arg(f->wFormatTag, 4, 16, QLatin1Char('0'));
    io->lSampleFirst = 0;
    io->lSampleLast = static_cast<LONG>(std::min<DWORD>(io->dwDataSamples, INT32_MAX));
    io->lBytesLeft = 0;
    io->lCurSample = 0;
    out = std::move(io);
    return WIOERR_NOERROR;
}

// ---- Reading ------------------------------------------------------------------------------------

int WioReopen(TAvWaveIO& io, bool plainHandle, LONG ioBuffer) {
    WioClose(io);
    if (!io.Format) return WIOERR_BADFILE;
    const bool file = (io.dwFlags & WIO_OPENFILE) != 0;
    if (file && plainHandle) {
        io.hFile = ::open(QFile::encodeName(io.Name).constData(), O_RDONLY | O_CLOEXEC);
        if (io.hFile < 0) return WIOERR_FILEERROR;
        io.dwFlags |= WIO_OPENHANDLE;
    } else {
        io.dwFlags &= ~WIO_OPENHANDLE;
        io.hmmio = OpenWave(io, io.Name, io.dwFlags, MMIO_READ);
        if (!io.hmmio) return WIOERR_FILEERROR;
        // The file may have changed since it was parsed: the data chunk must still be there.
        MMCKINFO ck{};
        if (io.dwDataOffset >= 8 &&
            (mmioSeek(io.hmmio, LONG(io.dwDataOffset - 8), SEEK_SET) < 0 ||
             mmioDescend(io.hmmio, &ck, nullptr, 0) != MMSYSERR_NOERROR || ck.ckid != kData)) {
            WioClose(io);
            return WIOERR_FILEERROR;
        }
        if (file && ioBuffer > 0 &&
            mmioSetBuffer(io.hmmio, nullptr, ioBuffer, 0) != MMSYSERR_NOERROR) {
            WioClose(io);
            return WIOERR_NOMEM;
        }
    }
    return WioSeek(io, io.lCurSample);
}

int WioClose(TAvWaveIO& io) {
    int result = WIOERR_NOERROR;
    if (io.Writing) return WioFinish(io);
    if (io.hmmio && mmioClose(io.hmmio, 0) != MMSYSERR_NOERROR) result = WIOERR_FILEERROR;
    io.hmmio = nullptr;
    if (io.hFile >= 0) ::close(io.hFile);
    io.hFile = -1;
    io.dwFlags &= ~WIO_OPENHANDLE;
    return result;
}

int WioSeek(TAvWaveIO& io, LONG s) {
    if (!io.Format) return WIOERR_BADFILE;
    const LONG range = std::max<LONG>(io.lSampleLast - io.lSampleFirst, 0);
    s = std::clamp<LONG>(s, 0, range);
    const DWORD b = std::min(SamplesToBytesOf(io, io.lSampleFirst + s), io.dwDataBytes);
    const DWORD last = std::min(SamplesToBytesOf(io, io.lSampleLast), io.dwDataBytes);
    const std::int64_t at = std::int64_t(io.dwDataOffset) + b;
    if (at > LONG_MAX) return WIOERR_FILEERROR;
    if (io.hFile >= 0) {
        if (::lseek(io.hFile, at, SEEK_SET) != at) return WIOERR_FILEERROR;
    } else if (io.hmmio) {
        if (mmioSeek(io.hmmio, LONG(at), SEEK_SET) != at) return WIOERR_FILEERROR;
    } else {
        return WIOERR_FILEERROR;
    }
    io.dwCurByte = b;
    io.lBytesLeft = static_cast<LONG>(last > b ? last - b : 0);
    io.lCurSample = static_cast<LONG>(BytesToSamplesOf(io, b)) - io.lSampleFirst;
    return WIOERR_NOERROR;
}

LONG WioRead(TAvWaveIO& io, char* pch, LONG cch) {
    if ((!io.hmmio && io.hFile < 0) || cch < 0 || (!pch && cch > 0)) return -1;
    const LONG want = std::min(cch, io.lBytesLeft);
    if (want <= 0) return 0;
    LONG got;
    if (io.hFile >= 0) {
        got = 0;
        while (got < want) {
            const ssize_t r = ::read(io.hFile, pch + got, size_t(want - got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += LONG(r);
        }
    } else {
        got = mmioRead(io.hmmio, pch, want);
    }
    if (got < want) {
        io.lBytesLeft = 0; // the file ended early (or failed): the range ends here
        got = std::max<LONG>(got, 0);
    } else {
        io.lBytesLeft -= got;
    }
    io.dwCurByte += DWORD(got);
    io.lCurSample = static_cast<LONG>(BytesToSamplesOf(io, io.dwCurByte)) - io.lSampleFirst;
    return got;
}

// ---- Writing ------------------------------------------------------------------------------------

namespace {

// Writes one whole chunk at the current position and flushes it; false when any part failed.
bool WriteChunk(HMMIO h, FOURCC id, FOURCC listType, const QByteArray& body) {
    MMCKINFO ck{};
    ck.ckid = id;
    ck.fccType = listType;
    if (mmioCreateChunk(h, &ck, listType ? MMIO_CREATELIST : 0) != MMSYSERR_NOERROR) return false;
    if (!body.isEmpty() && mmioWrite(h, body.constData(), LONG(body.size())) != body.size())
        return false;
    return mmioAscend(h, &ck, 0) == MMSYSERR_NOERROR && mmioFlush(h, 0) == MMSYSERR_NOERROR;
}

QByteArray LE32(DWORD v) {
    QByteArray b(4, '\0');
    PutLE32(b.data(), v);
    return b;
}

} // namespace

int WioCreate(const QString& name, const WAVEFORMATEX* format, TAvWaveIOPtr& out, QString* error) {
    out.reset();
    if (!format || format->nBlockAlign == 0 || format->nChannels == 0 ||
        format->nSamplesPerSec == 0) {
        if (error) *error = QStringLiteral("no usable format");
        return WIOERR_BADPARAM;
    }
    auto io = std::make_unique<TAvWaveIO>();
    io->dwFlags = WIO_OPENFILE;
    io->Name = name;
    io->Format = CopyFormat(format);
    if (!io->Format) return WIOERR_NOMEM;
    io->dwFormatBytes = static_cast<DWORD>(FormatSize(format));
    io->dwFramesPerBlock =
        FramesPerBlock(io->Format.get(), EffectiveTag(io->Format.get(), io->dwFormatBytes));
    MMIOINFO info{};
    io->hmmio = mmioOpen(QFile::encodeName(name).constData(), &info,
                         MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!io->hmmio) {
        if (error) *error = MmioErrorText(info.wErrorRet);
        return WIOERR_FILEERROR;
    }
    HMMIO h = io->hmmio;
    // Sizes are written as 0 and fixed up on finishing; a file whose writer died before that
    // still reads as "all samples up to the end of the file".
    io->ckRiff.fccType = kWave;
    bool ok = mmioCreateChunk(h, &io->ckRiff, MMIO_CREATERIFF) == MMSYSERR_NOERROR;
    ok = ok && WriteChunk(h, kFmt, 0,
                          QByteArray(reinterpret_cast<const char*>(io->Format.get()),
                                     FormatSize(io->Format.get())));
    io->ckData.ckid = kData;
    ok = ok && mmioCreateChunk(h, &io->ckData, 0) == MMSYSERR_NOERROR;
    ok = ok && mmioFlush(h, 0) == MMSYSERR_NOERROR;
    if (!ok) {
        mmioClose(h, 0);
        QFile::remove(name); // made here and holding nothing: not left behind half-written
        if (error) *error = QStringLiteral("cannot write the file header");
        return WIOERR_FILEERROR;
    }
    io->dwDataOffset = io->ckData.dwDataOffset;
    io->dwFileSize = io->dwDataOffset;
    io->Writing = true;
    out = std::move(io);
    return WIOERR_NOERROR;
}

int WioAppend(TAvWaveIO& io) {
    if (!(io.dwFlags & WIO_OPENFILE) || !io.Format || io.Writing) return WIOERR_BADPARAM;
    if (io.dwDataOffset < 8) return WIOERR_BADFILE; // no data chunk to extend
    if (io.ForeignAfterData) {
        io.Error =
            QStringLiteral("chunk '%1' follows the data").arg(FourCCText(io.ForeignAfterData));
        return WIOERR_FILEERROR;
    }
    WioClose(io);
    io.hmmio = OpenWave(io, io.Name, io.dwFlags, MMIO_READWRITE);
    if (!io.hmmio) return WIOERR_FILEERROR;
    MMCKINFO riff{}, data{};
    if (mmioDescend(io.hmmio, &riff, nullptr, 0) != MMSYSERR_NOERROR || riff.fccType != kWave ||
        mmioSeek(io.hmmio, LONG(io.dwDataOffset - 8), SEEK_SET) < 0 ||
        mmioDescend(io.hmmio, &data, nullptr, 0) != MMSYSERR_NOERROR || data.ckid != kData ||
        mmioSeek(io.hmmio, LONG(io.dwDataOffset + io.dwDataBytes), SEEK_SET) < 0) {
        WioClose(io);
        return WIOERR_FILEERROR;
    }
    riff.dwFlags = MMIO_DIRTY;
    data.dwFlags = MMIO_DIRTY;
    io.ckRiff = riff;
    io.ckData = data;
    io.Writing = true;
    io.WriteFailed = false;
    io.FactCounts = false; // what is appended ends in whole blocks
    return WIOERR_NOERROR;
}

LONG WioWrite(TAvWaveIO& io, const char* pch, LONG cch) {
    if (!io.Writing || !io.hmmio || cch < 0 || (!pch && cch > 0)) return -1;
    if (io.WriteFailed) return -1;
    if (cch == 0) return 0; // nothing to write is no failure
    if (std::uint64_t(io.dwDataOffset) + io.dwDataBytes + DWORD(cch) > LONG_MAX - 4096) {
        io.WriteFailed = true; // the file would outgrow what its 32-bit sizes can describe
        return -1;
    }
    const LONG n = mmioWrite(io.hmmio, pch, cch);
    if (n != cch) io.WriteFailed = true;
    if (n > 0) {
        io.dwDataBytes += DWORD(n);
        io.dwDataSamples = BytesToSamplesOf(io, io.dwDataBytes);
        io.lSampleLast = static_cast<LONG>(io.dwDataSamples);
        io.ckData.dwFlags |= MMIO_DIRTY;
    }
    return n > 0 ? n : -1;
}

int WioFinish(TAvWaveIO& io) {
    if (!io.Writing) return WioClose(io);
    io.Writing = false;
    HMMIO h = io.hmmio;
    if (!h) return WIOERR_FILEERROR;
    bool ok = !io.WriteFailed;
    if (mmioFlush(h, 0) != MMSYSERR_NOERROR) ok = false;

    // Keep the whole blocks that are really on disk.
    const DWORD align = BlockAlign(io);
    const LONG end = mmioSeek(h, 0, SEEK_END);
    DWORD onDisk = io.dwDataBytes;
    if (end < 0 || DWORD(end) < io.dwDataOffset)
        onDisk = 0;
    else
        onDisk = std::min<DWORD>(onDisk, DWORD(end) - io.dwDataOffset);
    onDisk -= onDisk % align;
    if (onDisk != io.dwDataBytes) {
        io.Repairs << QStringLiteral("only %1 of %2 data bytes reached the disk")
                          .arg(onDisk)
                          .arg(io.dwDataBytes);
        ok = false;
    }
    // The data chunk's size, and its pad byte when the size is odd. On a full disk the pad byte
    // may not fit: then one block less is kept (an odd size means an odd block align).
    auto closeData = [&](DWORD bytes) {
        io.ckData.dwFlags |= MMIO_DIRTY;
        return mmioSeek(h, LONG(io.dwDataOffset + bytes), SEEK_SET) >= 0 &&
               mmioAscend(h, &io.ckData, 0) == MMSYSERR_NOERROR &&
               mmioFlush(h, 0) == MMSYSERR_NOERROR;
    };
    if (!closeData(onDisk)) {
        ok = false;
        if ((onDisk & 1) && onDisk >= align) {
            onDisk -= align;
            closeData(onDisk);
        }
    }
    io.dwDataBytes = onDisk;
    io.dwDataSamples = BytesToSamplesOf(io, onDisk);
    io.lSampleLast = static_cast<LONG>(io.dwDataSamples);
    DWORD keep = io.dwDataOffset + onDisk + (onDisk & 1);

    // Trailing chunks only while everything fits; a chunk that fails is cut off again below.
    if (ok) {
        auto add = [&](FOURCC id, FOURCC type, const QByteArray& body) {
            if (!ok) return;
            ok = mmioSeek(h, LONG(keep), SEEK_SET) == LONG(keep) && WriteChunk(h, id, type, body);
            const LONG at = mmioSeek(h, 0, SEEK_CUR);
            if (ok && at > 0) keep = DWORD(at);
        };
        add(kFact, 0, LE32(io.dwDataSamples));
        for (const TAvDispItem& d : io.Disp)
            if (d.Type == 1 || d.Type == 8) add(kDisp, 0, LE32(d.Type) + d.Data);
        QByteArray info;
        for (const TAvInfoNode& n : io.Info) {
            if (n.Value.isEmpty()) continue;
            const QByteArray value = n.Value + '\0';
            info += QByteArray(AvInfoTags[&n - io.Info.data()].Id, 4) + LE32(DWORD(value.size())) +
                    value;
            if (value.size() & 1) info += '\0';
        }
        if (!info.isEmpty()) add(FOURCC_LIST, kInfo, info);
    }
    io.ckRiff.dwFlags |= MMIO_DIRTY;
    const bool riffOk = mmioSeek(h, LONG(keep), SEEK_SET) == LONG(keep) &&
                        mmioAscend(h, &io.ckRiff, 0) == MMSYSERR_NOERROR;
    if (mmioClose(h, 0) != MMSYSERR_NOERROR || !riffOk) ok = false;
    io.hmmio = nullptr;
    // Whatever lies behind the kept chunks is a half-written remainder (or an old tail).
    const QByteArray path = QFile::encodeName(io.Name);
    if (::truncate(path.constData(), keep) != 0) ok = false;
    io.dwFileSize = keep;
    return ok ? WIOERR_NOERROR : WIOERR_FILEERROR;
}

// ---- Texts --------------------------------------------------------------------------------------

namespace {

// The messages of this unit: string table number 28000 + n.
QString WaveText(int n) {
    const QString text = av::LoadResString(28000 + n);
    return text.isEmpty() ? av::LoadResString(28006) : text;
}

[[noreturn]] void RaiseWave(int n) {
    throw EAvWaveError(WaveText(n));
}

struct TFormatName {
    int Tag;
    const char* Name;
};
// First match wins.
constexpr TFormatName kFormatNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

} // namespace

QString AvFormatTagName(int tag) {
    for (const TFormatName& n : kFormatNames)
        if (n.Tag == tag) return QString::fromLatin1(n.Name);
    return WaveText(6);
}

// ---- TAvWave ------------------------------------------------------------------------------------

TAvWave::TAvWave() = default;

TAvWave::~TAvWave() {
    if (FIO) WioClose(*FIO);
}

void TAvWave::Assign(const TPersistent* source) {
    const auto* src = dynamic_cast<const TAvWave*>(source);
    if (!src) {
        TAvObject::Assign(source);
        return;
    }
    if (src == this) return;
    FFileMustExist = src->FFileMustExist;
    FIOBufferSize = src->FIOBufferSize;
    FTimeFormat = src->FTimeFormat;
    if (src->FIO && (src->FIO->dwFlags & (WIO_OPENMEMORY | WIO_OPENRESOURCE))) {
        TAvWaveIOPtr io;
        if (WioOpen(src->FIO->Name, src->FIO->dwFlags, src->FIO->Memory, io) == WIOERR_NOERROR) {
            CloseFile();
            Take(std::move(io), src->FFileName);
            SignalChange();
        }
        return;
    }
    SetFileName(src->FFileName);
}

void TAvWave::Clear() {
    if (FIO) WioClose(*FIO);
    FIO.reset();
    FOpenedForRead = false;
    FPosition = FTotalSamples = FBytesLeft = FTotalBytes = FSegmentBytesLeft = 0;
    FSegment = 0;
    FPlayList.clear();
}

void TAvWave::Take(TAvWaveIOPtr io, const QString& name) {
    Clear();
    FIO = std::move(io);
    FFileName = name;
    FPosition = 0;
    BuildPlayList();
}

void TAvWave::Changed(bool starting) {
    if (!starting && UpdateCount() == 0 && FChangePending) {
        FChangePending = false;
        TAvWaveChange change(this);
        FObservable.NotifyObservers(&change);
    }
    TAvObject::Changed(starting);
}

void TAvWave::SignalChange() {
    FChangePending = true;
    Changed(false);
}

void TAvWave::SetFileName(const QString& name) {
    const bool resource = name.startsWith(QStringLiteral(":/"));
    const QString full = name.isEmpty() || resource ? name : QFileInfo(name).absoluteFilePath();
    if (!full.isEmpty() && full == FFileName && FIO && (FIO->dwFlags & WIO_OPENFILE) &&
        QFileInfo(full).size() == qint64(FIO->dwFileSize))
        return;
    FLastError.clear();
    if (full.isEmpty()) {
        Clear();
        FFileName.clear();
        SignalChange();
        return;
    }
    const QByteArray path = QFile::encodeName(full);
    const bool exists =
        resource ? QFile::exists(full) : mmioOpen(path.constData(), nullptr, MMIO_EXIST) != nullptr;
    if (exists) {
        TAvWaveIOPtr io;
        int r;
        if (resource) {
            QFile f(full);
            const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            r = WioOpen(full, WIO_OPENRESOURCE, bytes, io, &FLastError);
        } else {
            r = WioOpen(full, WIO_OPENFILE, QByteArray(), io, &FLastError);
        }
        if (r == WIOERR_NOERROR) {
            Take(std::move(io), full);
            SignalChange();
            return;
        }
        RaiseWave(133);
    }
    if (FFileMustExist) {
        FLastError = QStringLiteral("file not found");
        RaiseWave(130);
    }
    Clear();
    FFileName = full;
    SignalChange();
}

QByteArray TAvWave::InfoTag(int index) const {
    if (!FIO || index < 0 || index >= AvInfoTagCount) return QByteArray();
    return FIO->Info[index].Value;
}

void TAvWave::SetInfoTag(int index, const QByteArray& value) {
    if (!FIO || index < 0 || index >= AvInfoTagCount) return;
    FIO->Info[index].Value =
        value.left(value.indexOf('\0') < 0 ? value.size() : value.indexOf('\0'));
    FIO->Info[index].Flags |= 1;
}

void TAvWave::SetIOBufferSize(int size) {
    size = std::max(size, 8192);
    if (size == FIOBufferSize) return;
    FIOBufferSize = size;
    ApplyIOBuffer();
}

void TAvWave::ApplyIOBuffer() {
    if (!FIO || !FIO->hmmio || !(FIO->dwFlags & WIO_OPENFILE)) return;
    if (mmioSetBuffer(FIO->hmmio, nullptr, FIOBufferSize, 0) != MMSYSERR_NOERROR) RaiseWave(137);
}

const WAVEFORMATEX* TAvWave::GetPWaveFormat() const {
    return FIO ? FIO->Format.get() : nullptr;
}

TAvBits TAvWave::BitLength() const {
    const WAVEFORMATEX* f = GetPWaveFormat();
    return f && f->wBitsPerSample > 8 ? b16Bit : b8Bit;
}

TAvMode TAvWave::Mode() const {
    const WAVEFORMATEX* f = GetPWaveFormat();
    return f && f->nChannels == 2 ? mStereo : mMono;
}

int TAvWave::FormatTag() const {
    const WAVEFORMATEX* f = GetPWaveFormat();
    return f ? f->wFormatTag : 0;
}

QString TAvWave::FormatString() const {
    return AvFormatTagName(FormatTag());
}

int TAvWave::SampleRate() const {
    const WAVEFORMATEX* f = GetPWaveFormat();
    return f ? static_cast<int>(f->nSamplesPerSec) : 11025;
}

LONG TAvWave::SamplesToBytes(LONG samples) const {
    return FIO ? static_cast<LONG>(std::min<DWORD>(SamplesToBytesOf(*FIO, samples), INT32_MAX)) : 0;
}

LONG TAvWave::BytesToSamples(LONG bytes) const {
    return FIO && bytes > 0 ? static_cast<LONG>(BytesToSamplesOf(*FIO, DWORD(bytes))) : 0;
}

LONG TAvWave::SamplesToTime(LONG samples) const {
    switch (FTimeFormat) {
    case tfByte:
        return SamplesToBytes(samples);
    case tfMillisecond:
        return SamplesToMilliseconds(GetPWaveFormat(), samples);
    default:
        return samples;
    }
}

LONG TAvWave::TimeToSamples(LONG t) const {
    switch (FTimeFormat) {
    case tfByte:
        return BytesToSamples(t);
    case tfMillisecond:
        return MillisecondsToSamples(GetPWaveFormat(), t);
    default:
        return t;
    }
}

void TAvWave::SetCutList(const TAvCutList* list) {
    FCutList = list;
    BuildPlayList();
    if (FOpenedForRead) SetPosition(0);
}

void TAvWave::BuildPlayList() {
    FPlayList.clear();
    FTotalSamples = FTotalBytes = 0;
    if (!FIO || !FIO->Format) return;
    const LONG first = FIO->lSampleFirst, last = FIO->lSampleLast;
    // The range minus the cut entries, in order.
    std::vector<std::pair<LONG, LONG>> cuts;
    if (FCutList)
        for (const TAvCutEntry& c : *FCutList)
            if (c.Length > 0) cuts.emplace_back(c.Start, c.Start + c.Length);
    std::sort(cuts.begin(), cuts.end());
    LONG at = first;
    auto add = [&](LONG from, LONG to) {
        if (to <= from) return;
        const LONG startByte = SamplesToBytes(from);
        const LONG bytes = std::min<LONG>(SamplesToBytes(to), LONG(FIO->dwDataBytes)) - startByte;
        if (bytes <= 0) return;
        FPlayList.push_back({from, startByte, to - from, bytes});
        FTotalSamples += to - from;
        FTotalBytes += bytes;
    };
    for (const auto& [from, to] : cuts) {
        add(at, std::min(from, last));
        at = std::max(at, to);
    }
    add(at, last);
}

void TAvWave::SetPosition(LONG p) {
    LONG s = TimeToSamples(p);
    if (!FOpenedForRead) {
        FPosition = std::clamp<LONG>(s, 0, std::max<LONG>(FTotalSamples, 0));
        return;
    }
    s = std::clamp<LONG>(s, 0, FTotalSamples);
    FPosition = s;
    FBytesLeft = FTotalBytes - SamplesToBytes(s);
    // The segment holding s (the end of the list holds nothing more to read).
    LONG before = 0;
    for (std::size_t i = 0; i < FPlayList.size(); ++i) {
        const TSegment& seg = FPlayList[i];
        if (s < before + seg.Samples) {
            const LONG sample = seg.StartSample + (s - before);
            if (WioSeek(*FIO, sample - FIO->lSampleFirst) != WIOERR_NOERROR &&
                WioSeek(*FIO, sample - FIO->lSampleFirst) != WIOERR_NOERROR)
                RaiseWave(147);
            FSegment = static_cast<int>(i);
            FSegmentBytesLeft = seg.StartByte + seg.Bytes - SamplesToBytes(sample);
            return;
        }
        before += seg.Samples;
    }
    if (s < FTotalSamples) RaiseWave(147);
    FSegment = static_cast<int>(FPlayList.size());
    FSegmentBytesLeft = 0;
    FBytesLeft = 0;
}

void TAvWave::OpenFile() {
    if (!FIO || !FIO->Format) RaiseWave(138);
    if (FOpenedForRead) return;
    const bool file = (FIO->dwFlags & WIO_OPENFILE) != 0;
    const int r = WioReopen(*FIO, false, file ? FIOBufferSize : 0);
    if (r == WIOERR_NOMEM) RaiseWave(137);
    if (r != WIOERR_NOERROR) RaiseWave(138);
    BeginRead();
    BuildPlayList();
    FOpenedForRead = true;
    SetPosition(SamplesToTime(FPosition));
}

void TAvWave::CloseFile() {
    if (!FIO) return;
    const bool wasWriting = FIO->Writing;
    WioClose(*FIO);
    FOpenedForRead = false;
    ResetRead();
    if (wasWriting) {
        BuildPlayList();
        SignalChange();
    }
}

LONG TAvWave::ReadRaw(char* buffer, LONG n) {
    return FIO ? WioRead(*FIO, buffer, n) : -1;
}

LONG TAvWave::Read(char* buffer, LONG n) {
    if (!FIO || !FOpenedForRead || !buffer) return -1;
    LONG count = 0;
    while (count < n && FBytesLeft > 0) {
        if (FSegmentBytesLeft <= 0) {
            if (++FSegment >= static_cast<int>(FPlayList.size())) {
                FBytesLeft = 0;
                break;
            }
            const TSegment& seg = FPlayList[FSegment];
            if (WioSeek(*FIO, seg.StartSample - FIO->lSampleFirst) != WIOERR_NOERROR) {
                FBytesLeft = 0;
                break;
            }
            FSegmentBytesLeft = seg.Bytes;
        }
        const LONG want = std::min({n - count, FSegmentBytesLeft, FBytesLeft});
        const LONG k = ReadRaw(buffer + count, want);
        if (k > 0) {
            count += k;
            FSegmentBytesLeft -= k;
            FBytesLeft -= k;
        }
        if (k < want) {
            FBytesLeft = 0; // the file ended or failed early
            break;
        }
    }
    if (count == 0) {
        // Nothing is handed out that the file does not hold.
        FBytesLeft = 0;
        FPosition = FTotalSamples;
        return 0;
    }
    FPosition = FBytesLeft > 0 ? BytesToSamples(FTotalBytes - FBytesLeft) : FTotalSamples;
    return count;
}

void TAvWave::CreateFile(const QString& name, const WAVEFORMATEX* format) {
    const QString full = QFileInfo(name).absoluteFilePath();
    TAvWaveIOPtr io;
    if (WioCreate(full, format, io, &FLastError) != WIOERR_NOERROR) RaiseWave(139);
    Take(std::move(io), full);
    SignalChange();
}

void TAvWave::AppendFile() {
    if (!FIO) RaiseWave(139);
    if (FIO->dwFlags & (WIO_OPENMEMORY | WIO_OPENRESOURCE)) RaiseWave(131);
    CloseFile();
    if (WioAppend(*FIO) != WIOERR_NOERROR) {
        FLastError = FIO->Error;
        RaiseWave(139);
    }
}

LONG TAvWave::Write(const char* buffer, LONG n) {
    if (FIO && (FIO->dwFlags & (WIO_OPENMEMORY | WIO_OPENRESOURCE))) RaiseWave(131);
    if (!FIO || !FIO->Writing) return -1;
    return WioWrite(*FIO, buffer, n);
}

void TAvWave::LoadFromMemory(const QByteArray& bytes) {
    TAvWaveIOPtr io;
    if (WioOpen(QString(), WIO_OPENMEMORY, bytes, io, &FLastError) != WIOERR_NOERROR)
        RaiseWave(133);
    Take(std::move(io), QString());
    SignalChange();
}

void TAvWave::LoadFromStream(QIODevice& stream) {
    QByteArray bytes;
    const qint64 total = stream.size() - stream.pos();
    bool cancel = false;
    while (!cancel && !stream.atEnd()) {
        const QByteArray part = stream.read(65536);
        if (part.isEmpty()) break;
        bytes += part;
        OnProgress(this, LONG(std::min<qint64>(bytes.size(), INT32_MAX)),
                   LONG(std::min<qint64>(total, INT32_MAX)), cancel);
    }
    if (cancel) return;
    LoadFromMemory(bytes);
}

void TAvWave::SaveToStream(QIODevice& stream) {
    QByteArray bytes;
    if (FIO && (FIO->dwFlags & (WIO_OPENMEMORY | WIO_OPENRESOURCE))) {
        bytes = FIO->Memory;
    } else if (FIO && (FIO->dwFlags & WIO_OPENFILE)) {
        QFile f(FIO->Name);
        if (!f.open(QIODevice::ReadOnly)) RaiseWave(130);
        bytes = f.readAll();
    }
    bool cancel = false;
    for (qsizetype at = 0; at < bytes.size() && !cancel;) {
        const qsizetype n = std::min<qsizetype>(65536, bytes.size() - at);
        if (stream.write(bytes.constData() + at, n) != n) RaiseWave(130);
        at += n;
        OnProgress(this, LONG(at), LONG(bytes.size()), cancel);
    }
}

// ---- TAvCustomWaveFile --------------------------------------------------------------------------

TAvCustomWaveFile::TAvCustomWaveFile(TComponent* AOwner)
    : TAvDSPComponent(AOwner), FWave(std::make_unique<TAvWave>()) {
    FObserver.OnNotify = [this](TObject*, TObject*) { WaveChanged(); };
    FWave->Observable().AddObserver(&FObserver);
}

TAvCustomWaveFile::~TAvCustomWaveFile() {
    FObserver.Detach();
    if (FFileOpen) FWave->CloseFile();
}

void TAvCustomWaveFile::SetWave(TAvWave* wave) {
    if (wave && wave != FWave.get()) FWave->Assign(wave);
}

void TAvCustomWaveFile::WaveChanged() {
    OnChange(this);
    try {
        if (FWave->FileMustExist() || FWave->GetPWaveFormat())
            SetPWaveFormat(FWave->GetPWaveFormat());
    } catch (...) {
        OnChanged(this);
        throw;
    }
    OnChanged(this);
}

void TAvCustomWaveFile::SetPWaveFormat(const WAVEFORMATEX* f) {
    TAvDSPComponent::SetPWaveFormat(f);
    const WAVEFORMATEX* held = PWaveFormat();
    FSilence = held && held->wFormatTag == WAVE_FORMAT_PCM && held->wBitsPerSample == 8 ? 128 : 0;
}

void TAvCustomWaveFile::Opened() {
    TAvDSPComponent::Opened();
    if (FFileOpen) return;
    if (Recording()) {
        const WAVEFORMATEX* f = Input()->PWaveFormat();
        if (f && !FWave->FileName().isEmpty()) {
            if (FOverwriteExisting || FWave->Empty()) {
                FWave->CreateFile(FWave->FileName(), f);
            } else {
                const WAVEFORMATEX* has = FWave->GetPWaveFormat();
                if (has->wFormatTag != f->wFormatTag || has->nChannels != f->nChannels ||
                    has->nSamplesPerSec != f->nSamplesPerSec ||
                    has->wBitsPerSample != f->wBitsPerSample || has->nBlockAlign != f->nBlockAlign)
                    throw EAvWaveError(WaveText(139));
                FWave->AppendFile();
            }
            FFileOpen = true;
        }
    } else if (!FWave->Empty()) {
        FWave->OpenFile();
        FStartPosition = FWave->Position();
        FFileOpen = true;
    }
    if (FFileOpen && OnOpen) CallSynchronized([this] { OnOpen(this); });
}

void TAvCustomWaveFile::Started() {
    TAvDSPComponent::Started();
    if (!FFileOpen || FStarted) return;
    FStarted = true;
    if (!Recording()) FWave->SetPosition(FStartPosition);
}

void TAvCustomWaveFile::Stopped() {
    if (FFileOpen && FStarted) FStarted = false;
    TAvDSPComponent::Stopped();
}

void TAvCustomWaveFile::Flushed() {
    TAvDSPComponent::Flushed();
}

void TAvCustomWaveFile::CloseWaveFile() {
    if (!FFileOpen) return;
    Stopped();
    FWave->CloseFile();
    FFileOpen = false;
    if (OnClose) CallSynchronized([this] { OnClose(this); });
}

void TAvCustomWaveFile::Closed() {
    CloseWaveFile();
    TAvDSPComponent::Closed();
}

void TAvCustomWaveFile::BufferLoad(TAvWaveHdr* hdr, bool& MoreBuffers) {
    if (Recording()) {
        // Recording while playing through: pass the pull upstream, keep what it delivered.
        TAvDSPComponent::BufferLoad(hdr, MoreBuffers);
        if (FFileOpen && FStarted && FEnabled && hdr->dwBytesRecorded > 0 &&
            FWave->Write(hdr->lpData, LONG(hdr->dwBytesRecorded)) != LONG(hdr->dwBytesRecorded))
            CloseWaveFile();
        return;
    }
    if (FWave->Empty()) {
        hdr->dwBytesRecorded = 0;
        return;
    }
    if (!FStarted || !FEnabled) {
        FillSilence(hdr->lpData, LONG(hdr->dwBufferLength), FSilence);
        hdr->dwBytesRecorded = hdr->dwBufferLength;
        MoreBuffers = true;
        return;
    }
    const LONG n = std::max<LONG>(FWave->Read(hdr->lpData, LONG(hdr->dwBufferLength)), 0);
    hdr->dwBytesRecorded = DWORD(n);
    if (n <= 0) return; // nothing more: the sink stops
    if (FWave->BytesLeft() > 0) {
        MoreBuffers = true;
        return;
    }
    if (!hdr->LoopEnabled) return;
    if (hdr->LoopCount > 0) --hdr->LoopsLeft;
    if (hdr->LoopCount != 0 && hdr->LoopsLeft < 0) return;
    FWave->SetPosition(0);
    OnLooping(this);
    MoreBuffers = true;
    hdr->HasLooped = -1;
}

std::uint64_t TAvCustomWaveFile::FreeDiskSpace() const {
    struct statvfs st {};
    const QByteArray dir = QFile::encodeName(QFileInfo(FWave->FileName()).absolutePath());
    if (::statvfs(dir.constData(), &st) != 0) return UINT64_MAX; // unknown: let the write decide
    return std::uint64_t(st.f_bavail) * st.f_frsize;
}

void TAvCustomWaveFile::BufferReady(TAvWaveHdr* hdr) {
    if (FFileOpen && FStarted && FEnabled && Recording() && !FWave->FileName().isEmpty() &&
        hdr->dwBytesRecorded > 0) {
        const std::uint64_t needed =
            std::uint64_t(FWave->IOBufferSize()) + hdr->dwBytesRecorded + 10240;
        if (FreeDiskSpace() < needed ||
            FWave->Write(hdr->lpData, LONG(hdr->dwBytesRecorded)) != LONG(hdr->dwBytesRecorded))
            CloseWaveFile();
    }
    TAvDSPComponent::BufferReady(hdr);
}
