#!/bin/bash
# Whole-process comparison, side by side in one hyperfine run per document:
# the thumbnail taken as the viewing flow takes it (bench_extract_thumbnail:
# XAD_file_unpacker, then XAD_file_grosse) against bsdtar -xOf (the same
# archive library, one walk) and unzip -p (central directory only).
#
# A document without a thumbnail, and the zip of 100,000 plain members, are
# also measured with the program itself.
#
# usage: bench/archive_vs_tools.sh BUILD_DIR [hyperfine options...]
# The generated archives come from bench_archive's cache ($TMPDIR or /tmp,
# folder quillpeek-bench); run bench_archive once first to make them.
#
# bsdtar runs twice: as a user's shell starts it (TZ unset: glibc then reads
# /etc/localtime again for every member's time stamp) and with TZ naming the
# same zone file, as our library sets it for itself; the second is the
# like-for-like comparison of the archive work.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [hyperfine options...]}
shift
here=$(cd "$(dirname "$0")/.." && pwd)
shared=${QUILLPEEK_SHARED_DIR:-$here/../shared}
cache=${TMPDIR:-/tmp}/quillpeek-bench
driver=$build/bench/bench_extract_thumbnail
member=Thumbnails/thumbnail.png
documents=(
  "$here/tests/data/corpus/writer.odt"
  "$cache/big-1gib.zip"
  "$shared/realcorpus/odftoolkit__Presentation3.odp"
  "$cache/members-100000.zip"
)
# What starting each process costs by itself (no document to read): the
# driver links the whole platform as the program does (SDL and libarchive
# are loaded when first needed).
echo "== start-up only"
hyperfine -N --warmup 3 -i "$@" \
  -n quillpeek "$driver /nonexistent" \
  -n bsdtar "bsdtar -xOf /nonexistent $member" \
  -n unzip "unzip -p /nonexistent $member"
# A document without a thumbnail, whole program against unzip -p: the
# corpus text with its Thumbnails/ taken out (the program ends at the
# listing, with its message; DISPLAY unset, as nothing is shown).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/tests/data/corpus/writer.odt" "$work/no-thumbnail.odt"
zip -q -d "$work/no-thumbnail.odt" 'Thumbnails/*'
echo "== $work/no-thumbnail.odt (no thumbnail)"
env -u DISPLAY -u WAYLAND_DISPLAY hyperfine -N --warmup 10 -i "$@" \
  -n quillpeek "$build/quillpeek $work/no-thumbnail.odt" \
  -n unzip "unzip -p $work/no-thumbnail.odt $member"
# The zip of 100,000 plain members, whole program against unzip -p (its
# thumbnail is not a picture: the program reads the archive, tries the
# picture and ends with its message).
parts="$cache/parts-100000.zip"
[ -f "$parts" ] || { echo "missing $parts (run bench_archive once)" >&2; exit 1; }
echo "== $parts (whole program)"
env -u DISPLAY -u WAYLAND_DISPLAY hyperfine -N --warmup 3 -i "$@" \
  -n quillpeek "$build/quillpeek $parts" \
  -n unzip "unzip -p $parts $member"
documents+=("$parts")
for document in "${documents[@]}"; do
  [ -f "$document" ] || { echo "missing $document (run bench_archive once)" >&2; exit 1; }
  # The driver takes the first member whose name contains thumbnail.png; the
  # tools take Thumbnails/thumbnail.png. Say so where those differ.
  cmp -s <("$driver" "$document") <(bsdtar -xOf "$document" "$member") ||
    echo "note: the first member containing thumbnail.png in $document is another one" >&2
  echo "== $document"
  hyperfine -N --warmup 3 "$@" \
    -n quillpeek "$driver '$document'" \
    -n bsdtar "env -u TZ bsdtar -xOf '$document' $member" \
    -n bsdtar-TZ "env TZ=:/etc/localtime bsdtar -xOf '$document' $member" \
    -n unzip "unzip -p '$document' $member"
done
