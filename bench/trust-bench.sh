#!/usr/bin/env bash
# Times kestrix-cli verify and audit as a user runs them, on a site of real
# pages (the installed Rust documentation), beside what they are measured
# against:
#   - secure of the site as it is, with --verify, with --report and with
#     both, each on a fresh copy of the pages (what the check and the report
#     cost; the user and system CPU times show it best on a busy machine);
#   - verify of the site beside the secure run that secured it (the goal:
#     at most twice its time);
#   - audit of the site, with its backups and with them removed, beside
#     `grep -r -F` of one fixed string over the same tree (the goal: at
#     most three times its time);
# each as wall time, major and minor page faults, peak resident memory and
# user and system CPU time (/usr/bin/time), the median of RUNS runs for the
# quick ones. grep and audit run in turns, side by side, so that their
# ratio holds on a shared machine; the load average is shown with each
# group. With KESTRIX_CLI_BEFORE set to another build of kestrix-cli, its
# audit runs in the same turns, for figures before and after a change; with
# TRUST_BENCH_AUDIT_ONLY=1 only the site is secured (once) and audited.
# Usage: bench/trust-bench.sh [BUILD_DIR] [PAGES] [RUNS]
#   defaults: build, 10000 pages, 3 runs
set -euo pipefail
# shellcheck source=bench/rust-site.sh
source "$(dirname "$0")/rust-site.sh" "$@"
make_site

before="${KESTRIX_CLI_BEFORE:-}"

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

if [ -z "${TRUST_BENCH_AUDIT_ONLY:-}" ]; then
# secure with its options, each run on a fresh copy of the pages.
pristine="$work/pristine"
cp -a "$site" "$pristine"
secure_variant() {
  local lines=() label="$1"
  shift
  for ((i = 0; i < runs; i++)); do
    rm -rf "$site" "$work/report.jsonl"
    cp -a "$pristine" "$site"
    sync
    lines+=("$(timed "$cli" secure -e -a --level 2 "$@" "$site")")
  done
  tail -n 1 "$work/stderr"
  show "$label" $(printf '%s\n' "${lines[@]}" | sort -n | awk '{a[NR]=$0} END {print a[int((NR+1)/2)]}')
}
secure_variant "secure -e -a --level 2 (fresh copy)"
secure_variant "secure -e -a --level 2 --verify" --verify
secure_variant "secure ... --report FILE" --report "$work/report.jsonl"
echo "report: $(wc -l <"$work/report.jsonl") lines, $(du -h "$work/report.jsonl" | cut -f1)"
secure_variant "secure ... --verify --report FILE" --verify --report "$work/report.jsonl"
rm -rf "$site"
cp -a "$pristine" "$site"
rm -rf "$pristine"
fi

sync
secure=$(timed "$cli" secure -e -a --level 2 "$site")
tail -n 1 "$work/stderr"
show "secure -e -a --level 2" $secure
if [ -z "${TRUST_BENCH_AUDIT_ONLY:-}" ]; then
  verify=$(median_of "$cli" verify "$site")
  tail -n 1 "$work/stderr"
  show "verify" $verify
  awk -v a="${verify%% *}" -v b="${secure%% *}" \
    'BEGIN {printf "verify / secure:                   %.2f (goal: at most 2)\n", a / b}'
fi

audit_beside_grep "backups in the tree" "$site"
find "$site" -name 'Kestrix Backup' -type d -prune -exec rm -rf {} +
audit_beside_grep "no backups: read back" "$site"
