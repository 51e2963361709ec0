#include "audio/stream/AvACMCvt.h"

#include "resources/AvResources.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSourceBlock = 8192;
constexpr int kMaxStages = 4;
constexpr int kMaxRetries = 5;
// The most any stage's output area may take. A nonsense header (a 2 Hz file played at 88.2 kHz)
// would otherwise ask for hundreds of megabytes for one piece of source.
constexpr DWORD kMaxStageBytes = 4u << 20;

bool SameRecord(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (!a || !b) return a == b;
    const int n = FormatSize(a);
    return n == FormatSize(b) && std::memcmp(a, b, static_cast<std::size_t>(n)) == 0;
}

MMRESULT QueryOpen(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, DWORD flags) {
    return acmStreamOpen(nullptr, nullptr, const_cast<LPWAVEFORMATEX>(src),
                         const_cast<LPWAVEFORMATEX>(dst), nullptr, 0, 0,
                         flags | ACM_STREAMOPENF_QUERY);
}

DWORD OpenFlags(TAvConvertQuality q) {
    return q == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
}

WAVEFORMATEX Pcm(WORD bits, WORD channels, DWORD rate) {
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, bits, channels, rate);
    return f;
}

// One step of the search: the intermediate PCM format m on the way from src to dst, or false.
bool PickIntermediate(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, DWORD openFlags,
                      WAVEFORMATEX* m) {
    if (src->wFormatTag == WAVE_FORMAT_PCM) {
        if (src->nChannels == dst->nChannels && src->nSamplesPerSec == dst->nSamplesPerSec)
            return false;
        *m = Pcm(src->wBitsPerSample, dst->nChannels, dst->nSamplesPerSec);
        const DWORD shape = ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
        if (acmFormatSuggest(nullptr, const_cast<LPWAVEFORMATEX>(src), m, sizeof *m, shape))
            return false;
        if (QueryOpen(m, dst, openFlags) != MMSYSERR_NOERROR) {
            m->wBitsPerSample = m->wBitsPerSample == 8 ? 16 : 8;
            if (acmFormatSuggest(nullptr, const_cast<LPWAVEFORMATEX>(src), m, sizeof *m,
                                 shape | ACM_FORMATSUGGESTF_WBITSPERSAMPLE))
                return false;
        }
        return true;
    }
    *m = Pcm(16, dst->nChannels, dst->nSamplesPerSec);
    if (acmFormatSuggest(nullptr, const_cast<LPWAVEFORMATEX>(src), m, sizeof *m,
                         ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                             ACM_FORMATSUGGESTF_NSAMPLESPERSEC) == MMSYSERR_NOERROR)
        return true;
    m->wFormatTag = WAVE_FORMAT_PCM;
    return acmFormatSuggest(nullptr, const_cast<LPWAVEFORMATEX>(src), m, sizeof *m,
                            ACM_FORMATSUGGESTF_WFORMATTAG) == MMSYSERR_NOERROR;
}

// The formats of the stages src -> ... -> dst (empty list when they do not differ); false when no
// chain exists.
bool FindChain(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, DWORD openFlags,
               std::vector<TAvFormatPtr>* hops) {
    hops->clear();
    if (!AcmAvailable() || !src || !dst) return false;
    hops->push_back(CopyFormat(src));
    for (int stage = 0; stage <= kMaxStages; ++stage) {
        const WAVEFORMATEX* from = hops->back().get();
        if (SameRecord(from, dst)) {
            if (hops->size() == 1) hops->clear();
            return true;
        }
        if (stage == kMaxStages) break;
        if (QueryOpen(from, dst, openFlags) == MMSYSERR_NOERROR) {
            hops->push_back(CopyFormat(dst));
            return true;
        }
        WAVEFORMATEX m{};
        if (!PickIntermediate(from, dst, openFlags, &m) || SameRecord(&m, from) ||
            QueryOpen(from, &m, openFlags) != MMSYSERR_NOERROR)
            break;
        hops->push_back(CopyFormat(&m));
    }
    hops->clear();
    return false;
}

} // namespace

