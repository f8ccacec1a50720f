#!/usr/bin/env python3
"""Benchmarks zerkacmd against the program's own run and gcc's --coverage instrumentation.

usage: run.py BUILD_DIR [--reps N] [--quick | --reduced] [--size SCENARIO=N] [--only SCENARIO...]

BUILD_DIR is the x86_64 build (build/x64). Programs are generated and built under
BUILD_DIR/bench/; the figures go to bench/RESULTS.md. Every scenario runs at its size and at
twice its size, the variants of one repetition interleaved so that machine noise hits all alike.
"""
import argparse
import concurrent.futures
import datetime
import json
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
import report_bench  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
TRIPLE = "x86_64-w64-mingw32"
SIZES = {"hot": 200, "wide": 100_000, "big": 1_000_000, "dlls": 200}
# What fits in about half an hour on a loaded two-core machine (see --size to set others).
REDUCED = {"hot": 200, "wide": 20_000, "big": 500_000, "dlls": 200}
QUICK = {"hot": 200, "wide": 10_000, "big": 100_000, "dlls": 20}
# What each call into the debugging API asks of Wine 8's server, as seen in a trace
# (wineserver -f -d1) of a program that makes each call once against a suspended child:
#   ReadProcessMemory  -> read_process_memory        WriteProcessMemory -> write_process_memory
#   GetThreadContext   -> get_thread_context         SetThreadContext   -> set_thread_context
#   VirtualQueryEx / VirtualProtectEx -> queue_apc (APC_VIRTUAL_QUERY / _PROTECT), a select
#       on the APC, get_apc_result and close_handle, and a select by a thread of the target
#       that runs the APC: about four requests and a round trip through the target
#   FlushInstructionCache (whole process or one byte) -> no request at all on x86_64
#   WaitForDebugEvent  -> wait_debug_event (twice, with a select between, when it has to wait)
#   ContinueDebugEvent -> continue_debug_event
API_REQUESTS = ["read_process_memory", "write_process_memory", "get_thread_context",
                "set_thread_context", "queue_apc", "get_apc_result"]
LOOP_REQUESTS = ["wait_debug_event", "continue_debug_event", "select"]
# Below this many hits a program's time per hit is noise (dlls runs a few lines per DLL).
MIN_HITS = 100


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
    # Compiled from inside src with bare file names, so that the mapped compile folder and the
    # name join into a Windows path (Z:\...\src\x.c) as a Windows build would record it.
    clang = ["clang", f"--target={TRIPLE}", "-g", "-gcodeview", "-O0", "-fuse-ld=lld",
             f"-L{libgcc_dir()}", f"-fdebug-prefix-map={os.path.abspath(src)}={windows_path(src)}"]
    gcc = [f"{TRIPLE}-gcc", "-O0", "--coverage"]
    jobs = []
    for dll in layout["dlls"]:
        jobs.append((clang + ["-shared", f"{dll}.c", "-o", f"{pdb}/{dll}.dll",
                              f"-Wl,--pdb={pdb}/{dll}.pdb", f"-Wl,--out-implib,{pdb}/{dll}.lib"],
                     src))
        jobs.append((gcc + ["-shared", f"{src}/{dll}.c", "-o", f"{gcov}/{dll}.dll",
                            f"-Wl,--out-implib,{gcov}/lib{dll}.a"], gcov))
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        for result in pool.map(lambda job: subprocess.run(job[0], cwd=job[1], capture_output=True,
                                                          text=True), jobs):
            if result.returncode != 0:
                sys.exit(result.stderr)
    units = [f"{u}.c" for u in layout["units"]]
    imports = [f"{pdb}/{d}.lib" for d in layout["dlls"]] if layout.get("link_dlls") else []
    gimports = [f"{gcov}/lib{d}.a" for d in layout["dlls"]] if layout.get("link_dlls") else []
    exe = layout["exe"]
    subprocess.run(clang + units + imports + ["-o", f"{pdb}/{exe}.exe",
                                              f"-Wl,--pdb={pdb}/{exe}.pdb"], check=True, cwd=src)
    subprocess.run(gcc + [f"{src}/{u}" for u in units] + gimports + ["-o", f"{gcov}/{exe}.exe"],
                   check=True, cwd=gcov)
    return {"pdb": f"{pdb}/{exe}.exe", "gcov": f"{gcov}/{exe}.exe", "src": src,
            "images": 1 + len(layout["dlls"])}



