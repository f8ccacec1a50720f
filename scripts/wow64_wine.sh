#!/usr/bin/env bash
# The WoW64 Wine that runs the 32-bit suite, in the build folder.
#   wow64_wine.sh check <source> <dest>   exit 0 if a Wine is there or can be put there;
#                                         otherwise print why the 32-bit suite is skipped
#   wow64_wine.sh unpack <source> <dest>  put it at <dest>
# <source> is a tarball, a folder holding one tarball, or an unpacked Wine (with bin/wine).
set -euo pipefail
mode=$1 source=$2 dest=$3

# The tarball that <source> names, if any.
tarball() {
    if [ -f "$source" ]; then
        echo "$source"
    elif [ -d "$source" ]; then
        local found=("$source"/*.tar.xz)
        [ ${#found[@]} = 1 ] && [ -f "${found[0]}" ] && echo "${found[0]}"
    fi
}

case $mode in
check)
    [ -x "$dest/bin/wine" ] || [ -x "$source/bin/wine" ] || [ -n "$(tarball)" ] && exit 0
    echo "32-bit suite skipped: no WoW64 Wine at $source (WOW64_WINE=<its tarball or folder>)"
    exit 1
    ;;
unpack)
    rm -rf "$dest" "$dest.part"
    if [ -x "$source/bin/wine" ]; then
        ln -s "$(realpath "$source")" "$dest"
        exit 0
    fi
    archive=$(tarball) || { echo "no WoW64 Wine at $source"; exit 1; }
    mkdir -p "$dest.part"
    tar -xJf "$archive" -C "$dest.part"
    top=("$dest.part"/*)
    [ ${#top[@]} = 1 ] && [ -x "${top[0]}/bin/wine" ] || { echo "no bin/wine in $archive"; exit 1; }
    mv "${top[0]}" "$dest"
    rm -rf "$dest.part"
    ;;
esac
