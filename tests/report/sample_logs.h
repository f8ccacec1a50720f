// Logs written by hand for zerkareport's tests.
#pragma once

// A run with function names: two files, main.cpp lines 4-7 in main (6 not run), 10-12 in
// usage (none run); strings.cpp lines 2-6 in trim (3 and 4 run).
constexpr char kCalcLog[] = "Hcalc.exe -test input.txt\n"
                            "H2026/03/14 09:26:53\n"
                            "Dc:\\work\\calc\\src\\\n"
                            "N12,main.cpp\n"
                            "F3,main\n"
                            "F9,usage\n"
                            "S000331300111\n"
                            "Dc:\\work\\calc\\src\\util\\\n"
                            "N6,strings.cpp\n"
                            "F1,trim\n"
                            "S013311\n";

// A second run of the same program, without function names, its paths spelled otherwise:
// usage ran (10, 11), main.cpp has a longer line count, and a third file.
constexpr char kCalcLog2[] = "Hcalc.exe -usage\n"
                             "H2026/03/14 09:30:00\n"
                             "DC:/WORK/calc/SRC/\n"
                             "N14,Main.cpp\n"
                             "S00011100133001\n"
                             "DC:\\work\\calc\\src\\\n"
                             "N3,args.cpp\n"
                             "S113\n";
