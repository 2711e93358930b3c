# What the benchmarks over real pages share, sourced by them with their own
# arguments: the program, a site of installed Rust documentation pages in a
# temporary folder (removed at the end), one timed run of a whole process
# and the median of several.
#   source bench/rust-site.sh [BUILD_DIR] [PAGES] [RUNS]
#   defaults: build, 10000 pages, 3 runs
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
count="${2:-10000}"
runs="${3:-3}"
cli="${KESTRIX_CLI:-$build/cli/kestrix-cli}"
if [ ! -x "$cli" ]; then
  echo "missing $cli: build the project first (bash scripts/build)" >&2
  exit 1
fi
docs="$(rustc --print sysroot 2>/dev/null)/share/doc/rust/html"
if [ ! -d "$docs" ]; then
  echo "no Rust documentation found at $docs" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
site="$work/site"

# The first PAGES pages of the documentation, in the same folders; with
# "with-assets", also the documentation's other files (style sheets,
# scripts, fonts, images) of those folders' tops.
make_site() {
  (cd "$docs" && find . -name '*.html' -type f | sort | sed -n "1,${count}p") >"$work/pages"
  if [ "${1:-}" = with-assets ]; then
    (cd "$docs" && find . -maxdepth 2 -type f ! -name '*.html' | sort) >>"$work/pages"
  fi
  mkdir -p "$site"
  tar -C "$docs" -cf - -T "$work/pages" | tar -C "$site" -xf -
  echo "site: $(grep -c '\.html$' "$work/pages") pages, $(grep -vc '\.html$' "$work/pages") other files, $(du -sh "$site" | cut -f1)"
}

# One timed run: "wall faults-major faults-minor peak-kB user sys" on
# standard output.
timed() {
  /usr/bin/time -f '%e %F %R %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || true
  tail -n 1 "$work/time"
}
# The run of median wall time among RUNS runs.
median_of() {
  local lines=()
  for ((i = 0; i < runs; i++)); do
    lines+=("$(timed "$@")")
  done
  printf '%s\n' "${lines[@]}" | sort -n | awk '{a[NR]=$0} END {print a[int((NR+1)/2)]}'
}
show() {
  printf '%-34s %8s s  %6s major  %8s minor  %8s KB peak  %6s s user  %6s s sys\n' \
    "$1" $2 $3 $4 $5 $6 $7
}
