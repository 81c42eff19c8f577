#!/usr/bin/env python3
"""Small WAV tool for the LV2, package and batch checks in scripts/test.sh.

  wavtool.py impulse OUT RATE FRAMES AT     stereo float WAV, 0.5 at frame AT
  wavtool.py noise OUT RATE FRAMES DBFS SEED stereo float WAV of uniform noise
  wavtool.py stats IN                        prints: frames peak_dbfs peak_frame finite
"""
import math
import random
import struct
import sys


def write_float(path, rate, left, right):
    frames = len(left)
    data = bytearray()
    for l, r in zip(left, right):
        data += struct.pack("<ff", l, r)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 3, 2, rate, rate * 8, 8, 32)
    header += b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as f:
        f.write(header + data)
    return frames


def read_samples(path):
    """All samples of all channels as floats, interleaved, and the channel count."""
    with open(path, "rb") as f:
        blob = f.read()
    if blob[:4] != b"RIFF" or blob[8:12] != b"WAVE":
        raise SystemExit(f"{path}: not a RIFF/WAVE file")
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(blob):
        cid, size = blob[pos:pos + 4], struct.unpack("<I", blob[pos + 4:pos + 8])[0]
        body = blob[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
            if fmt[0] == 0xFFFE:  # extensible: the sub-format's first two bytes
                fmt = (struct.unpack("<H", body[24:26])[0],) + fmt[1:]
        elif cid == b"data":
            data = body
        pos += 8 + size + (size & 1)
    tag, channels, _, _, _, bits = fmt
    if tag == 3 and bits == 32:
        values = struct.unpack(f"<{len(data) // 4}f", data)
    elif tag == 1 and bits in (16, 32):
        code, scale = ("h", 32768.0) if bits == 16 else ("i", 2147483648.0)
        values = [v / scale for v in struct.unpack(f"<{len(data) * 8 // bits}{code}", data)]
    elif tag == 1 and bits == 24:
        values = [int.from_bytes(data[i:i + 3], "little", signed=True) / 8388608.0
                  for i in range(0, len(data) - 2, 3)]
    else:
        raise SystemExit(f"{path}: unsupported WAV format {tag}/{bits}")
    return values, channels


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "impulse":
        out, rate, frames, at = argv[2], int(argv[3]), int(argv[4]), int(argv[5])
        signal = [0.0] * frames
        signal[at] = 0.5
        write_float(out, rate, signal, signal)
    elif command == "noise":
        out, rate, frames, dbfs, seed = argv[2], int(argv[3]), int(argv[4]), float(argv[5]), int(argv[6])
        amp, rng = 10 ** (dbfs / 20), random.Random(seed)
        left = [rng.uniform(-amp, amp) for _ in range(frames)]
        right = [rng.uniform(-amp, amp) for _ in range(frames)]
        write_float(out, rate, left, right)
    elif command == "stats":
        values, channels = read_samples(argv[2])
        finite = all(math.isfinite(v) for v in values)
        peak_index = max(range(len(values)), key=lambda i: abs(values[i]) if math.isfinite(values[i]) else 0.0)
        peak = abs(values[peak_index])
        dbfs = 20 * math.log10(peak) if peak > 0 else -999.0
        print(len(values) // channels, f"{dbfs:.3f}", peak_index // channels, "finite" if finite else "nonfinite")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
