#!/usr/bin/env python3
"""Benchmarks zerkacmd against the program's own run and gcc's --coverage instrumentation.

usage: run.py BUILD_DIR [--reps N] [--quick] [--only SCENARIO...]

BUILD_DIR is the x86_64 build (build/x64). Programs are generated and built under
BUILD_DIR/bench/; the figures go to bench/RESULTS.md. Every scenario runs at its size and at
twice its size, the variants of one repetition interleaved so that machine noise hits all alike.
"""
import argparse
import concurrent.futures
import datetime
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gen  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
TRIPLE = "x86_64-w64-mingw32"
SIZES = {"hot": 200, "wide": 100_000, "big": 1_000_000, "dlls": 200}
QUICK = {"hot": 200, "wide": 10_000, "big": 100_000, "dlls": 20}
# Requests that only a debugger makes; counted in the wineserver's trace.
DEBUG_REQUESTS = ["read_process_memory", "write_process_memory", "get_thread_context",
                  "set_thread_context", "queue_apc", "wait_debug_event", "continue_debug_event"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def libgcc_dir():
    return os.path.dirname(subprocess.check_output(
        [f"{TRIPLE}-gcc", "-print-libgcc-file-name"], text=True).strip())


def build(scenario, size, root):
    """Builds the PDB variant (clang + lld) and the --coverage variant (mingw gcc)."""
    layout = gen.GENERATORS[scenario](size, root)
    src = f"{root}/src"
    pdb, gcov = f"{root}/pdb", f"{root}/gcov"
    os.makedirs(pdb, exist_ok=True)
    os.makedirs(gcov, exist_ok=True)
    clang = ["clang", f"--target={TRIPLE}", "-g", "-gcodeview", "-O0", "-fuse-ld=lld",
             f"-L{libgcc_dir()}", f"-fdebug-prefix-map={os.path.abspath(src)}={windows_path(src)}"]
    gcc = [f"{TRIPLE}-gcc", "-O0", "--coverage"]
    jobs = []
    for dll in layout["dlls"]:
        jobs.append(clang + ["-shared", f"{src}/{dll}.c", "-o", f"{pdb}/{dll}.dll",
                             f"-Wl,--pdb={pdb}/{dll}.pdb", f"-Wl,--out-implib,{pdb}/{dll}.lib"])
        jobs.append(gcc + ["-shared", f"{src}/{dll}.c", "-o", f"{gcov}/{dll}.dll",
                           f"-Wl,--out-implib,{gcov}/lib{dll}.a"])
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        for result in pool.map(lambda cmd: subprocess.run(cmd, capture_output=True, text=True),
                               jobs):
            if result.returncode != 0:
                sys.exit(result.stderr)
    units = [f"{src}/{u}.c" for u in layout["units"]]
    imports = [f"{pdb}/{d}.lib" for d in layout["dlls"]] if layout.get("link_dlls") else []
    gimports = [f"{gcov}/lib{d}.a" for d in layout["dlls"]] if layout.get("link_dlls") else []
    exe = layout["exe"]
    subprocess.run(clang + units + imports + ["-o", f"{pdb}/{exe}.exe",
                                              f"-Wl,--pdb={pdb}/{exe}.pdb"], check=True)
    subprocess.run(gcc + units + gimports + ["-o", f"{gcov}/{exe}.exe"], check=True,
                   cwd=gcov)
    return {"pdb": f"{pdb}/{exe}.exe", "gcov": f"{gcov}/{exe}.exe", "src": src}


class PeakMemory(threading.Thread):
    """Samples the high-water mark of zerkacmd's resident memory while it runs."""

    def __init__(self):
        super().__init__(daemon=True)
        self.peak_kib = 0
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as f:
                        if b"zerkacmd.exe" not in f.read():
                            continue
                    with open(f"/proc/{pid}/status") as f:
                        hwm = re.search(r"VmHWM:\s+(\d+)", f.read())
                    if hwm:
                        self.peak_kib = max(self.peak_kib, int(hwm.group(1)))
                except OSError:
                    pass
            self.stop.wait(0.05)


def run_once(cmd, cwd, env):
    """Wall time, the program's start-up (to its first line) and zerkacmd's peak memory."""
    for name in os.listdir(cwd):
        if name.endswith(".log") or name.endswith(".gcda"):
            os.remove(os.path.join(cwd, name))
    sampler = PeakMemory()
    sampler.start()
    start_filetime = int(time.time() * 10_000_000) + 116444736000000000
    start = time.perf_counter()
    result = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True,
                            errors="replace")
    wall = time.perf_counter() - start
    sampler.stop.set()
    sampler.join()
    if result.returncode != 0:
        sys.exit(f"{cmd} failed with {result.returncode}:\n{result.stdout}\n{result.stderr}")
    stamp = re.search(r"first-line (\d+)", result.stdout + result.stderr)
    first_line = (int(stamp.group(1)) - start_filetime) / 1e7 if stamp else float("nan")
    logs = [n for n in os.listdir(cwd) if n.endswith(".log")]
    status = ""
    if logs:
        with open(os.path.join(cwd, logs[0])) as f:
            status = "".join(line[1:].strip() for line in f if line.startswith("S"))
    return {"wall": wall, "first_line": first_line, "peak_kib": sampler.peak_kib,
            "planted": status.count("1") + status.count("3"), "hit": status.count("3")}


