#!/bin/bash
# The log folder failing under the real zerkacmd.exe, run natively by ctest because only the
# host can arrange it:
#   full  the log folder is a tmpfs of 4 KB: the header fits, the body does not. The run must
#         end with exit code 0, report the failed write and then close the log, and the log must
#         hold exactly what a sound run writes, up to where the device was full.
#   gone  the tool's current folder (where the log goes) is deleted while the target runs: the
#         log cannot be created, the run says so for that path, no log appears, exit code 0.
# Usage: full_device_test.sh full|gone <build bin folder> <wine prefix> <targets' source folder>
#        <wine loader>
set -u
mode=$1 bin=$2 targets=$4 wine=$5
export WINEPREFIX=$3 WINEDEBUG=-all
skip=77

fail() { echo "FAILED ($mode): $*"; exit 1; }
skip() { echo "SKIPPED ($mode): $*"; exit $skip; }

[ -x "$wine" ] || skip "no $wine on this machine"
windows() { echo "Z:$1" | tr / '\\'; }
sources=$(windows "$targets")
programs=$(windows "$bin/targets/dwarf")
zerkacmd() { "$wine" "$bin/zerkacmd.exe" "$@" </dev/null; }
# The output without CRs; its last line.
clean() { tr -d '\r' <"$1"; }
last_line() { clean "$1" | tail -n 1; }

work=$(mktemp -d)
cleanup() {
    [ -n "${device:-}" ] && mountpoint -q "$device" && umount "$device"
    rm -rf "$work"
}
trap cleanup EXIT

case $mode in
full)
    [ "$(id -u)" = 0 ] || skip "mounting a small tmpfs needs root, and this runs as $(id -un)"
    # shapes.exe with every source file of its DWARF, the C++ library's headers too: a body of
    # many KB even where Wine's own DLLs carry no lines.
    command=("$programs\\shapes.exe")
    mkdir "$work/reference"
    (cd "$work/reference" && zerkacmd "${command[@]}" >"$work/reference.out" 2>&1) ||
        fail "the reference run failed: $(clean "$work/reference.out")"
    reference=$(ls "$work/reference"/coverage_*.log) || fail "the reference run wrote no log"
    [ "$(stat -c %s "$reference")" -gt 8192 ] || fail "the reference log is too small to fill 4 KB"

    device=$work/device
    mkdir "$device"
    mount -t tmpfs -o size=4k tmpfs "$device" 2>"$work/mount.err" ||
        skip "mounting a tmpfs failed: $(cat "$work/mount.err")"
    (cd "$device" && zerkacmd "${command[@]}" >"$work/full.out" 2>&1)
    status=$?
    [ $status = 0 ] || fail "exit code $status: $(clean "$work/full.out")"
    log=$(ls "$device"/coverage_*.log) || fail "no log was created on the device"
    [ "$(basename "$log")" = "$(basename "$reference")" ] || fail "log named $log"

    # The output is the reference's, with one message more between "body begins" and the
    # close: the failed write. The close names the same log.
    clean "$work/reference.out" | tail -n 2 >"$work/ref.tail"
    clean "$work/full.out" | tail -n 3 >"$work/full.tail"
    [ "$(sed -n 1p "$work/full.tail")" = "$(sed -n 1p "$work/ref.tail")" ] ||
        fail "the body did not begin as in a sound run: $(clean "$work/full.out")"
    [ "$(sed -n 3p "$work/full.tail")" = "$(sed -n 2p "$work/ref.tail")" ] ||
        fail "the log was not closed last: $(clean "$work/full.out")"
    failed=$(sed -n 2p "$work/full.tail")
    [ -n "$failed" ] && ! clean "$work/reference.out" | grep -qxF -- "$failed" ||
        fail "no failed write reported: $(clean "$work/full.out")"

    # Exactly what fit: the header (its time aside) and the start of the sound body, and the
    # device full up to its last block.
    size=$(stat -c %s "$log")
    [ "$size" -gt 2048 ] && [ "$size" -le 4096 ] || fail "the log holds $size bytes"
    cmp -s <(sed 2d "$log") <(sed 2d "$reference" | head -c $((size - $(sed -n 2p "$log" | wc -c)))) ||
        fail "the log is not the start of a sound log"
    grep -q '^H' <(sed -n 2p "$log") || fail "the time record is lost"
    echo "PASSED (full): $size bytes kept (the header and the body up to the full device)," \
        "exit code 0, reported before the close: $failed"
    ;;
gone)
    # The target writes events.pid into the tool's folder and waits; then the folder goes and
    # the target is ended, so the log is due in a folder that is no more.
    gone=$work/gone
    mkdir "$gone"
    (cd "$gone" && zerkacmd -s "$sources" "$programs\\events.exe" wait \
        >"$work/gone.out" 2>&1; echo $? >"$work/gone.rc") &
    for _ in $(seq 600); do
        [ -s "$gone/events.pid" ] && break
        sleep 0.1
    done
    pid=$(cat "$gone/events.pid" 2>/dev/null) || fail "the target never started"
    rm -rf "$gone"
    "$wine" taskkill /f /pid "$pid" >/dev/null 2>&1 </dev/null || fail "could not end the target"
    wait
    [ "$(cat "$work/gone.rc")" = 0 ] || fail "exit code $(cat "$work/gone.rc")"
    [ ! -e "$gone" ] || fail "the folder came back: $(ls -a "$gone")"

    # A sound run names its log in the close message; here the last line names the same path
    # with a different message: the failed create.
    mkdir "$work/sound"
    (cd "$work/sound" && zerkacmd -s "$sources" "$programs\\events.exe" \
        >"$work/sound.out" 2>&1) || fail "the sound run failed"
    name=$(cd "$work/sound" && ls coverage_*.log) || fail "the sound run wrote no log"
    closed=$(last_line "$work/sound.out")
    created=$(last_line "$work/gone.out")
    [[ "$closed" == *".\\$name"* && "$created" == *".\\$name"* ]] ||
        fail "no message names .\\$name: $(clean "$work/gone.out")"
    [ "$created" != "$closed" ] || fail "the log was reported closed: $created"
    clean "$work/gone.out" | grep -qxF -- "$closed" && fail "a log was closed: $closed"
    echo "PASSED (gone): no log, exit code 0, reported: $created"
    ;;
*)
    fail "unknown case $mode"
    ;;
esac
