#pragma once
// Microsoft ADPCM through libavcodec, as the reference our own decoder is held against: encode
// 16-bit PCM into blocks (with the format record a WAVE file would carry), and decode blocks
// back. Used by the converter tests and the decoding benchmark. Also MPEG layer III, encoded and
// decoded by libavcodec as the reference for the player's chain.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "platform/api/mmreg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

namespace lavc {

struct TEncoded {
    std::vector<std::uint8_t> Format; // WAVEFORMATEX with its extra bytes
    std::vector<std::uint8_t> Data;   // whole blocks
    int SamplesPerBlock = 0;
    const WAVEFORMATEX* Fmt() const { return reinterpret_cast<const WAVEFORMATEX*>(Format.data()); }
};

struct TCodec {
    AVCodecContext* Ctx = nullptr;
    AVFrame* Frame = av_frame_alloc();
    AVPacket* Packet = av_packet_alloc();
    ~TCodec() {
        avcodec_free_context(&Ctx);
        av_frame_free(&Frame);
        av_packet_free(&Packet);
    }
};

inline void Check(int rc, const char* what) {
    if (rc < 0) throw std::runtime_error(what);
}

// Music-like test signal: two tones per channel, a slow swell, some noise, and a stretch driven
// into clipping so the decoders' saturation is exercised too.
inline std::vector<std::int16_t> TestSignal(int channels, int frames, int rate = 44100) {
    std::vector<std::int16_t> s(static_cast<size_t>(channels) * frames);
    std::mt19937 rng(1234);
    std::normal_distribution<double> noise(0.0, 600.0);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double f = c == 0 ? 440.0 : 660.0;
            double v = 9000 * std::sin(2 * M_PI * f * t) + 4000 * std::sin(2 * M_PI * 3.1 * f * t);
            v *= 0.5 + 0.5 * std::sin(2 * M_PI * 1.5 * t);
            v += noise(rng);
            if (i > frames * 3 / 4 && i < frames * 7 / 8) v *= 4; // clipped stretch
            s[static_cast<size_t>(i) * channels + c] =
                static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return s;
}

// Encodes interleaved 16-bit samples; the last block is padded with silence.
inline TEncoded EncodeMs(const std::vector<std::int16_t>& pcm, int channels, int rate,
                         int blockSize) {
    TCodec e;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ADPCM_MS);
    if (!codec) throw std::runtime_error("no adpcm_ms encoder");
    e.Ctx = avcodec_alloc_context3(codec);
    e.Ctx->sample_rate = rate;
    e.Ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&e.Ctx->ch_layout, channels);
    av_opt_set_int(e.Ctx->priv_data, "block_size", blockSize, 0);
    Check(avcodec_open2(e.Ctx, codec, nullptr), "open encoder");

    TEncoded out;
    out.SamplesPerBlock = e.Ctx->frame_size;
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_ADPCM;
    wf.nChannels = static_cast<WORD>(channels);
    wf.nSamplesPerSec = static_cast<DWORD>(rate);
    wf.nBlockAlign = static_cast<WORD>(e.Ctx->block_align);
    wf.nAvgBytesPerSec =
        static_cast<DWORD>(static_cast<long long>(rate) * e.Ctx->block_align / e.Ctx->frame_size);
    wf.wBitsPerSample = 4;
    wf.cbSize = static_cast<WORD>(e.Ctx->extradata_size);
    out.Format.resize(sizeof(wf) + e.Ctx->extradata_size);
    std::memcpy(out.Format.data(), &wf, sizeof(wf));
    std::memcpy(out.Format.data() + sizeof(wf), e.Ctx->extradata, e.Ctx->extradata_size);

    const int fs = e.Ctx->frame_size;
    const int frames = static_cast<int>(pcm.size()) / channels;
    for (int at = 0; at < frames; at += fs) {
        av_frame_unref(e.Frame);
        e.Frame->nb_samples = fs;
        e.Frame->format = AV_SAMPLE_FMT_S16;
        Check(av_channel_layout_copy(&e.Frame->ch_layout, &e.Ctx->ch_layout), "layout");
        Check(av_frame_get_buffer(e.Frame, 0), "frame buffer");
        auto* d = reinterpret_cast<std::int16_t*>(e.Frame->data[0]);
        const int n = std::min(fs, frames - at);
        std::memset(d, 0, sizeof(std::int16_t) * fs * channels);
        std::memcpy(d, pcm.data() + static_cast<size_t>(at) * channels,
                    sizeof(std::int16_t) * n * channels);
        Check(avcodec_send_frame(e.Ctx, e.Frame), "send frame");
        while (avcodec_receive_packet(e.Ctx, e.Packet) == 0) {
            out.Data.insert(out.Data.end(), e.Packet->data, e.Packet->data + e.Packet->size);
            av_packet_unref(e.Packet);
        }
    }
    return out;
}

