#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/seeds/<target>/.

decoder: the head of each fixture (8 KB) behind a control prefix, a RIFF-wrapped
         stream, a truncated stream, a frame with a Xing tag.
convert: small valid CMP files (coded, stored, escaped blocks, tail) and CP8 files.
setup:   well-formed and borderline setup.ins scripts.
"""
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, 'tests', 'fuzz', 'seeds')
FIX = os.path.join(ROOT, 'tests', 'fixtures')


def write(target, name, data):
    d = os.path.join(OUT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)


def decoder():
    for i, name in enumerate(sorted(os.listdir(FIX))):
        head = open(os.path.join(FIX, name), 'rb').read()[:4096]
        write('decoder', name + '.plain', b'\x00' + head)
        if i % 4 == 0:
            # Quv, Quv, seek to 0.5, one back, Quv, reset.
            write('decoder', name + '.ops', bytes([6, 0, 0, 4 | (15 << 3), 5, 0, 6]) + head)
    j44 = open(os.path.join(FIX, 'j44_128.mp3'), 'rb').read()[:4096]
    riff = b'RIFF' + struct.pack('<I', 36 + len(j44)) + b'WAVEfmt ' + struct.pack('<IHHIIHH', 16, 0x55, 2, 44100, 16000, 1, 0)
    write('decoder', 'riff', b'\x00' + riff + b'data' + struct.pack('<I', len(j44)) + j44)
    write('decoder', 'truncated', b'\x00' + j44[:1000])
    vbr = open(os.path.join(FIX, 'vbr44_xing.mp3'), 'rb').read()[:3000]
    write('decoder', 'xing', b'\x00' + vbr)


def cmp_block_coded(res):
    codes = bytearray()
    for v in res:
        if -127 <= v <= 127:
            codes += struct.pack('<b', v)
        else:
            codes += b'\x80' + struct.pack('<h', v)
    return struct.pack('<h', len(codes) + 2) + bytes(codes)


def cmp_block_stored(res):
    return struct.pack('<h', -1) + b''.join(struct.pack('<h', v) for v in res)


def convert():
    ramp = [0, 1] + [0] * 8190
    noisy = [((i * 7919) % 301) - 150 for i in range(8192)]
    write('convert', 'coded.cmp', b'\x00' + struct.pack('<i', 32768) + cmp_block_coded(ramp) + cmp_block_coded(noisy))
    write('convert', 'stored_tail.cmp',
          b'\x00' + struct.pack('<i', 32768 + 12) + cmp_block_stored(noisy) + cmp_block_coded(ramp) + b'tail bytes..')
    write('convert', 'zero_total.cmp', b'\x00' + struct.pack('<i', 0) + cmp_block_coded(ramp) + b'rest')
    write('convert', 'small.cp8', b'\x01' + bytes(range(256)) * 2)
    write('convert', 'odd.cp8', b'\x01' + bytes(range(33)))


def setup():
    head = b'Product\r\nNew samples.\r\nSoftware\\Maker\\Product\r\n'
    write('setup', 'basic', head + b'3\r\na.cmp b.cp8 c.txt\r\n')
    write('setup', 'zero', head + b'0\r\n')
    write('setup', 'missing_key', b'P\r\nM\r\nXKey\r\n1 a\r\n')
    write('setup', 'junk_between', b'P\rjunk\nM\r\nK\r  \n 2 ../a b')
    write('setup', 'limits', b'N' * 20 + b'\r\n' + b'M' * 71 + b'\r\nK\r\n1 ' + b'f' * 14)


if __name__ == '__main__':
    decoder()
    convert()
    setup()
