#!/usr/bin/env python3
"""The 64-bit release bundle as a user gets it: unpacked into a fresh folder, its zerkacmd.exe
measures the calc target (PDB form) under Wine and its zerkareport.exe reports the log.

usage: dist_test.py ZIP... X64_BUILD_DIR WINEPREFIX   (the newest ZIP is tested)

Checks: the bundle holds exactly the four files, stripped (no symbols, no debug sections, by objdump);
--version prints the version of the bundle's name; every marked line of calc/main.c has the
marker's status in the lcov file (the markers of the sources are the oracle); a second report
over the first one's outputs replaces them (the rename over an existing file under Windows).
"""
import glob
import os
import re
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = os.path.normpath(os.path.join(HERE, "..", "targets"))
WINE = "/usr/lib/wine/wine64"
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, cwd, prefix):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    return subprocess.run([WINE] + args, cwd=cwd, env=env, capture_output=True, text=True,
                          errors="replace", stdin=subprocess.DEVNULL, timeout=600)


def markers(source):
    """Line number to '3' (// hit) or '1' (// miss), the markers that hold in every mode."""
    found = {}
    with open(source, errors="replace") as f:
        for number, line in enumerate(f, 1):
            match = re.search(r"// (hit|miss)\s*$", line)
            if match:
                found[number] = "3" if match.group(1) == "hit" else "1"
    return found


def lcov_lines(text, source_end):
    """DA figures of the record whose SF path ends in source_end (compared folded)."""
    lines, inside = {}, False
    for line in text.splitlines():
        if line.startswith("SF:"):
            inside = line[3:].replace("\\", "/").lower().endswith(source_end)
        elif inside and line.startswith("DA:"):
            number, hits = line[3:].split(",")[:2]
            lines[int(number)] = "3" if int(hits) > 0 else "1"
    return lines


def main():
    *zips, build_dir, prefix = sys.argv[1:]
    prefix = os.path.abspath(prefix)
    archive = max(zips, key=os.path.getmtime)
    name = os.path.basename(archive)[:-len(".zip")]
    version = re.fullmatch(r"zerkacmd-(.+)-win64", name)
    check(version is not None, f"{name}: named zerkacmd-<version>-win64")
    with tempfile.TemporaryDirectory(prefix="zerka_dist_") as fresh:
        with zipfile.ZipFile(archive) as bundle:
            check(bundle.testzip() is None, "the zip's checksums hold")
            bundle.extractall(fresh)
        tools = os.path.join(fresh, name)
        check(sorted(os.listdir(tools)) ==
              ["README.md", "res-en.dll", "zerkacmd.exe", "zerkareport.exe"],
              f"the bundle holds the four files: {sorted(os.listdir(tools))}")
        for program in ("zerkacmd.exe", "res-en.dll", "zerkareport.exe"):
            dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", "-t",
                                   os.path.join(tools, program)],
                                  capture_output=True, text=True).stdout
            check("file format pei-x86-64" in dump and ".debug_" not in dump and
                  "SYMBOL TABLE:\nno symbols" in dump, f"{program}: 64-bit and stripped")

        work = os.path.join(fresh, "work")
        os.makedirs(work)
        result = wine([os.path.join(tools, "zerkareport.exe"), "--version"], work, prefix)
        check(result.stdout == f"zerkareport {version.group(1) if version else '?'}\n",
              f"--version: {result.stdout.strip()!r}")

        calc = os.path.join(os.path.abspath(build_dir), "bin", "targets", "pdb")
        result = wine([os.path.join(tools, "zerkacmd.exe"), "-s", windows_path(TARGETS),
                       "-w", windows_path(calc), "calc.exe", "sum", "2", "3", "4"], work, prefix)
        logs = sorted(glob.glob(os.path.join(work, "coverage_*.log")))
        check(len(logs) == 1, f"one log written ({result.stdout.strip()[:300]})")
        if not logs:
            return
        outputs = ["--lcov", "c.info", "--cobertura", "c.xml", "--html", "html"]
        first = wine([os.path.join(tools, "zerkareport.exe")] + outputs + [logs[0]], work, prefix)
        check(first.returncode == 0, f"zerkareport ran: {first.stderr.strip()}")
        expected = markers(os.path.join(TARGETS, "calc", "main.c"))
        with open(os.path.join(work, "c.info")) as f:
            measured = lcov_lines(f.read(), "/calc/main.c")
        check(len(expected) > 5 and all(measured.get(n) == s for n, s in expected.items()),
              "every marked line of calc/main.c has its marker's status: " +
              ", ".join(f"{n}: {measured.get(n)} not {s}" for n, s in expected.items()
                        if measured.get(n) != s))
        os.remove(os.path.join(work, "c.info"))
        again = wine([os.path.join(tools, "zerkareport.exe")] + outputs + [logs[0]], work,
                     prefix)
        leftovers = [n for n in os.listdir(work) if n.endswith(".tmp")]
        check(again.returncode == 0 and os.path.exists(os.path.join(work, "c.info")) and
              not leftovers, f"a second report replaces the first's outputs: "
              f"{again.stderr.strip()} {leftovers}")


if __name__ == "__main__":
    main()
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")
    print("all checks passed")