def run_once(cmd, cwd, env):
    """Wall time, the program's start-up (to its first line) and the memory of the process that
    wine64 became (zerkacmd itself for the runs under it: Wine starts the target through a
    double fork, so it is no child of zerkacmd): its peak (ru_maxrss) and its resident size
    shortly before it ended, when the tables are full and dbghelp holds no module."""
    for name in os.listdir(cwd):
        if name.endswith(".log") or name.endswith(".gcda") or name.endswith(".out"):
            os.remove(os.path.join(cwd, name))
    out_path = os.path.join(cwd, "run.out")
    start_filetime = int(time.time() * 10_000_000) + 116444736000000000
    start = time.perf_counter()
    with open(out_path, "w") as out:
        child = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL)
        sampler = ResidentSize(child.pid)
        sampler.start()
        _, status, usage = os.wait4(child.pid, 0)
        sampler.stop.set()
        sampler.join()
        child.returncode = os.waitstatus_to_exitcode(status)
    wall = time.perf_counter() - start
    with open(out_path, errors="replace") as f:
        output = f.read()
    if child.returncode != 0:
        sys.exit(f"{cmd} failed with {child.returncode}:\n{output}")
    stamp = re.search(r"first-line (\d+)", output)
    first_line = (int(stamp.group(1)) - start_filetime) / 1e7 if stamp else float("nan")
    logs = [n for n in os.listdir(cwd) if n.endswith(".log")]
    status = ""
    if logs:
        with open(os.path.join(cwd, logs[0])) as f:
            status = "".join(line[1:].rstrip("\n") for line in f if line.startswith("S"))
    return {"wall": wall, "first_line": first_line, "peak_kib": usage.ru_maxrss,
            "end_kib": sampler.last_kib, "planted": status.count("1") + status.count("3"),
            "hit": status.count("3")}


class ResidentSize(threading.Thread):
    """Samples one process's resident size (VmRSS) until it ends; keeps the last sample."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.path = f"/proc/{pid}/status"
        self.last_kib = 0
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                with open(self.path) as f:
                    found = re.search(r"VmRSS:\s+(\d+)", f.read())
                if found:
                    self.last_kib = int(found.group(1))
            except OSError:
                return
            self.stop.wait(0.02)


def server_counts(cmd, cwd, prefix):
    """Runs once under a tracing wineserver and counts requests by name: those of the debug
    loop's thread (the one that asks for debug events) and those of all processes."""
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
    # Each request of the debug loop is put down to the event being handled: the one that the
    # last wait_debug_event delivered; waiting itself (wait_debug_event, select) is apart.
    by_thread, phases = {}, {}
    # A request reads "name( args )"; its reply "name() = status", which is not counted.
    request = re.compile(r"^([0-9a-f]+): ([a-z_]+)\( ")
    delivered = re.compile(r"^([0-9a-f]+): wait_debug_event\(\) = 0 \{ pid=[0-9a-f]+, "
                           r"tid=[0-9a-f]+, event=\{([a-z_]+)")
    phase_of = {}
    with open(trace_path, errors="replace") as trace:
        for line in trace:
            event = delivered.match(line)
            if event and event.group(2) != "idle":
                phase_of[event.group(1)] = event.group(2)
                continue
            found = request.match(line)
            if found:
                thread, name = found.group(1), found.group(2)
                names = by_thread.setdefault(thread, {})
                names[name] = names.get(name, 0) + 1
                phase = "wait" if name in ("wait_debug_event", "select") else \
                    phase_of.get(thread, "start")
                per = phases.setdefault(thread, {}).setdefault(phase, {})
                per[name] = per.get(name, 0) + 1
    os.remove(trace_path)
    start_server(prefix)
    loop_thread = max(by_thread, key=lambda t: by_thread[t].get("wait_debug_event", 0))
    every = {}
    for names in by_thread.values():
        for name, count in names.items():
            every[name] = every.get(name, 0) + count
    return {"loop": by_thread[loop_thread], "phases": phases.get(loop_thread, {}), "all": every}


