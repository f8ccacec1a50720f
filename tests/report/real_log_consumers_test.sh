#!/bin/bash
# A real log read by the real consumers on Linux: zerkacmd.exe measures calc under Wine (paths
# on drive Z:), zerkareport.exe maps them with --map-path 'Z:\=/' and writes them relative to
# the targets' folder (--root). genhtml, run there, must render the source text with every
# line marked "// hit" covered and every "// miss" line not, with the figures of zerkareport's
# summary; every file that the Cobertura and SonarQube files name must exist under the root.
# Native (genhtml and xmllint are Linux programs), so ctest runs it with bash.
# Usage: real_log_consumers_test.sh <build bin folder> <wine prefix> <targets' source folder>
#        [<wine loader>]
set -u
bin=$1 targets=$3
export WINEPREFIX=$2 WINEDEBUG=-all
wine=${4:-/usr/lib/wine/wine64}

fail() { echo "FAILED: $*"; exit 1; }
for program in genhtml xmllint; do
    command -v $program >/dev/null || fail "$program is not installed: run 'make setup'"
done
windows() { echo "Z:$1" | tr / '\\'; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || fail "no scratch folder"
"$wine" "$bin/zerkacmd.exe" -f -s "$(windows "$targets")" -w "$(windows "$bin/targets/dwarf")" \
    calc.exe sum 2 3 4 </dev/null >run.out 2>&1 || fail "zerkacmd: $(cat run.out)"
log=$(ls coverage_*.log) || fail "no log: $(cat run.out)"
grep -q '^DZ:\\' "$log" || fail "the log holds no path on drive Z:: $(head -5 "$log")"

"$wine" "$bin/zerkareport.exe" --map-path 'Z:\=/' --root "$targets" --lcov c.info \
    --cobertura c.xml --sonar s.xml --summary "$log" </dev/null >summary.out 2>&1 ||
    fail "zerkareport: $(cat summary.out)"
grep -qx 'SF:calc/main.c' c.info || fail "no relative SF for calc/main.c: $(grep SF: c.info)"

(cd "$targets" && genhtml --output-directory "$work/html" "$work/c.info") >genhtml.out 2>&1 ||
    fail "genhtml: $(cat genhtml.out)"
grep -q 'WARNING' genhtml.out && fail "genhtml warned: $(cat genhtml.out)"
total=$(tr -d '\r' <summary.out | awk '$1 == "Total" { print $3 " of " $2 " lines" }')
grep -q "lines\.*: .* ($total)" genhtml.out ||
    fail "genhtml's figures are not the summary's ($total): $(cat genhtml.out)"
page=html/calc/main.c.gcov.html
[ -f "$page" ] || fail "no source page: $(cd html && find . -name '*.gcov.html')"
hits=$(grep -c '// hit' "$targets/calc/main.c")
misses=$(grep -c '// miss' "$targets/calc/main.c")
[ "$(grep -c 'class="lineCov".*// hit' "$page")" = "$hits" ] ||
    fail "not every line marked hit is covered in $page"
[ "$(grep -c 'class="lineNoCov".*// miss' "$page")" = "$misses" ] ||
    fail "not every line marked miss is uncovered in $page"

for xml in c.xml s.xml; do
    xmllint --noout "$xml" || fail "$xml is not well-formed"
done
source=$(xmllint --xpath 'string(/coverage/sources/source)' c.xml)
[ "$source" = "$targets" ] || fail "Cobertura source '$source'"
names=$(xmllint --xpath '//class/@filename' c.xml | sed 's/.*filename="\(.*\)"/\1/')
paths=$(xmllint --xpath '/coverage/file/@path' s.xml | sed 's/.*path="\(.*\)"/\1/')
[ -n "$names" ] && [ "$names" = "$paths" ] || fail "Cobertura names '$names', SonarQube '$paths'"
for name in $names; do
    [ -f "$targets/$name" ] || fail "$name does not exist under $targets"
done
echo "PASSED: genhtml rendered $page ($hits hit and $misses missed lines as marked, $total);" \
    "files named:" $names
