#!/bin/sh
# load_example.sh RUNNER FOLDER PROJECT WORKDIR
# Copies an example folder, runs its project for 1,000 generations and fails
# on a conflict message, on any other message, or when the run falls short.
runner=$1 folder=$2 project=$3 work=$4
rm -rf "$work" && mkdir -p "$work" && cp -R "$folder"/. "$work"/ || exit 1
out=$("$runner" "$work/$project" -n 1000 --stats --no-progress 2>"$work/stderr.txt") || {
    echo "runner failed: $?"; cat "$work/stderr.txt"; exit 1; }
echo "$out"
if grep -q 'Error: UniverseCell at' "$work/stderr.txt"; then
    echo "conflict messages:"; cat "$work/stderr.txt"; exit 1
fi
if [ -s "$work/stderr.txt" ]; then
    echo "unexpected messages:"; cat "$work/stderr.txt"; exit 1
fi
case "$out" in
    "generation 1000 "*) ;;
    *) echo "the run did not reach generation 1000"; exit 1 ;;
esac
