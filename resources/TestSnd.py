#!/usr/bin/env python3
"""Writes the speaker test sound, TestSnd.wav: a soft three-note chime heard first on the left
speaker only, then on the right only, then on both as a chord, so a listener can tell that both
speakers play and are not swapped. 16-bit stereo PCM at 22050 Hz, 3.5 s, peaks near -1 dBFS,
fading to silence at the end so that it loops without a click. The output is the same on every run.

Usage: TestSnd.py OUT.wav
"""
import math
import struct
import sys
import wave

RATE = 22050
PEAK = 10 ** (-1 / 20)  # -1 dBFS: clear at half volume, a little headroom below clipping

# C major: C5, E5, G5; the closing chord adds C6.
NOTES = [523.25, 659.25, 783.99]
CHORD = NOTES + [1046.50]


def chime(freq, length):
    """A mallet-like note: a fundamental with soft upper partials, quick attack, long decay."""
    n = int(length * RATE)
    release = int(0.05 * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        envelope = min(1.0, t / 0.004, (n - 1 - i) / release)
        v = (math.sin(2 * math.pi * freq * t) * math.exp(-t * 4.5)
             + 0.30 * math.sin(2 * math.pi * 2 * freq * t) * math.exp(-t * 8.0)
             + 0.12 * math.sin(2 * math.pi * 3 * freq * t) * math.exp(-t * 12.0))
        out.append(envelope * v)
    return out


def mix_into(track, start, samples, gain):
    at = int(start * RATE)
    if len(track) < at + len(samples):
        track.extend([0.0] * (at + len(samples) - len(track)))
    for i, v in enumerate(samples):
        track[at + i] += gain * v


def build():
    left, right = [], []
    # Left alone: the arpeggio up.
    for k, f in enumerate(NOTES):
        mix_into(left, 0.05 + 0.15 * k, chime(f, 0.7), 1.0)
    # Right alone, once the left has died away: the same arpeggio.
    for k, f in enumerate(NOTES):
        mix_into(right, 1.2 + 0.15 * k, chime(f, 0.7), 1.0)
    # Both: the chord, slightly rolled.
    for k, f in enumerate(CHORD):
        note = chime(f, 1.0)
        mix_into(left, 2.35 + 0.012 * k, note, 0.55)
        mix_into(right, 2.35 + 0.012 * k, note, 0.55)
    total = int(3.5 * RATE)
    for track in (left, right):
        track.extend([0.0] * (total - len(track)))
        del track[total:]
    # Normalise both channels together to the peak, then fade the last 60 ms to silence.
    top = max(max(abs(v) for v in left), max(abs(v) for v in right))
    scale = PEAK * 32767 / top
    fade = int(0.06 * RATE)
    frames = bytearray()
    for i in range(total):
        g = scale * min(1.0, (total - 1 - i) / fade)
        frames += struct.pack('<hh', round(left[i] * g), round(right[i] * g))
    return bytes(frames)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with wave.open(sys.argv[1], 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(build())


if __name__ == '__main__':
    main()
