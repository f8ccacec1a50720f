#!/usr/bin/env python3
"""Generates the C sources of one benchmark program.

usage: gen.py SCENARIO SIZE OUTDIR

  hot  SIZE = lines of the hot function; a few hundred lines run hundreds of millions of times
  wide SIZE = source lines in all, spread over 100 files, each run once
  big  SIZE = source lines in all, spread over 20 DLLs, 1% of them run
  dlls SIZE = DLLs loaded one after another, 1,000 lines each, of which only a small entry runs

Every program runs nothing but main when its first argument is "none", so that the cost of
planting can be told apart from the cost of hits.
"""
import os
import sys

OPS = ["v += {k}u;", "v ^= {k}u;", "v = v * 3u + {k}u;", "v -= {k}u;", "v = (v << 1) | (v >> 31);"]


def body(lines, seed):
    """Straight-line statements, one per source line, each a line of its own in the table."""
    return "\n".join("    " + OPS[(seed + i) % len(OPS)].format(k=(seed + i) % 97 + 1)
                     for i in range(lines))


def function(name, lines, seed, export=False):
    decl = "__declspec(dllexport) " if export else ""
    return f"{decl}unsigned {name}(unsigned v) {{\n{body(lines, seed)}\n    return v;\n}}\n"


MAIN_HEAD = """#include <stdio.h>
#include <string.h>
#include <windows.h>
"""

FIRST_LINE_STAMP = """    {
        /* the time at which the program's first line ran, for the start-up figure */
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        fprintf(stderr, "first-line %llu\\n",
                ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime);
    }
"""


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def gen_hot(size, out):
    iterations = 20_000_000
    write(f"{out}/src/hot.c", MAIN_HEAD + function("work", size, 0) + f"""
int main(int argc, char** argv) {{
{FIRST_LINE_STAMP}    unsigned n = (argc > 1 && strcmp(argv[1], "none") == 0) ? 0u : {iterations}u;
    unsigned v = 1u;
    for (unsigned i = 0; i < n; ++i)
        v = work(v + i);
    printf("%u\\n", v);
    return 0;
}}
""")
    return {"exe": "hot", "dlls": [], "units": ["hot"]}


def gen_wide(size, out):
    files = 100
    per_file = max(1, size // files)
    units = []
    for f in range(files):
        write(f"{out}/src/wide{f:03d}.c", function(f"wide{f:03d}", per_file - 3, f))
        units.append(f"wide{f:03d}")
    decls = "".join(f"unsigned wide{f:03d}(unsigned);\n" for f in range(files))
    calls = "".join(f"        v = wide{f:03d}(v);\n" for f in range(files))
    write(f"{out}/src/main.c", MAIN_HEAD + decls + f"""
int main(int argc, char** argv) {{
{FIRST_LINE_STAMP}    unsigned v = 1u;
    if (!(argc > 1 && strcmp(argv[1], "none") == 0)) {{
{calls}    }}
    printf("%u\\n", v);
    return 0;
}}
""")
    return {"exe": "wide", "dlls": [], "units": ["main"] + units}


def gen_big(size, out):
    dll_count = 20
    per_dll = max(1000, size // dll_count)
    functions = per_dll // 1000
    run_count = max(1, dll_count * functions // 100)  # 1% of the functions, one per DLL
    dlls = []
    for d in range(dll_count):
        text = "".join(function(f"big{d:02d}_{f:03d}", 997, d * 7 + f, export=True)
                       for f in range(functions))
        write(f"{out}/src/big{d:02d}.c", text)
        dlls.append(f"big{d:02d}")
    # Every DLL is imported (the table names one function of each), so that all of them load;
    # 1% of the functions run, spread over the DLLs.
    runs = [(d % dll_count, d // dll_count) for d in range(run_count)]
    named = sorted(set(runs) | {(d, 0) for d in range(dll_count)})
    decls = "".join(f"__declspec(dllimport) unsigned big{d:02d}_{f:03d}(unsigned);\n"
                    for d, f in named)
    table = ", ".join(f"big{d:02d}_{f:03d}" for d in range(dll_count) for f in [0])
    calls = "".join(f"        v = big{d:02d}_{f:03d}(v);\n" for d, f in runs)
    write(f"{out}/src/main.c", MAIN_HEAD + decls + f"""
unsigned (*volatile imported[])(unsigned) = {{{table}}};

int main(int argc, char** argv) {{
{FIRST_LINE_STAMP}    unsigned v = 1u;
    if (!(argc > 1 && strcmp(argv[1], "none") == 0)) {{
{calls}    }}
    printf("%u %p\\n", v, (void*)imported[0]);
    return 0;
}}
""")
    return {"exe": "big", "dlls": dlls, "units": ["main"], "link_dlls": True}


def gen_dlls(size, out):
    # Each DLL holds 1,000 lines, of which only its small entry runs: the figures are about
    # loading and scanning DLLs one after another, not about hits.
    dlls = []
    for d in range(size):
        write(f"{out}/src/plug{d:03d}.c", function(f"plugin_body", 992, d, export=True) + """
__declspec(dllexport) unsigned plugin_entry(unsigned v) {
    return v + 1u;
}
""")
        dlls.append(f"plug{d:03d}")
    write(f"{out}/src/main.c", MAIN_HEAD + f"""
typedef unsigned (*entry_fn)(unsigned);

int main(int argc, char** argv) {{
{FIRST_LINE_STAMP}    int run = !(argc > 1 && strcmp(argv[1], "none") == 0);
    unsigned v = 1u;
    for (int d = 0; d < {size}; ++d) {{
        char name[32];
        snprintf(name, sizeof name, "plug%03d.dll", d);
        HMODULE module = LoadLibraryA(name);
        if (module == NULL)
            return 3;
        entry_fn entry = (entry_fn)(void*)GetProcAddress(module, "plugin_entry");
        if (run && entry != NULL)
            v = entry(v);
    }}
    printf("%u\\n", v);
    return 0;
}}
""")
    return {"exe": "dlls", "dlls": dlls, "units": ["main"], "link_dlls": False}


GENERATORS = {"hot": gen_hot, "wide": gen_wide, "big": gen_big, "dlls": gen_dlls}

if __name__ == "__main__":
    scenario, size, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    print(GENERATORS[scenario](size, out))