bool AcmAvailable() {
    return acmGetVersion() > 0x01FFFFFF;
}

TAvFormatPtr AcmSuggestPcm(const WAVEFORMATEX* src) {
    if (!src) return {};
    // PCM a device plays is kept; wider samples and more channels come down to 16-bit stereo.
    if (src->wFormatTag == WAVE_FORMAT_PCM &&
        (src->wBitsPerSample == 8 || src->wBitsPerSample == 16) &&
        (src->nChannels == 1 || src->nChannels == 2))
        return CopyFormat(src);
    if (!AcmAvailable()) return {};
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, const_cast<LPWAVEFORMATEX>(src), &pcm, sizeof pcm,
                         ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR)
        return {};
    return CopyFormat(&pcm);
}

bool CanConvertACM(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, TAvConvertQuality quality) {
    std::vector<TAvFormatPtr> hops;
    return FindChain(src, dst, OpenFlags(quality), &hops);
}

// ---- TAvACMChain --------------------------------------------------------------------------------

bool TAvACMChain::Open(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, TAvConvertQuality quality,
                       int sourceSize) {
    Close();
    std::vector<TAvFormatPtr> hops;
    const DWORD flags = OpenFlags(quality);
    if (!FindChain(src, dst, flags, &hops)) return false;
    const int align = std::max<int>(src->nBlockAlign, 1);
    // Smaller source pieces until every stage's areas fit; not even one block fitting is a
    // conversion the platform cannot make.
    for (int piece = std::max(sourceSize - sourceSize % align, align);;) {
        FSourceSize = piece;
        int bytes = FSourceSize;
        bool fits = true;
        for (std::size_t i = 1; i < hops.size() && fits; ++i) {
            if (!AddStage(hops[i - 1].get(), hops[i].get(), flags, bytes, &fits)) {
                if (fits) {
                    Close();
                    return false;
                }
                break;
            }
            bytes = static_cast<int>(FStages.back().Out.size());
        }
        if (fits) break;
        Close();
        if (piece == align) {
            FLastError = ACMERR_NOTPOSSIBLE;
            return false;
        }
        piece = std::max(piece / 2 - piece / 2 % align, align);
    }
    if (FStages.empty()) {
        // Nothing to convert: the source area is handed straight out.
        Stage s;
        s.Source.resize(static_cast<std::size_t>(FSourceSize));
        FStages.push_back(std::move(s));
    }
    FOpen = true;
    return true;
}

bool TAvACMChain::AddStage(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, DWORD openFlags,
                           int srcBytes, bool* fits) {
    Stage s;
    FLastError = acmStreamOpen(&s.Stream, nullptr, const_cast<LPWAVEFORMATEX>(src),
                               const_cast<LPWAVEFORMATEX>(dst), nullptr, 0, 0, openFlags);
    if (FLastError) return false;
    DWORD outBytes = 0;
    FLastError =
        acmStreamSize(s.Stream, static_cast<DWORD>(srcBytes), &outBytes, ACM_STREAMSIZEF_SOURCE);
    if (FLastError) {
        acmStreamClose(s.Stream, 0);
        return false;
    }
    if (outBytes > kMaxStageBytes) {
        acmStreamClose(s.Stream, 0);
        *fits = false;
        return false;
    }
    s.BlockAlign = std::max<DWORD>(src->nBlockAlign, 1);
    s.Source.resize(static_cast<std::size_t>(srcBytes));
    s.Out.resize(outBytes);
    FStages.push_back(std::move(s));
    return PrepareStage(FStages.back());
}

