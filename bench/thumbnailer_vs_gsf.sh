#!/bin/bash
# Whole processes, side by side in one hyperfine run per document:
# quillpeek-thumbnailer against gsf-office-thumbnailer (Debian libgsf-bin),
# both making a 128-pixel thumbnail as a file manager asks for one; then each
# one's peak memory (/usr/bin/time -v, maximum resident set size).
#
# usage: bench/thumbnailer_vs_gsf.sh BUILD_DIR [hyperfine options...]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [hyperfine options...]}
shift
here=$(cd "$(dirname "$0")/.." && pwd)
shared=${QUILLPEEK_SHARED_DIR:-$here/../shared}
ours=$build/thumbnailer/quillpeek-thumbnailer
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
echo "== start-up only (no such document)"
hyperfine -N --warmup 3 -i "$@" \
  -n quillpeek-thumbnailer "$ours -s 128 /nonexistent $work/ours.png" \
  -n gsf-office-thumbnailer "gsf-office-thumbnailer -i /nonexistent -o $work/gsf.png -s 128"
for document in "${documents[@]}"; do
  echo "== $(basename "$document")"
  hyperfine -N --warmup 3 "$@" \
    -n quillpeek-thumbnailer "$ours -s 128 $document $work/ours.png" \
    -n gsf-office-thumbnailer "gsf-office-thumbnailer -i $document -o $work/gsf.png -s 128"
  echo "peak RSS KiB: quillpeek-thumbnailer $(peak_kib "$ours" -s 128 "$document" "$work/ours.png")," \
    "gsf-office-thumbnailer $(peak_kib gsf-office-thumbnailer -i "$document" -o "$work/gsf.png" -s 128)"
done
