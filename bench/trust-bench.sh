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
# each as wall time, major and minor page faults and peak resident memory
# (/usr/bin/time), the median of RUNS runs for the quick ones.
# Usage: bench/trust-bench.sh [BUILD_DIR] [PAGES] [RUNS]
#   defaults: build, 10000 pages, 3 runs
set -euo pipefail
# shellcheck source=bench/rust-site.sh
source "$(dirname "$0")/rust-site.sh" "$@"
make_site

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

sync
secure=$(timed "$cli" secure -e -a --level 2 "$site")
tail -n 1 "$work/stderr"
show "secure -e -a --level 2" $secure
verify=$(median_of "$cli" verify "$site")
tail -n 1 "$work/stderr"
show "verify" $verify
awk -v a="${verify%% *}" -v b="${secure%% *}" \
  'BEGIN {printf "verify / secure:                   %.2f (goal: at most 2)\n", a / b}'

grep=$(median_of grep -r -F "kestrix-no-such-text" "$site")
show "grep -r -F" $grep
audit=$(median_of "$cli" audit "$site")
show "audit (backups in the tree)" $audit
awk -v a="${audit%% *}" -v b="${grep%% *}" \
  'BEGIN {printf "audit / grep:                      %.2f (goal: at most 3)\n", a / b}'
find "$site" -name 'Kestrix Backup' -type d -prune -exec rm -rf {} +
grep=$(median_of grep -r -F "kestrix-no-such-text" "$site")
show "grep -r -F (no backups)" $grep
audit=$(median_of "$cli" audit "$site")
show "audit (no backups: read back)" $audit
awk -v a="${audit%% *}" -v b="${grep%% *}" \
  'BEGIN {printf "audit / grep:                      %.2f (goal: at most 3)\n", a / b}'
