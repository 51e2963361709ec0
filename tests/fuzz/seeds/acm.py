#!/usr/bin/env python3
"""Seeds for the compression manager's streams: a source record (18 bytes and its extra bytes),
four control bytes (flags, destination shape, source and destination piece steps), then data, for
every source the manager decodes or resamples: PCM 8/16/24/32-bit and float 32/64-bit of 1 to 8
channels, the extensible record, Microsoft and IMA ADPCM, A-law, mu-law, GSM 6.10 and MPEG Layer 3
frames. All made here from numbers."""
import math
import pathlib
import struct
import sys

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

MS_COEF = [(256, 0), (512, -256), (0, 0), (192, 64), (240, 0), (460, -208), (392, -232)]
PCM_GUID_TAIL = bytes.fromhex("000000001000800000aa00389b71")


def record(tag, ch, rate, bits, align, extra=b""):
    return struct.pack("<HHIIHHH", tag, ch, rate, rate * align, align, bits, len(extra)) + extra


def data(n, seed):
    return bytes((i * seed + 11) & 0xFF for i in range(n))


def tone(frames, ch, bits, fmt="int"):
    body = bytearray()
    for i in range(frames):
        v = math.sin(i * 2 * math.pi / 20) * 0.6
        for _ in range(ch):
            if fmt == "float":
                body += struct.pack("<f" if bits == 32 else "<d", v)
            elif bits == 8:
                body.append(int(128 + v * 127))
            else:
                body += int(v * (2 ** (bits - 1) - 1)).to_bytes(bits // 8, "little", signed=True)
    return bytes(body)


def seed(name, rec, control, body):
    (out / name).write_bytes(rec + bytes(control) + body)


# Control: flags (1 BLOCKALIGN, 2 reset, 0x20 non-realtime, 0x40 other channels, 0x80 other
# rate), shape (1 stereo, 2 16-bit, bits 2-3 the suggestion's kept fields, high nibble the rate),
# source and destination steps (an odd destination step gives less room than needed).
for ch in (1, 2, 6):
    for bits in (8, 16, 24, 32):
        align = ch * bits // 8
        seed(f"pcm-{bits}-{ch}", record(1, ch, 8000, bits, align), (0, 3, 5, 2),
             tone(64, ch, bits))
    for bits in (32, 64):
        seed(f"float-{bits}-{ch}", record(3, ch, 44100, bits, ch * bits // 8), (0x80, 3, 9, 4),
             tone(64, ch, bits, "float"))
seed("pcm-resample-up", record(1, 1, 8000, 16, 2), (0xA0, 0xF3, 3, 1), tone(200, 1, 16))
seed("pcm-resample-down", record(1, 2, 48000, 16, 4), (0xC1, 0x06, 17, 3), tone(300, 2, 16))

# The extensible record: PCM and float sub-formats, a channel mask.
for sub, bits, fmt in ((1, 16, "int"), (3, 32, "float")):
    ext = struct.pack("<HI", bits, 0x3) + struct.pack("<I", sub) + PCM_GUID_TAIL
    seed(f"extensible-{sub}", record(0xFFFE, 2, 22050, bits, 2 * bits // 8, ext), (0, 3, 7, 0),
         tone(80, 2, bits, fmt))

# Microsoft ADPCM: the standard table, a few block sizes.
for ch in (1, 2):
    for align in (256 * ch, 7 * ch + 5):
        spb = (align - 7 * ch) * 2 // ch + 2
        extra = struct.pack("<HH", spb, 7) + b"".join(struct.pack("<hh", *c) for c in MS_COEF)
        head = bytes(c % 7 for c in range(ch)) + b"\x10\x00" * ch + b"\x00\x00" * 2 * ch
        block = head + data(max(align - len(head), 0), 37)
        seed(f"msadpcm-{ch}-{align}", record(2, ch, 8000, 4, align, extra), (1, 2, 4, 6),
             block * 3 + block[: align // 2])

# IMA ADPCM: 4-byte headers per channel, then the codes.
for ch in (1, 2):
    align = 256 * ch
    spb = (align - 4 * ch) * 2 // ch + 1
    head = b"".join(struct.pack("<hBB", 0, 10, 0) for _ in range(ch))
    block = head + data(align - len(head), 29)
    seed(f"ima-{ch}", record(0x11, ch, 11025, 4, align, struct.pack("<H", spb)), (0, 2, 11, 5),
         block * 2)

# A-law and mu-law bytes.
for tag in (6, 7):
    for ch in (1, 2):
        seed(f"g711-{tag}-{ch}", record(tag, ch, 8000, 8, ch), (0x80, 0x12, 2, 7), data(300, 71))

# GSM 6.10 (the 65-byte blocks of two frames each).
seed("gsm", record(0x31, 1, 8000, 0, 65, struct.pack("<H", 320)), (1, 2, 6, 0), data(65 * 4, 41))

# MPEG Layer 3: frames of 128 kbit/s at 44.1 kHz (417 bytes), side information and data zero
# (silence), and a second stream of arbitrary bytes after the header.
mp3 = struct.pack("<HIHHH", 1, 2, 417, 1, 1393)
frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(413)
seed("mp3-silence", record(0x55, 2, 44100, 0, 1, mp3), (0, 3, 50, 2), frame * 4)
seed("mp3-noise", record(0x55, 2, 44100, 0, 1, mp3), (1, 1, 90, 1),
     frame[:4] + data(413, 97) + frame * 2)
