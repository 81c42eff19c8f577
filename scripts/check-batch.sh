#!/usr/bin/env bash
# Runs the README's batch-render recipe (the code block after the
# "batch-recipe" marker) on a small catalogue, with GNU parallel's local
# login ":" as the only machine: subfolders, a name with spaces, one file
# that is not audio and one WAV cut short by a failed copy. Checks that the
# two bad files fail alone (the cut one with the damaged-input status 4 in
# render.log), the others render to the same names under out/, and a second
# run renders nothing again.
# Usage: scripts/check-batch.sh ORVEX_DIR   (the folder holding orvex)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export PATH="$(cd "$1" && pwd):$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-batch: $*" >&2; exit 1; }

recipe=$(awk '/<!-- batch-recipe -->/ {found = 1; next} found && /^```/ {if (inside) exit; inside = 1; next} inside' \
    "$here/../README.md")
[ -n "$recipe" ] || fail "no recipe after <!-- batch-recipe --> in README.md"

export CATALOGUE=$work/catalogue MACHINES=$work/machines
echo ":" >"$MACHINES"
mkdir -p "$CATALOGUE/in/album one" "$CATALOGUE/in/singles"
python3 "$here/wavtool.py" noise "$CATALOGUE/in/album one/01 intro.wav" 44100 8000 -6 1
python3 "$here/wavtool.py" noise "$CATALOGUE/in/album one/02.wav" 44100 8000 -6 2
python3 "$here/wavtool.py" noise "$CATALOGUE/in/singles/a.wav" 48000 8000 -6 3
echo "not audio" >"$CATALOGUE/in/singles/broken.wav"
python3 "$here/wavtool.py" noise "$CATALOGUE/in/singles/cut.wav" 44100 8000 -6 4
truncate -s 30000 "$CATALOGUE/in/singles/cut.wav"
expected=("album one/01 intro.wav" "album one/02.wav" "singles/a.wav")

run_recipe() {
    local status=0
    (cd "$work" && bash -c "$recipe") >"$work/log" 2>&1 || status=$?
    # parallel's exit status counts the failed jobs: the two bad files only.
    [ "$status" -eq 2 ] || { cat "$work/log"; fail "recipe exit status $status, expected 2 (two bad files)"; }
    # The joblog's seventh column is the job's exit status.
    [ "$(awk -F'\t' '/singles\/cut.wav/ {print $7}' "$CATALOGUE/render.log")" = 4 ] ||
        { cat "$CATALOGUE/render.log"; fail "the cut file's job is not listed with exit status 4"; }
    grep -q "cut.wav is damaged" "$work/log" || { cat "$work/log"; fail "nothing said the cut file is damaged"; }
}

run_recipe
for f in "${expected[@]}"; do
    [ -s "$CATALOGUE/out/$f" ] || fail "no output for $f"
done
[ ! -e "$CATALOGUE/out/singles/broken.wav" ] || fail "an output for the broken file"
[ ! -e "$CATALOGUE/out/singles/cut.wav" ] || fail "an output for the cut file"
[ "$(find "$CATALOGUE/out" -type f | wc -l)" -eq 3 ] || fail "unexpected files under out/: $(find "$CATALOGUE/out")"
stamps=$(cd "$CATALOGUE/out" && stat -c '%i %Y %n' "${expected[@]}")

sleep 1
run_recipe
[ "$(cd "$CATALOGUE/out" && stat -c '%i %Y %n' "${expected[@]}")" = "$stamps" ] ||
    fail "the second run rendered files that were already done"
echo "check-batch: recipe rendered 3 files, failed the broken and the cut one, rendered nothing twice"
