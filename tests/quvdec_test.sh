#!/usr/bin/env bash
# quvdec as users run it: pipes, tagged files, several inputs, interrupts,
# formats, positions, parallel decoding.
# Usage: quvdec_test.sh QUVDEC FIXTURES MANPAGE VERSION
set -euo pipefail
quvdec=$1 fixtures=$2 manpage=$3 version=$4
run=${QUV3_EMULATOR:-}  # what runs the program in a cross build
# The emulator runs no threads: one job at a time there, and no -j tests.
one_job=${run:+-j 1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp"  # quvdec makes no temporary file there: must end empty
mkdir -p "$TMPDIR"
fail() { echo "FAIL: $*"; exit 1; }
q() { $run "$quvdec" $one_job "$@"; }
no_temporaries() { [ -z "$(ls -A "$TMPDIR")" ] || fail "temporary files left: $(ls "$TMPDIR") ($1)"; }
plain=$fixtures/j44_128.mp3

# Standard output: the same samples, size fields "unknown", messages elsewhere.
q -q -o "$work/file.wav" "$plain"
q -o - "$plain" 2> "$work/messages" | cat > "$work/pipe.wav"
cmp -s -i 44 "$work/pipe.wav" "$work/file.wav" || fail "piped samples differ from the file's"
[ "$(od -An -tx1 -j4 -N4 "$work/pipe.wav" | tr -d ' ')" = ffffffff ] || fail "RIFF size in a pipe"
[ "$(od -An -tx1 -j40 -N4 "$work/pipe.wav" | tr -d ' ')" = ffffffff ] || fail "data size in a pipe"
[ "$(head -c 4 "$work/pipe.wav")" = RIFF ] || fail "standard output starts with the header"
grep -q "sample rate" "$work/messages" || fail "the description goes to standard error"
q -q -o "$work/redirected.wav" "$plain"; q -q -o - "$plain" > "$work/redirected2.wav"
cmp -s "$work/redirected2.wav" "$work/file.wav" || fail "a redirected standard output gets the real sizes"
# What standard output held stays; the header is rewritten where it went, and
# not at all when appending (the writes would go to the end).
{ printf KEEP; q -q -o - "$plain"; printf TAIL; } > "$work/after.wav"
printf KEEP > "$work/appended.wav"; q -q -o - "$plain" >> "$work/appended.wav"
cmp -s "$work/after.wav" <(printf KEEP; cat "$work/file.wav"; printf TAIL) &&
  cmp -s "$work/appended.wav" <(printf KEEP; cat "$work/pipe.wav") || fail "standard output already written to"
if q --info "$plain" > /dev/full 2> "$work/err"; then fail "--info to a full disk"; fi
grep -q "writing standard output failed" "$work/err" || fail "--info to a full disk: $(cat "$work/err")"
q -q --raw -o - "$plain" | cat > "$work/pipe.pcm"
q -q --raw -o "$work/file.pcm" "$plain"
cmp -s "$work/pipe.pcm" "$work/file.pcm" || fail "raw PCM on standard output"
q --raw -o "$work/x.pcm" "$plain" | grep -q "peak [1-9]" || fail "the peak in raw mode"
# An output that is a named pipe or a device is written where it stands, as
# standard output is; replacing it would leave a regular file in its place.
mkfifo "$work/fifo"
timeout 60 cat "$work/fifo" > "$work/from_fifo" &
q -q -o "$work/fifo" "$plain"
wait $! || fail "nothing read from the named pipe"
[ -p "$work/fifo" ] || fail "the named pipe given as the output was replaced"
cmp -s "$work/from_fifo" "$work/pipe.wav" || fail "the samples through a named pipe"
if mknod "$work/null" c 1 3 2>/dev/null; then
  q -q -o "$work/null" "$plain" && [ -c "$work/null" ] || fail "the device given as the output was replaced"
fi

# Tagged copies of the fixture: ID3v2 (footer flag, padding), APEv2, ID3v1.
python3 - "$plain" "$work" <<'PY'
import struct, sys
src, out = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
def syncsafe(n): return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
body = b'TIT2' + struct.pack('>I', 6) + b'\0\0' + b'\x03Song' + b'\0' * 20  # a frame and padding
id3v2 = b'ID3\x04\x00\x10' + syncsafe(len(body)) + body + b'3DI\x04\x00\x10' + syncsafe(len(body))
id3v1 = b'TAG' + b'Title'.ljust(30, b'\0') + b'\0' * 95
items = struct.pack('<II', 5, 0) + b'Title\0' + b'Hello'
ape_header = b'APETAGEX' + struct.pack('<IIII', 2000, len(items) + 32, 1, 0xA0000000) + b'\0' * 8
ape_footer = b'APETAGEX' + struct.pack('<IIII', 2000, len(items) + 32, 1, 0x80000000) + b'\0' * 8
ape = ape_header + items + ape_footer
open(out + '/id3v2.mp3', 'wb').write(id3v2 + b'\0' * 300 + data)
open(out + '/id3v1.mp3', 'wb').write(data + id3v1)
open(out + '/ape.mp3', 'wb').write(data + ape)
open(out + '/all.mp3', 'wb').write(id3v2 + data + ape + id3v1)
open(out + '/broken.mp3', 'wb').write(id3v2 + b'\x55' * 5000 + id3v1)
PY
q -q --raw -o "$work/untagged.pcm" "$plain"
for f in id3v2 id3v1 ape all; do
  q -q --raw -o "$work/$f.pcm" "$work/$f.mp3"
  cmp -s "$work/$f.pcm" "$work/untagged.pcm" || fail "$f: samples differ from the untagged stream's"
done
# Standard input, tagged or not, gives the file's samples.
for f in id3v2 id3v1; do
  cat "$work/$f.mp3" | q -q --raw - > "$work/$f.stdin.pcm"
  cmp -s "$work/$f.stdin.pcm" "$work/untagged.pcm" || fail "$f from a pipe"
done
cat "$plain" | q --info - | grep -q "read from a stream" || fail "--info from a pipe says what it cannot know"
(dd bs=55 count=1 of=/dev/null 2>/dev/null; q -q --raw -) < "$work/all.mp3" | cmp -s - "$work/untagged.pcm" ||
  fail "standard input whose ID3v2 tag was read already"
no_temporaries "after decoding"
q --info "$work/all.mp3" > "$work/info"
grep -q "ID3v2, 55 bytes at the start" "$work/info" || fail "ID3v2 size: $(cat "$work/info")"
q --info "$work/id3v2.mp3" | grep -q "ID3v2, 355 bytes at the start" || fail "ID3v2 padding"
grep -q "APEv2, .* bytes at the end" "$work/info" || fail "APEv2"
grep -q "ID3v1, 128 bytes at the end" "$work/info" || fail "ID3v1"
if q -q -o "$work/broken.wav" "$work/broken.mp3" 2> "$work/err"; then fail "a tagged file without a stream decoded"; fi
grep -q "broken.mp3: no MPEG audio frame header at the start of the data (-1)" "$work/err" || fail "the failure line"
no_temporaries "after a failure"

# Interrupted while decoding over an existing target: the target keeps its old
# bytes, and neither the stream's copy nor the partial output is left.
python3 -c "
import sys; d = open('$work/all.mp3', 'rb').read(); f = open('$work/long.mp3', 'wb')
f.write(d[:55]); f.write(open('$plain', 'rb').read() * 2000)"
echo "old bytes" > "$work/long.wav"; cp "$work/long.wav" "$work/long.saved"
partial() { find "$work" -maxdepth 1 -name ".$1.*" "${@:2}" | grep -q .; }
$run "$quvdec" $one_job -q -o "$work/long.wav" "$work/long.mp3" & pid=$!
for _ in $(seq 500); do partial long.wav -size +64k && break; sleep 0.02; done
partial long.wav || fail "no partial output appeared next to the target"
kill -INT "$pid"
status=0; wait "$pid" || status=$?
[ "$status" -eq 130 ] || fail "interrupted: exit status $status"
cmp -s "$work/long.wav" "$work/long.saved" || fail "an interrupt changed the target"
! partial long.wav || fail "an interrupt left the partial output"
no_temporaries "after an interrupt"
# A write that fails (the file size limit) leaves the target as it was.
echo "old bytes" > "$work/kept.wav"
if (ulimit -f 64; q -q -o "$work/kept.wav" "$plain") 2> "$work/err"; then fail "a failed write"; fi
grep -q "writing $work/kept.wav failed: File too large" "$work/err" || fail "the write failure: $(cat "$work/err")"
cmp -s "$work/kept.wav" "$work/long.saved" || fail "a failed write changed the target"
! partial kept.wav || fail "a failed write left the partial output"

# Several inputs: outputs next to them or in -d DIR; failures reported and counted.
mkdir -p "$work/out"
cp "$plain" "$work/a.mp3"; cp "$fixtures/m32_64.mp3" "$work/b.mp3"
if q -q -d "$work/out" "$work/a.mp3" "$work/missing.mp3" "$work/b.mp3" 2> "$work/err"; then fail "exit status"; fi
[ -f "$work/out/a.wav" ] && [ -f "$work/out/b.wav" ] || fail "outputs in -d DIR"
[ "$(wc -l < "$work/err")" -eq 1 ] && grep -q "missing.mp3: cannot open file (-5)" "$work/err" || fail "one failure line"
q -q "$work/a.mp3" "$work/b.mp3" && [ -f "$work/a.wav" ] && [ -f "$work/b.wav" ] || fail "outputs next to the inputs"
q "$work/b.mp3" - < "$plain" > "$work/stdin.wav" 2> /dev/null
cmp -s "$work/stdin.wav" "$work/file.wav" || fail "another input's messages in the samples on standard output"
if q -o x.wav "$work/a.mp3" "$work/b.mp3" 2>/dev/null; then fail "-o with two inputs"; fi

# No input is written over, however the output names it. w.wav is a stream in
# a RIFF/WAVE file, whose output is w.wav itself.
python3 - "$plain" "$work/w.wav" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
fmt = struct.pack('<HHIIHH', 0x55, 2, 44100, 16000, 1, 0)
open(sys.argv[2], 'wb').write(b'RIFF' + struct.pack('<I', 20 + len(fmt) + len(d)) + b'WAVEfmt ' +
                              struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(d)) + d)