def relay_env(prefix):
    """dbghelp's entry points traced with time stamps; RelayInclude keeps the rest quiet."""
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude",
                    "/t", "REG_SZ", "/d", "dbghelp.*", "/f"], env=env, capture_output=True)
    return dict(env, WINEDEBUG="-all,+timestamp,+relay")


def dbghelp_calls(cmd, cwd, env):
    """Calls into dbghelp by function, with the time spent inside them (relay time stamps)."""
    result = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True,
                            errors="replace")
    calls, seconds, open_calls = {}, {}, {}
    pattern = re.compile(r"^([0-9.]+):([0-9a-f]+):(Call|Ret)\s+dbghelp\.(\w+)")
    for line in result.stderr.splitlines():
        found = pattern.match(line)
        if not found:
            continue
        stamp, thread, kind, name = float(found.group(1)), found.group(2), found.group(3), \
            found.group(4)
        if kind == "Call":
            calls[name] = calls.get(name, 0) + 1
            open_calls.setdefault((thread, name), []).append(stamp)
        elif open_calls.get((thread, name)):
            seconds[name] = seconds.get(name, 0.0) + stamp - open_calls[(thread, name)].pop()
    return {"calls": calls, "seconds": seconds}


MEMORY_LINES = [100_000, 200_000, 1_000_000, 2_000_000]


def memory_figures(build_dir, prefix):
    """Heap bytes per line of the tool's own structures (bench/memory_probe.cpp), on the real
    scan, planting, hit and log-writer code, with the time per line of each step and of the
    breakpoint table against one dense table of the same slots."""
    exe = os.path.join(build_dir, "bench", "memory_probe.exe")
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    root = os.path.dirname(HERE)
    subprocess.run([f"{TRIPLE}-g++-posix", "-O1", "-Wall", "-Wextra", "-Werror", "-std=c++17",
                    f"-I{root}", f"-I{build_dir}", "-isystem",
                    os.path.join(build_dir, "sparsehash-include"),
                    os.path.join(HERE, "memory_probe.cpp"),
                    os.path.join(build_dir, "libzerka_core.a"),
                    os.path.join(build_dir, "libzerka_portable.a"), "-ldbghelp", "-lshlwapi",
                    "-static", "-Wl,--wrap=malloc,--wrap=realloc,--wrap=free", "-o", exe],
                   check=True)
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    figures = []
    for lines in MEMORY_LINES:
        out = subprocess.run([WINE, exe, str(lines), "100"], env=env,
                             capture_output=True, text=True, check=True).stdout
        stages = dict(re.findall(r"^(.+?): peak ([0-9.]+),", out, re.M))
        times = dict(re.findall(r"^(.+?): ([0-9.]+) ns per line", out, re.M))
        total = re.search(r"bytes per-line ([0-9.]+)", out)
        figures.append({"lines": lines, "peak": float(total.group(1)), "stages": stages,
                        "ns": times})
    return figures


