#!/bin/sh
# Query round trips per second against one simulator: lxi-tools' "lxi benchmark"
# (liblxi's VXI-11 client) next to our VISA layer (bench_link), in one run.
#
# usage: bench/compare_lxi.sh [BUILD_DIR] [ADDRESS]
#   BUILD_DIR  build tree holding bin/vx_sim and bin/bench_link (default: build)
#   ADDRESS    loopback address for the simulator (default: 127.0.0.78)
# lxi finds the VXI-11 channel through the portmapper on port 111 only, so the simulator
# serves its portmapper on 111 of ADDRESS (root or CAP_NET_BIND_SERVICE needed).
set -eu

build_dir=${1:-build}
address=${2:-127.0.0.78}
count=1000
sim=$build_dir/bin/vx_sim
bench=$build_dir/bin/bench_link

for f in "$sim" "$bench"; do
    [ -x "$f" ] || { echo "compare_lxi: $f not built" >&2; exit 1; }
done
command -v lxi >/dev/null || { echo "compare_lxi: lxi (lxi-tools) not installed" >&2; exit 1; }
case $address in 127.*) ;; *) echo "compare_lxi: loopback addresses only" >&2; exit 1 ;; esac

tmp=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

"$sim" --model VXA-2 --address "$address" --portmapper-port 111 --socket-port 5025 --fast \
    >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim_pid=$!
i=0
until grep -q '^vx_sim ready' "$tmp/sim.out" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "compare_lxi: simulator did not start:" >&2
        cat "$tmp/sim.err" >&2
        exit 1
    fi
    sleep 0.1
done

lxi benchmark -a "$address" -c "$count" >"$tmp/lxi.out" 2>&1 || { cat "$tmp/lxi.out" >&2; exit 1; }
lxi_rate=$(grep -o 'Result: [0-9.]*' "$tmp/lxi.out" | head -n 1 | cut -d' ' -f2)

VELKARO_BENCH_SIM_ADDRESS=$address VELKARO_VXI11_PORTMAPPER_PORT=111 "$bench" \
    --benchmark_filter='idn' --benchmark_min_time=2 --benchmark_format=json \
    >"$tmp/bench.json" 2>"$tmp/bench.err" || { cat "$tmp/bench.err" >&2; exit 1; }
rate() {
    python3 -c 'import json,sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b["name"].startswith(sys.argv[2]):
        print("%.0f" % b["items_per_second"])' "$tmp/bench.json" "$1"
}
visa_rate=$(rate BM_visa_write_read_idn)
link_rate=$(rate BM_link_write_read_idn)
query_rate=$(rate BM_link_query_idn)

printf '%-52s %10s\n' "client (*IDN? round trips, $address)" "per second"
printf '%-52s %10s\n' "lxi benchmark -c $count (liblxi VXI-11)" "${lxi_rate:-?}"
printf '%-52s %10s\n' "ours: viWrite + viRead" "$visa_rate"
printf '%-52s %10s\n' "ours: link engine write + read" "$link_rate"
printf '%-52s %10s\n' "ours: link engine query (fixed 10 ms pause)" "$query_rate"
if [ -n "${lxi_rate:-}" ]; then
    python3 -c 'import sys; print("ratio viWrite+viRead / lxi: %.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' \
        "$visa_rate" "$lxi_rate"
fi
