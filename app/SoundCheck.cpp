#include "app/SoundCheck.h"

#include "audio/stream/AvWave.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

extern "C" {
#include <libavutil/tx.h>
}

TSoundLevels MeasureLevels(const std::int16_t* samples, std::size_t count) {
    TSoundLevels levels;
    int peak = 0;
    std::size_t fullScale = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int m = std::abs(int{samples[i]});
        peak = std::max(peak, m);
        if (m >= 32767) ++fullScale;
    }
    if (peak > 0) levels.PeakDbfs = 20.0 * std::log10(peak / 32768.0);
    levels.Signal = levels.PeakDbfs > SoundSignalDbfs;
    // One stray full-scale sample is a click; a few mean the waveform was cut off.
    levels.Clipped = fullScale >= 3;
    return levels;
}

std::vector<std::int16_t> MixToMono(const std::int16_t* samples, std::size_t frames, int channels) {
    std::vector<std::int16_t> mono(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[f * channels + c];
        mono[f] = static_cast<std::int16_t>(sum / channels);
    }
    return mono;
}

TEchoDetector::TEchoDetector(const std::vector<std::int16_t>& reference, int referenceRate,
                             int recordingRate, double maxLagMs)
    : FMaxLag(static_cast<std::size_t>(maxLagMs * recordingRate / 1000.0)), FRate(recordingRate) {
    // To the recording rate: each output sample is the mean of the reference over its own span
    // (a box filter, so partials above the new Nyquist limit do not fold back as much), then
    // linear interpolation within the span.
    const double step = static_cast<double>(referenceRate) / recordingRate;
    const std::size_t n = static_cast<std::size_t>(reference.size() / step);
    FReference.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
        const double centre = j * step;
        const double half = std::max(0.5, step / 2);
        const auto from = static_cast<std::size_t>(std::max(0.0, std::ceil(centre - half)));
        const auto to = std::min(reference.size() - 1, static_cast<std::size_t>(centre + half));
        double sum = 0;
        std::size_t k = from;
        for (; k <= to; ++k)
            sum += reference[k];
        FReference[j] = static_cast<float>(to >= from ? sum / (to - from + 1) : 0.0);
    }
}

namespace {

// sum(ref[k] * rec[lag + k], k < length) for every lag in 0..maxLag, by the direct sum.
std::vector<double> DirectDots(const float* ref, std::size_t length, const float* rec,
                               std::size_t maxLag) {
    std::vector<double> dots(maxLag + 1);
    for (std::size_t lag = 0; lag <= maxLag; ++lag) {
        const float* r = rec + lag;
        // Single precision in blocks keeps the loop vectorisable; blocks add up in double.
        double total = 0;
        for (std::size_t i = 0; i < length; i += 4096) {
            float dot = 0;
            const std::size_t end = std::min(length, i + 4096);
            for (std::size_t k = i; k < end; ++k)
                dot += ref[k] * r[k];
            total += dot;
        }
        dots[lag] = total;
    }
    return dots;
}

// The same through FFmpeg's FFT in double precision: a few milliseconds where the direct sum
// takes a tenth of a second of a core for every stretch the speaker page listens to. Empty when
// no transform can be made.
std::vector<double> FftDots(const float* ref, std::size_t length, const float* rec,
                            std::size_t maxLag) {
    const std::size_t span = length + maxLag; // no lag reaches past it, so nothing wraps round
    std::size_t n = 1;
    while (n < span)
        n <<= 1;
    struct Free {
        void operator()(AVTXContext* c) const { av_tx_uninit(&c); }
    };
    AVTXContext* raw = nullptr;
    av_tx_fn forward = nullptr, inverse = nullptr;
    const double scale = 1.0;
    if (av_tx_init(&raw, &forward, AV_TX_DOUBLE_FFT, 0, static_cast<int>(n), &scale,
                   AV_TX_UNALIGNED) < 0)
        return {};
    std::unique_ptr<AVTXContext, Free> fwd(raw);
    raw = nullptr;
    if (av_tx_init(&raw, &inverse, AV_TX_DOUBLE_FFT, 1, static_cast<int>(n), &scale,
                   AV_TX_UNALIGNED) < 0)
        return {};
    std::unique_ptr<AVTXContext, Free> inv(raw);

    std::vector<AVComplexDouble> a(n, AVComplexDouble{0, 0}), b(n, AVComplexDouble{0, 0}), fa(n),
        fb(n);
    for (std::size_t k = 0; k < length; ++k)
        a[k].re = ref[k];
    for (std::size_t k = 0; k < span; ++k)
        b[k].re = rec[k];
    forward(fwd.get(), fa.data(), a.data(), sizeof(AVComplexDouble));
    forward(fwd.get(), fb.data(), b.data(), sizeof(AVComplexDouble));
    // The cross-correlation's spectrum: conj(ref) times rec.
    for (std::size_t i = 0; i < n; ++i)
        a[i] = AVComplexDouble{fa[i].re * fb[i].re + fa[i].im * fb[i].im,
                               fa[i].re * fb[i].im - fa[i].im * fb[i].re};
    inverse(inv.get(), fa.data(), a.data(), sizeof(AVComplexDouble));
    std::vector<double> dots(maxLag + 1);
    for (std::size_t lag = 0; lag <= maxLag; ++lag)
        dots[lag] = fa[lag].re / static_cast<double>(n);
    return dots;
}

} // namespace