bool TAvACMChain::PrepareStage(Stage& s) {
    if (s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
        s.Header.cbSrcLength = s.Header.dwReservedDriver[0];
        s.Header.cbDstLength = s.Header.dwReservedDriver[1];
        acmStreamUnprepareHeader(s.Stream, &s.Header, 0);
    }
    s.Header = ACMSTREAMHEADER{};
    s.Header.cbStruct = sizeof(ACMSTREAMHEADER);
    s.Header.pbSrc = s.Source.data();
    s.Header.cbSrcLength = static_cast<DWORD>(s.Source.size());
    s.Header.pbDst = s.Out.data();
    s.Header.cbDstLength = static_cast<DWORD>(s.Out.size());
    FLastError = acmStreamPrepareHeader(s.Stream, &s.Header, 0);
    return FLastError == MMSYSERR_NOERROR;
}

void TAvACMChain::Close() {
    for (Stage& s : FStages) {
        if (!s.Stream) continue;
        if (s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
            s.Header.cbSrcLength = static_cast<DWORD>(s.Source.size());
            s.Header.cbDstLength = static_cast<DWORD>(s.Out.size());
            acmStreamUnprepareHeader(s.Stream, &s.Header, 0);
        }
        acmStreamClose(s.Stream, 0);
    }
    FStages.clear();
    FOpen = false;
    FSourceSize = 0;
}

BYTE* TAvACMChain::SourceFree() {
    if (FStages.empty()) return nullptr;
    return FStages.front().Source.data() + FStages.front().Held;
}

int TAvACMChain::SourceFreeSize() const {
    if (FStages.empty()) return 0;
    return FSourceSize - FStages.front().Held;
}

int TAvACMChain::SourceHeld() const {
    return FStages.empty() ? 0 : FStages.front().Held;
}

const BYTE* TAvACMChain::Output() const {
    if (FStages.empty()) return nullptr;
    const Stage& last = FStages.back();
    return last.Stream ? last.Out.data() : last.Source.data();
}

int TAvACMChain::OutputCapacity() const {
    if (FStages.empty()) return 0;
    const Stage& last = FStages.back();
    return static_cast<int>(last.Stream ? last.Out.size() : last.Source.size());
}

bool TAvACMChain::RunStage(Stage& s, bool end) {
    s.Header.pbSrc = s.Source.data();
    s.Header.cbSrcLength = static_cast<DWORD>(s.Held);
    s.Header.cbDstLength = static_cast<DWORD>(s.Out.size());
    const DWORD flags = end ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
    FLastError = acmStreamConvert(s.Stream, &s.Header, flags);
    if (FLastError) return false;
    // The manager converts inside the call; the done flag is set when it returns.
    while (!(s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE)) {
    }
    const int used = static_cast<int>(s.Header.cbSrcLengthUsed);
    std::memmove(s.Source.data(), s.Source.data() + used, static_cast<std::size_t>(s.Held - used));
    s.Held -= used;
    s.OutLen = static_cast<int>(s.Header.cbDstLengthUsed);
    s.Full = s.OutLen == static_cast<int>(s.Out.size());
    return true;
}

int TAvACMChain::Convert(int n, bool end) {
    if (!FOpen || n < 0 || n > SourceFreeSize()) return -1;
    FStages.front().Held += n;
    if (!FStages.front().Stream) {
        // Pass-through: the source bytes are the output.
        const int out = FStages.front().Held;
        FStages.front().Held = 0;
        return out;
    }
    // At the end a few rounds may pass before the last stage gets data from a full earlier one.
    for (int round = 0; round < 16; ++round) {
        bool upstreamDone = end;
        for (std::size_t i = 0; i < FStages.size(); ++i) {
            Stage& s = FStages[i];
            if (i > 0) {
                Stage& prev = FStages[i - 1];
                const std::size_t need = static_cast<std::size_t>(s.Held + prev.OutLen);
                if (need > s.Source.size()) {
                    s.Source.resize(need);
                    if (!PrepareStage(s)) return -1;
                }
                std::memcpy(s.Source.data() + s.Held, prev.Out.data(),
                            static_cast<std::size_t>(prev.OutLen));
                s.Held += prev.OutLen;
                prev.OutLen = 0;
                // A stage ends only after the one before it has handed out everything.
                upstreamDone = upstreamDone && !prev.Full && prev.Held == 0;
            }
            if (!RunStage(s, upstreamDone)) return -1;
        }
        if (!end || FStages.back().OutLen > 0 || !Pending()) break;
    }
    return FStages.back().OutLen;
}

