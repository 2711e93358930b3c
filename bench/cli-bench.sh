#!/usr/bin/env bash
# Times kestrix-cli as a user runs it, the whole process, beside other
# programs on the same bytes in the same run, and prints one table: wall
# time, user and system time, minor page faults and peak resident memory
# (from /usr/bin/time), medians of the runs.
#
# The page is pinned: the bodies of the Rust documentation's std/ pages in
# byte order of their paths, joined and cut at PAGE_BYTES, inside a fixed
# UTF-8 head (bench/WritePage --std); the small page is the same cut at 2 KB.
#
# Rows:
#   - kestrix-cli page -e --level 2 --output F (synced and renamed) beside
#     Debian's `minify --type html -o F` followed by `sync F`;
#   - kestrix-cli page -o with every optimisation switch beside the parser's
#     own parse of the same bytes in-process (best of 3, taken between the
#     runs of kestrix-cli), and the engine's SecurePage and OptimisePage
#     in-process;
#   - the peak memory of page -e --level 4 less that of the same command on
#     the small page;
#   - the start-up: the small page, median of 20, beside /bin/true and cat.
# The machine's transparent-huge-page mode is printed first: it decides what
# a large buffer costs in page faults.
#
# Usage: bench/cli-bench.sh [BUILD_DIR] [PAGE_BYTES]   (defaults: build, 10 MiB)
# KESTRIX_CLI=PATH times another kestrix-cli instead of the build's;
# KESTRIX_CLI_BEFORE=PATH also times an earlier one, its runs alternating
# with the others', and prints its rows beside them with the ratios.
# KESTRIX_BENCH_REALTIME=1 runs every measured command at a real-time
# priority (chrt -f 10; root or CAP_SYS_NICE), so that on a shared, busy
# machine the other programs do not take the processor from it midway.
# Installs minify with apt-get when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
bytes="${2:-10485760}"
cli="${KESTRIX_CLI:-$build/cli/kestrix-cli}"
before="${KESTRIX_CLI_BEFORE:-}"
writer="$build/bench/WritePage"
inprocess="$build/bench/PageInProcess"
for tool in "$cli" "$writer" "$inprocess" ${before:+"$before"}; do
  if [ ! -x "$tool" ]; then
    echo "missing $tool: build the project first (bash scripts/build)" >&2
    exit 1
  fi
done
install() {
  local SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "$@"
}
command -v minify >/dev/null 2>&1 || install minify
[ -x /usr/bin/time ] || install time

# The whole script is run again at that priority, which every program it
# starts inherits (a chrt before each command would add its own start-up
# to every figure).
if [ "${KESTRIX_BENCH_REALTIME:-0}" = 1 ] && [ "$(chrt -p $$ | sed -n 's/.*policy: //p')" != "SCHED_FIFO" ]; then
  chrt -f 10 true || { echo "chrt -f 10 is not allowed to this user" >&2; exit 1; }
  exec chrt -f 10 bash "$0" "$@"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The settings store of the user is not read: every run starts from the
# defaults, and the configuration folder is a private one.
export XDG_CONFIG_HOME="$work/config"
"$writer" --std "$bytes" "$work/page.html"
"$writer" --std 2048 "$work/small.html"
"$cli" settings --defaults | sed -e 's/\.Checked=0/.Checked=1/' >"$work/all.ini"
size=$(stat -c %s "$work/page.html")

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
thp=$(cat /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || echo "unknown")
echo "transparent huge pages: $thp"
echo "page: $size bytes (Rust std documentation bodies); small page: $(stat -c %s "$work/small.html") bytes"
echo "kestrix-cli: $cli${before:+; before: $before}"
[ "${KESTRIX_BENCH_REALTIME:-0}" = 1 ] && echo "every command at real-time priority (chrt -f 10)"

# Two runs of a command: appends "wall user sys faults peakKB" to a file.
# The wall time is that of the command run alone, read from the shell's own
# clock (no process started to read it); the rest is what /usr/bin/time
# reports of a second run.
run() {
  local out="$1"
  shift
  local start end
  start=$EPOCHREALTIME
  "$@" >"$work/stdout"
  end=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %R %M" -o "$work/time" "$@" >"$work/stdout"
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN {printf "%.4f", e - s}') $(cat "$work/time")" >>"$out"
}

