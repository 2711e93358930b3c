#!/usr/bin/env bash
# Compares the pages that kestrix-cli writes with the pages an earlier commit
# writes: the earlier commit is built in a temporary worktree beside this
# one, and both secure the same real pages (the installed Rust documentation)
# at strength levels 0 to 4 with every switch on: scrambling, the access
# script with all eight switches, and the optimisation with all nine. Every
# output and exit status must be identical.
# Usage: bench/compare-output.sh [COMMIT] [PAGES] [BUILD_DIR]
#   COMMIT     the earlier commit (default 349ed50)
#   PAGES      how many pages (default 2000), spread over the whole tree
#   BUILD_DIR  the build of the current tree (default build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
commit="${1:-349ed50}"
count="${2:-2000}"
build="$(cd "${3:-$root/build}" && pwd)"
new_cli="$build/cli/kestrix-cli"
if [ ! -x "$new_cli" ]; then
  echo "missing $new_cli: build the project first (bash scripts/build)" >&2
  exit 1
fi
docs="$(rustc --print sysroot 2>/dev/null)/share/doc/rust/html"
if [ ! -d "$docs" ]; then
  echo "no Rust documentation found at $docs" >&2
  exit 1
fi

work="$(mktemp -d)"
old_tree="$work/tree"
cleanup() {
  git -C "$root" worktree remove --force "$old_tree" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A copy of the current program, so that a rebuild while this runs changes
# nothing.
cp "$new_cli" "$work/kestrix-cli"
new_cli="$work/kestrix-cli"

echo "building $commit in $old_tree"
git -C "$root" worktree add --detach "$old_tree" "$commit" >/dev/null 2>&1
cmake -S "$old_tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF >/dev/null
cmake --build "$work/build" -j2 --target kestrix-cli >/dev/null
old_cli="$work/build/cli/kestrix-cli"

# Settings with every switch on; the level is given per run.
export XDG_CONFIG_HOME="$work/config"
"$new_cli" settings --defaults | sed -e 's/\.Checked=0/.Checked=1/' >"$work/all.ini"

# The pages, spread evenly over the sorted list of the whole tree.
find "$docs" -name '*.html' -type f | LC_ALL=C sort >"$work/all-pages"
total=$(wc -l <"$work/all-pages")
if [ "$total" -lt "$count" ]; then
  count=$total
fi
awk -v n="$count" -v t="$total" 'NR > (k * t / n) { print; k++ }' "$work/all-pages" \
  >"$work/pages"
echo "securing $(wc -l <"$work/pages") of $total pages at levels 0 to 4 with both builds"

# One page at all levels with both programs; prints one line per difference.
compare_page() {
  local page="$1" dir
  dir="$(mktemp -d "$work/run.XXXXXX")"
  for level in 0 1 2 3 4; do
    local old_rc=0 new_rc=0
    "$old_cli" page --defaults --settings "$work/all.ini" --level "$level" \
      --output "$dir/old.html" "$page" 2>"$dir/old.err" || old_rc=$?
    "$new_cli" page --defaults --settings "$work/all.ini" --level "$level" \
      --output "$dir/new.html" "$page" 2>"$dir/new.err" || new_rc=$?
    if [ "$old_rc" != "$new_rc" ] || ! cmp -s "$dir/old.err" "$dir/new.err"; then
      echo "DIFFERENT STATUS level $level: $page ($old_rc, $new_rc)"
    elif [ "$old_rc" = 0 ] && ! cmp -s "$dir/old.html" "$dir/new.html"; then
      echo "DIFFERENT BYTES level $level: $page"
    else
      echo "same"
    fi
    rm -f "$dir/old.html" "$dir/new.html"
  done
  rm -rf "$dir"
}
export -f compare_page
export work old_cli new_cli

tr '\n' '\0' <"$work/pages" | xargs -0 -n 1 -P 2 bash -c 'compare_page "$1"' _ \
  >"$work/results"
same=$(grep -c '^same$' "$work/results" || true)
runs=$(wc -l <"$work/results")
grep -v '^same$' "$work/results" || true
echo "$same of $runs outputs identical ($(wc -l <"$work/pages") pages, levels 0 to 4, every switch on)"
[ "$same" = "$runs" ]
