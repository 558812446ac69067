#!/usr/bin/env bash
# Time from launch to the mapped window, and peak memory (GNU time's maximum
# resident set size), of quillpeek showing a document's thumbnail against
# feh showing the same thumbnail already extracted to a PNG file. Both run
# side by side, alternating, on one Xvfb server started here; each window is
# closed from outside (WM_DELETE_WINDOW) as soon as it is mapped.
#   bench/launch_vs_feh.sh [--floor] [BUILD_DIR] [DOCUMENT] [RUNS] [BASELINE_BUILD_DIR]
# With BASELINE_BUILD_DIR, that build's quillpeek is measured in the same
# rotation, for the gain of a change. With --floor, so is bench/sdl_floor.c:
# SDL2 loaded and a window of the picture's size opened, nothing else, the
# least any launch on SDL costs.
# Needs Xvfb, feh, GNU time, python3 and a C compiler with Xlib.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
floor=
if [ "${1:-}" = --floor ]; then
  floor=1
  shift
fi
build=${1:-$root/build}
document=${2:-$root/tests/data/corpus/writer.odt}
runs=${3:-20}
baseline=${4:-}
quillpeek=$build/quillpeek

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -o "$work/map_timer" "$root/bench/map_timer.c" -lX11
if [ -n "$floor" ]; then
  cc -O2 -o "$work/sdl_floor" "$root/bench/sdl_floor.c" $(pkg-config --cflags sdl2) -ldl
fi
python3 - "$document" "$work/thumbnail.png" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as document:
    png = document.read("Thumbnails/thumbnail.png")
    open(sys.argv[2], "wb").write(png)
    open(sys.argv[2] + ".size", "w").write(f"{int.from_bytes(png[16:20], 'big')} {int.from_bytes(png[20:24], 'big')}\n")
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

# The programs measured, each with its own results file; the order of the
# launches rotates every run so that none always goes first.
names=(quillpeek feh)
if [ -n "$baseline" ]; then names+=(baseline); fi
if [ -n "$floor" ]; then names+=(floor); fi
read -r width height <"$work/thumbnail.png.size"
launch_one() {
  case "$1" in
    quillpeek) SDL_VIDEODRIVER=x11 launch "$quillpeek" "$document" ;;
    baseline) SDL_VIDEODRIVER=x11 launch "$baseline/quillpeek" "$document" ;;
    feh) launch feh "$work/thumbnail.png" ;;
    floor) SDL_VIDEODRIVER=x11 launch "$work/sdl_floor" "$width" "$height" ;;
  esac
}
for name in "${names[@]}"; do : >"$work/$name.txt"; done
for i in $(seq "$runs"); do
  count=${#names[@]}
  for k in $(seq 0 $((count - 1))); do
    name=${names[$(((i + k) % count))]}
    launch_one "$name" >>"$work/$name.txt"
  done
done

python3 - "$work" "$runs" "${names[@]}" <<'EOF'
import statistics, sys
def load(path):
    rows = [line.split() for line in open(path) if line.strip()]
    return [float(r[0]) for r in rows], [int(r[1]) for r in rows], [int(r[2]) for r in rows]
work, runs, names = sys.argv[1], sys.argv[2], sys.argv[3:]
results = {name: load(f"{work}/{name}.txt") for name in names}
print(f"runs: {runs} each, alternating, one Xvfb")
for name in names:
    ms, rc, kib = results[name]
    print(f"{name:10s} launch to mapped window: median {statistics.median(ms):7.2f} ms"
          f" (min {min(ms):.2f}, max {max(ms):.2f});"
          f" peak RSS median {statistics.median(kib)} KiB; exit codes {sorted(set(rc))}")
f_ms, _, f_kib = results["feh"]
for name in names:
    if name != "feh":
        ms, _, kib = results[name]
        print(f"ratio {name}/feh: time {statistics.median(ms) / statistics.median(f_ms):.2f},"
              f" peak memory {statistics.median(kib) / statistics.median(f_kib):.2f}")
EOF