int TAvACMChain::ConvertFrom(const void* data, int n, bool end, int* taken) {
    const int k = std::clamp(n, 0, SourceFreeSize());
    if (k > 0) std::memcpy(SourceFree(), data, static_cast<std::size_t>(k));
    if (taken) *taken = k;
    return Convert(k, end);
}

bool TAvACMChain::Pending() const {
    for (std::size_t i = 0; i < FStages.size(); ++i) {
        const Stage& s = FStages[i];
        if (!s.Stream) continue;
        if ((i > 0 && s.Held > 0) || s.Full) return true;
    }
    return false;
}

void TAvACMChain::Reset() {
    for (Stage& s : FStages) {
        if (s.Stream) acmStreamReset(s.Stream, 0);
        s.Held = 0;
        s.OutLen = 0;
        s.Full = false;
    }
}

// ---- TAvACMConverter ----------------------------------------------------------------------------

TAvACMConverter::TAvACMConverter(TComponent* AOwner) : TAvCustomConverter(AOwner) {}

TAvACMConverter::~TAvACMConverter() {
    FChain.Close();
}

void TAvACMConverter::SetEnabled(bool v) {
    if (v == FEnabled) return;
    FEnabled = v;
    if (!IsLoading()) UpdateConversion();
}

void TAvACMConverter::SetQuality(TAvConvertQuality q) {
    if (q == FQuality) return;
    FQuality = q;
    if (!IsLoading()) UpdateConversion();
}

void TAvACMConverter::SetPWaveFormat(const WAVEFORMATEX* f) {
    if (!f || FormatFrozen()) return;
    FRequested = CopyFormat(f);
    UpdateConversion();
}

void TAvACMConverter::InputFormatChanged(const WAVEFORMATEX* f) {
    if (SameRecord(f, FInputFormat.get())) {
        // Nothing changed here, but a newly linked Output still learns what we deliver.
        if (Output() && !FormatFrozen()) Output()->InputFormatChanged(PWaveFormat());
        return;
    }
    FInputFormat = CopyFormat(f);
    UpdateConversion();
}

void TAvACMConverter::BuildDestFormat() {
    FDestFormat.reset();
    if (FEnabled && FRequested) FDestFormat = CopyFormat(FRequested.get());
}

bool TAvACMConverter::SameShape(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    return a->wFormatTag == b->wFormatTag && a->wBitsPerSample == b->wBitsPerSample &&
           a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec;
}

void TAvACMConverter::UpdateConversion() {
    FNeeded = false;
    FPossible = false;
    if (FInputFormat && FEnabled) {
        BuildDestFormat();
        if (FDestFormat && !SameShape(FInputFormat.get(), FDestFormat.get())) {
            FNeeded = true;
            if (CanConvertACM(FInputFormat.get(), FDestFormat.get(), FQuality)) {
                FPossible = true;
                TAvDSPComponent::SetPWaveFormat(FDestFormat.get());
                return;
            }
        }
    }
    TAvDSPComponent::SetPWaveFormat(FInputFormat.get());
}

void TAvACMConverter::Fail() {
    FPossible = false;
    throw EAvConverterError(QStringLiteral("Unable to convert to destination format"));
}

void TAvACMConverter::PrepareConversion() {
    const int align = std::max<int>(FInputFormat->nBlockAlign, 1);
    if (!FChain.Open(FInputFormat.get(), FDestFormat.get(), FQuality,
                     kSourceBlock - kSourceBlock % align))
        Fail();
}