def memory_table(figures):
    stages = list(figures[0]["stages"]) if figures else []
    times = list(figures[0].get("ns", {})) if figures else []
    lines = ["## Memory of the tool's own structures", "",
             "Heap bytes per instrumented line, counted by bench/memory_probe.cpp (malloc, "
             "realloc and free wrapped at link time) on the real code paths: the scan's line "
             "callback fills the database as dbghelp would (100 files), the planting pass plants "
             "into a code buffer of the probe's own process, every hundredth line is hit, and "
             "the log is written. Peak per stage, then the peak of the whole run.", "",
             "| lines | " + " | ".join(stages) + " | peak |",
             "|---|" + "---|" * (len(stages) + 1)]
    for f in figures:
        lines.append(f"| {f['lines']} | " +
                     " | ".join(f["stages"].get(st, "") for st in stages) +
                     f" | {f['peak']:.1f} |")
    if times:
        lines += ["", "Nanoseconds per line (per hit for the hit) of the same run; the breakpoint "
                  "table and single dense table rows enter and look up the same addresses in the "
                  "sharded breakpoint table and in one dense table at the library's default "
                  "growth.", "",
                  "| lines | " + " | ".join(times) + " |", "|---|" + "---|" * len(times)]
        for f in figures:
            lines.append(f"| {f['lines']} | " +
                         " | ".join(f["ns"].get(t, "") for t in times) + " |")
    return lines + [""]


def start_server(prefix):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE, "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def median_spread(values):
    return statistics.median(values), max(values) - min(values)


def measure(scenario, size, build_dir, reps, prefix, traced):
    root = os.path.join(build_dir, "bench", f"{scenario}-{size}")
    shutil.rmtree(root, ignore_errors=True)
    made = build(scenario, size, root)
    src = windows_path(made["src"]) + "\\"
    nowhere = windows_path(os.path.join(root, "nowhere")) + "\\"
    pdb_dir, gcov_dir = os.path.dirname(made["pdb"]), os.path.dirname(made["gcov"])
    exe, gexe = windows_path(made["pdb"]), windows_path(made["gcov"])
    tool = os.path.join(build_dir, "bin", "zerkacmd.exe")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    variants = {
        "native": ([WINE, exe], pdb_dir),
        "floor": ([WINE, tool, "-s", nowhere, exe], pdb_dir),
        "full": ([WINE, tool, "-s", src, exe], pdb_dir),
        "gcov": ([WINE, gexe], gcov_dir),
        # the same runs with nothing but main executed: what planting alone costs
        "native-none": ([WINE, exe, "none"], pdb_dir),
        "floor-none": ([WINE, tool, "-s", nowhere, exe, "none"], pdb_dir),
        "full-none": ([WINE, tool, "-s", src, exe, "none"], pdb_dir),
    }
    samples = {name: [] for name in variants}
    load_before = os.getloadavg()[0]
    for _ in range(reps):
        for name, (cmd, cwd) in variants.items():
            samples[name].append(run_once(cmd, cwd, env))
    # Traced runs are slow and their counts per line, hit and module do not change with the
    # size: they are made at the first size of each program only.
    counts, dbghelp = None, {}
    if traced:
        counts = {name: server_counts(variants[name][0], pdb_dir, prefix)
                  for name in ("floor-none", "full-none", "full")}
        relay = relay_env(prefix)
        dbghelp = {name: dbghelp_calls(variants[name][0], pdb_dir, relay)
                   for name in ("floor-none", "full-none")}
    return {"scenario": scenario, "size": size, "images": made["images"], "samples": samples,
            "counts": counts, "dbghelp": dbghelp, "load": (load_before, os.getloadavg()[0])}