PY
cp "$work/w.wav" "$work/w.saved"; mkdir "$work/sub"; ln "$work/w.wav" "$work/link.wav"; cp "$plain" "$work/c.mp3"
if (cd "$work" && q -q w.wav c.mp3) 2> "$work/err"; then fail "w.wav over itself: exit 0"; fi
[ "$(cat "$work/err")" = "quvdec: w.wav: the output would overwrite the input (use -o or -d)" ] || fail "$(cat "$work/err")"
[ -f "$work/c.wav" ] || fail "the other input was not decoded"
for out in ./w.wav sub/../w.wav link.wav; do
  if (cd "$work" && q -q -o $out w.wav) 2> "$work/err"; then fail "-o $out: exit 0"; fi
  grep -q "w.wav: the output $out would overwrite the input" "$work/err" || fail "-o $out: $(cat "$work/err")"
done
if q -q -o - "$work/c.mp3" >> "$work/c.mp3" 2>/dev/null; then fail "standard output appended to the input"; fi
if q -q - < "$work/c.mp3" 1<> "$work/c.mp3" 2>/dev/null; then fail "standard input decoded over itself"; fi
if q -q "$work/c.mp3" - < "$plain" > "$work/c.wav" 2>/dev/null; then fail "standard output is c.mp3's output"; fi
cmp -s "$work/w.wav" "$work/w.saved" && cmp -s "$work/c.mp3" "$plain" || fail "an input changed"
q -q -o "$work/w2.wav" "$work/w.wav" || fail "w.wav to another name"
# Two inputs with one output: neither is decoded, the third is.
mkdir "$work/x" "$work/y" "$work/same"; cp "$plain" "$work/x/song.mp3"; cp "$plain" "$work/y/song.mp3"
if q -q -d "$work/same" "$work/x/song.mp3" "$work/y/song.mp3" "$work/c.mp3" 2> "$work/err"; then fail "same output"; fi
grep -q "x/song.mp3: $work/y/song.mp3 has the same output" "$work/err" &&
  grep -q "y/song.mp3: $work/x/song.mp3 has the same output" "$work/err" || fail "same output: $(cat "$work/err")"
