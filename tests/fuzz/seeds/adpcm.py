#!/usr/bin/env python3
"""Seeds for the ADPCM decoders: a format record (18 bytes and its extra bytes) followed by data,
for Microsoft ADPCM (mono, stereo, odd block aligns) and the IMA-style tags. Made here."""
import pathlib
import struct
import sys

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
MS_COEF = [(256, 0), (512, -256), (0, 0), (192, 64), (240, 0), (460, -208), (392, -232)]


def record(tag, ch, bits, align, extra):
    return struct.pack("<HHIIHHH", tag, ch, 8000, 8000 * align, align, bits, len(extra)) + extra


def data(n, seed):
    return bytes((i * seed + 11) & 0xFF for i in range(n))


for ch in (1, 2):
    for align in (256 * ch, 7 * ch + 1, 7 * ch + 5, 1000):
        spb = (align - 7 * ch) * 8 // (4 * ch) + 2
        extra = struct.pack("<HH", spb, 7) + b"".join(struct.pack("<hh", *c) for c in MS_COEF)
        head = bytes(c % 7 for c in range(ch)) + b"\x10\x00" * ch + b"\x00\x00" * 2 * ch
        block = head + data(max(align - len(head), 0), 37)
        # First byte odd: the fuzz target writes the standard table in; keep it so.
        rec = record(2, ch, 4, align, extra)
        (out / f"msadpcm-{ch}-{align}").write_bytes(rec + block * 2 + block[: align // 2])

for tag in (0x0003, 0x0033, 0x0206):
    for ch in (1, 2):
        rec = record(tag, ch, 4, ch, b"")
        (out / f"ima-{tag:04x}-{ch}").write_bytes(rec + data(101, 53))