def summarise(result):
    s = result["samples"]
    wall = {name: median_spread([r["wall"] for r in runs]) for name, runs in s.items()}
    med = {name: value[0] for name, value in wall.items()}
    planted, hits = s["full"][0]["planted"], s["full"][0]["hit"]
    hits_none = s["full-none"][0]["hit"]
    extra_hits = hits - hits_none
    plant_time = med["full-none"] - med["floor-none"]
    hit_time = (med["full"] - med["full-none"]) - (med["native"] - med["native-none"])
    peak = statistics.median(r["peak_kib"] for r in s["full"])
    floor_peak = statistics.median(r["peak_kib"] for r in s["floor"])
    end = statistics.median(r["end_kib"] for r in s["full"])
    floor_end = statistics.median(r["end_kib"] for r in s["floor"])
    summary = {"wall": wall, "med": med, "planted": planted, "hits": hits,
               "extra_hits": extra_hits, "images": result["images"],
               "plant_us": plant_time / planted * 1e6 if planted else float("nan"),
               "hit_us": hit_time / extra_hits * 1e6 if extra_hits >= MIN_HITS else float("nan"),
               "first_line": statistics.median(r["first_line"] for r in s["full"]),
               "first_line_floor": statistics.median(r["first_line"] for r in s["floor"]),
               "first_line_native": statistics.median(r["first_line"] for r in s["native"]),
               "peak_mib": peak / 1024, "floor_peak_mib": floor_peak / 1024,
               "end_mib": end / 1024, "floor_end_mib": floor_end / 1024,
               "bytes_per_line": (peak - floor_peak) * 1024 / planted if planted else float("nan"),
               "end_bytes_per_line": (end - floor_end) * 1024 / planted if planted
               else float("nan"), "dbghelp": result["dbghelp"], "traced": False}
    c = result["counts"]
    if not c:
        return summary

    def diff(a, b, key, name):
        return c[a][key].get(name, 0) - c[b][key].get(name, 0)

    def module_calls(run, name):
        return sum(c[run]["phases"].get(p, {}).get(name, 0)
                   for p in ("create_process", "load_dll"))

    names = sorted(set(c["full"]["loop"]) | set(c["full-none"]["loop"]) |
                   set(c["floor-none"]["loop"]))
    # Planting is what the module events of a run that plants cost beyond the floor's.
    planting = {n: module_calls("full-none", n) - module_calls("floor-none", n) for n in names}
    every = sorted(set(c["full"]["all"]) | set(c["full-none"]["all"]))
    summary.update({
        "traced": True,
        "per_line": {n: planting[n] / planted if planted else 0.0 for n in names},
        "per_image": {n: planting[n] / result["images"] for n in names},
        "per_hit": {n: diff("full", "full-none", "loop", n) / extra_hits
                    if extra_hits >= MIN_HITS else float("nan") for n in names},
        "per_hit_all": sum(diff("full", "full-none", "all", n) for n in every) / extra_hits
        if extra_hits >= MIN_HITS else float("nan")})
    return summary


def marginal(a, b):
    """Resident bytes that each line added by doubling the program costs (full − floor)."""
    lines = b["planted"] - a["planted"]
    grown = (b["end_mib"] - b["floor_end_mib"]) - (a["end_mib"] - a["floor_end_mib"])
    return grown * 1024 * 1024 / lines if lines > 0 else float("nan")


def fmt(value, digits=2):
    return "n/a" if value != value else f"{value:.{digits}f}"


