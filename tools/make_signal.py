#!/usr/bin/env python3
"""Writes a synthetic test signal as a 16-bit PCM WAVE file: a chord that moves
between the channels, a gliding tone, noise bursts and clicks (which make an
encoder switch to short blocks), and a quiet tail. The kind "notes" writes a
loud melody of decaying harmonic notes instead: easy to code, so an encoder is
left with bits to spare.

Usage: tools/make_signal.py OUT.wav RATE CHANNELS SECONDS [notes]
SECONDS may also be a number of samples per channel written as @N.
"""
import math
import random
import struct
import sys


def main():
    out, rate, channels = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if sys.argv[4].startswith('@'):
        n = int(sys.argv[4][1:])
        seconds = n / rate
    else:
        seconds = float(sys.argv[4])
        n = int(rate * seconds)
    notes = len(sys.argv) > 5 and sys.argv[5] == 'notes'
    rng = random.Random(1234)
    frames = bytearray()
    for i in range(n):
        t = i / rate
        if notes:
            k = int(t * 4)
            f0 = (220, 247, 262, 294, 330, 349, 392, 440)[k % 8]
            note = sum(math.sin(2 * math.pi * f0 * h * t) / h for h in range(1, 9)) * math.exp(-(t - k / 4) * 6) * 0.45
            vals = (note, 0.7 * note) if channels == 2 else (note,)
            for v in vals:
                frames += struct.pack('<h', max(-32767, min(32767, int(round(v * 30000)))))
            continue
        chord = sum(math.sin(2 * math.pi * f * t) for f in (220.0, 277.18, 329.63)) / 3
        glide = math.sin(2 * math.pi * (300 * t + 400 * t * t / seconds))
        burst = rng.uniform(-1, 1) if (t % 1.0) < 0.05 else 0.0
        click = 1.0 if i % int(rate * 0.37) == 0 else 0.0
        fade = 1.0 if t < seconds - 0.3 else max(0.0, (seconds - t) / 0.3) * 0.1
        pan = 0.5 + 0.5 * math.sin(2 * math.pi * 0.5 * t)
        left = fade * (0.45 * chord * pan + 0.25 * glide + 0.2 * burst + 0.6 * click)
        right = fade * (0.45 * chord * (1 - pan) + 0.25 * glide * 0.5 + 0.2 * burst + 0.6 * click)
        vals = (left, right) if channels == 2 else ((left + right) / 2,)
        for v in vals:
            frames += struct.pack('<h', max(-32767, min(32767, int(round(v * 30000)))))
    with open(out, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', 36 + len(frames)) + b'WAVEfmt ')
        f.write(struct.pack('<IHHIIHH', 16, 1, channels, rate, rate * channels * 2, channels * 2, 16))
        f.write(b'data' + struct.pack('<I', len(frames)) + frames)


if __name__ == '__main__':
    main()