[ "$(ls -A "$work/same")" = c.wav ] || fail "same output: $(ls -A "$work/same")"
# Why an input or output fails. A name of 254 characters fits, with its temporary.
if q -q "$work/x" 2> "$work/err"; then fail "a directory decoded"; fi
[ "$(cat "$work/err")" = "quvdec: $work/x: is a directory" ] || fail "directory: $(cat "$work/err")"
long=$(printf 'n%.0s' {1..300})
for out in "nodir/o.wav:No such file or directory" "$long.wav:File name too long"; do
  if q -q -o "$work/${out%%:*}" "$plain" 2> "$work/err"; then fail "$out: exit 0"; fi
  grep -q "cannot create $work/${out%%:*}: ${out#*:}$" "$work/err" || fail "$out: $(cat "$work/err")"
done
q -q -o "$work/${long:0:250}.wav" "$plain" && [ -f "$work/${long:0:250}.wav" ] || fail "a name of 254 characters"
(umask 027; q -q -o "$work/mode.wav" "$plain"); [ "$(stat -c %a "$work/mode.wav")" = 640 ] || fail "not the umask's mode"
echo old > "$work/real.wav"; ln -s real.wav "$work/sym.wav"; q -q -o "$work/sym.wav" "$plain"
[ -L "$work/sym.wav" ] && cmp -s "$work/real.wav" "$work/file.wav" || fail "an output through a symbolic link"

