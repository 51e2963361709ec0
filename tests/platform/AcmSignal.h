#pragma once
// Test signals for the compression manager and the converters: sines made by formula, encoded
// with libavcodec's own encoders into the bytes a WAVE file holds, and measured after decoding.
#include "platform/api/mmreg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace acmtest {

// Interleaved 16-bit sine, the same tone on every channel (right channel at half level when
// rightHalf, so a swapped or mixed channel shows).
inline std::vector<int16_t> Sine(int rate, int channels, double freq, double amplitude, int frames,
                                 bool rightHalf = false) {
    std::vector<int16_t> out(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * 32767.0 * std::sin(2 * std::numbers::pi * freq * i / rate);
        for (int c = 0; c < channels; ++c) {
            const double cv = (rightHalf && c == 1) ? v / 2 : v;
            out[static_cast<std::size_t>(i) * channels + c] = static_cast<int16_t>(std::lround(cv));
        }
    }
    return out;
}

// One channel of interleaved samples, as doubles in -1..1.
inline std::vector<double> Channel(const std::vector<int16_t>& s, int channels, int c) {
    std::vector<double> out;
    out.reserve(s.size() / channels);
    for (std::size_t i = c; i < s.size(); i += channels)
        out.push_back(s[i] / 32768.0);
    return out;
}
inline std::vector<double> Channel8(const std::vector<uint8_t>& s, int channels, int c) {
    std::vector<double> out;
    for (std::size_t i = c; i < s.size(); i += channels)
        out.push_back((s[i] - 128) / 128.0);
    return out;
}

struct Tone {
    double frequency = 0; // from the zero crossings
    double amplitude = 0; // peak, from the RMS
};

// Measures the middle of a signal (skipping codec start-up and filter edges).
inline Tone Measure(const std::vector<double>& x, int rate) {
    Tone t;
    if (x.size() < 64) return t;
    const std::size_t a = x.size() / 5, b = x.size() - x.size() / 5;
    double sum = 0;
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = a; i < b; ++i) {
        sum += x[i] * x[i];
        if (i > a && x[i - 1] < 0 && x[i] >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    }
    t.amplitude = std::sqrt(2 * sum / static_cast<double>(b - a));
    if (crossings > 1) t.frequency = (crossings - 1) * static_cast<double>(rate) / (last - first);
    return t;
}

// Bytes an encoder wrote, with the record a WAVE file would carry for them.
struct Encoded {
    std::vector<uint8_t> data;
    std::vector<uint8_t> format; // WAVEFORMATEX with its cbSize extra bytes
    const WAVEFORMATEX* wfx() const { return reinterpret_cast<const WAVEFORMATEX*>(format.data()); }
    WAVEFORMATEX* wfx() { return reinterpret_cast<WAVEFORMATEX*>(format.data()); }
};

// Encodes interleaved 16-bit PCM with the named libavcodec encoder; empty data on failure.
inline Encoded Encode(const char* encoder, WORD tag, int rate, int channels,
                      const std::vector<int16_t>& pcm, int bitRate = 0) {
    Encoded e;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec) return e;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = rate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->sample_fmt = codec->sample_fmts[0];
    if (bitRate) ctx->bit_rate = bitRate;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return e;
    }
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &ctx->ch_layout, ctx->sample_fmt, rate, &ctx->ch_layout,
                        AV_SAMPLE_FMT_S16, rate, 0, nullptr);
    swr_init(swr);
    const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    const int total = static_cast<int>(pcm.size() / channels);
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            e.data.insert(e.data.end(), pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
    };
    for (int at = 0; at < total; at += frameSize) {
        // Block encoders want whole frames: the last one is padded with silence.
        const int n = std::min(frameSize, total - at);
        const bool fixed =
            !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && ctx->frame_size > 0;
        frame->nb_samples = fixed ? frameSize : n;
        frame->format = ctx->sample_fmt;
        av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
        frame->sample_rate = rate;
        av_frame_get_buffer(frame, 0);
        av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, channels,
                               ctx->sample_fmt);
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(pcm.data() + at * channels)};
        swr_convert(swr, frame->extended_data, frame->nb_samples, in, n);
        avcodec_send_frame(ctx, frame);
        av_frame_unref(frame);
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();

    const std::size_t extra = static_cast<std::size_t>(std::max(ctx->extradata_size, 0));
    WORD cbSize = static_cast<WORD>(extra);
    if (tag == WAVE_FORMAT_MPEGLAYER3) cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    if (tag == WAVE_FORMAT_GSM610 || (tag == WAVE_FORMAT_IMA_ADPCM && !extra)) cbSize = 2;
    e.format.assign(sizeof(WAVEFORMATEX) + cbSize, 0);
    WAVEFORMATEX* wf = e.wfx();
    wf->wFormatTag = tag;
    wf->nChannels = static_cast<WORD>(channels);
    wf->nSamplesPerSec = static_cast<DWORD>(rate);
    wf->nBlockAlign = static_cast<WORD>(ctx->block_align > 0 ? ctx->block_align : channels);
    wf->wBitsPerSample = static_cast<WORD>(ctx->bits_per_coded_sample);
    wf->nAvgBytesPerSec =
        static_cast<DWORD>(ctx->bit_rate > 0 ? ctx->bit_rate / 8 : rate * wf->nBlockAlign);
    wf->cbSize = cbSize;
    uint8_t* after = e.format.data() + sizeof(WAVEFORMATEX);
    if (tag == WAVE_FORMAT_MPEGLAYER3) {
        wf->nBlockAlign = 1;
        wf->wBitsPerSample = 0;
        auto* mp3 = reinterpret_cast<MPEGLAYER3WAVEFORMAT*>(e.format.data());
        mp3->wID = MPEGLAYER3_ID_MPEG;
        mp3->nBlockSize = static_cast<WORD>(144 * bitRate / rate);
        mp3->nFramesPerBlock = 1;
    } else if (tag == WAVE_FORMAT_GSM610) {
        const WORD spb = 320;
        std::memcpy(after, &spb, 2);
        wf->wBitsPerSample = 0;
    } else if (tag == WAVE_FORMAT_IMA_ADPCM && !extra) {
        const WORD spb = static_cast<WORD>(frameSize);
        std::memcpy(after, &spb, 2);
    } else if (extra) {
        std::memcpy(after, ctx->extradata, extra);
    }
    av_packet_free(&pkt);
    av_frame_free(&frame);
    swr_free(&swr);
    avcodec_free_context(&ctx);
    return e;
}

// A plain record: PCM (tag 1) or float (tag 3) with the given bits.
inline WAVEFORMATEX Plain(WORD tag, int rate, int channels, int bits) {
    WAVEFORMATEX wf{};
    wf.wFormatTag = tag;
    wf.nChannels = static_cast<WORD>(channels);
    wf.nSamplesPerSec = static_cast<DWORD>(rate);
    wf.wBitsPerSample = static_cast<WORD>(bits);
    wf.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
    return wf;
}

} // namespace acmtest