void TAvACMConverter::FreeConversion() {
    FChain.Close();
    FPushBlock.clear();
    FPushBlock.shrink_to_fit();
}

void TAvACMConverter::BufferLoad(TAvWaveHdr* lpWaveHdr, bool& MoreBuffers) {
    if (!FPrepared || !FRunning || !FEnabled) {
        TAvDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
        return;
    }
    TAvDSPComponent* input = Input();
    if (!input) return;
    if (!FNeeded || !FPossible) {
        TAvDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
        return;
    }
    TAvWaveHdr* h = lpWaveHdr;
    const int align = std::max<int>(FInputFormat->nBlockAlign, 1);
    int retries = 0;
    for (;;) {
        // 1. Converted bytes waiting from the last round.
        const int want = HandOut(h, FChain.Output());
        // 2. Done for this buffer?
        if (h->HasLooped || !FRunning || want < 1) break;
        // 3. More source behind what the first stream still holds.
        int delivered = 0;
        if (!FExhausted) {
            const int room = FChain.SourceFreeSize() / align * align;
            if (room > 0) {
                FPullHdr = TAvWaveHdr{};
                FPullHdr.lpData = reinterpret_cast<LPSTR>(FChain.SourceFree());
                FPullHdr.dwBufferLength = static_cast<DWORD>(room);
                CopyLoopFields(*h, FPullHdr);
                bool more = false;
                input->BufferLoad(&FPullHdr, more);
                CopyLoopFields(FPullHdr, *h);
                delivered = std::clamp(static_cast<int>(FPullHdr.dwBytesRecorded), 0, room);
                FMoreBuffers = more;
                if (!more || delivered == 0) FExhausted = true;
            }
        }
        // 4. Convert; at the end of the input drain the streams.
        int got;
        if (delivered > 0 || !FExhausted) {
            got = FChain.Convert(delivered, false);
            if (got < 0) Fail();
            if (got == 0 && !FExhausted) {
                if (++retries > kMaxRetries) Fail();
                continue;
            }
        } else {
            got = FChain.Convert(0, true);
            if (got < 0) Fail();
            if (got == 0) break;
        }
        retries = 0;
        FProduced = got;
        FConsumed = 0;
    }
    MoreBuffers = FMoreBuffers || FProduced > FConsumed || FChain.Pending();
}

void TAvACMConverter::PushOut(TAvWaveHdr* source, const BYTE* data, int n) {
    const int piece = std::max(BufferSize(), 1);
    if (FPushBlock.size() != static_cast<std::size_t>(AvWaveHdrSize + piece)) {
        FPushBlock.assign(static_cast<std::size_t>(AvWaveHdrSize + piece), 0);
    }
    auto* out = AvInitWaveHdr(FPushBlock.data(), piece);
    for (int at = 0; at < n; at += piece) {
        const int k = std::min(piece, n - at);
        AvInitWaveHdr(FPushBlock.data(), piece);
        std::memcpy(out->lpData, data + at, static_cast<std::size_t>(k));
        out->dwBufferLength = static_cast<DWORD>(k);
        out->dwBytesRecorded = static_cast<DWORD>(k);
        out->NextHeader = source->NextHeader;
        TAvDSPComponent::BufferReady(out);
    }
}

void TAvACMConverter::BufferReady(TAvWaveHdr* lpWaveHdr) {
    if (!Converting() || !lpWaveHdr) {
        TAvDSPComponent::BufferReady(lpWaveHdr);
        return;
    }
    const auto* data = reinterpret_cast<const BYTE*>(lpWaveHdr->lpData);
    int left = static_cast<int>(lpWaveHdr->dwBytesRecorded);
    while (left > 0) {
        int taken = 0;
        const int got = FChain.ConvertFrom(data, left, false, &taken);
        if (got < 0) Fail();
        if (got > 0) PushOut(lpWaveHdr, FChain.Output(), got);
        if (taken == 0 && got == 0) break; // the first stream takes nothing more now
        data += taken;
        left -= taken;
    }
}