// A libavcodec Microsoft ADPCM decoder for one stream; Decode takes one block at a time.
class TMsDecoder {
public:
    explicit TMsDecoder(const TEncoded& enc) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_MS);
        if (!codec) throw std::runtime_error("no adpcm_ms decoder");
        FC.Ctx = avcodec_alloc_context3(codec);
        const WAVEFORMATEX* f = enc.Fmt();
        FC.Ctx->sample_rate = static_cast<int>(f->nSamplesPerSec);
        FC.Ctx->block_align = f->nBlockAlign;
        FC.Ctx->request_sample_fmt = AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&FC.Ctx->ch_layout, f->nChannels);
        Check(avcodec_open2(FC.Ctx, codec, nullptr), "open decoder");
        FChannels = f->nChannels;
    }
    // Appends the interleaved samples of one block to out.
    void Decode(const std::uint8_t* block, int size, std::vector<std::int16_t>& out) {
        FC.Packet->data = const_cast<std::uint8_t*>(block);
        FC.Packet->size = size;
        Check(avcodec_send_packet(FC.Ctx, FC.Packet), "send packet");
        while (avcodec_receive_frame(FC.Ctx, FC.Frame) == 0) {
            const int n = FC.Frame->nb_samples;
            if (av_sample_fmt_is_planar(static_cast<AVSampleFormat>(FC.Frame->format))) {
                for (int i = 0; i < n; ++i)
                    for (int c = 0; c < FChannels; ++c)
                        out.push_back(reinterpret_cast<std::int16_t*>(FC.Frame->data[c])[i]);
            } else {
                const auto* d = reinterpret_cast<std::int16_t*>(FC.Frame->data[0]);
                out.insert(out.end(), d, d + n * FChannels);
            }
            av_frame_unref(FC.Frame);
        }
    }
    // Decodes one block and leaves the samples in libavcodec's frame; returns the frames decoded.
    int DecodeInPlace(const std::uint8_t* block, int size) {
        FC.Packet->data = const_cast<std::uint8_t*>(block);
        FC.Packet->size = size;
        Check(avcodec_send_packet(FC.Ctx, FC.Packet), "send packet");
        int n = 0;
        while (avcodec_receive_frame(FC.Ctx, FC.Frame) == 0) {
            n += FC.Frame->nb_samples;
            av_frame_unref(FC.Frame);
        }
        return n;
    }
    std::vector<std::int16_t> DecodeAll(const TEncoded& enc) {
        std::vector<std::int16_t> out;
        const int ba = enc.Fmt()->nBlockAlign;
        for (size_t at = 0; at + ba <= enc.Data.size(); at += ba)
            Decode(enc.Data.data() + at, ba, out);
        return out;
    }

private:
    TCodec FC;
    int FChannels = 1;
};

