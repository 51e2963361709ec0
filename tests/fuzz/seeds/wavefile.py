#!/usr/bin/env python3
"""Seeds for the player's chain: two control bytes (output shape, rate and pull size) before a
WAVE file. The files are the WAVE reader's seeds (wave.py) and files of the formats only the
compression manager decodes (A-law, mu-law, GSM 6.10, MPEG Layer 3, 24-bit and 6-channel PCM),
each with a few control pairs. All made here from numbers."""
import pathlib
import runpy
import struct
import sys
import tempfile

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
here = pathlib.Path(__file__).resolve().parent


def chunk(cid, body):
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def riff(tag, ch, rate, bits, align, extra, body):
    f = struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits)
    if extra is not None:
        f += struct.pack("<H", len(extra)) + extra
    return b"RIFF" + struct.pack("<I", 4 + 8 + len(f) + 8 + len(body) + len(body) % 2) + b"WAVE" + \
        chunk(b"fmt ", f) + chunk(b"data", body)


def data(n, seed):
    return bytes((i * seed + 11) & 0xFF for i in range(n))


files = {}
with tempfile.TemporaryDirectory() as tmp:
    saved = sys.argv
    sys.argv = [str(here / "wave.py"), tmp]
    try:
        runpy.run_path(str(here / "wave.py"), run_name="__main__")
    finally:
        sys.argv = saved
    for p in sorted(pathlib.Path(tmp).iterdir()):
        files[p.stem] = p.read_bytes()

files["alaw"] = riff(6, 1, 8000, 8, 1, b"", data(800, 71))
files["mulaw-2"] = riff(7, 2, 8000, 8, 2, b"", data(800, 59))
files["gsm"] = riff(0x31, 1, 8000, 0, 65, struct.pack("<H", 320), data(65 * 6, 41))
mp3 = struct.pack("<HIHHH", 1, 2, 417, 1, 1393)
frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(413)
files["mp3"] = riff(0x55, 2, 44100, 0, 1, mp3, frame * 5)
files["pcm-24"] = riff(1, 2, 22050, 24, 6, None, data(600, 13))
files["pcm-6ch"] = riff(1, 6, 48000, 16, 12, None, data(1200, 17))

# (output, shape): suggested format; 8-bit mono at 8 kHz in small pulls; 16-bit stereo at
# 88.2 kHz; the file's own rate, the ADPCM converter off.
controls = [(4, 0x08), (3, 0x01), (0, 0x1E), (16, 0x10)]
for name, body in files.items():
    for i, (o, s) in enumerate(controls):
        (out / f"{name}-{i}").write_bytes(bytes([o, s]) + body)