# Option syntax: attached values, grouped letters, --, one line on a wrong option.
q -q --raw --start 0.5 -o "$work/half.pcm" "$plain"
q -q --raw --start=0.5 -o "$work/half2.pcm" "$plain"
cmp -s "$work/half.pcm" "$work/half2.pcm" && [ "$(stat -c %s "$work/half.pcm")" -lt "$(stat -c %s "$work/untagged.pcm")" ] ||
  fail "--start=0.5"
(cd "$work" && q -qo grouped.wav "$plain" > stdout && q -q -oattached.wav "$plain")
[ ! -s "$work/stdout" ] && cmp -s "$work/grouped.wav" "$work/file.wav" && cmp -s "$work/attached.wav" "$work/file.wav" ||
  fail "-qo OUT, -oOUT"
cp "$plain" "$work/-x.mp3"; (cd "$work" && q -q -- -x.mp3) && [ -f "$work/-x.wav" ] || fail "-- -x.mp3"
status=0; q --foo "$plain" 2> "$work/err" || status=$?
[ $status -eq 2 ] && [ "$(cat "$work/err")" = "quvdec: unknown option --foo (see quvdec --help)" ] || fail "--foo"
for t in --start --length; do
  status=0; q $t 1e300 -o "$work/x.wav" "$plain" 2> /dev/null || status=$?; [ $status -eq 2 ] || fail "$t 1e300: $status"
done

# A stream of more than an hour: the duration estimated from size and bitrate, and said to be.
python3 -c "
f = open('$work/huge.mp3', 'wb'); f.write(open('$plain', 'rb').read()[:4180]); f.truncate(2300000000)"
q --info "$work/huge.mp3" | grep -q "duration: *about 143750\.000 s" || fail "estimated duration: $(q --info "$work/huge.mp3")"

# What the tags say: UTF-8 (ID3v2.4), UTF-16 with its byte-order mark
# (ID3v2.3), and an ID3v1 tag alone, all printed as UTF-8.
python3 - "$plain" "$work" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
def ss(n): return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
def v24(fid, text):
    body = b'\x03' + text.encode('utf-8'); return fid + ss(len(body)) + b'\0\0' + body
def v23(fid, text):
    body = b'\x01' + text.encode('utf-16'); return fid + struct.pack('>I', len(body)) + b'\0\0' + body
