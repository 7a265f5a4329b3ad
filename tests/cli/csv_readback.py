#!/usr/bin/env python3
"""The record file and the scan logs, read back with Python's csv module, give the same
numbers and timestamps that velkaro-cli logged and reported.

Runs one simulator on a random loopback address, a measurement (record file and export)
and two scans (single file, one file per channel), each with --json, and compares.
Usage: csv_readback.py --cli build/bin/velkaro-cli --sim build/bin/vx_sim
"""
import argparse
import csv
import datetime
import json
import math
import os
import random
import subprocess
import sys
import tempfile
import time

PORTMAPPER_PORT = "11111"
RECORD_SKIP = 9  # header lines before the column names of a record file
CHANNEL_SKIP = 8  # the same for a per-channel scan log

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def start_sim(sim):
    """vx_sim on a random 127.a.b.c; (process, address). Bounded: 3 addresses, 10 s each."""
    for _ in range(3):
        address = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(0, 255), random.randint(2, 254))
        proc = subprocess.Popen([sim, "--address", address, "--portmapper-port", PORTMAPPER_PORT],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            line = proc.stdout.readline()
            if not line:
                break
            if line.startswith("vx_sim ready"):
                return proc, address
        proc.kill()
        proc.wait(timeout=10)
    sys.exit("vx_sim did not start")


def run_cli(cli, args):
    env = dict(os.environ, VELKARO_VXI11_PORTMAPPER_PORT=PORTMAPPER_PORT)
    r = subprocess.run([cli] + args + ["--json"], env=env, capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        sys.exit("velkaro-cli %s failed (%d): %s" % (args[0], r.returncode, r.stderr))
    return json.loads(r.stdout)


def rows_after(path, skip):
    """The column names and rows of a CSV file after `skip` header lines."""
    with open(path, newline="", encoding="utf-8") as f:
        for _ in range(skip):
            f.readline()
        reader = csv.reader(f)
        return next(reader), [row for row in reader]


def same(a, b):
    return math.isclose(a, b, rel_tol=1e-12, abs_tol=1e-15)


def check_stats(values, stats, what):
    check(len(values) == stats["count"], "%s: %d rows, %s reported" % (what, len(values), stats["count"]))
    if not values:
        return
    check(same(min(values), stats["min"]), "%s: min %r vs %r" % (what, min(values), stats["min"]))
    check(same(max(values), stats["max"]), "%s: max %r vs %r" % (what, max(values), stats["max"]))
    mean = stats.get("mean", stats.get("average"))
    check(same(sum(values) / len(values), mean), "%s: mean vs %r" % (what, mean))


def check_measure(cli, resource, tmp):
    logs = os.path.join(tmp, "measure")
    os.mkdir(logs)
    export = os.path.join(tmp, "export.csv")
    before = datetime.datetime.now()
    doc = run_cli(cli, ["measure", "--model", "VXA-2", "--function", "VOLT", "--count", "8",
                        "--log-dir", logs, "--export", export, resource])
    after = datetime.datetime.now()
    record = [f for f in doc["files"] if f != export]
    check(len(record) == 1, "one record file, got %r" % doc["files"])
    columns, rows = rows_after(record[0], RECORD_SKIP)
    check(columns == ["DC Voltage", "Time(s)"], "record columns %r" % columns)
    check(len(rows) == doc["readings_logged"] == 8, "record rows %d" % len(rows))
    values = [float(r[0]) for r in rows]
    stamps = [datetime.datetime.strptime(r[1], "%Y-%m-%d %H:%M:%S.%f") for r in rows]
    # The text is the number: written with 10 significant digits, read back unchanged.
    for r, v in zip(rows, values):
        check(format(v, ".10g") == r[0], "value text %r reads back as %r" % (r[0], v))
    check(all(a <= b for a, b in zip(stamps, stamps[1:])), "timestamps in order: %r" % [r[1] for r in rows])
    check(all(before - datetime.timedelta(seconds=1) <= s <= after for s in stamps),
          "timestamps inside the run")
    check_stats(values, doc["statistics"], "record file")
    # The buffer's export holds the same readings with the same timestamps.
    ex_columns, ex_rows = rows_after(export, RECORD_SKIP)
    check(ex_columns == columns, "export columns %r" % ex_columns)
    check([(float(a), b) for a, b in ex_rows] == [(v, r[1]) for v, r in zip(values, rows)],
          "export and record file hold the same readings and timestamps")


def check_scan(cli, resource, tmp):
    single = os.path.join(tmp, "single")
    per_channel = os.path.join(tmp, "per_channel")
    os.mkdir(single)
    os.mkdir(per_channel)
    doc = run_cli(cli, ["scan", "--model", "VXA-2", "--channels", "1,3", "--sweeps", "3", "--delay", "0",
                        "--log-dir", single, resource])
    check(len(doc["files"]) == 1, "one single scan log, got %r" % doc["files"])
    columns, rows = rows_after(doc["files"][0], 0)
    check(columns == ["Channel_1: DC Voltage", "Channel_3: DC Voltage"], "single-file columns %r" % columns)
    for i, ch in enumerate(doc["channels"]):
        check_stats([float(r[i]) for r in rows if r[i] != ""], ch, "single file, channel %d" % ch["channel"])

    doc = run_cli(cli, ["scan", "--model", "VXA-2", "--channels", "1,3", "--sweeps", "3", "--delay", "0",
                        "--log-dir", per_channel, "--file-mode", "per-channel", resource])
    check(len(doc["files"]) == 2, "two channel logs, got %r" % doc["files"])
    for ch in doc["channels"]:
        path = [f for f in doc["files"] if " Channel_%d " % ch["channel"] in os.path.basename(f)]
        check(len(path) == 1, "channel %d log among %r" % (ch["channel"], doc["files"]))
        if not path:
            continue
        columns, rows = rows_after(path[0], CHANNEL_SKIP)
        check(columns == ["Data", "Time(s)"], "channel log columns %r" % columns)
        times = [float(r[1]) for r in rows]
        check(all(a < b for a, b in zip(times, times[1:])), "channel %d times increase" % ch["channel"])
        check(all(0 <= t <= doc["elapsed_s"] + 1 for t in times), "channel %d times inside the run" % ch["channel"])
        check_stats([float(r[0]) for r in rows], ch, "channel %d log" % ch["channel"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    args = parser.parse_args()
    proc, address = start_sim(args.sim)
    try:
        resource = "TCPIP0::%s::inst0::INSTR" % address
        with tempfile.TemporaryDirectory(prefix="velkaro_csv_") as tmp:
            check_measure(args.cli, resource, tmp)
            check_scan(args.cli, resource, tmp)
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=10)
    if failures:
        sys.exit("%d check(s) failed" % len(failures))
    print("csv readback: all checks passed")


if __name__ == "__main__":
    main()
