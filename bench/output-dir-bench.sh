#!/usr/bin/env bash
# Times kestrix-cli secure --output-dir as a user runs it, on a site of real
# pages (the installed Rust documentation, with its style sheets, scripts
# and fonts): the first build into an empty folder, then a rebuild of the
# unchanged site (the goal: at most a fifth of the first build's time, and
# no file written), then a rebuild after every source file was rewritten
# with the same bytes (new times: each file is read and hashed, none
# written). That nothing is written is shown twice: by the output's inodes,
# change and modification times before and after, and by the system calls
# of the rebuild that could write (strace).
# Wall time, major and minor page faults, peak resident memory
# (/usr/bin/time); the rebuilds as the median of RUNS runs.
# Usage: bench/output-dir-bench.sh [BUILD_DIR] [PAGES] [RUNS]
#   defaults: build, 10000 pages, 3 runs
set -euo pipefail
# shellcheck source=bench/rust-site.sh
source "$(dirname "$0")/rust-site.sh" "$@"
make_site with-assets
out="$work/out"

# Every entry of the output with its inode, change and modification times.
stamps() { find "$out" -mindepth 1 -printf '%i %C@ %T@ %p\n' | sort -k4; }
# Entries whose stamps differ between two listings, or in one only.
changed() { diff <(echo "$1") <(echo "$2") | grep -c '^>' || true; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
sync
first=$(timed "$cli" secure -e -a --level 2 --output-dir "$out" "$site")
tail -n 2 "$work/stderr"
show "first build" $first
echo "output: $(find "$out" -type f | wc -l) files, $(du -sh "$out" | cut -f1)"

before="$(stamps)"
rebuild=$(median_of "$cli" secure -e -a --level 2 --output-dir "$out" "$site")
tail -n 2 "$work/stderr"
show "rebuild, unchanged" $rebuild
awk -v a="${rebuild%% *}" -v b="${first%% *}" \
  'BEGIN {printf "rebuild / first build:             %.3f (goal: at most 0.2)\n", a / b}'
echo "entries of the output changed by the rebuilds: $(changed "$before" "$(stamps)") (goal: 0)"

if command -v strace >/dev/null; then
  strace -f -qq -o "$work/strace" \
    -e trace=write,pwrite64,writev,openat,rename,renameat,renameat2,link,linkat,unlink,unlinkat,mkdir,mkdirat,symlinkat,copy_file_range,fchmod,utimensat \
    "$cli" secure -e -a --level 2 --output-dir "$out" "$site" >/dev/null 2>&1
  # Writes to standard output and error are the report, not files.
  writes=$(grep -E '(write|pwrite64|writev)\(' "$work/strace" | grep -vcE '(write|writev)\([12],' || true)
  creates=$(grep -E 'openat\(' "$work/strace" | grep -cE 'O_CREAT|O_TMPFILE|O_WRONLY|O_RDWR|O_TRUNC' || true)
  names=$(grep -cE '(rename|renameat|renameat2|link|linkat|unlink|unlinkat|mkdir|mkdirat|symlinkat)\(' "$work/strace" || true)
  attrs=$(grep -cE '(fchmod|utimensat)\(' "$work/strace" || true)
  echo "system calls of an unchanged rebuild that write: $writes writes, $creates opens to write," \
    "$names renames/links/removals/folders, $attrs attribute changes (goal: all 0)"
fi

# A generator that writes every file again with the same bytes.
find "$site" -type f -exec touch {} +
before="$(stamps)"
retouched=$(timed "$cli" secure -e -a --level 2 --output-dir "$out" "$site")
tail -n 2 "$work/stderr"
show "rebuild, every source touched" $retouched
echo "entries of the output changed: $(changed "$before" "$(stamps)") (only the state: 1)"
