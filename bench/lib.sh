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
