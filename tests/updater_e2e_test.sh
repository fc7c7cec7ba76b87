#!/usr/bin/env bash
# The real Linux updater in a temporary directory: setup.ins, sample files and a
# .reg file beside it; answered yes, then no, then with the key missing.
set -euo pipefail
updater=$1
run=${QUV3_EMULATOR:-}  # what runs the program in a cross build
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prog="$tmp/prog"; inst="$tmp/installed"
mkdir -p "$prog" "$inst"
cp "$updater" "$prog/updater"
printf 'Drum Kit\r\nThree new sounds.\r\nSoftware\\Maker\\Drums\r\n3\r\nkick.cp8 snare.cp8 notes.txt\r\n' > "$prog/setup.ins"
head -c 20000 /dev/urandom > "$prog/kick.cp8"
printf '\x80\x80\x7f\xff' > "$prog/snare.cp8"
echo "read me" > "$prog/notes.txt"
# A version 5 export is UTF-16LE with a byte-order mark.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker\\Drums]\r\n@="%s/drums.exe"\r\n' \
  "$inst" | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$tmp/drums.reg"

fail() { echo "FAIL: $*"; exit 1; }

out=$(UPDATER_REGISTRY="$tmp/drums.reg" UPDATER_ANSWER=yes $run "$prog/updater" < /dev/null)
echo "$out"
grep -q '^\[Update info:\]$' <<<"$out" || fail "no confirmation box"
grep -q '^Three new sounds\.$' <<<"$out" || fail "confirmation text"
grep -q '^ Do you want to continue ?$' <<<"$out" || fail "confirmation question"
grep -q '^\[Ready: \]$' <<<"$out" || fail "no result box"
grep -q '^ 3 files have been installed\.$' <<<"$out" || fail "count"
[ -f "$prog/kick.wav" ] && [ -f "$prog/snare.wav" ] || fail "converted files next to the sources"
[ "$(stat -c %s "$prog/kick.wav")" -eq $((44 + 40000)) ] || fail "kick.wav size"
cmp -s "$prog/kick.wav" "$inst/kick.wav" || fail "kick.wav copied"
cmp -s "$prog/notes.txt" "$inst/notes.txt" || fail "notes.txt copied"
[ "$(od -An -tx1 -j44 "$inst/snare.wav" | tr -d ' \n')" = "000101ff0001817f" ] || fail "snare samples"
ls "$inst" | grep -q updater- && fail "temporary copy left behind"

rm -f "$inst"/*
out=$(UPDATER_REGISTRY="$tmp/drums.reg" UPDATER_ANSWER=no $run "$prog/updater" < /dev/null)
grep -q '^ 0 files have been installed\.$' <<<"$out" || fail "no answer: count"
[ -z "$(ls "$inst")" ] || fail "no answer copied files"

out=$(UPDATER_REGISTRY="$tmp/none.reg" $run "$prog/updater" < /dev/null)
grep -q '^\[ Error:\]$' <<<"$out" || fail "error box caption"
grep -q '^Drum Kit is not installed on this computer\. $' <<<"$out" || fail "error text"
echo "updater end to end: ok"