def server_counts(cmd, cwd, prefix):
    """Runs once under a tracing wineserver and counts the debugger's requests by name."""
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    subprocess.run([WINESERVER, "-k"], env=env, capture_output=True)
    time.sleep(0.5)
    trace_path = os.path.join(cwd, "server.trace")
    with open(trace_path, "w") as trace:
        server = subprocess.Popen([WINESERVER, "-f", "-d1"], env=env, stdout=trace,
                                  stderr=trace, stdin=subprocess.DEVNULL)
        time.sleep(0.5)
        subprocess.run(cmd, cwd=cwd, env=env, capture_output=True)
        subprocess.run([WINESERVER, "-k"], env=env, capture_output=True)
        server.wait()
    counts = dict.fromkeys(DEBUG_REQUESTS, 0)
    with open(trace_path, errors="replace") as trace:
        for line in trace:
            found = re.match(r"^[0-9a-f]+: ([a-z_]+)\(", line)
            if found and found.group(1) in counts:
                counts[found.group(1)] += 1
    os.remove(trace_path)
    start_server(prefix)
    return counts


def start_server(prefix):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE, "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def median_spread(values):
    return statistics.median(values), max(values) - min(values)


def measure(scenario, size, build_dir, reps, prefix):
    root = os.path.join(build_dir, "bench", f"{scenario}-{size}")
    shutil.rmtree(root, ignore_errors=True)
    made = build(scenario, size, root)
    src = windows_path(made["src"]) + "\\"
    nowhere = windows_path(os.path.join(root, "nowhere")) + "\\"
    pdb_dir, gcov_dir = os.path.dirname(made["pdb"]), os.path.dirname(made["gcov"])
    exe, gexe = windows_path(made["pdb"]), windows_path(made["gcov"])
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    variants = {
        "native": ([WINE, exe], pdb_dir),
        "floor": ([WINE, os.path.join(build_dir, "bin", "zerkacmd.exe"), "-s", nowhere, exe],
                  pdb_dir),
        "full": ([WINE, os.path.join(build_dir, "bin", "zerkacmd.exe"), "-s", src, exe], pdb_dir),
        "gcov": ([WINE, gexe], gcov_dir),
        # the same runs with nothing but main executed: what planting alone costs
        "native-none": ([WINE, exe, "none"], pdb_dir),
        "floor-none": ([WINE, os.path.join(build_dir, "bin", "zerkacmd.exe"), "-s", nowhere, exe,
                        "none"], pdb_dir),
        "full-none": ([WINE, os.path.join(build_dir, "bin", "zerkacmd.exe"), "-s", src, exe,
                       "none"], pdb_dir),
    }
    samples = {name: [] for name in variants}
    for _ in range(reps):
        for name, (cmd, cwd) in variants.items():
            samples[name].append(run_once(cmd, cwd, env))
    counts = server_counts(variants["full"][0], pdb_dir, prefix)
    counts_none = server_counts(variants["full-none"][0], pdb_dir, prefix)
    return {"scenario": scenario, "size": size, "samples": samples, "counts": counts,
            "counts_none": counts_none}


def summarise(result):
    s = result["samples"]
    wall = {name: median_spread([r["wall"] for r in runs]) for name, runs in s.items()}
    full = s["full"][0]
    planted, hits = full["planted"], full["hit"]
    hits_none = s["full-none"][0]["hit"]
    plant_time = wall["full-none"][0] - wall["floor-none"][0]
    hit_time = (wall["full"][0] - wall["full-none"][0]) - (wall["native"][0] -
                                                           wall["native-none"][0])
    peak = statistics.median(r["peak_kib"] for r in s["full"])
    floor_peak = statistics.median(r["peak_kib"] for r in s["floor"])
    c, cn = result["counts"], result["counts_none"]
    per = {}
    for req in DEBUG_REQUESTS:
        per[req] = ((cn[req] / planted if planted else 0.0),
                    ((c[req] - cn[req]) / (hits - hits_none) if hits > hits_none else 0.0))
    return {"wall": wall, "planted": planted, "hits": hits, "plant_us": plant_time / planted * 1e6
            if planted else float("nan"), "hit_us": hit_time / (hits - hits_none) * 1e6
            if hits > hits_none else float("nan"),
            "first_line": statistics.median(r["first_line"] for r in s["full"]),
            "first_line_native": statistics.median(r["first_line"] for r in s["native"]),
            "bytes_per_line": (peak - floor_peak) * 1024 / planted if planted else float("nan"),
            "per_call": per, "counts": c}