t24 = v24(b'TIT2', 'Für Elise – Ünïcødé') + v24(b'TPE1', 'Ludwig') + v24(b'TRCK', '7')
t23 = v23(b'TIT2', 'Für Elise – Ünïcødé') + v23(b'TALB', 'Bagatellen \U0001D11E')
open(sys.argv[2] + '/t24.mp3', 'wb').write(b'ID3\x04\0\0' + ss(len(t24)) + t24 + data)
open(sys.argv[2] + '/t23.mp3', 'wb').write(b'ID3\x03\0\0' + ss(len(t23)) + t23 + data)
v1 = b'TAG' + b'Song'.ljust(30, b'\0') + b'Band'.ljust(30, b'\0') + b'Album'.ljust(30, b'\0') + b'1999' + \
     b'Note'.ljust(28, b'\0') + b'\0\x05' + b'\x08'
open(sys.argv[2] + '/v1.mp3', 'wb').write(data + v1)
PY
q --info "$work/t24.mp3" > "$work/info24"; q --info "$work/t23.mp3" > "$work/info23"; q --info "$work/v1.mp3" > "$work/info1"
grep -q "^title: *Für Elise – Ünïcødé$" "$work/info24" && grep -q "^artist: *Ludwig$" "$work/info24" &&
  grep -q "^track: *7$" "$work/info24" || fail "ID3v2.4 text: $(cat "$work/info24")"
grep -q "^title: *Für Elise – Ünïcødé$" "$work/info23" && grep -q "^album: *Bagatellen 𝄞$" "$work/info23" ||
  fail "ID3v2.3 UTF-16 text: $(cat "$work/info23")"
grep -q "^title: *Song$" "$work/info1" && grep -q "^year: *1999$" "$work/info1" && grep -q "^track: *5$" "$work/info1" &&
  grep -q "^genre: *Jazz$" "$work/info1" || fail "ID3v1 text: $(cat "$work/info1")"
cat "$work/t24.mp3" | q --info - | grep -q "^title: *Für Elise" || fail "tag text from a pipe"

# Positions: --start lands on the sample (0.5 s at 44.1 kHz: 22050 of 2 bytes
# x 2 channels in), in a file and in a pipe (decoded on), --length cuts exactly.
cmp -s "$work/half.pcm" <(tail -c +$((22050 * 4 + 1)) "$work/untagged.pcm") || fail "--start 0.5 is not sample 22050"
cat "$plain" | q -q --raw --start 0:00.5 - | cmp -s - "$work/half.pcm" || fail "--start on a pipe"
q -q --raw --start 0.25 --length 0.5 -o "$work/part.pcm" "$plain"
cmp -s "$work/part.pcm" <(tail -c +$((11025 * 4 + 1)) "$work/untagged.pcm" | head -c $((22050 * 4))) || fail "--length"
if q -q --start 10 -o "$work/late.wav" "$plain" 2> "$work/err"; then fail "a start after the end"; fi
grep -q "the stream ends before" "$work/err" || fail "start after the end: $(cat "$work/err")"
if cat "$plain" | q -q --start-fraction 0.5 - > /dev/null 2> "$work/err"; then fail "--start-fraction on a pipe"; fi
grep -q "needs an input that can seek" "$work/err" || fail "--start-fraction on a pipe: $(cat "$work/err")"

