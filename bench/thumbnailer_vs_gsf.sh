#!/bin/bash
# Whole processes, side by side in one hyperfine run per document:
# quillpeek-thumbnailer against gsf-office-thumbnailer (Debian libgsf-bin),
# both making a 128-pixel thumbnail as a file manager asks for one; then each
# one's peak memory (/usr/bin/time -v, maximum resident set size).
#
# usage: bench/thumbnailer_vs_gsf.sh BUILD_DIR [hyperfine options...]
# With QUILLPEEK_BASELINE=PROGRAM, a copy of an earlier quillpeek-thumbnailer
# runs in the same hyperfine runs too, for a before and after side by side.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [hyperfine options...]}
shift
here=$(cd "$(dirname "$0")/.." && pwd)
shared=${QUILLPEEK_SHARED_DIR:-$here/../shared}
ours=$build/thumbnailer/quillpeek-thumbnailer
baseline=${QUILLPEEK_BASELINE:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
documents=("$shared"/corpus/*.od?)
# Two OOXML documents whose preview is a JPEG, when the real corpus is there.
for name in poi__KEY02.pptx poi__Bug51170.docx; do
  [ -f "$shared/realcorpus/$name" ] && documents+=("$shared/realcorpus/$name")
done
peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'
}
# The baseline's commands for hyperfine, when there is one.
baseline_for() {
  [ -n "$baseline" ] && printf '%s\0' -n baseline "$baseline -s 128 $1 $work/baseline.png"
  return 0
}
echo "== start-up only (no such document)"
mapfile -d '' extra < <(baseline_for /nonexistent)
hyperfine -N --warmup 3 -i "$@" \
  -n quillpeek-thumbnailer "$ours -s 128 /nonexistent $work/ours.png" "${extra[@]}" \
  -n gsf-office-thumbnailer "gsf-office-thumbnailer -i /nonexistent -o $work/gsf.png -s 128"
for document in "${documents[@]}"; do
  echo "== $(basename "$document")"
  mapfile -d '' extra < <(baseline_for "$document")
  hyperfine -N --warmup 3 "$@" \
    -n quillpeek-thumbnailer "$ours -s 128 $document $work/ours.png" "${extra[@]}" \
    -n gsf-office-thumbnailer "gsf-office-thumbnailer -i $document -o $work/gsf.png -s 128"
  echo "peak RSS KiB: quillpeek-thumbnailer $(peak_kib "$ours" -s 128 "$document" "$work/ours.png")," \
    ${baseline:+"baseline $(peak_kib "$baseline" -s 128 "$document" "$work/baseline.png"),"} \
    "gsf-office-thumbnailer $(peak_kib gsf-office-thumbnailer -i "$document" -o "$work/gsf.png" -s 128)"
done
