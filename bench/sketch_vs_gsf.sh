#!/bin/bash
# The cost of a sketch, as whole processes: quillpeek-thumbnailer drawing the
# sketch of a document whose preview was taken out, against
# gsf-office-thumbnailer (Debian libgsf-bin) showing the same document's
# preview, run in turn (bench/alternate.py: one run of each per round, so
# that the machine's drift falls on both alike) for ROUNDS rounds per
# document; then each one's peak memory (/usr/bin/time -v, maximum resident
# set size, the largest of five runs).
#
# usage: bench/sketch_vs_gsf.sh BUILD_DIR [ROUNDS [DOCUMENT...]]
# DOCUMENTs, when given, are measured instead of the five below.
# SIZE (default 128) is the thumbnail size both are asked for.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [ROUNDS]}
rounds=${2:-100}
shift $(($# < 2 ? $# : 2))
here=$(cd "$(dirname "$0")/.." && pwd)
shared=${QUILLPEEK_SHARED_DIR:-$here/../shared}
size=${SIZE:-128}
ours=$build/thumbnailer/quillpeek-thumbnailer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
documents=("$here"/tests/data/corpus/calc.ods "$here"/tests/data/corpus/impress.odp
  "$here"/tests/data/corpus/writer.odt)
for name in poi__KEY02.pptx poi__Bug51170.docx; do
  [ -f "$shared/realcorpus/$name" ] && documents+=("$shared/realcorpus/$name")
done
[ $# -eq 0 ] || documents=("$@")
peak_kib() {
  for _ in 1 2 3 4 5; do
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'
  done | sort -n | tail -1
}
for document in "${documents[@]}"; do
  name=$(basename "$document")
  # Copies without spaces: the runner splits its commands on them.
  whole="$work/whole-${name// /_}"
  bare="$work/bare-${name// /_}"
  cp "$document" "$whole"
  cp "$document" "$bare"
  # The preview out: the thumbnail member, and an OOXML package's named one.
  zip -q -d "$bare" 'Thumbnails/*' 'docProps/thumbnail.*' >/dev/null 2>&1 || true
  if ! "$ours" -s "$size" "$bare" "$work/check.png" 2>"$work/why"; then
    echo "== $name: no sketch ($(cat "$work/why"))"
    continue
  fi
  echo "== $name (sketch $(identify -format '%wx%h' "$work/check.png" 2>/dev/null || echo drawn))"
  "$here/bench/alternate.py" -r "$rounds" -- "$ours -s $size $bare $work/ours.png" \
    "gsf-office-thumbnailer -i $whole -o $work/gsf.png -s $size"
  echo "peak RSS KiB: quillpeek-thumbnailer sketch $(peak_kib "$ours" -s "$size" "$bare" "$work/ours.png")," \
    "gsf-office-thumbnailer preview $(peak_kib gsf-office-thumbnailer -i "$whole" -o "$work/gsf.png" -s "$size")"
done