# The duration --info gives is what the decode writes; without gapless the
# output is the library's six exports' frame for frame (the golden record).
python3 - "$fixtures" "$work" "$quvdec" "$run" <<'PY' || fail "durations or the exports' samples"
import os, re, subprocess, sys
fixtures, work, quvdec, run = sys.argv[1:5]
golden = dict(l.split() for l in open(os.path.join(fixtures, '..', 'golden_hashes.txt')))
def fnv(b):
    h = 1469598103934665603
    for x in b:
        h = ((h ^ x) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return '%016x' % h
bad = 0
for name in sorted(os.listdir(fixtures)):
    path = os.path.join(fixtures, name)
    for flags in ([], ['--no-gapless']):
        info = subprocess.run(run.split() + [quvdec] + flags + ['--info', path], capture_output=True, text=True).stdout
        m = re.search(r'total samples: +(\d+)', info)
        ch = int(re.search(r'channels: +(\d+)', info).group(1))
        pcm = subprocess.run(run.split() + [quvdec, '-q', '--raw', '-o', '-'] + flags + [path], capture_output=True).stdout
        if not m or int(m.group(1)) * ch * 2 != len(pcm):
            print('duration', name, flags, m and m.group(1), len(pcm)); bad += 1
        want = golden.get('fixture/' + name)
        if flags and want and want != fnv(b'') and fnv(pcm) != want:
            print('not the exports\' samples:', name); bad += 1
sys.exit(bad)
PY

# Formats: s16 is the library's rounding of f32 (x 32767, to even), s24 the
# same at x 8388607; the headers as soxi reads them.
q -q -f f32 -o "$work/f32.wav" "$plain"; q -q -f s24 -o "$work/s24.wav" "$plain"
soxi "$work/f32.wav" | grep -q "32-bit Floating Point PCM" && soxi "$work/s24.wav" | grep -q "24-bit Signed Integer PCM" &&
  [ "$(soxi -s "$work/f32.wav")" = 66150 ] && [ "$(soxi -s "$work/s24.wav")" = 66150 ] || fail "format headers"
python3 - "$work" <<'PY' || fail "formats disagree"
import struct, sys
w = sys.argv[1]
s16 = struct.unpack('<%dh' % (len(open(w + '/untagged.pcm', 'rb').read()) // 2), open(w + '/untagged.pcm', 'rb').read())
f = open(w + '/f32.wav', 'rb').read(); f = struct.unpack('<%df' % (len(f[58:]) // 4), f[58:])
s = open(w + '/s24.wav', 'rb').read()[44:]
s24 = [int.from_bytes(s[i:i + 3], 'little', signed=True) for i in range(0, len(s), 3)]
assert len(f) == len(s16) == len(s24)
assert [max(-32767, min(32767, round(x * 32767.0))) for x in f] == list(s16), 'f32 rounded is not s16'
assert [max(-8388607, min(8388607, round(x * 8388607.0))) for x in f] == s24, 'f32 rounded is not s24'
PY

# --mono and --rate against sox's own downmix and rate -v of the same floats.
if q -q --rate 16000 -o "$work/r16.wav" "$plain" 2> "$work/err"; then
  q -q --mono --rate 16000 -f f32 -o "$work/m16.wav" "$plain"
  sox "$work/f32.wav" -c 1 "$work/sox16.wav" rate -v 16000
  python3 - "$work/m16.wav" "$work/sox16.wav" <<'PY' || fail "--mono --rate 16000 against sox"
import math, struct, sys
def floats(p):
    d = open(p, 'rb').read(); i = d.find(b'data') + 8
    return struct.unpack('<%df' % ((len(d) - i) // 4), d[i:i + (len(d) - i) // 4 * 4])
a, b = floats(sys.argv[1]), floats(sys.argv[2])
n = min(len(a), len(b)); assert abs(len(a) - len(b)) <= 2, (len(a), len(b))
e = sum((x - y) ** 2 for x, y in zip(a[:n], b[:n])) / n
psnr = 10 * math.log10(1.0 / e) if e else 999
print('mono 16 kHz against sox: %.1f dB' % psnr); assert psnr >= 60
PY
else
  grep -q "not available in this build" "$work/err" || fail "--rate: $(cat "$work/err")"
fi

# Several cores: a batch with -j 2 equals -j 1 file for file, and one long file
# decoded in two parts equals its serial decode bit for bit, gapless included.
if [ -z "$run" ]; then
mkdir -p "$work/j1" "$work/j2"
q -q -j 1 -d "$work/j1" "$fixtures"/*.mp3 2>/dev/null || true
q -q -j 2 -d "$work/j2" "$fixtures"/*.mp3 2>/dev/null || true
diff -r "$work/j1" "$work/j2" > /dev/null && [ "$(ls "$work/j2" | wc -l)" -ge 20 ] || fail "-j 2 batch"
python3 -c "
d = open('$fixtures/m44_320_notag.mp3', 'rb').read(); open('$work/longer.mp3', 'wb').write(d * 20)"
q -q -j 1 -o "$work/serial.wav" "$work/longer.mp3"; q -q -j 2 -o "$work/parts.wav" "$work/longer.mp3"
cmp -s "$work/serial.wav" "$work/parts.wav" || fail "one long file in two parts"
# A long gapless stream: the VBR fixture's audio frames twenty times behind
# its tag frame, whose frame and byte counts (and CRC) say so.
python3 - "$fixtures/gapless44_vbr.mp3" "$work" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
tag = 36 + 4 + 4  # behind the 32 bytes of side information: "Xing", flags, then the counts
first = 144000 * [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320][d[2] >> 4] // 44100 + ((d[2] >> 1) & 1)
frames = struct.unpack('>I', d[tag:tag + 4])[0]
out = d[:first] + d[first:] * 20
out[tag:tag + 8] = struct.pack('>II', frames * 20, len(out))
def crc16(b):
    c = 0
    for x in b:
        c ^= x
        for _ in range(8): c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return c
out[190:192] = struct.pack('>H', crc16(out[:190]))  # the LAME extension's CRC, 34 bytes into it
w = sys.argv[2] + '/'
open(w + 'gapless_long.mp3', 'wb').write(out)
# Streams other than their counts say: cut short, damaged, longer.
open(w + 'cut.mp3', 'wb').write(out[:200000])
open(w + 'damaged_long.mp3', 'wb').write(out[:150000] + b'\x55' * 20000 + out[170000:])
out[tag:tag + 4] = struct.pack('>I', frames * 12)
out[190:192] = struct.pack('>H', crc16(out[:190]))
open(w + 'overlong.mp3', 'wb').write(out)
PY
q --info "$work/gapless_long.mp3" | grep -q "gapless: *yes" || fail "the long gapless stream is not gapless"
q -q -j 1 -o "$work/serial.wav" "$work/gapless_long.mp3"; q -q -j 2 -o "$work/parts.wav" "$work/gapless_long.mp3"
cmp -s "$work/serial.wav" "$work/parts.wav" && [ "$(soxi -s "$work/parts.wav")" = $((109 * 20 * 1152 - 576 - 1535)) ] ||
  fail "a long gapless file in two parts ($(soxi -s "$work/parts.wav") samples)"
q -q -j 2 --raw --start 3 --length 40 -o "$work/parts.pcm" "$work/gapless_long.mp3"
cmp -s "$work/parts.pcm" <(tail -c +$((132300 * 4 + 45)) "$work/serial.wav" | head -c $((1764000 * 4))) ||
  fail "two parts of --start 3 --length 40"
for args in cut.mp3 damaged_long.mp3 overlong.mp3 "--start 3 --length 100 gapless_long.mp3"; do
  (cd "$work" && q -q -j 1 -o serial.wav $args && q -q -j 2 -o parts.wav $args) &&
    cmp -s "$work/serial.wav" "$work/parts.wav" || fail "-j 2 $args is not -j 1's"
done
fi

# A damaged stream: the summary says what was skipped; the exit status stays 0.
python3 -c "
d = bytearray(open('$plain', 'rb').read()); d[9000:9400] = b'\x55' * 400; open('$work/damaged.mp3', 'wb').write(d)"
q -o "$work/damaged.wav" "$work/damaged.mp3" > "$work/summary" || fail "a damaged stream failed"
grep -qE "damaged: +[0-9]+ bytes skipped, [1-9][0-9]* frames lost" "$work/summary" || fail "damage: $(cat "$work/summary")"
! q -o "$work/clean.wav" "$plain" | grep -q damaged || fail "damage reported on a clean stream"

# The options, the man page and the version.
help=$(q --help | grep -oE '^  (-[a-z]|--[a-z]*)' | tr -d ' ' | sort -u)
man=$(grep -oE '^\.(B|BI|BR) \\-\\?-?[a-z]*' "$manpage" | sed 's/.* //; s/\\//g' | sort -u)
[ "$help" = "$man" ] || fail "--help and the man page differ: $help / $man"
[ "$(q --version)" = "quvdec $version" ] || fail "version"
echo "quvdec: all checks passed"
