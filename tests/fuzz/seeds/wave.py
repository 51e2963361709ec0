#!/usr/bin/env python3
"""Seeds for the WAVE reader: small files of every kind it reads (PCM 8/16-bit, mono/stereo,
Microsoft ADPCM, the IMA-style formats, float), with INFO and DISP lists, the other header forms
(RF64 and BW64 with their "ds64", the 14-byte PCM header, fewer valid bits than the container,
EXTENSIBLE records of several sub-formats), and damaged ones of the kinds it repairs or refuses.
All made here from numbers."""
import math
import pathlib
import struct
import sys

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

MS_COEF = [(256, 0), (512, -256), (0, 0), (192, 64), (240, 0), (460, -208), (392, -232)]


def chunk(cid, body):
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def fmt(tag, ch, rate, bits, align, extra=None):
    body = struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits)
    if extra is not None:
        body += struct.pack("<H", len(extra)) + extra
    return chunk(b"fmt ", body)


def riff(*chunks, size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def tone(n, ch, bits):
    frames = []
    for i in range(n):
        v = math.sin(i * 2 * math.pi / 16)
        for _ in range(ch):
            frames.append(struct.pack("<h", int(v * 12000)) if bits == 16 else bytes([int(128 + v * 100)]))
    return b"".join(frames)


def seed(name, data):
    (out / f"{name}.wav").write_bytes(data)


for ch in (1, 2):
    for bits in (8, 16):
        align = ch * bits // 8
        seed(f"pcm-{bits}-{ch}", riff(fmt(1, ch, 8000, bits, align), chunk(b"data", tone(40, ch, bits))))

info = chunk(b"LIST", b"INFO" + chunk(b"INAM", b"Seed\0") + chunk(b"ICMT", b"made here\0"))
disp = chunk(b"DISP", struct.pack("<I", 1) + b"Seed text\0")
seed("pcm-info-disp", riff(fmt(1, 1, 11025, 16, 2), chunk(b"data", tone(20, 1, 16)), info, disp))

# Microsoft ADPCM: 256-byte blocks, standard table, two blocks of made-up codes.
for ch in (1, 2):
    align = 256 * ch
    spb = (align - 7 * ch) * 8 // (4 * ch) + 2
    extra = struct.pack("<HH", spb, 7) + b"".join(struct.pack("<hh", *c) for c in MS_COEF)
    block = b""
    for c in range(ch):
        block += bytes([c % 7])
    block += struct.pack("<" + "h" * ch, *([16] * ch))
    block += struct.pack("<" + "h" * ch * 2, *([0] * ch * 2))
    block += bytes((i * 37) & 0xFF for i in range(align - len(block)))
    seed(f"msadpcm-{ch}", riff(fmt(2, ch, 8000, 4, align, extra),
                              chunk(b"fact", struct.pack("<I", spb * 2)), chunk(b"data", block * 2)))

# IMA-style 4-bit formats.
for tag in (0x0003, 0x0033, 0x0206):
    for ch in (1, 2):
        data = bytes((i * 53 + 7) & 0xFF for i in range(64))
        seed(f"ima-{tag:04x}-{ch}", riff(fmt(tag, ch, 8000, 4, ch, b""), chunk(b"data", data)))

# IEEE float (tag 3 with 32 bits).
seed("float-32", riff(fmt(3, 1, 8000, 32, 4), chunk(b"data", b"".join(struct.pack("<f", math.sin(i / 3)) for i in range(20)))))

# Damage of the kinds a reader meets.
good = riff(fmt(1, 2, 8000, 16, 4), chunk(b"data", tone(30, 2, 16)))
seed("riff-size-too-big", riff(fmt(1, 2, 8000, 16, 4), chunk(b"data", tone(30, 2, 16)), size=100000))
seed("riff-size-zero", riff(fmt(1, 2, 8000, 16, 4), chunk(b"data", tone(30, 2, 16)), size=0))
seed("data-longer-than-file", good[:-40])
seed("data-size-odd", riff(fmt(1, 2, 8000, 16, 4), b"data" + struct.pack("<I", 7) + tone(2, 2, 16)))
seed("wrong-block-align", riff(fmt(1, 2, 8000, 16, 3), chunk(b"data", tone(30, 2, 16))))
seed("wrong-byte-rate", riff(chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, 8000, 1, 2, 16)), chunk(b"data", tone(10, 1, 16))))
seed("short-fmt", riff(chunk(b"fmt ", struct.pack("<HHII", 1, 1, 8000, 16000)), chunk(b"data", tone(10, 1, 16))))
seed("no-fmt", riff(chunk(b"data", tone(10, 1, 16))))
seed("data-before-fmt", riff(chunk(b"data", tone(10, 1, 16)), fmt(1, 1, 8000, 16, 2)))
seed("zero-channels", riff(fmt(1, 0, 8000, 16, 0), chunk(b"data", tone(10, 1, 16))))
seed("unknown-chunk", riff(fmt(1, 1, 8000, 8, 1), chunk(b"junk", b"\1\2\3"), chunk(b"data", tone(10, 1, 8))))
seed("not-riff", b"RIFX" + good[4:])
seed("truncated-header", good[:30])

