#!/usr/bin/env bash
# Times kestrix-cli verify and audit as a user runs them, on a site of real
# pages (the installed Rust documentation), beside what they are measured
# against:
#   - verify of the site beside the secure run that secured it (the goal:
#     at most twice its time);
#   - audit of the site, with its backups and with them removed, beside
#     `grep -r -F` of one fixed string over the same tree (the goal: at
#     most three times its time);
# each as wall time, processor time (user + system), major and minor page
# faults and peak resident memory (/usr/bin/time), the median of RUNS runs
# for the quick ones. grep and audit run in turns, side by side, so that
# their ratio holds on a shared machine; the load average is shown with
# each group. With KESTRIX_CLI_BEFORE set to another build of kestrix-cli,
# its audit runs in the same turns, for figures before and after a change.
# Usage: bench/trust-bench.sh [BUILD_DIR] [PAGES] [RUNS]
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

# The first PAGES pages of the documentation, in the same folders.
(cd "$docs" && find . -name '*.html' -type f | sort | sed -n "1,${count}p") >"$work/pages"
mkdir -p "$site"
tar -C "$docs" -cf - -T "$work/pages" | tar -C "$site" -xf -
echo "site: $(wc -l <"$work/pages") pages, $(du -sh "$site" | cut -f1)"

before="${KESTRIX_CLI_BEFORE:-}"

# One timed run: "wall faults-major faults-minor peak-kB cpu" on standard
# output.
timed() {
  /usr/bin/time -f '%e %F %R %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || true
  tail -n 1 "$work/time" | awk '{printf "%s %s %s %s %.2f\n", $1, $2, $3, $4, $5 + $6}'
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
  printf '%-34s %8s s  %6s s cpu  %6s major  %8s minor  %8s KB peak\n' "$1" $2 $6 $3 $4 $5
}
load() {
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}
# The median (by wall time) of each column of lines, one group per name.
median_lines() {
  sort -n | awk '{a[NR]=$0} END {print a[int((NR+1)/2)]}'
}
# grep and audit (and the earlier audit) over one tree in turns, RUNS
# times; the median of each and the ratios.
audit_beside_grep() {
  local label="$1" tree="$2" g=() a=() b=()
  load
  for ((i = 0; i < runs; i++)); do
    g+=("$(timed grep -r -F "kestrix-no-such-text" "$tree")")
    a+=("$(timed "$cli" audit "$tree")")
    if [ -n "$before" ]; then
      b+=("$(timed "$before" audit "$tree")")
    fi
  done
  local gm am bm
  gm=$(printf '%s\n' "${g[@]}" | median_lines)
  am=$(printf '%s\n' "${a[@]}" | median_lines)
  show "grep -r -F ($label)" $gm
  show "audit ($label)" $am
  awk -v a="${am%% *}" -v b="${gm%% *}" \
    'BEGIN {printf "audit / grep:                      %.2f (goal: at most 3)\n", a / b}'
  if [ -n "$before" ]; then
    bm=$(printf '%s\n' "${b[@]}" | median_lines)
    show "audit before ($label)" $bm
    awk -v a="${bm%% *}" -v b="${gm%% *}" \
      'BEGIN {printf "audit before / grep:               %.2f\n", a / b}'
  fi
  load
}

sync
secure=$(timed "$cli" secure -e -a --level 2 "$site")
tail -n 1 "$work/stderr"
show "secure -e -a --level 2" $secure
verify=$(median_of "$cli" verify "$site")
tail -n 1 "$work/stderr"
show "verify" $verify
awk -v a="${verify%% *}" -v b="${secure%% *}" \
  'BEGIN {printf "verify / secure:                   %.2f (goal: at most 2)\n", a / b}'

audit_beside_grep "backups in the tree" "$site"
find "$site" -name 'Kestrix Backup' -type d -prune -exec rm -rf {} +
audit_beside_grep "no backups: read back" "$site"
