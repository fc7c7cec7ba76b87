#!/usr/bin/env bash
# The Windows deliverables for real: the export tables and resources of both
# builds; under Wine, the 64-bit quv3.dll against the Linux build's PCM, the
# 64-bit quv3_decoder.dll with two streams in two threads and a non-ASCII file
# name, quvdec.exe keeping its input and an interrupted output's target, and
# updater.exe in a fresh Wine prefix under Xvfb with its message boxes answered
# by key presses.
# Usage: run_wine_tests.sh WIN64_BUILD WIN32_BUILD LINUX_QUVDEC FIXTURE_DIR VERSION
set -euo pipefail
win64=$(cd "$1" && pwd) win32=$(cd "$2" && pwd) quvdec=$3 fixtures=$(cd "$4" && pwd) version=$5
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb=
cleanup() { wineserver -k >/dev/null 2>&1 || true; [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The names in a DLL's export table (objdump of ARCH), and in a .def file.
exports() {
  "$1-w64-mingw32-objdump" -p "$2" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && !/Table/ {print $NF}' | sort | tr '\n' ' '
}
def_names() { awk 'listed && NF {print $1} /^EXPORTS/ {listed = 1}' "$1" | sort | tr '\n' ' '; }

echo "== export tables"
for pair in "x86_64:$win64" "i686:$win32"; do
  arch=${pair%%:*} dir=${pair#*:}
  names=$(exports "$arch" "$dir/quv3.dll")
  [ "$names" = "ExitQuv InitQuv Quv QuvOneBck ResetQuv SeekQuv " ] || fail "$arch exports: $names"
  [ "$(exports "$arch" "$dir/quv3_decoder.dll")" = "$(def_names "$src/decoder/api/quv3_decoder.def")" ] ||
    fail "$arch quv3_decoder.dll exports $(exports "$arch" "$dir/quv3_decoder.dll")"
  "$arch-w64-mingw32-objdump" -p "$dir/updater.exe" > "$tmp/updater.txt"
  grep -q 'Subsystem.*(Windows GUI)' "$tmp/updater.txt" || fail "$arch updater.exe is not a GUI program"
  for dll in quv3.dll quv3_decoder.dll; do
    deps=$("$arch-w64-mingw32-objdump" -p "$dir/$dll" | awk '/DLL Name/ {print $3}' | sort | tr '\n' ' ')
    case "$deps" in *gcc*|*stdc++*|*winpthread*) fail "$arch $dll needs a compiler runtime: $deps" ;; esac
    echo "$arch $dll: imports $deps"
  done
  echo "$arch: quv3.dll exports $names; quv3_decoder.dll exports its .def list"
done

echo "== resources: version information, the updater's manifest and icon"
for dir in "$win64" "$win32"; do
  for f in quv3.dll quv3_decoder.dll updater.exe quvdec.exe; do
    wrestool -x --raw -t 16 "$dir/$f" > "$tmp/version.bin" || fail "$f: no version information"
    for field in FileVersion ProductVersion; do
      [ "$(strings -el "$tmp/version.bin" | grep -x -A1 "$field" | tail -n1)" = "$version" ] || fail "$f: $field"
    done
    fixed=$(python3 -c "
import struct, sys
d = open('$tmp/version.bin', 'rb').read(); i = d.find(struct.pack('<I', 0xFEEF04BD))
ms, ls = struct.unpack('<II', d[i + 8:i + 16]); print('%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16))")
    [ "$fixed" = "$version" ] || fail "$f: fixed file version $fixed"
  done
  wrestool -x --raw -t 24 "$dir/updater.exe" > "$tmp/manifest.xml" || fail "updater.exe: no manifest"
  grep -q 'requestedExecutionLevel level="requireAdministrator"' "$tmp/manifest.xml" || fail "manifest: elevation"
  grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$tmp/manifest.xml" || fail "manifest: controls"
  [ "$(grep -c '<supportedOS Id=' "$tmp/manifest.xml")" -eq 5 ] || fail "manifest: supported systems"
  grep -q '<dpiAware[^>]*>true/pm</dpiAware>' "$tmp/manifest.xml" || fail "manifest: DPI awareness"
  grep -q "version=\"$version.0\"" "$tmp/manifest.xml" || fail "manifest: version"
  wrestool -l -t 14 "$dir/updater.exe" | grep -q group_icon || fail "updater.exe: no icon"
  echo "$(basename "$dir"): version $version in all four, manifest and icon in updater.exe"
done

wine wineboot -i >/dev/null 2>&1 || true

echo "== quv3.dll under Wine against the Linux build"
for f in "$fixtures"/*.mp3; do
  if ! (cd "$win64" && timeout 120 wine quv3_host.exe "Z:${f//\//\\}" "Z:${tmp//\//\\}\\windows.pcm" >/dev/null); then
    # The exports refuse a tag before the first frame and MPEG 2.5 (the
    # re-entrant library decodes both): those must be what it refused.
    head=$(od -An -tx1 -N3 "$f" | tr -d ' ')
    [ "$head" = 494433 ] || [ "${head:0:3}" = ffe ] || fail "host on $(basename "$f")"
    echo "$(basename "$f"): refused (a tag or MPEG 2.5)"
    continue
  fi
  # Without gapless trimming quvdec delivers the exports' samples frame for frame.
  "$quvdec" -q --raw --no-gapless "$f" -o "$tmp/linux.pcm"
  cmp -s "$tmp/linux.pcm" "$tmp/windows.pcm" || fail "$(basename "$f") differs from the Linux build"
  echo "$(basename "$f"): identical ($(stat -c %s "$tmp/windows.pcm") bytes)"
done

echo "== quvdec.exe under Wine: no input written over, outputs whole or not at all"
win() { (cd "$tmp" && timeout 120 wine "$win64/quvdec.exe" "$@"); }
cp "$fixtures/j44_128.mp3" "$tmp/a.mp3"
"$quvdec" -q -o "$tmp/linux.wav" "$tmp/a.mp3"
win -q a.mp3 && cmp -s "$tmp/a.wav" "$tmp/linux.wav" || fail "quvdec.exe: the WAVE differs from the Linux build's"
python3 - "$tmp/a.mp3" "$tmp/w.wav" "$tmp/long.mp3" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
fmt = struct.pack('<HHIIHH', 0x55, 2, 44100, 16000, 1, 0)
open(sys.argv[2], 'wb').write(b'RIFF' + struct.pack('<I', 20 + len(fmt) + len(d)) + b'WAVEfmt ' +
                              struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(d)) + d)
open(sys.argv[3], 'wb').write(d * 2000)
PY
cp "$tmp/w.wav" "$tmp/w.saved"
for out in w.wav W.WAV ".\\w.wav" "Z:${tmp//\//\\}\\w.wav"; do
  if win -q -o "$out" w.wav 2>/dev/null; then fail "quvdec.exe -o $out w.wav: exit 0"; fi
done
cmp -s "$tmp/w.wav" "$tmp/w.saved" || fail "quvdec.exe wrote over its input"
echo old > "$tmp/big.wav"
(cd "$tmp" && exec wine "$win64/quvdec.exe" -q -o big.wav long.mp3) & pid=$!
for _ in $(seq 600); do ls -A "$tmp" | grep -q '^\.big\.wav\.' && break; sleep 0.05; done
kill -INT "$pid"
status=0; wait "$pid" || status=$?
[ $status -eq 130 ] && [ "$(cat "$tmp/big.wav")" = old ] || fail "quvdec.exe after Ctrl-C: $status, $(head -c 20 "$tmp/big.wav")"
! ls -A "$tmp" | grep -q '^\.big\.wav\.' || fail "quvdec.exe left its partial output"
echo "quvdec.exe: the Linux build's WAVE; its input kept under four spellings; Ctrl-C left the old file"

echo "== quv3_decoder.dll under Wine: two streams in two threads at once, a non-ASCII file name"
# An MPEG-1 and an LSF stream: different frame sizes and code paths at once.
a=$fixtures/j44_128.mp3 b=$fixtures/j22_64_lsf.mp3
winpath() { echo "Z:${1//\//\\}"; }
(cd "$win64" && timeout 120 wine quv3_decoder_host.exe "$(winpath "$a")" "$(winpath "$b")" "$(winpath "$tmp/a.pcm")" \
  "$(winpath "$tmp/b.pcm")" "$(winpath "$tmp")") || fail "quv3_decoder_host.exe"
for pair in "a:$a" "b:$b"; do
  "$quvdec" -q --raw --no-gapless "${pair#*:}" -o "$tmp/linux.pcm"
  cmp -s "$tmp/linux.pcm" "$tmp/${pair%%:*}.pcm" || fail "$(basename "${pair#*:}") through quv3_decoder.dll differs from the Linux build"
done
echo "$(basename "$a"), $(basename "$b"): identical to the Linux build"

echo "== updater.exe under Xvfb"
prog="$tmp/prog" inst="$WINEPREFIX/drive_c/Drums"
mkdir -p "$prog" "$inst"
cp "$win64/updater.exe" "$prog/"
printf 'Drum Kit\r\nThree new sounds.\r\nSoftware\\Maker\\Drums\r\n3\r\nkick.cp8 snare.cp8 notes.txt\r\n' > "$prog/setup.ins"
head -c 20000 /dev/urandom > "$prog/kick.cp8"
printf '\x80\x80\x7f\xff' > "$prog/snare.cp8"
echo "read me" > "$prog/notes.txt"
wine reg add 'HKLM\Software\Maker\Drums' /ve /d 'C:\Drums\drums.exe' /f /reg:64 >/dev/null 2>&1 ||
  fail "reg add"

# Runs updater.exe and answers each box named in turn with its key.
# answer CAPTION KEY [CAPTION KEY ...]
cat > "$tmp/answer.sh" <<'INNER'
#!/usr/bin/env bash
set -u
prog=$1; shift
(cd "$prog" && exec wine updater.exe) > "$prog/../wine.log" 2>&1 &
pid=$!
while [ $# -ge 2 ]; do
  caption=$1 key=$2; shift 2
  done_box=0
  for _ in $(seq 1 240); do
    w=$(xdotool search --name "^${caption}\$" 2>/dev/null | head -n1)
    if [ -n "$w" ]; then
      # No window manager runs: focus the box itself, then type; retry until it is gone.
      for _ in $(seq 1 20); do
        sleep 0.5
        xdotool windowfocus --sync "$w" >/dev/null 2>&1 || true
        xdotool key "$key" >/dev/null 2>&1 || true
        sleep 0.5
        xdotool search --name "^${caption}\$" >/dev/null 2>&1 || { done_box=1; break; }
      done
      break
    fi
    sleep 0.5
  done
  if [ $done_box != 1 ]; then
    echo "box '$caption' not answered; windows:"
    for w in $(xdotool search --name . 2>/dev/null); do echo "  [$(xdotool getwindowname "$w")]"; done
    tail -5 "$prog/../wine.log"
    kill $pid 2>/dev/null; exit 1
  fi
  echo "answered '$caption' with $key"
done
for _ in $(seq 1 60); do kill -0 $pid 2>/dev/null || exit 0; sleep 0.5; done
echo "updater.exe did not exit"; kill $pid; exit 1
INNER
chmod +x "$tmp/answer.sh"
# One X display for every GUI run, and a new wineserver started with it, so
# that the desktop process opens on that display; the server stays up between
# the runs instead of starting Wine over for each.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$tmp/display")
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p
run() { timeout 300 "$tmp/answer.sh" "$prog" "$@"; }

run "Update info:" Return "Ready: " Return || fail "yes run"
[ -f "$prog/kick.wav" ] && [ -f "$prog/snare.wav" ] || fail "converted files next to the sources"
[ "$(stat -c %s "$prog/kick.wav")" -eq $((44 + 40000)) ] || fail "kick.wav size"
cmp -s "$prog/kick.wav" "$inst/kick.wav" || fail "kick.wav not installed"
cmp -s "$prog/snare.wav" "$inst/snare.wav" || fail "snare.wav not installed"
cmp -s "$prog/notes.txt" "$inst/notes.txt" || fail "notes.txt not installed"
[ -z "$(ls "$inst" | grep tmp || true)" ] || fail "temporary copy left behind"
echo "key in the 64-bit view only: three files installed"

rm -f "$inst"/*
run "Update info:" n "Ready: " Return || fail "no run"
[ -z "$(ls "$inst")" ] || fail "the No answer installed files"
echo "no: nothing installed"

# The 32-bit registry view, where 32-bit installers write, is read first.
inst32="$WINEPREFIX/drive_c/Drums32"
mkdir -p "$inst32"
wine reg add 'HKLM\Software\Maker\Drums' /ve /d 'C:\Drums32\drums.exe' /f /reg:32 >/dev/null 2>&1 || fail "reg add 32"
run "Update info:" Return "Ready: " Return || fail "both views run"
cmp -s "$prog/notes.txt" "$inst32/notes.txt" || fail "with the key in both views, the 32-bit view's path"
[ -z "$(ls "$inst")" ] || fail "with the key in both views, the 64-bit view's path was used"
echo "key in both views: the 32-bit view's path"
rm -f "$inst32"/*
wine reg delete 'HKLM\Software\Maker\Drums' /f /reg:64 >/dev/null 2>&1 || fail "reg delete 64"
run "Update info:" Return "Ready: " Return || fail "32-bit view run"
cmp -s "$prog/notes.txt" "$inst32/notes.txt" || fail "key in the 32-bit view only"
echo "key in the 32-bit view only: found"

wine reg delete 'HKLM\Software\Maker\Drums' /f /reg:32 >/dev/null 2>&1 || fail "reg delete"
run " Error:" Return || fail "no error box for the missing key"
echo "missing key: error box shown"
echo "windows deliverables under Wine: ok"