# Header forms beyond the plain RIFF one.
def wide(cid, *chunks, data_size, riff_size=None):
    """RF64/BW64: 32-bit sizes 0xFFFFFFFF, the real ones in "ds64"."""
    body = b"".join(chunks)
    ds64 = struct.pack("<QQQI", riff_size if riff_size is not None else 4 + 36 + len(body),
                       data_size, data_size // 4, 0)
    return cid + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + chunk(b"ds64", ds64) + body


pcm_data = tone(30, 2, 16)
wide_fmt = fmt(1, 2, 8000, 16, 4)
wide_data = b"data" + struct.pack("<I", 0xFFFFFFFF) + pcm_data
seed("rf64", wide(b"RF64", wide_fmt, wide_data, data_size=len(pcm_data)))
seed("bw64", wide(b"BW64", wide_fmt, wide_data, info, data_size=len(pcm_data)))
seed("rf64-data-too-big", wide(b"RF64", wide_fmt, wide_data, data_size=1 << 40))
seed("rf64-no-ds64", b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + wide_fmt + wide_data)
# The oldest PCM header: 14 bytes, no bits field.
seed("fmt-14-bytes", riff(chunk(b"fmt ", struct.pack("<HHIIH", 1, 2, 8000, 32000, 4)),
                          chunk(b"data", tone(10, 2, 16))))
# 12 valid bits in 16-bit containers, 20 in 24.
seed("pcm-12-in-16", riff(fmt(1, 1, 8000, 12, 2), chunk(b"data", tone(10, 1, 16))))
seed("pcm-20-in-24", riff(fmt(1, 2, 8000, 20, 6), chunk(b"data", bytes(60))))
# EXTENSIBLE: PCM, float and ADPCM sub-formats, one of no known family, and one too short.
GUID_TAIL = struct.pack("<HH", 0, 0x10) + bytes.fromhex("800000aa00389b71")


def extensible(tag, ch, bits, align, valid, mask, guid=None, cut=0):
    ext = struct.pack("<HI", valid, mask) + (guid or struct.pack("<I", tag) + GUID_TAIL)
    body = struct.pack("<HHIIHHH", 0xFFFE, ch, 8000, 8000 * align, align, bits, 22) + ext
    return chunk(b"fmt ", body[: len(body) - cut])


seed("ext-pcm-6ch", riff(extensible(1, 6, 16, 12, 16, 0x3F), chunk(b"data", bytes(240))))
seed("ext-pcm-24-in-32", riff(extensible(1, 2, 32, 8, 24, 3), chunk(b"data", bytes(80))))
seed("ext-float", riff(extensible(3, 2, 32, 8, 32, 3), chunk(b"data", bytes(80))))
seed("ext-adpcm", riff(extensible(2, 1, 4, 256, 505, 4), chunk(b"data", bytes(512))))
seed("ext-unknown-guid", riff(extensible(0, 2, 16, 4, 16, 3, guid=bytes(range(16))),
                              chunk(b"data", bytes(40))))
seed("ext-too-short", riff(extensible(1, 2, 16, 4, 16, 3, cut=10), chunk(b"data", bytes(40))))
# Compressed data with no byte rate, and a fact count that disagrees with the blocks.
ms_extra = struct.pack("<HH", 500, 7) + b"".join(struct.pack("<hh", *c) for c in MS_COEF)
ms_zero = chunk(b"fmt ", struct.pack("<HHIIHHH", 2, 1, 8000, 0, 256, 4, len(ms_extra)) + ms_extra)
seed("msadpcm-rate-0", riff(ms_zero, chunk(b"fact", struct.pack("<I", 999)),
                            chunk(b"data", bytes(512))))
# A chunk that claims more than the file before the data; a second "fmt " before it.
seed("overrun-before-data", riff(fmt(1, 1, 8000, 8, 1), b"junk" + struct.pack("<I", 99999) + b"abc",
                                 chunk(b"data", tone(10, 1, 8))))
seed("second-fmt-before-data", riff(fmt(1, 1, 8000, 8, 1), fmt(1, 2, 8000, 16, 4),
                                    chunk(b"data", tone(10, 1, 8))))
