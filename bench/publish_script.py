#!/usr/bin/python3
"""What a lab would write instead of publishing with velkaro-cli: a pyvisa script (pyvisa-py
backend) that starts continuous measuring, every interval queries "R?", parses the block,
appends the readings to a CSV file and writes them to InfluxDB with the python3-influxdb
client (one write per fetch, the same measurement and tags as ours). The reference for
the publishing efficiency row of scripts/run-bench; the process is timed from outside.

usage: publish_script.py RESOURCE SECONDS CSV_PATH INFLUX_HOST INFLUX_PORT DB [INTERVAL_MS [NPLC]]
Prints "readings N" (readings written to the database) at the end.
"""
import sys
import time
from datetime import datetime

import pyvisa
from influxdb import InfluxDBClient


def main():
    resource, seconds, csv_path = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    host, port, db = sys.argv[4], int(sys.argv[5]), sys.argv[6]
    interval = (float(sys.argv[7]) if len(sys.argv) > 7 else 200.0) / 1000.0
    nplc = sys.argv[8] if len(sys.argv) > 8 else '0.02'
    client = InfluxDBClient(host=host, port=port, database=db)
    rm = pyvisa.ResourceManager('@py')
    inst = rm.open_resource(resource)
    inst.timeout = 20000
    inst.write_termination = '\n'
    idn = inst.query('*IDN?').strip().split(',')
    tags = {'station': 'script', 'model': idn[1] if len(idn) > 1 else '', 'serial': idn[2] if len(idn) > 2 else '',
            'function': 'VOLT', 'unit': 'VDC'}
    inst.write('*RST')
    inst.write('VOLT:NPLC ' + nplc)
    inst.write('TRIG:COUNT INF')
    inst.write('INIT')
    readings = 0
    last_ns = 0
    start = time.monotonic()
    with open(csv_path, 'a') as csv:
        csv.write('DC Voltage,Time(s)\n')
        while time.monotonic() - start < seconds:
            tick = time.monotonic()
            inst.write('R?')
            raw = inst.read_raw()
            if raw.startswith(b'#'):
                n = int(raw[1:2])
                length = int(raw[2:2 + n])
                data = raw[2 + n:2 + n + length].decode()
                values = [float(v) for v in data.split(',')] if data else []
                now = datetime.now()
                stamp = now.strftime('%Y-%m-%d %H:%M:%S.%f')
                csv.write(''.join('%.10g,%s\n' % (v, stamp) for v in values))
                csv.flush()
                points = []
                block_ns = time.time_ns()
                for v in values:
                    # Distinct times, as ours: points of one series at one time overwrite.
                    last_ns = max(block_ns, last_ns + 1000000)
                    points.append({'measurement': 'velkaro_reading', 'tags': tags, 'time': last_ns,
                                   'fields': {'value': v}})
                if points:
                    client.write_points(points, time_precision='n', batch_size=5000)
                    readings += len(points)
            rest = interval - (time.monotonic() - tick)
            if rest > 0:
                time.sleep(rest)
    inst.write('ABOR')
    inst.close()
    rm.close()
    print('readings %d' % readings)


if __name__ == '__main__':
    main()
