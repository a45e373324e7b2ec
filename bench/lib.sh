# Shared by the benchmark cases: timing and the one-line report.
# median_seconds ROUNDS CMD... : runs CMD ROUNDS times, prints the median wall time in seconds.
median_seconds() {
  local rounds=$1; shift
  local times=()
  for _ in $(seq "$rounds"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]}'
}
# report NAME OURS REFERENCE_NAME REFERENCE [EXTRA]
report() {
  local ratio
  ratio=$(echo "$2 / $4" | bc -l)
  printf 'bench %s: ratio %.2f (ours %s s, %s %s s)%s\n' "$1" "$ratio" "$2" "$3" "$4" "${5:+ $5}"
}

# The Windows benchmark build (the x86-64 twin where 32-bit programs cannot run) and a warm Wine on a
# virtual display of its own, stopped when the case ends.
windows_bench_build() {
  local repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  . "$repo/tests/e2e/lib.sh"
  export VANDREL_BENCH_WIN_BUILD=${VANDREL_BENCH_BUILD}-windows
  cmake -S "$repo" -B "$VANDREL_BENCH_WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/$(runnable_toolchain)" -DVANDREL_TESTS=OFF \
    -DVANDREL_BENCH_FIRST_PAINT=ON >/dev/null
  cmake --build "$VANDREL_BENCH_WIN_BUILD" --target Vandrel_Updater vandrel-gui-bench bare-window >/dev/null
  start_display
  use_prefix "$VANDREL_BENCH_DATA/wineprefix"
  WINE=$(wine_loader)
  wineserver -p 2>/dev/null || true
  trap 'wineserver -k 2>/dev/null; kill $XVFB_PID 2>/dev/null' EXIT
}
in_wine() { "$WINE" "$@"; }
