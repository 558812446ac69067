#!/usr/bin/env python3
"""Times whole commands run in turn, one run of each per round, so that the
machine's drift (other work, frequency, caches) falls on all of them alike;
hyperfine runs each command's runs together instead. Every other round runs
them in the reverse order. Prints each command's median and quartiles of
wall time, its median's ratio to the first's, and the median of its ratios
to the first within each round: the figure that a slow spell of the machine,
which lengthens a round's runs alike, moves least.

usage: bench/alternate.py [-r ROUNDS] [-w WARMUP] -- 'command 1' 'command 2' ...
Each command is split on spaces (no shell) and its output discarded."""
import argparse
import os
import statistics
import time


def run_once(argv):
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        start = time.perf_counter_ns()
        pid = os.posix_spawnp(argv[0], argv, os.environ,
                              file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1),
                                            (os.POSIX_SPAWN_DUP2, devnull, 2)])
        _, status = os.waitpid(pid, 0)
        elapsed = time.perf_counter_ns() - start
    finally:
        os.close(devnull)
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("failed: " + " ".join(argv))
    return elapsed / 1e6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-r", "--rounds", type=int, default=100)
    parser.add_argument("-w", "--warmup", type=int, default=5)
    parser.add_argument("commands", nargs="+")
    options = parser.parse_args()
    commands = [command.split() for command in options.commands]
    times = [[] for _ in commands]
    for round_number in range(options.warmup + options.rounds):
        order = list(enumerate(commands))
        if round_number % 2:
            order.reverse()
        for index, argv in order:
            elapsed = run_once(argv)
            if round_number >= options.warmup:
                times[index].append(elapsed)
    first = statistics.median(times[0])
    for command, measured in zip(options.commands, times):
        q1, median, q3 = statistics.quantiles(measured, n=4)
        paired = statistics.median(a / b for a, b in zip(measured, times[0]))
        print(f"{median:7.2f} ms median ({q1:.2f}..{q3:.2f}), {median / first:5.2f}x,"
              f" {paired:5.2f}x by rounds  {command}")


if __name__ == "__main__":
    main()
