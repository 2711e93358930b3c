#!/usr/bin/env bash
# Times kestrix-cli on a benchmark page of real documentation bodies, beside
# other programs on the same bytes in the same run:
#   - securing at level 2 (-e --level 2) beside Debian's `minify --type html`,
#     with the ratio of the two;
#   - the peak resident memory of securing at level 4, beside the page size;
#   - the start-up: securing a 2 KB page, median of 20 runs, beside /bin/true
#     and cat of the same file.
# Usage: bench/cli-bench.sh [BUILD_DIR] [PAGE_BYTES]   (defaults: build, 10 MB)
# KESTRIX_CLI=PATH times another kestrix-cli (an earlier build, say) on the
# same pages. Installs minify with apt-get when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
bytes="${2:-10485760}"
cli="${KESTRIX_CLI:-$build/cli/kestrix-cli}"
writer="$build/bench/WritePage"
for tool in "$cli" "$writer"; do
  if [ ! -x "$tool" ]; then
    echo "missing $tool: build the project first (bash scripts/build)" >&2
    exit 1
  fi
done
if ! command -v minify >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends minify
fi
if [ ! -x /usr/bin/time ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends time
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The settings store of the user is not read: every run starts from the
# defaults, and the configuration folder is a private one.
export XDG_CONFIG_HOME="$work/config"
"$writer" "$bytes" "$work/page.html"
"$writer" 2048 "$work/small.html"

# Median wall time in seconds of `runs` runs of a command, its standard
# output written to $work/stdout.
median() {
  local runs="$1"
  shift
  local times=()
  for ((i = 0; i < runs; i++)); do
    local start end
    start=$(date +%s%N)
    "$@" >"$work/stdout"
    end=$(date +%s%N)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.4f", a[int((NR+1)/2)]/1e9}'
}

size=$(stat -c %s "$work/page.html")
echo "page: $size bytes of real documentation bodies"

# Both write the result to standard output, into a file of the same folder.
# Runs of the two alternate, so that a busy moment of the machine falls on
# both alike.
secure_times=()
mini_times=()
for ((round = 0; round < 7; round++)); do
  secure_times+=("$(median 1 "$cli" page -e --defaults --level 2 "$work/page.html")")
  mini_times+=("$(median 1 minify --type html "$work/page.html")")
done
middle() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {printf "%.4f", a[int((NR+1)/2)]}'; }
secure=$(middle "${secure_times[@]}")
mini=$(middle "${mini_times[@]}")
echo "kestrix-cli page -e --level 2:  $secure s (median of 7)"
echo "minify --type html:              $mini s (median of 7)"
awk -v a="$secure" -v b="$mini" 'BEGIN {printf "ratio kestrix-cli / minify:      %.3f\n", a / b}'
# The same through --output, which writes a temporary file, syncs it to the
# disk and renames it over the target.
atomic=$(median 5 "$cli" page -e --defaults --level 2 --output "$work/out.html" "$work/page.html")
echo "kestrix-cli ... --output FILE:   $atomic s (median of 5)"

"$cli" settings --defaults >"$work/all.ini"
sed -i -e 's/\.Checked=0/.Checked=1/' "$work/all.ini"
optimise=$(median 3 "$cli" page -o --defaults --settings "$work/all.ini" --output "$work/opt.html" \
  "$work/page.html")
echo "kestrix-cli page -o, every switch: $optimise s"

peak=$(/usr/bin/time -f %M "$cli" page -e --defaults --level 4 --output "$work/out4.html" \
  "$work/page.html" 2>&1 >/dev/null | tail -n 1)
awk -v k="$peak" -v s="$size" \
  'BEGIN {printf "peak memory, -e --level 4:      %.1f MB (%.2f times the page)\n", k / 1024, k * 1024 / s}'

start=$(median 20 "$cli" page --defaults --output "$work/small-out.html" "$work/small.html")
true_=$(median 20 /bin/true)
cat_=$(median 20 cat "$work/small.html")
echo "start-up, 2 KB page (median of 20): kestrix-cli $start s, /bin/true $true_ s, cat $cat_ s"
