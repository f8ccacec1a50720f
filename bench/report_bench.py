#!/usr/bin/env python3
"""Times zerkareport on generated logs: reading and merging two large logs, then each output.

usage: report_bench.py ZERKAREPORT [--reps N] [--scale F] [--out RESULTS.md]

ZERKAREPORT is a Release build of the native program (build/linux-release/bin/zerkareport).
Two cases, each two logs of one program merged: "wide" (100,000 files of 100 lines, five
functions each: 10 million lines) and "one file" (one file of 1,000,000 lines and 100,000
functions, the case that was quadratic). The second log spells every path in upper case and
reaches other lines, so that every file and function is merged. The figures go into their own
section of bench/RESULTS.md (run.py keeps it when it rewrites the file).
"""
import argparse
import datetime
import os
import platform
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
START = "<!-- zerkareport bench: written by bench/report_bench.py -->"
END = "<!-- end of zerkareport bench -->"
OUTPUTS = {
    "summary": lambda work: ["--summary"],
    "lcov": lambda work: ["--lcov", f"{work}/out.info"],
    "cobertura": lambda work: ["--cobertura", f"{work}/out.xml"],
    "sonar": lambda work: ["--sonar", f"{work}/out.sonar.xml"],
}


def statuses(count, length, seed):
    """A pool of status strings: most lines with code, a third of those reached."""
    rng = random.Random(seed)
    return ["".join(rng.choice("00111133") for _ in range(length)) for _ in range(count)]


def write_log(path, files, lines, functions, upper, seed):
    """`files` blocks of `lines` lines, each with `functions` F records evenly spread."""
    pool = statuses(64, lines, seed)
    step = max(1, lines // max(1, functions))
    with open(path, "w", newline="\n") as out:
        out.write(f"Hbench.exe run {seed}\nH2026/03/14 09:26:53\n")
        for f in range(files):
            folder = f"c:\\bench\\src\\d{f // 100:04d}\\"
            name = f"unit_{f:06d}.c"
            if upper:
                folder, name = folder.upper(), name.upper()
            out.write(f"D{folder}\nN{lines},{name}\n")
            out.write("".join(f"F{k * step},function_{k}\n" for k in range(functions)))
            out.write(f"S{pool[(f * 7 + seed) % len(pool)]}\n")


def run(cmd, stdout):
    """Wall seconds and peak resident bytes of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    errors = child.stderr.read().decode(errors="replace")
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(cmd)} failed: {errors}")
    return wall, usage.ru_maxrss * 1024


def measure(program, work, logs, reps):
    rows = {}
    for output, options in OUTPUTS.items():
        walls, peaks = [], []
        for _ in range(reps):
            with open(os.devnull, "w") as null:
                wall, peak = run([program] + options(work) + logs, null)
            walls.append(wall)
            peaks.append(peak)
        size = 0
        if output != "summary":
            size = os.path.getsize(options(work)[1])
            os.remove(options(work)[1])
        rows[output] = {"wall": statistics.median(walls), "spread": max(walls) - min(walls),
                        "peak": max(peaks), "size": size}
    return rows


def section(results, reps, program, made):
    text = [START, "", "## zerkareport: reading, merging and writing large logs", "",
            f"Made by `make bench` (bench/report_bench.py) on {made} UTC, {os.cpu_count()} cores, "
            f"{platform.platform()}; `{program}` (Release); {reps} runs each, median (spread "
            "max-min). Each case is two generated logs of one program merged (the second spells "
            "every path in upper case and reaches other lines); every run reads, merges and "
            "writes one output. Peak memory: the process's peak resident size (wait4 "
            "ru_maxrss). Per million lines and bytes per line count the lines of the merged "
            "coverage (each log holds as many).", "",
            "| case | files | lines | functions | output | seconds | s per million lines "
            "| peak MiB | bytes per line | output MiB |",
            "|---|---|---|---|---|---|---|---|---|---|"]
    for case in results:
        millions = case["lines"] / 1e6
        for output, row in case["rows"].items():
            text.append(
                f"| {case['name']} | {case['files']:,} | {case['lines']:,} | "
                f"{case['functions']:,} | {output} | {row['wall']:.2f} ({row['spread']:.2f}) | "
                f"{row['wall'] / millions:.3f} | {row['peak'] / 2**20:.0f} | "
                f"{row['peak'] / case['lines']:.0f} | "
                f"{row['size'] / 2**20:.0f} |")
    text += ["", END]
    return "\n".join(text) + "\n"


def section_of(path):
    """The section as it stands in `path`, or an empty text."""
    try:
        with open(path) as f:
            text = f.read()
    except OSError:
        return ""
    start, end = text.find(START), text.find(END)
    return text[start:end + len(END)] + "\n" if start >= 0 and end > start else ""


def splice(text, new_section):
    """`text` with its section replaced by `new_section` (appended when it has none)."""
    start, end = text.find(START), text.find(END)
    if start >= 0 and end > start:
        return text[:start] + new_section + text[end + len(END) + 1:]
    return text.rstrip("\n") + "\n\n" + new_section if new_section else text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0, help="fewer files, for a check")
    parser.add_argument("--work", default="build/bench-report")
    parser.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    cases = [("wide", int(100_000 * args.scale), 100, 5),
             ("one file", 1, int(1_000_000 * args.scale), int(100_000 * args.scale))]
    results = []
    for name, files, lines, functions in cases:
        print(f"{name}: generating...", flush=True)
        logs = []
        for seed, upper in ((1, False), (2, True)):
            log = f"{work}/{name.replace(' ', '_')}_{seed}.log"
            write_log(log, files, lines, functions, upper, seed)
            logs.append(log)
        print(f"{name}: measuring...", flush=True)
        results.append({"name": name, "files": files, "lines": files * lines,
                        "functions": files * functions,
                        "rows": measure(program, work, logs, args.reps)})
        for log in logs:
            os.remove(log)
    made = f"{datetime.datetime.utcnow():%Y-%m-%d %H:%M}"
    new_section = section(results, args.reps, os.path.relpath(program), made)
    try:
        with open(args.out) as f:
            text = f.read()
    except OSError:
        text = ""
    with open(args.out, "w") as f:
        f.write(splice(text, new_section))
    print(new_section)


if __name__ == "__main__":
    main()
