#!/bin/bash
# Whole processes, alternated in one run per document: quillpeek-thumbnailer
# against gsf-office-thumbnailer (Debian libgsf-bin), both making a 128-pixel
# thumbnail as a file manager asks for one. Each round starts every program
# once, in turn (the first of the round changing from round to round), so
# that a machine busy with other work weighs on all of them alike. Each
# start is timed from spawn to exit, with its CPU time from the kernel's
# account of the child (wait4). Peak resident size comes from /usr/bin/time
# (the largest of three runs): a child spawned from the driver itself would
# count the driver's own size.
#
# usage: bench/thumbnailer_vs_gsf.sh BUILD_DIR [--real] [-r ROUNDS] [-w WARMUP]
#   the five corpus documents of tests/data/corpus, and two OOXML documents
#   whose preview is a JPEG when the real corpus is there;
#   --real  every document of the real corpus of which both programs make a
#           thumbnail (found by one run of each first), instead.
# With QUILLPEEK_BASELINE=PROGRAM, a copy of an earlier quillpeek-thumbnailer
# runs in the same rounds too, for a before and after side by side.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [--real] [-r ROUNDS] [-w WARMUP]}
shift
real=no rounds=30 warmup=3
while [ $# -gt 0 ]; do
  case "$1" in
    --real) real=yes ;;
    -r) rounds=$2; shift ;;
    -w) warmup=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
here=$(cd "$(dirname "$0")/.." && pwd)
shared=${QUILLPEEK_SHARED_DIR:-$here/../shared}
ours=$(cd "$build" && pwd)/thumbnailer/quillpeek-thumbnailer
baseline=${QUILLPEEK_BASELINE:-}
gsf=$(command -v gsf-office-thumbnailer) || { echo "gsf-office-thumbnailer is not installed" >&2; exit 1; }
[ -x "$ours" ] || { echo "$ours is not built" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Whether the file is a PNG picture (its signature and a header).
is_png() {
  [ -s "$1" ] && [ "$(head -c 16 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a0000000d49484452" ]
}

documents=()
if [ "$real" = yes ]; then
  [ -d "$shared/realcorpus" ] || { echo "no real corpus at $shared/realcorpus" >&2; exit 1; }
  for document in "$shared"/realcorpus/*; do
    case "$document" in *.tsv | *.md | *.txt) continue ;; esac
    rm -f "$work/gsf.png" "$work/ours.png"
    timeout 20 "$gsf" -i "$document" -o "$work/gsf.png" -s 128 >/dev/null 2>&1 || true
    timeout 20 "$ours" -s 128 "$document" "$work/ours.png" >/dev/null 2>&1 || true
    is_png "$work/gsf.png" && is_png "$work/ours.png" && documents+=("$document")
  done
else
  documents=("$here"/tests/data/corpus/*.od?)
  for name in poi__KEY02.pptx poi__Bug51170.docx; do
    [ -f "$shared/realcorpus/$name" ] && documents+=("$shared/realcorpus/$name")
  done
fi

printf '%s\n' "${documents[@]}" >"$work/documents"
python3 - "$work" "$rounds" "$warmup" "$ours" "$gsf" "$baseline" <<'EOF'
import os, statistics, sys, time

work, rounds, warmup, ours, gsf, baseline = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), *sys.argv[4:7]
documents = open(os.path.join(work, "documents")).read().split("\n")[:-1]
null = os.open(os.devnull, os.O_WRONLY)
quiet = [(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)]

def commands(document):
    made = [("quillpeek-thumbnailer", [ours, "-s", "128", document, os.path.join(work, "ours.png")])]
    if baseline:
        made.append(("baseline", [baseline, "-s", "128", document, os.path.join(work, "baseline.png")]))
    made.append(("gsf-office-thumbnailer", [gsf, "-i", document, "-o", os.path.join(work, "gsf.png"), "-s", "128"]))
    return made

def start(argv):
    """Wall ms and CPU ms of one run of argv."""
    began = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=quiet)
    _, _, usage = os.wait4(pid, 0)
    wall = (time.perf_counter() - began) * 1e3
    return wall, (usage.ru_utime + usage.ru_stime) * 1e3

def peak_kib(argv):
    """The largest peak resident size of three runs of argv, in KiB."""
    peaks = []
    for _ in range(3):
        report = os.path.join(work, "peak")
        timed = ["/usr/bin/time", "-f", "%M", "-o", report] + argv
        _, _, _ = os.wait4(os.posix_spawn(timed[0], timed, os.environ, file_actions=quiet), 0)
        peaks.append(int(open(report).read().split()[-1]))
    return max(peaks)

rows = []
for document in documents:
    runs = commands(document)
    results = {name: [] for name, _ in runs}
    for round in range(warmup + rounds):
        shift = round % len(runs)
        for name, argv in runs[shift:] + runs[:shift]:
            measured = start(argv)
            if round >= warmup:
                results[name].append(measured)
    rows.append((os.path.basename(document), results, {name: peak_kib(argv) for name, argv in runs}))

def mean(values, index):
    return statistics.fmean(v[index] for v in values)

names = [name for name, _ in commands("")]
print(f"{rounds} rounds, {warmup} warm-up rounds; mean wall ms (sd), mean CPU ms, peak KiB")
print("| document | " + " | ".join(f"{n} ms (sd) | CPU | peak KiB" for n in names) + " | time ratio | peak ratio |")
print("|---" * (3 * len(names) + 3) + "|")
ratios, medians, cpus, peaks = [], [], [], []
for document, results, peak_of in rows:
    cells = []
    for name in names:
        r = results[name]
        cells.append(f"{mean(r, 0):.2f} ({statistics.stdev(v[0] for v in r):.2f}) | {mean(r, 1):.2f} | "
                     f"{peak_of[name]}")
    ratio = mean(results[names[0]], 0) / mean(results[names[-1]], 0)
    peak = peak_of[names[0]] / peak_of[names[-1]]
    ratios.append(ratio)
    medians.append(statistics.median(v[0] for v in results[names[0]]) /
                   statistics.median(v[0] for v in results[names[-1]]))
    cpus.append(mean(results[names[0]], 1) / mean(results[names[-1]], 1))
    peaks.append(peak)
    print(f"| {document} | " + " | ".join(cells) + f" | {ratio:.2f} | {peak:.2f} |")
print(f"\n{len(rows)} documents: time ratio mean {statistics.fmean(ratios):.3f}, "
      f"geometric mean {statistics.geometric_mean(ratios):.3f}, highest {max(ratios):.3f}, "
      f"above 0.5: {sum(r > 0.5 for r in ratios)}; "
      f"peak ratio highest {max(peaks):.3f}, above 1: {sum(p > 1 for p in peaks)}")
print(f"median wall time ratio: mean {statistics.fmean(medians):.3f}, highest {max(medians):.3f}, "
      f"above 0.5: {sum(r > 0.5 for r in medians)}; "
      f"CPU time ratio: mean {statistics.fmean(cpus):.3f}, highest {max(cpus):.3f}, "
      f"above 0.5: {sum(r > 0.5 for r in cpus)}")
EOF