def report(results, reps, sizes_note, made, memory=None):
    lines = ["# Benchmarks", "",
             f"Made by `make bench` on {made} UTC, "
             f"{platform.node()}, {os.cpu_count()} cores ({cpu_name()}), {platform.platform()}; "
             f"every program runs under wine64 ({wine_version()}) with a wineserver kept running; "
             f"{reps} repetitions interleaved, median (spread max-min). {sizes_note}", "",
             "Variants: native (the program alone), floor (under zerkacmd with a source folder "
             "that matches nothing: the debugger runs, reads every module's lines, plants "
             "nothing), full (coverage of the program's own sources), gcov (mingw gcc "
             "--coverage, run alone); *-none: the same program told to run nothing but main, "
             "so that planting and hits can be told apart.", ""]
    lines += ["## Times", "",
              "| scenario | size | native s | floor s | full s | gcov s | full/native | "
              "floor/native | gcov/native | native-none s | floor-none s | full-none s | "
              "machine load before / after |",
              "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    sums = {}
    for r in results:
        m = summarise(r)
        sums[(r["scenario"], r["size"])] = m
        w, med = m["wall"], m["med"]

        def cell(k):
            return f"{w[k][0]:.2f} ({w[k][1]:.2f})"
        lines.append(f"| {r['scenario']} | {r['size']} | {cell('native')} | {cell('floor')} | "
                     f"{cell('full')} | {cell('gcov')} | {med['full'] / med['native']:.2f} | "
                     f"{med['floor'] / med['native']:.2f} | {med['gcov'] / med['native']:.2f} | "
                     f"{cell('native-none')} | {cell('floor-none')} | {cell('full-none')} | "
                     f"{r['load'][0]:.1f} / {r['load'][1]:.1f} |")
    lines += ["", "Per line: µs per planted line = (full-none − floor-none) / lines planted; "
              "µs per hit = ((full − full-none) − (native − native-none)) / hits beyond main's. "
              "Lines planted and hit are counted in the log's S records ('1' and '3', and '3'). "
              "Start to first line: from the start of the command to the program's stamp. "
              "Memory of the zerkacmd process: its peak (wait4 ru_maxrss) and its resident size "
              "at the last sample before it ended (VmRSS every 20 ms; the tables are full then "
              "and dbghelp holds no module); bytes per line = (full − floor) / lines planted, "
              "for each. The peak is mostly dbghelp's while it parses the DWARF of Wine's own "
              "DLLs, which the floor shares.", "",
              "| scenario | size | lines planted | hits (beyond main) | µs per planted line | "
              "µs per hit | first line s: native / floor / full | peak MiB floor / full | "
              "end MiB floor / full | bytes per line: peak / end |",
              "|---|---|---|---|---|---|---|---|---|---|"]
    for (scenario, size), m in sums.items():
        lines.append(f"| {scenario} | {size} | {m['planted']} | {m['extra_hits']} | "
                     f"{fmt(m['plant_us'], 1)} | {fmt(m['hit_us'], 1)} | "
                     f"{fmt(m['first_line_native'])} / {fmt(m['first_line_floor'])} / "
                     f"{fmt(m['first_line'])} | {m['floor_peak_mib']:.1f} / {m['peak_mib']:.1f} | "
                     f"{m['floor_end_mib']:.1f} / {m['end_mib']:.1f} | "
                     f"{fmt(m['bytes_per_line'], 0)} / {fmt(m['end_bytes_per_line'], 0)} |")
    shown = API_REQUESTS + LOOP_REQUESTS
    lines += ["", "## Calls into the debugging API", "",
              "Server requests of zerkacmd's debug-loop thread, from a trace of the wineserver "
              "(`wineserver -f -d1`), each put down to the debug event being handled. "
              "Planting: requests made while handling the create-process and load-DLL events, "
              "full-none minus floor-none, per image with lines and per planted line. Hit: all "
              "requests, full minus full-none, per hit beyond main's (waiting included). "
              "Request names per call: see the head of bench/run.py (VirtualQueryEx and "
              "VirtualProtectEx show as queue_apc + get_apc_result; FlushInstructionCache makes "
              "no request).", "",
              "| scenario | size | per | " + " | ".join(shown) + " | all of the loop's |",
              "|---|---|---|" + "---|" * (len(shown) + 1)]
    for (scenario, size), m in sums.items():
        if not m["traced"]:
            continue
        for label, key in (("image", "per_image"), ("planted line", "per_line"),
                           ("hit", "per_hit")):
            values = m[key]
            lines.append(f"| {scenario} | {size} | {label} | " +
                         " | ".join(f"{values.get(q, 0.0):.3f}" for q in shown) +
                         f" | {sum(values.values()):.3f} |")
    lines += ["", "Requests of all processes (debugger, target, Wine's services) per hit: " +
              ", ".join(f"{scenario} {size}: {m['per_hit_all']:.1f}"
                        for (scenario, size), m in sums.items() if m["traced"]), ""]
    lines += ["## Calls into dbghelp", "",
              "From a run with `WINEDEBUG=+timestamp,+relay` and RelayInclude `dbghelp.*` (the "
              "calls that reach dbghelp's entry points, with the time spent inside each); "
              "per module = calls / SymLoadModule64 calls.", "",
              "| scenario | size | run | modules | calls per module | seconds in dbghelp "
              "(by function) |", "|---|---|---|---|---|---|"]
    for (scenario, size), m in sums.items():
        for run, d in m["dbghelp"].items():
            modules = d["calls"].get("SymLoadModule64", 0)
            per = ", ".join(f"{n} {d['calls'][n] / modules:.2f}" if modules else
                            f"{n} {d['calls'][n]}" for n in sorted(d["calls"]))
            secs = ", ".join(f"{n} {t:.2f}" for n, t in sorted(d["seconds"].items(),
                                                                   key=lambda x: -x[1]))
            lines.append(f"| {scenario} | {size} | {run} | {modules} | {per} | {secs} |")
    lines += ["", "## Growth when the program doubles", "",
              "Ratios at 2x over 1x: the coverage cost (full − native), the floor's cost (floor − "
              "native), time per planted line and per hit.", ""]
    for scenario in dict.fromkeys(s for s, _ in sums):
        sizes = sorted(z for s, z in sums if s == scenario)
        if len(sizes) == 2:
            a, b = sums[(scenario, sizes[0])], sums[(scenario, sizes[1])]
            cost = (b["med"]["full"] - b["med"]["native"]) / (a["med"]["full"] - a["med"]["native"])
            floor = (b["med"]["floor"] - b["med"]["native"]) / \
                (a["med"]["floor"] - a["med"]["native"])
            lines.append(f"- {scenario} {sizes[0]} -> {sizes[1]}: coverage cost {cost:.2f}x, "
                         f"floor cost {floor:.2f}x, full run {b['med']['full'] / a['med']['full']:.2f}x, "
                         f"per planted line {b['plant_us'] / a['plant_us']:.2f}x, "
                         f"per hit {b['hit_us'] / a['hit_us']:.2f}x, "
                         f"memory at the end {fmt(a['end_mib'], 1)} -> {fmt(b['end_mib'], 1)} "
                         f"MiB ({fmt(marginal(a, b), 0)} bytes per added line)")
    if memory:
        lines += [""] + memory_table(memory)
    lines += targets(sums, memory)
    notes = os.path.join(HERE, "NOTES.md")
    if os.path.exists(notes):
        with open(notes) as f:
            lines += ["", f.read().rstrip()]
    return "\n".join(lines) + "\n"


def targets(sums, memory=None):
    """The goals set for the debugger, checked against the figures above."""
    rows = []

    def row(goal, figure, met):
        rows.append(f"| {goal} | {figure} | {'met' if met else 'missed'} |")

    waiting = ("wait_debug_event", "select", "continue_debug_event")
    for (scenario, size), m in sums.items():
        if m["traced"] and m["extra_hits"] >= MIN_HITS:
            calls = sum(v for k, v in m["per_hit"].items() if k not in waiting)
            row(f"{scenario} {size}: a hit costs at most 3 calls besides wait/continue/flush",
                f"{calls:.2f}", calls <= 3.05)
        if m["traced"] and m["planted"] > 0:
            calls = sum(m["per_image"].values())
            row(f"{scenario} {size}: planting at most 2 calls per region (one code region per "
                f"image)", f"{calls:.2f} per image", calls <= 2.05)
        if scenario == "hot":
            ratio = m["med"]["full"] / m["med"]["native"]
            row(f"hot {size}: coverage run at most 1.1x native", f"{ratio:.2f}x", ratio <= 1.1)
        if scenario == "wide":
            row(f"wide {size}: time per hit at most 1250 µs (peer: 447 µs)",
                f"{m['hit_us']:.0f} µs", m["hit_us"] <= 1250)
    for scenario in ("wide", "big", "dlls"):
        sizes = sorted(z for s, z in sums if s == scenario)
        if len(sizes) == 2:
            a, b = sums[(scenario, sizes[0])], sums[(scenario, sizes[1])]
            for label, key in (("coverage cost (full − native)", "native"),
                               ("floor cost (floor − native)", None)):
                if key:
                    ratio = (b["med"]["full"] - b["med"]["native"]) / \
                        (a["med"]["full"] - a["med"]["native"])
                else:
                    ratio = (b["med"]["floor"] - b["med"]["native"]) / \
                        (a["med"]["floor"] - a["med"]["native"])
                row(f"{scenario}: doubling at most doubles the {label} (+10%)",
                    f"{ratio:.2f}x", ratio <= 2.2)
    for f in memory or []:
        if f.get("lever", "none") == "none":
            # The process's resident size is dbghelp's at its peak: the probe's heap count is
            # the figure that can be held against the goal.
            row(f"{f['lines']} lines: heap of the tool's structures at most 64 bytes per line",
                f"{f['peak']:.1f} B", f["peak"] <= 64)
    return ["", "## Targets", "", "| goal | figure | |", "|---|---|---|"] + rows


def cpu_name():
    try:
        with open("/proc/cpuinfo") as f:
            found = re.search(r"model name\s*:\s*(.*)", f.read())
        return found.group(1).strip() if found else "unknown CPU"
    except OSError:
        return "unknown CPU"


def wine_version():
    return subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()


def write_results(path, text):
    """Writes the report, keeping the section of zerkareport's figures (report_bench.py)."""
    kept = report_bench.section_of(path)
    with open(path, "w") as out:
        out.write(report_bench.splice(text, kept))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="small sizes, for a check")
    parser.add_argument("--reduced", action="store_true",
                        help="wide and big smaller, to fit about half an hour")
    parser.add_argument("--only", nargs="*", default=list(SIZES))
    parser.add_argument("--size", action="append", default=[],
                        help="SCENARIO=N: another base size for one scenario")
    parser.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    parser.add_argument("--report-only", metavar="JSON",
                        help="write the report again from the raw figures of an earlier run")
    args = parser.parse_args()
    if args.report_only:
        with open(args.report_only) as f:
            saved = json.load(f)
        if "memory" not in saved:
            prefix = os.path.join(os.path.abspath(args.build_dir), "wineprefix")
            start_server(prefix)
            saved["memory"] = memory_figures(os.path.abspath(args.build_dir), prefix)
            with open(args.report_only, "w") as f:
                json.dump(saved, f)
        write_results(args.out, report(saved["results"], saved["reps"], saved["note"],
                                       saved["made"], saved["memory"]))
        return
    build_dir = os.path.abspath(args.build_dir)
    prefix = os.path.join(build_dir, "wineprefix")
    start_server(prefix)
    sizes = dict(QUICK if args.quick else REDUCED if args.reduced else SIZES)
    for item in args.size:
        name, value = item.split("=")
        sizes[name] = int(value)
    note = "Sizes: " + ", ".join(f"{s} {sizes[s]}" for s in args.only) + \
        (" (the quick sizes)." if args.quick else
         " (reduced from wide 100000 and big 1000000 to fit the time at hand)."
         if args.reduced else ".")
    made = f"{datetime.datetime.utcnow():%Y-%m-%d %H:%M}"
    raw = os.path.join(build_dir, "bench", "quick.json" if args.quick else "results.json")
    memory = memory_figures(build_dir, prefix)
    results = []
    try:
        for scenario in args.only:
            for size in (sizes[scenario], 2 * sizes[scenario]):
                print(f"{scenario} {size}...", flush=True)
                results.append(measure(scenario, size, build_dir, args.reps, prefix,
                                       size == sizes[scenario]))
                # Written after every program, so that a run cut short still leaves its figures.
                with open(raw, "w") as f:
                    json.dump({"results": results, "reps": args.reps, "note": note,
                               "made": made, "memory": memory}, f)
                write_results(args.out, report(results, args.reps, note, made, memory))
    finally:
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude",
                        "/f"], env=env, capture_output=True)
        subprocess.run([WINESERVER, "-k"], env=env, capture_output=True)
    with open(args.out) as f:
        print(f.read())


if __name__ == "__main__":
    main()