def report(results, reps):
    lines = ["# Benchmarks", "",
             f"Made by `make bench` on {datetime.date.today().isoformat()}, "
             f"{platform.node()}, {os.cpu_count()} cores, {platform.platform()}; "
             f"every program runs under wine64; {reps} repetitions, median (spread max-min).", "",
             "Variants: native (the program alone), floor (under zerkacmd with a source folder "
             "that matches nothing), full (coverage of the program's own sources), gcov (mingw "
             "gcc --coverage, run alone).", ""]
    lines += ["| scenario | size | native s | floor s | full s | gcov s | full/native | "
              "floor/native | gcov/native |", "|---|---|---|---|---|---|---|---|---|"]
    sums = {}
    for r in results:
        m = summarise(r)
        sums[(r["scenario"], r["size"])] = m
        w = m["wall"]
        cell = lambda k: f"{w[k][0]:.2f} ({w[k][1]:.2f})"  # noqa: E731
        lines.append(f"| {r['scenario']} | {r['size']} | {cell('native')} | {cell('floor')} | "
                     f"{cell('full')} | {cell('gcov')} | {w['full'][0] / w['native'][0]:.2f} | "
                     f"{w['floor'][0] / w['native'][0]:.2f} | {w['gcov'][0] / w['native'][0]:.2f} |")
    lines += ["", "| scenario | size | lines planted | lines hit | µs per planted line | "
              "µs per hit | start to first line s (native) | bytes per line |",
              "|---|---|---|---|---|---|---|---|"]
    for (scenario, size), m in sums.items():
        lines.append(f"| {scenario} | {size} | {m['planted']} | {m['hits']} | "
                     f"{m['plant_us']:.1f} | {m['hit_us']:.1f} | {m['first_line']:.2f} "
                     f"({m['first_line_native']:.2f}) | {m['bytes_per_line']:.0f} |")
    lines += ["", "Calls into the debugging API, from the wineserver's trace: per planted line "
              "(a run that executes nothing but main) / per hit (the difference to the full run).",
              "", "| scenario | size | " + " | ".join(DEBUG_REQUESTS) + " |",
              "|---|---|" + "---|" * len(DEBUG_REQUESTS)]
    for (scenario, size), m in sums.items():
        lines.append(f"| {scenario} | {size} | " + " | ".join(
            f"{m['per_call'][q][0]:.3f} / {m['per_call'][q][1]:.2f}" for q in DEBUG_REQUESTS) + " |")
    lines += ["", "Growth when the program doubles (time at 2x over time at 1x):", ""]
    for scenario in dict.fromkeys(s for s, _ in sums):
        sizes = sorted(z for s, z in sums if s == scenario)
        if len(sizes) == 2:
            a, b = sums[(scenario, sizes[0])], sums[(scenario, sizes[1])]
            lines.append(f"- {scenario}: full {b['wall']['full'][0] / a['wall']['full'][0]:.2f}x, "
                         f"floor {b['wall']['floor'][0] / a['wall']['floor'][0]:.2f}x, "
                         f"per planted line {b['plant_us'] / a['plant_us']:.2f}x, "
                         f"per hit {b['hit_us'] / a['hit_us']:.2f}x")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="small sizes, for a check")
    parser.add_argument("--only", nargs="*", default=list(SIZES))
    parser.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    prefix = os.path.join(build_dir, "wineprefix")
    start_server(prefix)
    sizes = QUICK if args.quick else SIZES
    results = []
    try:
        for scenario in args.only:
            for size in (sizes[scenario], 2 * sizes[scenario]):
                print(f"{scenario} {size}...", flush=True)
                results.append(measure(scenario, size, build_dir, args.reps, prefix))
    finally:
        subprocess.run([WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                       capture_output=True)
    text = report(results, args.reps)
    with open(args.out, "w") as out:
        out.write(text)
    print(text)


if __name__ == "__main__":
    main()
