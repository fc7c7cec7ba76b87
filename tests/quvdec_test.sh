#!/usr/bin/env bash
# quvdec as users run it: pipes, tagged files, several inputs, interrupts.
# Usage: quvdec_test.sh QUVDEC FIXTURES MANPAGE VERSION
set -euo pipefail
quvdec=$1 fixtures=$2 manpage=$3 version=$4
run=${QUV3_EMULATOR:-}  # what runs the program in a cross build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp"  # where quvdec's temporary copies go: must end empty
mkdir -p "$TMPDIR"
fail() { echo "FAIL: $*"; exit 1; }
q() { $run "$quvdec" "$@"; }
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
q -q --raw -o - "$plain" | cat > "$work/pipe.pcm"
q -q --raw -o "$work/file.pcm" "$plain"
cmp -s "$work/pipe.pcm" "$work/file.pcm" || fail "raw PCM on standard output"
q --raw -o "$work/x.pcm" "$plain" | grep -q "peak [1-9]" || fail "the peak in raw mode"

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
no_temporaries "after decoding"
q --info "$work/all.mp3" > "$work/info"
grep -q "ID3v2, 55 bytes at the start" "$work/info" || fail "ID3v2 size: $(cat "$work/info")"
q --info "$work/id3v2.mp3" | grep -q "ID3v2, 355 bytes at the start" || fail "ID3v2 padding"
grep -q "APEv2, .* bytes at the end" "$work/info" || fail "APEv2"
grep -q "ID3v1, 128 bytes at the end" "$work/info" || fail "ID3v1"
if q -q -o "$work/broken.wav" "$work/broken.mp3" 2> "$work/err"; then fail "a tagged file without a stream decoded"; fi
grep -q "broken.mp3: no MPEG audio frame header at the start of the data (-1)" "$work/err" || fail "the failure line"
no_temporaries "after a failure"

# Interrupted while copying or decoding: the copy goes too.
python3 -c "
import sys; d = open('$work/all.mp3', 'rb').read(); f = open('$work/long.mp3', 'wb')
f.write(d[:55]); f.write(open('$plain', 'rb').read() * 2000)"
$run "$quvdec" -q -o "$work/long.wav" "$work/long.mp3" & pid=$!
sleep 0.3
kill -INT "$pid"
status=0; wait "$pid" || status=$?
[ "$status" -eq 130 ] || fail "interrupted: exit status $status"
no_temporaries "after an interrupt"

# Several inputs: outputs next to them or in -d DIR; failures reported and counted.
mkdir -p "$work/out"
cp "$plain" "$work/a.mp3"; cp "$fixtures/m32_64.mp3" "$work/b.mp3"
if q -q -d "$work/out" "$work/a.mp3" "$work/missing.mp3" "$work/b.mp3" 2> "$work/err"; then fail "exit status"; fi
[ -f "$work/out/a.wav" ] && [ -f "$work/out/b.wav" ] || fail "outputs in -d DIR"
[ "$(wc -l < "$work/err")" -eq 1 ] && grep -q "missing.mp3: cannot open file (-5)" "$work/err" || fail "one failure line"
q -q "$work/a.mp3" "$work/b.mp3" && [ -f "$work/a.wav" ] && [ -f "$work/b.wav" ] || fail "outputs next to the inputs"
if q -o x.wav "$work/a.mp3" "$work/b.mp3" 2>/dev/null; then fail "-o with two inputs"; fi

# A stream longer than total_samples can count: the duration from size and bitrate.
python3 -c "
f = open('$work/huge.mp3', 'wb'); f.write(open('$plain', 'rb').read()[:4180]); f.truncate(2300000000)"
q --info "$work/huge.mp3" | grep -q "duration: *143750\.000 s" || fail "capped duration: $(q --info "$work/huge.mp3")"

# The options, the man page and the version.
help=$(q --help | grep -oE '^  (-[a-z]|--[a-z]+)' | tr -d ' ' | sort -u)
man=$(grep -oE '^\.(B|BI|BR) \\-\\?-?[a-z]+' "$manpage" | sed 's/.* //; s/\\//g' | sort -u)
[ "$help" = "$man" ] || fail "--help and the man page differ: $help / $man"
[ "$(q --version)" = "quvdec $version" ] || fail "version"
echo "quvdec: all checks passed"