TEchoResult TEchoDetector::Find(const std::vector<std::int16_t>& recording) const {
    TEchoResult result;
    if (recording.size() <= FMaxLag) return result;
    const std::size_t length = std::min(FReference.size(), recording.size() - FMaxLag);
    if (length < MinimumMs * FRate / 1000) return result;

    const float* ref = FReference.data();
    double refEnergy = 0;
    for (std::size_t i = 0; i < length; ++i)
        refEnergy += double{ref[i]} * ref[i];
    if (refEnergy <= 0) return result;

    std::vector<float> rec(recording.begin(), recording.end());
    // The recording's energy under the compared window, slid along.
    double window = 0;
    for (std::size_t i = 0; i < length; ++i)
        window += double{rec[i]} * rec[i];
    // Windows quieter than this are silence: no match there, whatever the rounding says.
    const double quiet = length * 1.0; // below about -90 dBFS of mean power

    std::vector<double> dots = FftDots(ref, length, rec.data(), FMaxLag);
    if (dots.empty()) dots = DirectDots(ref, length, rec.data(), FMaxLag);
    double best = 0, sumSquares = 0;
    std::size_t bestLag = 0;
    for (std::size_t lag = 0; lag <= FMaxLag; ++lag) {
        if (lag > 0) {
            const double out = rec[lag - 1], in = rec[lag + length - 1];
            window += in * in - out * out;
        }
        if (window <= quiet) continue; // silence matches nothing: 0 at this lag
        const double c = dots[lag] / std::sqrt(refEnergy * window);
        sumSquares += c * c;
        if (c > best) {
            best = c;
            bestLag = lag;
        }
    }
    const double spread = std::sqrt(sumSquares / (FMaxLag + 1));
    result.Correlation = best;
    result.LatencyMs = bestLag * 1000.0 / FRate;
    result.Prominence = spread > 0 ? best / spread : 0;
    result.Heard = best >= HeardThreshold && result.Prominence >= PeakToSpread;
    return result;
}

bool LoadPcm16Sound(const QString& path, TPcm16Sound* sound) {
    TAvWave wave;
    wave.SetFileName(path);
    const WAVEFORMATEX* f = wave.Empty() ? nullptr : wave.GetPWaveFormat();
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16 || f->nChannels < 1 ||
        f->nChannels > 2)
        return false;
    sound->Rate = static_cast<int>(f->nSamplesPerSec);
    sound->Channels = f->nChannels;
    wave.OpenFile();
    sound->Interleaved.resize(wave.DataSize() / 2);
    const LONG n = wave.Read(reinterpret_cast<char*>(sound->Interleaved.data()),
                             static_cast<LONG>(sound->Interleaved.size() * 2));
    sound->Interleaved.resize(static_cast<std::size_t>(std::max<LONG>(n, 0)) / 2);
    sound->Mono = MixToMono(sound->Interleaved.data(), sound->Interleaved.size() / sound->Channels,
                            sound->Channels);
    return !sound->Mono.empty();
}
