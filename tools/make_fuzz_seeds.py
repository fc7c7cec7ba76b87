#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/seeds/<target>/.

decoder: the head of each fixture (8 KB) behind a control prefix, a RIFF-wrapped
         stream, a truncated stream, a frame with a Xing tag, streams with tags.
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
    tagged(j44)


def tagged(stream):
    """Tags whose text the re-entrant API reads: ID3v2.2, an unsynchronised
    ID3v2.3 in UTF-16, ID3v2.4 with an extended header and a frame with a data
    length, and APEv2 and ID3v1 at the end (the last through a reader that
    cannot seek, control byte 0x40, finds only the leading ones)."""
    def syncsafe(n):
        return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])

    def frame(version, fid, body, flags=b'\x00\x00'):
        if version == 2:
            return fid + struct.pack('>I', len(body))[1:] + body
        size = syncsafe(len(body)) if version == 4 else struct.pack('>I', len(body))
        return fid + size + flags + body

    def tag(version, frames, flags=0):
        body = b''.join(frames) + bytes(20)
        return b'ID3' + bytes([version, 0, flags]) + syncsafe(len(body)) + body

    utf16 = lambda s: s.encode('utf-16')  # with a byte-order mark
    v22 = tag(2, [frame(2, b'TT2', b'\x00Title'), frame(2, b'TCO', b'\x00(13)'),
                  frame(2, b'COM', b'\x00eng\x00text')])
    body = b''.join([frame(3, b'TIT2', b'\x01' + utf16('F\u00fcr \U0001d11e')),
                     frame(3, b'COMM', b'\x01eng' + utf16('d') + b'\x00\x00' + utf16('\u00ff')),
                     frame(3, b'TPE1', b'\x00\xff\xfe')])
    body = body.replace(b'\xff', b'\xff\x00')
    v23 = b'ID3\x03\x00\x80' + syncsafe(len(body)) + body
    v24 = tag(4, [frame(4, b'TALB', syncsafe(3) + b'\x03\xc3\xbc', b'\x00\x01'),
                  frame(4, b'TRCK', b'\x033/12'), frame(4, b'TCON', b'\x0317')], 0x40)
    v24 = v24[:10] + syncsafe(6) + b'\x01\x00' + v24[10:]
    v24 = v24[:6] + syncsafe(len(v24) - 10) + v24[10:]
    ape_items = b''.join(struct.pack('<II', len(v), 0) + k + b'\x00' + v
                         for k, v in [(b'Title', b'ape'), (b'GENRE', b'Jazz')])
    def ape_block(flags):
        return b'APETAGEX' + struct.pack('<IIII', 2000, len(ape_items) + 32, 2, flags) + bytes(8)
    v1 = (b'TAG' + b'v1 title'.ljust(30) + b'artist'.ljust(30) + bytes(30) + b'1999' + bytes(28) +
          b'\x00\x07\x0d')
    end = ape_block(0xA0000000) + ape_items + ape_block(0x80000000) + v1
    write('decoder', 'tags_v22', b'\x00' + v22 + stream[:2000])
    write('decoder', 'tags_v23', b'\x00' + v23 + stream[:2000])
    write('decoder', 'tags_v24', b'\x40' + v24 + stream[:2000])
    write('decoder', 'tags_end', b'\x00' + v22 + stream[:2000] + end)


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
