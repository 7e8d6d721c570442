#!/usr/bin/env python3
"""Reads back the mix that OpenAL Soft's wave back end wrote (16-bit PCM,
stereo, plain or extensible header, sizes possibly not yet written) and
checks one claim about a stretch of it.  Stretches are given as byte sizes
the file had at two moments, as the test saw them, so they follow the file's
own clock.  Prints what it measured; exits 1 when the claim does not hold.

  WaveCheck.py FILE CLAIM FROM_BYTES TO_BYTES [ARGS]
    silent                 every sample is 0
    heard                  some sample is not 0
    steps PERIOD           at least three onsets, spaced PERIOD seconds
                           apart (the median, within 20 %)
    left                   more than twice the energy on the left
    strikes                bursts far louder than the stretch's usual level
"""
import struct
import sys

WINDOW = 0.010  # seconds of the envelope's windows


def read(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a RIFF WAVE file")
    at, channels, rate, start = 12, 0, 0, None
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if chunk == b"fmt ":
            channels, rate, _, _, bits = struct.unpack_from("<HIIHH", data, at + 10)
            if bits != 16:
                sys.exit(f"{path}: {bits} bits")
        if chunk == b"data":
            start = at + 8
            break
        at += 8 + size + (size & 1)
    if start is None or channels != 2:
        sys.exit(f"{path}: no stereo data")
    return data, start, rate


def stretch(path, begin, end):
    data, start, rate = read(path)
    frame = 4
    first = max(0, (int(begin) - start) // frame)
    last = max(first, (min(int(end), len(data)) - start) // frame)
    raw = data[start + first * frame:start + last * frame]
    samples = struct.unpack(f"<{len(raw) // 2}h", raw)
    return samples[0::2], samples[1::2], rate


def envelope(left, right, rate):
    n = max(1, int(rate * WINDOW))
    return [max(max(abs(v) for v in left[i:i + n]), max(abs(v) for v in right[i:i + n]))
            for i in range(0, len(left) - n + 1, n)]


def onsets(env):
    top = max(env) if env else 0
    rise, found, quiet = 0.25 * top, [], 0
    for k, level in enumerate(env):
        if level >= rise and quiet >= 5:
            found.append(k * WINDOW)
        quiet = quiet + 1 if level < rise else 0
    return found


def main():
    path, claim, begin, end = sys.argv[1:5]
    left, right, rate = stretch(path, begin, end)
    seconds = len(left) / rate if rate else 0
    print(f"{claim}: {seconds:.2f} s of {path}")
    if seconds <= 0:
        sys.exit("nothing in that stretch")
    if claim == "silent":
        peak = max(max(map(abs, left)), max(map(abs, right)))
        print(f"peak {peak}")
        sys.exit(peak != 0)
    if claim == "heard":
        peak = max(max(map(abs, left)), max(map(abs, right)))
        print(f"peak {peak}")
        sys.exit(peak == 0)
    if claim == "left":
        l, r = sum(v * v for v in left), sum(v * v for v in right)
        print(f"left {l:.3g} right {r:.3g}")
        sys.exit(not l > 2 * r)
    env = envelope(left, right, rate)
    if claim == "steps":
        period = float(sys.argv[5])
        times = onsets(env)
        gaps = sorted(b - a for a, b in zip(times, times[1:]))
        median = gaps[len(gaps) // 2] if gaps else 0
        print("onsets " + " ".join(f"{t:.3f}" for t in times) + f"; median gap {median:.3f} s")
        sys.exit(not (len(times) >= 3 and abs(median - period) <= 0.2 * period))
    if claim == "strikes":
        usual = sorted(env)[len(env) // 2]
        loud = [k * WINDOW for k, level in enumerate(env) if level > 3 * usual and level > 4000]
        print(f"usual level {usual}, {len(loud)} windows above three times it" +
              (f", first at {loud[0]:.2f} s" if loud else ""))
        sys.exit(not loud)
    sys.exit(f"unknown claim {claim}")


main()