// ---- TAvPCMConverter ----------------------------------------------------------------------------

TAvPCMConverter::TAvPCMConverter(TComponent* AOwner) : TAvACMConverter(AOwner) {}

void TAvPCMConverter::PropertyChanged() {
    if (IsLoading()) return;
    BuildDestFormat();
    // Our own destination needs no check: a suggestion may lie outside the range accepted
    // from callers (a 192 kHz file), and the input then passes on.
    if (FDestFormat)
        TAvACMConverter::SetPWaveFormat(FDestFormat.get());
    else
        UpdateConversion(); // nothing to target: the input passes on unchanged
}

void TAvPCMConverter::SetAutoConvert(bool v) {
    FAutoConvert = v;
    PropertyChanged();
}

void TAvPCMConverter::SetSampleRate(int rate) {
    FSampleRate = std::clamp(rate, MinSampleRate, MaxSampleRate);
    PropertyChanged();
}

void TAvPCMConverter::SetBitLength(TAvBits b) {
    FBitLength = b;
    PropertyChanged();
}

void TAvPCMConverter::SetMode(TAvMode m) {
    if (m > mStereo) return;
    FMode = m;
    PropertyChanged();
}

void TAvPCMConverter::SetModeInt(int m) {
    if (m < 0 || m > mStereo) return;
    SetMode(static_cast<TAvMode>(m));
}

void TAvPCMConverter::SetRequired(TAvRequiredParams r) {
    FRequired = r;
    PropertyChanged();
}

void TAvPCMConverter::SetPWaveFormat(const WAVEFORMATEX* f) {
    if (!f || FormatFrozen()) return;
    if (!IsDesigning() && !IsValidPcmFormat(f)) {
        QString text = av::LoadResString(28062);
        if (text.isEmpty()) text = QStringLiteral("Invalid WaveFormat");
        throw EAvConverterError(text);
    }
    TAvACMConverter::SetPWaveFormat(f);
}

void TAvPCMConverter::BuildDestFormat() {
    FDestFormat.reset();
    const WAVEFORMATEX* in = FInputFormat.get();
    WAVEFORMATEX dest{};
    if (FAutoConvert && in) {
        TAvFormatPtr suggested = AcmSuggestPcm(in);
        if (!suggested) return;
        if (in->wFormatTag != WAVE_FORMAT_PCM &&
            QueryOpen(in, suggested.get(), OpenFlags(FQuality)) != MMSYSERR_NOERROR)
            return;
        FDestFormat = std::move(suggested);
    } else if (in) {
        TAvFormatPtr suggested = AcmSuggestPcm(in);
        WORD bits = suggested ? suggested->wBitsPerSample : 16;
        WORD channels = suggested ? suggested->nChannels : std::min<WORD>(in->nChannels, 2);
        DWORD rate = suggested ? suggested->nSamplesPerSec : in->nSamplesPerSec;
        if (FRequired.testFlag(rpBits)) bits = FBitLength == b16Bit ? 16 : 8;
        if (FRequired.testFlag(rpChannels)) channels = static_cast<WORD>(FMode + 1);
        if (FRequired.testFlag(rpSampleRate)) rate = static_cast<DWORD>(FSampleRate);
        FDestFormat = CopyFormat(BuildPcmFormat(&dest, bits, channels, rate));
    } else {
        FDestFormat = CopyFormat(BuildPcmFormat(&dest, FBitLength == b16Bit ? 16 : 8,
                                                static_cast<WORD>(FMode + 1),
                                                static_cast<DWORD>(FSampleRate)));
    }
    if (FDestFormat && FDestFormat->wFormatTag == 0) FDestFormat.reset();
}