// MPEG audio layer III: encodes interleaved 16-bit samples (the last frame padded with silence)
// into the frames a WAVE file's data holds.
inline std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& pcm, int channels,
                                           int rate, int bitRate) {
    TCodec e;
    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec) throw std::runtime_error("no libmp3lame encoder");
    e.Ctx = avcodec_alloc_context3(codec);
    e.Ctx->sample_rate = rate;
    e.Ctx->bit_rate = bitRate;
    e.Ctx->sample_fmt = AV_SAMPLE_FMT_S16P;
    av_channel_layout_default(&e.Ctx->ch_layout, channels);
    Check(avcodec_open2(e.Ctx, codec, nullptr), "open encoder");
    std::vector<std::uint8_t> out;
    auto drain = [&] {
        while (avcodec_receive_packet(e.Ctx, e.Packet) == 0) {
            out.insert(out.end(), e.Packet->data, e.Packet->data + e.Packet->size);
            av_packet_unref(e.Packet);
        }
    };
    const int fs = e.Ctx->frame_size;
    const int frames = static_cast<int>(pcm.size()) / channels;
    for (int at = 0; at < frames; at += fs) {
        av_frame_unref(e.Frame);
        e.Frame->nb_samples = fs;
        e.Frame->format = AV_SAMPLE_FMT_S16P;
        e.Frame->sample_rate = rate;
        Check(av_channel_layout_copy(&e.Frame->ch_layout, &e.Ctx->ch_layout), "layout");
        Check(av_frame_get_buffer(e.Frame, 0), "frame buffer");
        for (int c = 0; c < channels; ++c) {
            auto* d = reinterpret_cast<std::int16_t*>(e.Frame->data[c]);
            for (int i = 0; i < fs; ++i)
                d[i] = at + i < frames ? pcm[static_cast<size_t>(at + i) * channels + c] : 0;
        }
        Check(avcodec_send_frame(e.Ctx, e.Frame), "send frame");
        drain();
    }
    avcodec_send_frame(e.Ctx, nullptr);
    drain();
    return out;
}

// The reference decode of MPEG audio: libavcodec's parser and decoder over the whole stream,
// floats to 16 bits as the resampler rounds them. Interleaved.
inline std::vector<std::int16_t> DecodeMp3(const std::vector<std::uint8_t>& data) {
    TCodec d;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    if (!codec) throw std::runtime_error("no mp3 decoder");
    d.Ctx = avcodec_alloc_context3(codec);
    Check(avcodec_open2(d.Ctx, codec, nullptr), "open decoder");
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_MP3);
    std::vector<std::uint8_t> in(data);
    in.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::vector<std::int16_t> out;
    auto decode = [&](std::uint8_t* p, int n) {
        d.Packet->data = p;
        d.Packet->size = n;
        if (avcodec_send_packet(d.Ctx, p ? d.Packet : nullptr) < 0) return;
        while (avcodec_receive_frame(d.Ctx, d.Frame) == 0) {
            const int ch = d.Frame->ch_layout.nb_channels;
            const bool planar = av_sample_fmt_is_planar(AVSampleFormat(d.Frame->format));
            for (int i = 0; i < d.Frame->nb_samples; ++i)
                for (int c = 0; c < ch; ++c) {
                    const float v = planar ? reinterpret_cast<float*>(d.Frame->data[c])[i]
                                           : reinterpret_cast<float*>(d.Frame->data[0])[i * ch + c];
                    out.push_back(
                        std::int16_t(std::clamp(std::lrintf(v * 32768.0f), -32768L, 32767L)));
                }
            av_frame_unref(d.Frame);
        }
    };
    std::uint8_t* p = in.data();
    int left = static_cast<int>(data.size());
    while (left > 0) {
        std::uint8_t* frame = nullptr;
        int size = 0;
        const int used = av_parser_parse2(parser, d.Ctx, &frame, &size, p, left, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0) break;
        p += used;
        left -= used;
        if (size > 0) decode(frame, size);
    }
    std::uint8_t* frame = nullptr;
    int size = 0;
    av_parser_parse2(parser, d.Ctx, &frame, &size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (size > 0) decode(frame, size);
    decode(nullptr, 0);
    av_parser_close(parser);
    return out;
}

} // namespace lavc
