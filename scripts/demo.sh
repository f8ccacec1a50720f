#!/usr/bin/env bash
# make demo: measures the bundled sample (samples/inventory, a program with a DLL, built with
# PDB files) with zerkacmd under wine64 and prints the coverage log it wrote.
#   bash scripts/demo.sh <build dir, e.g. build/x64>
set -euo pipefail

build=$(cd "${1:?usage: demo.sh <build dir>}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

# Wine maps Z: to /, and the sample records its sources as Z:\... (backslashes).
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
sources=$(windows_path "$root/samples/inventory")
program=$(windows_path "$build/bin/samples/inventory.exe")
for file in "$build/bin/zerkacmd.exe" "$build/bin/res-en.dll" "$build/bin/samples/inventory.exe"; do
  [ -f "$file" ] || { echo "demo: $file is missing; run make build-x64 first" >&2; exit 1; }
done

# The logs land in the tool's current folder: a fresh one for each demo.
demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"

# One quiet wineserver (and Wine's services) around the run; they inherit the output of what
# starts them, so they are started with theirs closed.
"$wineserver" -p >/dev/null 2>&1 </dev/null || true
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine" cmd /c exit >/dev/null 2>&1 </dev/null || true

echo "\$ zerkacmd -s $sources -f $program"
(cd "$demo" && "$wine" "$build/bin/zerkacmd.exe" -s "$sources" -f "$program" </dev/null)

log=$(ls "$demo"/coverage_*.log 2>/dev/null | head -n 1 || true)
if [ -z "$log" ]; then
  echo "demo: zerkacmd wrote no coverage log" >&2
  exit 1
fi
echo
echo "== $log"
cat "$log"
echo
echo "(S records: one character per source line; 3 = executed, 1 = not executed, 0 = no code)"