# The median of each column of a file of runs.
medians() {
  local file="$1" column values
  for column in 1 2 3 4 5; do
    values=$(awk -v c="$column" '{print $c}' "$file" | sort -g |
      awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    printf '%s ' "$values"
  done
  echo
}

row() { # label file
  medians "$2" | awk -v label="$1" \
    '{printf "| %s | %.3f s | %.2f s | %.2f s | %d | %.1f MB |\n", label, $1, $2, $3, $4, $5 / 1024}'
}

programs=("$cli")
[ -n "$before" ] && programs+=("$before")
tag() { [ "$1" = "$cli" ] && echo "after" || echo "before"; }

# Securing beside minify, runs alternating so that a busy moment of the
# machine falls on all alike.
for ((round = 0; round < 7; round++)); do
  for p in "${programs[@]}"; do
    run "$work/e-$(tag "$p")" "$p" page -e --defaults --level 2 --output "$work/out.html" \
      "$work/page.html"
  done
  run "$work/minify" sh -c 'minify --type html -o "$1" "$2" && sync "$1"' _ "$work/min.html" \
    "$work/page.html"
done
for ((round = 0; round < 3; round++)); do
  for p in "${programs[@]}"; do
    run "$work/o-$(tag "$p")" "$p" page -o --defaults --settings "$work/all.ini" \
      --output "$work/opt.html" "$work/page.html"
    run "$work/l4-$(tag "$p")" "$p" page -e --defaults --level 4 --output "$work/out4.html" \
      "$work/page.html"
    run "$work/l4small-$(tag "$p")" "$p" page -e --defaults --level 4 \
      --output "$work/small4.html" "$work/small.html"
  done
  "$inprocess" gumbo "$work/page.html" 3 | awk '{print $2, $3}' >>"$work/gumbo"
done
for ((round = 0; round < 20; round++)); do
  for p in "${programs[@]}"; do
    run "$work/start-$(tag "$p")" "$p" page --defaults --output "$work/small-out.html" \
      "$work/small.html"
  done
  run "$work/true" /bin/true
  run "$work/cat" cat "$work/small.html"
done
# The processor time of start-up, which a busy machine does not lengthen:
# twenty runs together under one /usr/bin/time (its 10 ms steps are then
# half a millisecond a run), three times.
startup_cpu() { # OUT COMMAND...
  local out="$1" i
  shift
  for ((i = 0; i < 3; i++)); do
    /usr/bin/time -f "%U %S" -o "$work/time" sh -c \
      'for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do "$@" >/dev/null; done' _ "$@"
    awk '{printf "%.2f\n", ($1 + $2) * 1000 / 20}' "$work/time" >>"$out"
  done
}
for p in "${programs[@]}"; do
  startup_cpu "$work/startcpu-$(tag "$p")" "$p" page --defaults --output "$work/small-out.html" \
    "$work/small.html"
done
startup_cpu "$work/startcpu-true" /bin/true
"$inprocess" engine "$work/page.html" >"$work/inprocess"
gumbo=$(awk '{print $1}' "$work/gumbo" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
gumbo_cpu=$(awk '{print $2}' "$work/gumbo" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
secure=$(awk '$1 == "secure-level2" {print $2}' "$work/inprocess")
optimise=$(awk '$1 == "optimise" {print $2}' "$work/inprocess")

echo
echo "| command | wall | user | sys | minor faults | peak RSS |"
echo "|---|---|---|---|---|---|"
for p in "${programs[@]}"; do
  t=$(tag "$p")
  row "\`kestrix-cli page -e --level 2 --output F\` ($t)" "$work/e-$t"
done
row "\`minify --type html -o F\` and \`sync F\`" "$work/minify"
echo "| \`SecurePage\` level 2 itself, in-process (this build, best of 10) | $secure s | | | | |"
for p in "${programs[@]}"; do
  t=$(tag "$p")
  row "\`kestrix-cli page -o\`, every switch ($t)" "$work/o-$t"
done
echo "| gumbo's own parse of the page, in-process, best of 3 (median of 3 such) | $gumbo s | | | | |"
echo "| \`OptimisePage\` itself, every switch, in-process (this build, best of 10) | $optimise s | | | | |"
for p in "${programs[@]}"; do
  t=$(tag "$p")
  row "\`kestrix-cli page -e --level 4 --output F\` ($t)" "$work/l4-$t"
  row "the same, 2 KB page ($t)" "$work/l4small-$t"
  row "start-up: \`kestrix-cli page\`, 2 KB page, median of 20 ($t)" "$work/start-$t"
done
row "\`/bin/true\`" "$work/true"
row "\`cat\` of the 2 KB page" "$work/cat"

echo
mini=$(medians "$work/minify" | awk '{print $1}')
# One line per goal of every build timed, and whether it is met.
verdict() { awk -v v="$1" -v g="$2" 'BEGIN {print (v <= g) ? "met" : "NOT MET"}'; }
for p in "${programs[@]}"; do
  t=$(tag "$p")
  read -r wall _ _ faults _ <<<"$(medians "$work/e-$t")"
  read -r owall ouser osys _ _ <<<"$(medians "$work/o-$t")"
  read -r _ _ _ _ peak4 <<<"$(medians "$work/l4-$t")"
  read -r _ _ _ _ peaksmall <<<"$(medians "$work/l4small-$t")"
  scpu=$(sort -g "$work/startcpu-$t" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  ratio_e=$(awk -v w="$wall" -v m="$mini" 'BEGIN {printf "%.3f", w / m}')
  ratio_peak=$(awk -v p4="$peak4" -v ps="$peaksmall" -v s="$size" \
    'BEGIN {printf "%.2f", (p4 - ps) * 1024 / s}')
  ratio_o=$(awk -v o="$owall" -v g="$gumbo" 'BEGIN {printf "%.2f", o / g}')
  echo "$t: page -e wall / (minify + sync) wall = $ratio_e (goal 0.25 or less): $(verdict "$ratio_e" 0.25)"
  echo "$t: page -e minor faults = $faults (goal 2,500 or less): $(verdict "$faults" 2500)"
  awk -v t="$t" -v p4="$peak4" -v ps="$peaksmall" -v r="$ratio_peak" 'BEGIN {
    printf "%s: level-4 peak less the 2 KB page'\''s = %.1f MB = %.2f times the page (goal 1.5 or less): ", t, (p4 - ps) / 1024, r}'
  verdict "$ratio_peak" 1.5
  echo "$t: page -o wall / gumbo's own parse = $ratio_o (goal 1.3 or less): $(verdict "$ratio_o" 1.3)"
  awk -v t="$t" -v ou="$ouser" -v os="$osys" -v gc="$gumbo_cpu" 'BEGIN {
    printf "%s:   (processor time %.2f s / %.2f s = %.2f; the goal is on the wall time)\n", t, ou + os, gc, (ou + os) / gc}'
  echo "$t: start-up processor time, 2 KB page: $scpu ms a run"
done
echo "/bin/true processor time: $(sort -g "$work/startcpu-true" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}') ms a run"
if [ -n "$before" ]; then
  after_start=$(medians "$work/start-after" | awk '{print $1}')
  before_start=$(medians "$work/start-before" | awk '{print $1}')
  ratio_start=$(awk -v a="$after_start" -v b="$before_start" 'BEGIN {printf "%.3f", a / b}')
  echo "start-up, after / before = $ratio_start (goal 1.05 or less): $(verdict "$ratio_start" 1.05)"
else
  echo "start-up, after / before: not measured (set KESTRIX_CLI_BEFORE to the earlier build)"
fi
echo "in-process SecurePage level 2 = $secure s, OptimisePage every switch = $optimise s (this build;"
echo "  compare with bench/SecurePageBench and bench/OptimiseBench of the earlier build, alternating)"
echo "load average at the start: $load_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
