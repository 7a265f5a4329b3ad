#!/usr/bin/python3
"""The logging loop a lab script would write with pyvisa (pyvisa-py backend): start
continuous measuring, then every interval query "R?", parse the block, and append one
"value,timestamp" line per reading to a CSV file. It is the reference for the logging
efficiency row of scripts/run-bench; the process is timed from outside (CPU time).

usage: logging_script.py RESOURCE SECONDS CSV_PATH [INTERVAL_MS]
Prints "readings N" (readings appended to the CSV) at the end.
"""
import sys
import time
from datetime import datetime

import pyvisa


def main():
    resource, seconds, csv_path = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    interval = (float(sys.argv[4]) if len(sys.argv) > 4 else 200.0) / 1000.0
    rm = pyvisa.ResourceManager('@py')
    inst = rm.open_resource(resource)
    inst.timeout = 20000
    inst.write_termination = '\n'
    inst.write('*RST')
    inst.write('TRIG:COUNT INF')
    inst.write('INIT')
    readings = 0
    start = time.monotonic()
    with open(csv_path, 'a') as csv:
        csv.write('DC Voltage,Time(s)\n')
        while time.monotonic() - start < seconds:
            tick = time.monotonic()
            inst.write('R?')
            raw = inst.read_raw()
            # Definite-length block: "#", digit count n, n length digits, data, "\n".
            if raw.startswith(b'#'):
                n = int(raw[1:2])
                length = int(raw[2:2 + n])
                data = raw[2 + n:2 + n + length].decode()
                values = [float(v) for v in data.split(',')] if data else []
                stamp = datetime.now().strftime('%Y-%m-%d %H:%M:%S.%f')
                csv.write(''.join('%.10g,%s\n' % (v, stamp) for v in values))
                csv.flush()
                readings += len(values)
            rest = interval - (time.monotonic() - tick)
            if rest > 0:
                time.sleep(rest)
    inst.write('ABOR')
    inst.close()
    rm.close()
    print('readings %d' % readings)


if __name__ == '__main__':
    main()
