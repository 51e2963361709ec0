// Format knowledge and conversion streams of the audio compression manager, over FFmpeg.
#include "platform/acm/AcmCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace acm {
namespace {

constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 384000;
// The most a resampler's filter bank may take.
constexpr double kMaxFilterBytes = 16.0 * 1024 * 1024;
constexpr int kMaxSourceChannels = 8;

// The seven coefficient pairs every Microsoft ADPCM file carries; the decoder knows only these.
constexpr ADPCMCOEFSET kMsAdpcmCoefs[7] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                           {240, 0}, {460, -208}, {392, -232}};

// What a source format is, once its record has been checked.
struct Source {
    WORD tag = 0;       // the real format (the sub-format of an extensible record)
    int channels = 0;   // interleaved channels
    int rate = 0;       // sample frames per second
    int blockAlign = 0; // bytes of one block (PCM: one frame)
    int samplesPerBlock = 1;
    DWORD channelMask = 0; // from the extensible record, 0 when not given
    // Fed to the resampler as it stands (PCM of 8/16/32 bits, float), else decoded by codec.
    AVSampleFormat rawFormat = AV_SAMPLE_FMT_NONE;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int bitsPerCodedSample = 0;
    std::vector<uint8_t> extradata;

    // PCM-like sources convert to any rate and channel count in one stream; decoders keep the
    // source's (a second stream changes them), as codecs of the platform do.
    bool AnyShape() const { return codec == AV_CODEC_ID_NONE || codec == AV_CODEC_ID_PCM_S24LE; }
    bool Mp3() const { return codec == AV_CODEC_ID_MP3; }
};

bool RateInRange(DWORD rate) {
    return rate >= kMinRate && rate <= kMaxRate;
}

// Reads and checks a source record; false when it is damaged or of a format not offered.
bool ParseSource(const WAVEFORMATEX* wf, Source* s) {
    if (!wf || wf->nChannels == 0 || wf->nSamplesPerSec == 0 || wf->nBlockAlign == 0) return false;
    if (wf->nSamplesPerSec > 4 * kMaxRate) return false;
    *s = Source{};
    s->tag = wf->wFormatTag;
    s->channels = wf->nChannels;
    s->rate = static_cast<int>(wf->nSamplesPerSec);
    s->blockAlign = wf->nBlockAlign;
    const int bits = wf->wBitsPerSample;
    // The extra bytes of compressed formats (PCM records may carry any cbSize: it is ignored).
    const auto* extra = reinterpret_cast<const uint8_t*>(wf) + sizeof(WAVEFORMATEX);
    int cbSize = wf->wFormatTag == WAVE_FORMAT_PCM ? 0 : wf->cbSize;
    bool extensible = false;

    if (s->tag == WAVE_FORMAT_EXTENSIBLE) {
        if (cbSize < 22) return false;
        const auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wf);
        GUID base = ext->SubFormat;
        const DWORD inner = base.Data1;
        base.Data1 = 0;
        if (!(base == WaveSubFormat(0)) || inner > 0xFFFF || inner == WAVE_FORMAT_EXTENSIBLE)
            return false;
        s->tag = static_cast<WORD>(inner);
        s->channelMask = ext->dwChannelMask;
        if (std::popcount(s->channelMask) != s->channels) s->channelMask = 0;
        // The extra bytes are the extension's: a compressed sub-format's own record is not there,
        // so its block layout follows from the block size alone.
        extensible = true;
        cbSize = 0;
    }

    switch (s->tag) {
    case WAVE_FORMAT_PCM:
        if (s->channels > kMaxSourceChannels) return false;
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
        if (s->blockAlign != s->channels * bits / 8) return false;
        if (bits == 8) s->rawFormat = AV_SAMPLE_FMT_U8;
        if (bits == 16) s->rawFormat = AV_SAMPLE_FMT_S16;
        if (bits == 32) s->rawFormat = AV_SAMPLE_FMT_S32;
        if (bits == 24) s->codec = AV_CODEC_ID_PCM_S24LE;
        return true;
    case WAVE_FORMAT_IEEE_FLOAT:
        if (s->channels > kMaxSourceChannels) return false;
        if (bits != 32 && bits != 64) return false; // 4-bit files of this tag are ADPCM
        if (s->blockAlign != s->channels * bits / 8) return false;
        s->rawFormat = bits == 32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_DBL;
        return true;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        if (s->channels > 2 || bits != 8 || s->blockAlign != s->channels) return false;
        s->codec = s->tag == WAVE_FORMAT_ALAW ? AV_CODEC_ID_PCM_ALAW : AV_CODEC_ID_PCM_MULAW;
        return true;
    case WAVE_FORMAT_ADPCM: {
        if (s->channels > 2 || bits != 4 || (cbSize < 32 && !extensible)) return false;
        if (s->blockAlign < 7 * s->channels || s->blockAlign > 0x8000) return false;
        s->samplesPerBlock = (s->blockAlign - 7 * s->channels) * 2 / s->channels + 2;
        if (!extensible) {
            const auto* ms = reinterpret_cast<const ADPCMWAVEFORMAT*>(wf);
            if (ms->wNumCoef != 7 || ms->wSamplesPerBlock != s->samplesPerBlock) return false;
            for (int i = 0; i < 7; ++i) {
                if (ms->aCoef[i].iCoef1 != kMsAdpcmCoefs[i].iCoef1 ||
                    ms->aCoef[i].iCoef2 != kMsAdpcmCoefs[i].iCoef2)
                    return false;
            }
        }
        s->codec = AV_CODEC_ID_ADPCM_MS;
        s->bitsPerCodedSample = 4;
        s->extradata.assign(extra, extra + cbSize);
        return true;
    }
    case WAVE_FORMAT_IMA_ADPCM: {
        if (s->channels > 2 || bits != 4) return false;
        if (s->blockAlign < 8 * s->channels || s->blockAlign > 0x8000 ||
            s->blockAlign % (4 * s->channels) != 0)
            return false;
        // The samples per block follow from the block size; a record without them still plays.
        s->samplesPerBlock = (s->blockAlign - 4 * s->channels) * 2 / s->channels + 1;
        if (cbSize >= 2 &&
            reinterpret_cast<const IMAADPCMWAVEFORMAT*>(wf)->wSamplesPerBlock != s->samplesPerBlock)
            return false;
        s->codec = AV_CODEC_ID_ADPCM_IMA_WAV;
        s->bitsPerCodedSample = 4;
        s->extradata.assign(extra, extra + cbSize);
        return true;
    }
    case WAVE_FORMAT_GSM610:
        if (s->channels != 1 || s->blockAlign != 65) return false;
        s->samplesPerBlock = 320;
        s->codec = AV_CODEC_ID_GSM_MS;
        return true;
    case WAVE_FORMAT_MPEGLAYER3:
        if (s->channels > 2) return false;
        s->blockAlign = 1; // frames are found by the parser, not by blocks
        s->codec = AV_CODEC_ID_MP3;
        return true;
    default:
        return false;
    }
}

