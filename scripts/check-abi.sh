#!/usr/bin/env bash
# Compares the dynamic symbols that libdib.so defines with the committed list abi/libdib.symbols.
#   check-abi.sh LIB [LIST]            fails (and prints the difference) when they differ
#   check-abi.sh --update LIB [LIST]   rewrites the list from LIB
# Names are demangled, one a line, sorted in the C locale, so every change of the exported
# interface shows as a readable diff in review.
set -euo pipefail
update=0
if [ "${1:-}" = "--update" ]; then
    update=1
    shift
fi
lib=${1:?usage: check-abi.sh [--update] LIB [LIST]}
list=${2:-$(dirname "$0")/../abi/libdib.symbols}

current=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt | LC_ALL=C sort -u)
if [ $update -eq 1 ]; then
    printf '%s\n' "$current" > "$list"
    echo "check-abi: wrote $(wc -l < "$list") symbols to $list"
    exit 0
fi
if ! diff -u "$list" <(printf '%s\n' "$current"); then
    echo "check-abi: the exported symbols of $lib differ from $list (lines with + are new)." >&2
    echo "check-abi: if the change is intended, run scripts/check-abi.sh --update $lib" >&2
    exit 1
fi
echo "check-abi: $(printf '%s\n' "$current" | wc -l) exported symbols, as listed"
