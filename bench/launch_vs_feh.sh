#!/usr/bin/env bash
# Time from launch to the mapped window, and peak memory (GNU time's maximum
# resident set size), of quillpeek showing a document's thumbnail against
# feh showing the same thumbnail already extracted to a PNG file. Both run
# side by side, alternating, on one Xvfb server started here; each window is
# closed from outside (WM_DELETE_WINDOW) as soon as it is mapped.
#   bench/launch_vs_feh.sh [BUILD_DIR] [DOCUMENT] [RUNS]
# Needs Xvfb, feh, GNU time, python3 and a C compiler with Xlib.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
document=${2:-$root/tests/data/corpus/writer.odt}
runs=${3:-20}
quillpeek=$build/quillpeek

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -o "$work/map_timer" "$root/bench/map_timer.c" -lX11
python3 - "$document" "$work/thumbnail.png" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as document:
    open(sys.argv[2], "wb").write(document.read("Thumbnails/thumbnail.png"))
EOF

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"

# One launch: "MAP_MS EXIT_CODE PEAK_KIB".
launch() {
  local result
  result=$("$work/map_timer" /usr/bin/time -f %M -o "$work/peak" "$@")
  echo "$result $(tail -n1 "$work/peak")"
}

: >"$work/quillpeek.txt"
: >"$work/feh.txt"
for i in $(seq "$runs"); do
  if [ $((i % 2)) -eq 0 ]; then
    SDL_VIDEODRIVER=x11 launch "$quillpeek" "$document" >>"$work/quillpeek.txt"
    launch feh "$work/thumbnail.png" >>"$work/feh.txt"
  else
    launch feh "$work/thumbnail.png" >>"$work/feh.txt"
    SDL_VIDEODRIVER=x11 launch "$quillpeek" "$document" >>"$work/quillpeek.txt"
  fi
done

python3 - "$work/quillpeek.txt" "$work/feh.txt" "$runs" <<'EOF'
import statistics, sys
def load(path):
    rows = [line.split() for line in open(path) if line.strip()]
    return [float(r[0]) for r in rows], [int(r[1]) for r in rows], [int(r[2]) for r in rows]
q_ms, q_rc, q_kib = load(sys.argv[1])
f_ms, f_rc, f_kib = load(sys.argv[2])
print(f"runs: {sys.argv[3]} each, alternating, one Xvfb")
for name, ms, rc, kib in (("quillpeek", q_ms, q_rc, q_kib), ("feh", f_ms, f_rc, f_kib)):
    print(f"{name:10s} launch to mapped window: median {statistics.median(ms):7.2f} ms"
          f" (min {min(ms):.2f}, max {max(ms):.2f});"
          f" peak RSS median {statistics.median(kib)} KiB; exit codes {sorted(set(rc))}")
print(f"ratio quillpeek/feh: time {statistics.median(q_ms) / statistics.median(f_ms):.2f},"
      f" peak memory {statistics.median(q_kib) / statistics.median(f_kib):.2f}")
EOF