// Destinations offered: PCM of 8 or 16 bits, mono or stereo, or as many channels as the source
// has (a file decoded as it is), a consistent record.
bool ValidPcmDest(const WAVEFORMATEX* wf, int sourceChannels) {
    if (!wf || wf->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (wf->nChannels < 1 || (wf->nChannels > 2 && wf->nChannels != sourceChannels)) return false;
    if (wf->wBitsPerSample != 8 && wf->wBitsPerSample != 16) return false;
    if (!RateInRange(wf->nSamplesPerSec)) return false;
    if (wf->nBlockAlign != wf->nChannels * wf->wBitsPerSample / 8) return false;
    return wf->nAvgBytesPerSec == wf->nSamplesPerSec * wf->nBlockAlign;
}

bool ShapeAllowed(const Source& s, const WAVEFORMATEX* dst) {
    if (s.AnyShape()) return true;
    return dst->nChannels == s.channels && static_cast<int>(dst->nSamplesPerSec) == s.rate;
}

AVChannelLayout LayoutFor(int channels, DWORD mask) {
    AVChannelLayout layout{};
    if (mask && av_channel_layout_from_mask(&layout, mask) == 0 && layout.nb_channels == channels)
        return layout;
    av_channel_layout_default(&layout, channels);
    return layout;
}

// ---- The stream ---------------------------------------------------------------------------------

class FfmpegConverter final : public Converter {
public:
    FfmpegConverter(Source src, const WAVEFORMATEX& dst, bool highQuality)
        : src_(std::move(src)), dstChannels_(dst.nChannels), dstRate_(dst.nSamplesPerSec),
          dstBlockAlign_(dst.nBlockAlign),
          dstFormat_(dst.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16),
          highQuality_(highQuality) {}

    ~FfmpegConverter() override { Release(); }

    bool Init() {
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!packet_ || !frame_) return false;
        if (src_.codec != AV_CODEC_ID_NONE && !OpenDecoder()) return false;
        if (src_.rawFormat != AV_SAMPLE_FMT_NONE) {
            AVChannelLayout in = LayoutFor(src_.channels, src_.channelMask);
            const bool ok = SetupResampler(src_.rawFormat, in, src_.rate);
            av_channel_layout_uninit(&in);
            if (!ok) return false;
        }
        return true;
    }

    std::size_t OutputBound(std::size_t srcBytes) const override {
        const double frames = SourceFrames(srcBytes);
        const double out = frames * dstRate_ / src_.rate;
        // The resampler's filter delay and the codec's buffered frame may come out with them.
        const std::size_t margin = src_.Mp3() ? 2304 : 64;
        return (static_cast<std::size_t>(out) + margin) * dstBlockAlign_;
    }

    std::size_t InputFor(std::size_t dstBytes) const override {
        const double outFrames = static_cast<double>(dstBytes / dstBlockAlign_);
        const double inFrames = outFrames * src_.rate / dstRate_;
        if (src_.Mp3()) {
            const double avg = std::max<DWORD>(avgBytesPerSec_, 1000);
            return static_cast<std::size_t>(inFrames * avg / src_.rate);
        }
        const auto blocks = static_cast<std::size_t>(inFrames / src_.samplesPerBlock);
        return blocks * src_.blockAlign;
    }

    void SetAverageBytes(DWORD avg) { avgBytesPerSec_ = avg; }

    MMRESULT Convert(const BYTE* src, std::size_t srcLength, BYTE* dst, std::size_t dstLength,
                     DWORD flags, std::size_t* srcUsed, std::size_t* dstUsed) override {
        *srcUsed = 0;
        *dstUsed = 0;
        if (flags & ACM_STREAMCONVERTF_START) Reset();
        // New data after a drained end starts a new stream.
        if (drained_ && (srcLength > 0 || !(flags & ACM_STREAMCONVERTF_END))) Reset();
        const std::size_t unit = static_cast<std::size_t>(src_.blockAlign);
        std::size_t used = 0;
        std::size_t written = Drain(dst, dstLength);
        while (PendingOutput() == 0 && written < dstLength && used < srcLength && ok_) {
            // Take about what fills the room left, at least one block, at most a bounded chunk.
            std::size_t want = InputFor(dstLength - written);
            want = std::clamp<std::size_t>(want, unit, std::max<std::size_t>(unit, 1 << 16));
            const std::size_t avail = srcLength - used;
            if (!partial_.empty()) {
                const std::size_t n = std::min(unit - partial_.size(), avail);
                partial_.insert(partial_.end(), src + used, src + used + n);
                used += n;
                if (partial_.size() == unit) {
                    Feed(partial_.data(), unit);
                    partial_.clear();
                }
            } else {
                const std::size_t whole = std::min(avail, want) / unit * unit;
                if (whole == 0) {
                    // Less than one block left: keep it for the next call unless whole blocks
                    // were asked for.
                    if (flags & ACM_STREAMCONVERTF_BLOCKALIGN) break;
                    partial_.assign(src + used, src + srcLength);
                    used = srcLength;
                    break;
                }
                Feed(src + used, whole);
                used += whole;
            }
            written += Drain(dst + written, dstLength - written);
        }
        if ((flags & ACM_STREAMCONVERTF_END) && used == srcLength && !drained_ && ok_) {
            // A short last block still decodes; a partial sample frame does not.
            if (!partial_.empty() && src_.samplesPerBlock > 1)
                Feed(partial_.data(), partial_.size());
            partial_.clear();
            Finish();
            drained_ = true;
        }
        written += Drain(dst + written, dstLength - written);
        *srcUsed = used;
        *dstUsed = written;
        return ok_ ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
    }

    void Reset() override {
        outHead_ = outTail_ = 0;
        partial_.clear();
        drained_ = false;
        if (decoder_) avcodec_flush_buffers(decoder_);
        if (parser_) {
            av_parser_close(parser_);
            parser_ = av_parser_init(src_.codec);
        }
        if (swr_) {
            // A new resampler has no filter history and holds nothing back.
            AVChannelLayout in{};
            if (av_channel_layout_copy(&in, &swrLayout_) < 0) {
                ok_ = false;
                return;
            }
            swr_free(&swr_);
            if (!SetupResampler(swrFormat_, in, swrRate_)) ok_ = false;
            av_channel_layout_uninit(&in);
        }
    }

private:
    double SourceFrames(std::size_t bytes) const {
        if (src_.Mp3()) {
            const double avg = std::max<DWORD>(avgBytesPerSec_, 1000);
            return static_cast<double>(bytes) * src_.rate / avg + 1152.0;
        }
        // A partial block is counted whole: the end of a stream may decode it.
        const std::size_t blocks = (bytes + src_.blockAlign - 1) / src_.blockAlign;
        return static_cast<double>(blocks) * src_.samplesPerBlock;
    }

    bool OpenDecoder() {
        const AVCodec* codec = avcodec_find_decoder(src_.codec);
        if (!codec) return false;
        decoder_ = avcodec_alloc_context3(codec);
        if (!decoder_) return false;
        decoder_->sample_rate = src_.rate;
        av_channel_layout_uninit(&decoder_->ch_layout);
        decoder_->ch_layout = LayoutFor(src_.channels, src_.channelMask);
        decoder_->block_align = src_.blockAlign;
        decoder_->bits_per_coded_sample = src_.bitsPerCodedSample;
        if (!src_.extradata.empty()) {
            decoder_->extradata = static_cast<uint8_t*>(
                av_mallocz(src_.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!decoder_->extradata) return false;
            std::memcpy(decoder_->extradata, src_.extradata.data(), src_.extradata.size());
            decoder_->extradata_size = static_cast<int>(src_.extradata.size());
        }
        if (avcodec_open2(decoder_, codec, nullptr) < 0) return false;
        if (src_.Mp3()) {
            parser_ = av_parser_init(src_.codec);
            if (!parser_) return false;
        }
        return true;
    }

    // (Re)builds the resampler for what arrives; the same input keeps the running one.
    bool SetupResampler(AVSampleFormat fmt, const AVChannelLayout& in, int rate) {
        if (swr_ && fmt == swrFormat_ && rate == swrRate_ &&
            av_channel_layout_compare(&in, &swrLayout_) == 0)
            return true;
        swr_free(&swr_);
        av_channel_layout_uninit(&swrLayout_);
        if (av_channel_layout_copy(&swrLayout_, &in) < 0) return false;
        swrFormat_ = fmt;
        swrRate_ = rate;
        // As many channels out as in: the same layout, so that nothing is mixed.
        AVChannelLayout out{};
        if (in.nb_channels == dstChannels_)
            av_channel_layout_copy(&out, &in);
        else
            av_channel_layout_default(&out, dstChannels_);
        const int rc =
            swr_alloc_set_opts2(&swr_, &out, dstFormat_, static_cast<int>(dstRate_),
                                const_cast<AVChannelLayout*>(&in), fmt, rate, 0, nullptr);
        av_channel_layout_uninit(&out);
        // A resampler that is not set up must not stay: the library asserts on one that failed
        // its initialisation (the end of the stream would drain it).
        const bool ready =
            rc >= 0 && swr_ && ShapeResampler(in.nb_channels, rate) && swr_init(swr_) >= 0;
        if (!ready) swr_free(&swr_);
        return ready;
    }

    // The filter and the channel matrix of a resampler not yet initialised. Its filter bank holds
    // 2^phase_shift + 1 phases of filter_size taps, stretched by the downsampling factor: from
    // 1.5 MHz down to 1 kHz that would be hundreds of megabytes, so fewer phases, then shorter
    // filters, keep it within kMaxFilterBytes (the usual ratios keep the full filter); false when
    // even the smallest does not fit.
    bool ShapeResampler(int inChannels, int inRate) {
        const double cutoff = highQuality_ ? 0.98 : 0.97;
        const double stretch = std::max(1.0, inRate / static_cast<double>(dstRate_)) / cutoff;
        int taps = highQuality_ ? 64 : 32, shift = highQuality_ ? 12 : 10;
        const auto bytes = [&] {
            return static_cast<double>((1 << shift) + 1) * std::ceil(taps * stretch) * 8.0;
        };
        while (bytes() > kMaxFilterBytes && shift > 4)
            --shift;
        while (bytes() > kMaxFilterBytes && taps > 8)
            taps /= 2;
        if (bytes() > kMaxFilterBytes) return false;
        av_opt_set_int(swr_, "filter_size", taps, 0);
        av_opt_set_int(swr_, "phase_shift", shift, 0);
        av_opt_set_double(swr_, "cutoff", cutoff, 0);
        // Mono to stereo copies the channel to both sides and stereo to mono averages them, as
        // the platform's PCM converter does; other layouts use the library's downmix.
        if (inChannels == 1 && dstChannels_ == 2) {
            const double m[2] = {1.0, 1.0};
            return swr_set_matrix(swr_, m, 1) >= 0;
        }
        if (inChannels == 2 && dstChannels_ == 1) {
            const double m[2] = {0.5, 0.5};
            return swr_set_matrix(swr_, m, 2) >= 0;
        }
        return true;
    }

    // Runs source bytes (whole blocks, or a final partial block) into the output queue.
    void Feed(const BYTE* data, std::size_t n) {
        if (src_.rawFormat != AV_SAMPLE_FMT_NONE) {
            const uint8_t* planes[1] = {data};
            Resample(planes, static_cast<int>(n / src_.blockAlign));
            return;
        }
        if (src_.Mp3()) {
            // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past what it is given:
            // it works on a padded copy, never on the caller's buffer.
            parseIn_.assign(data, data + n);
            parseIn_.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            data = parseIn_.data();
            while (n > 0 && ok_) {
                uint8_t* out = nullptr;
                int outSize = 0;
                const int taken =
                    av_parser_parse2(parser_, decoder_, &out, &outSize, data, static_cast<int>(n),
                                     AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
                if (taken < 0) return;
                data += taken;
                n -= static_cast<std::size_t>(taken);
                if (outSize > 0) Decode(out, static_cast<std::size_t>(outSize));
            }
            return;
        }
        // Block codecs get one block per packet; sample codecs the whole run.
        const bool blocks = src_.samplesPerBlock > 1;
        const std::size_t step = blocks ? static_cast<std::size_t>(src_.blockAlign) : n;
        for (std::size_t at = 0; at < n && ok_; at += step)
            Decode(data + at, std::min(step, n - at));
    }

    void Decode(const BYTE* data, std::size_t n) {
        if (av_new_packet(packet_, static_cast<int>(n)) < 0) {
            ok_ = false;
            return;
        }
        std::memcpy(packet_->data, data, n);
        const int rc = avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);
        // A damaged packet is skipped: the stream goes on with the next one.
        if (rc < 0 && rc != AVERROR(EAGAIN)) return;
        Receive();
    }

    void Receive() {
        while (ok_ && avcodec_receive_frame(decoder_, frame_) == 0) {
            AVChannelLayout in{};
            if (frame_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                frame_->ch_layout.nb_channels == 0)
                av_channel_layout_default(&in, std::max(1, frame_->ch_layout.nb_channels));
            else
                av_channel_layout_copy(&in, &frame_->ch_layout);
            const int rate = frame_->sample_rate > 0 ? frame_->sample_rate : src_.rate;
            // A frame the resampler cannot take (a damaged stream's odd shape) is skipped.
            const bool usable =
                in.nb_channels <= kMaxSourceChannels &&
                SetupResampler(static_cast<AVSampleFormat>(frame_->format), in, rate);
            av_channel_layout_uninit(&in);
            if (usable)
                Resample(const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
            av_frame_unref(frame_);
        }
    }

    // Resamples frames (null: the held-back tail) onto the end of the output queue.
    void Resample(const uint8_t** planes, int frames) {
        if (!swr_) return;
        const int room = swr_get_out_samples(swr_, frames);
        if (room <= 0) return;
        const std::size_t need = static_cast<std::size_t>(room) * dstBlockAlign_;
        if (outTail_ + need > out_.size()) {
            // Move what is waiting to the front; grow only when that is not enough.
            // An empty queue may have no storage yet; memmove must not see a null pointer.
            if (outTail_ > outHead_)
                std::memmove(out_.data(), out_.data() + outHead_, outTail_ - outHead_);
            outTail_ -= outHead_;
            outHead_ = 0;
            if (outTail_ + need > out_.size()) out_.resize(outTail_ + need);
        }
        uint8_t* outPlanes[1] = {out_.data() + outTail_};
        const int got = swr_convert(swr_, outPlanes, room, planes, frames);
        if (got < 0)
            ok_ = false;
        else
            outTail_ += static_cast<std::size_t>(got) * dstBlockAlign_;
    }

    // End of the stream: the parser's last frame, the decoder's and the resampler's tails.
    void Finish() {
        if (decoder_) {
            if (parser_) {
                uint8_t* out = nullptr;
                int outSize = 0;
                av_parser_parse2(parser_, decoder_, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE,
                                 AV_NOPTS_VALUE, 0);
                if (outSize > 0) Decode(out, static_cast<std::size_t>(outSize));
            }
            if (avcodec_send_packet(decoder_, nullptr) == 0) Receive();
        }
        Resample(nullptr, 0);
    }

    std::size_t PendingOutput() const { return outTail_ - outHead_; }

    std::size_t Drain(BYTE* dst, std::size_t room) {
        const std::size_t n = std::min(room, PendingOutput());
        if (n == 0) return 0;
        std::memcpy(dst, out_.data() + outHead_, n);
        outHead_ += n;
        if (outHead_ == outTail_) outHead_ = outTail_ = 0;
        return n;
    }

    void Release() {
        swr_free(&swr_);
        av_channel_layout_uninit(&swrLayout_);
        if (parser_) av_parser_close(parser_);
        parser_ = nullptr;
        avcodec_free_context(&decoder_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

    Source src_;
    int dstChannels_;
    DWORD dstRate_;
    std::size_t dstBlockAlign_;
    AVSampleFormat dstFormat_;
    bool highQuality_;
    DWORD avgBytesPerSec_ = 0;

    AVCodecContext* decoder_ = nullptr;
    AVCodecParserContext* parser_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVSampleFormat swrFormat_ = AV_SAMPLE_FMT_NONE;
    AVChannelLayout swrLayout_{};
    int swrRate_ = 0;

    std::vector<uint8_t> out_; // converted bytes not yet handed out: [outHead_, outTail_)
    std::size_t outHead_ = 0;
    std::size_t outTail_ = 0;
    std::vector<uint8_t> partial_; // source bytes of an incomplete block
    std::vector<uint8_t> parseIn_; // MPEG source with the padding the parser reads past its end
    bool drained_ = false;
    bool ok_ = true;
};

} // namespace

MMRESULT SuggestFormat(const WAVEFORMATEX* src, WAVEFORMATEX* dst, bool withCbSize, DWORD flags) {
    Source s;
    if (!ParseSource(src, &s)) return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && dst->wFormatTag != WAVE_FORMAT_PCM)
        return ACMERR_NOTPOSSIBLE;
    WORD channels = static_cast<WORD>(std::min(s.channels, 2));
    if (flags & ACM_FORMATSUGGESTF_NCHANNELS) channels = dst->nChannels;
    DWORD rate = static_cast<DWORD>(s.rate);
    if (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC)
        rate = dst->nSamplesPerSec;
    else if (s.AnyShape())
        rate = std::clamp(rate, kMinRate, kMaxRate);
    WORD bits = s.tag == WAVE_FORMAT_PCM && src->wBitsPerSample == 8 ? 8 : 16;
    if (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) bits = dst->wBitsPerSample;

    WAVEFORMATEX out{};
    out.wFormatTag = WAVE_FORMAT_PCM;
    out.nChannels = channels;
    out.nSamplesPerSec = rate;
    out.wBitsPerSample = bits;
    out.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    out.nAvgBytesPerSec = rate * out.nBlockAlign;
    if (!ValidPcmDest(&out, s.channels) || !ShapeAllowed(s, &out)) return ACMERR_NOTPOSSIBLE;
    std::memcpy(dst, &out, withCbSize ? sizeof(WAVEFORMATEX) : sizeof(PCMWAVEFORMAT));
    return MMSYSERR_NOERROR;
}

MMRESULT CanConvert(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) {
    Source s;
    if (!ParseSource(src, &s) || !ValidPcmDest(dst, s.channels) || !ShapeAllowed(s, dst))
        return ACMERR_NOTPOSSIBLE;
    return MMSYSERR_NOERROR;
}

std::unique_ptr<Converter> Converter::Create(const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                                             bool highQuality) {
    Source s;
    if (!ParseSource(src, &s) || !ValidPcmDest(dst, s.channels) || !ShapeAllowed(s, dst))
        return nullptr;
    auto conv = std::make_unique<FfmpegConverter>(std::move(s), *dst, highQuality);
    conv->SetAverageBytes(src->nAvgBytesPerSec);
    if (!conv->Init()) return nullptr;
    return conv;
}

} // namespace acm
