#!/bin/bash
# The cost of a sketch, as whole processes: quillpeek-thumbnailer drawing the
# sketch of a document whose preview was taken out, against
# gsf-office-thumbnailer (Debian libgsf-bin) showing the same document's
# preview, alternated in one hyperfine run per document; then each one's
# peak memory (/usr/bin/time -v, maximum resident set size).
#
# usage: bench/sketch_vs_gsf.sh BUILD_DIR [hyperfine options...]
# SIZE (default 128) is the thumbnail size both are asked for.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [hyperfine options...]}
shift
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
peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'
}
for document in "${documents[@]}"; do
  name=$(basename "$document")
  bare="$work/bare-$name"
  cp "$document" "$bare"
  # The preview out: the thumbnail member, and an OOXML package's named one.
  zip -q -d "$bare" 'Thumbnails/*' 'docProps/thumbnail.*' >/dev/null 2>&1 || true
  if ! "$ours" -s "$size" "$bare" "$work/check.png" 2>"$work/why"; then
    echo "== $name: no sketch ($(cat "$work/why"))"
    continue
  fi
  echo "== $name (sketch $(identify -format '%wx%h' "$work/check.png" 2>/dev/null || echo drawn))"
  hyperfine -N --warmup 3 "$@" \
    -n "quillpeek-thumbnailer sketch" "$ours -s $size $bare $work/ours.png" \
    -n "gsf-office-thumbnailer preview" "gsf-office-thumbnailer -i $document -o $work/gsf.png -s $size"
  echo "peak RSS KiB: quillpeek-thumbnailer sketch $(peak_kib "$ours" -s "$size" "$bare" "$work/ours.png")," \
    "gsf-office-thumbnailer preview $(peak_kib gsf-office-thumbnailer -i "$document" -o "$work/gsf.png" -s "$size")"
done
