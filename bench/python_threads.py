#!/usr/bin/env python3
"""Sessions of the Python module in threads: four sessions read 512 KiB each
from four paced simulators, against one session alone. The core waits on the
adapters with the interpreter lock let go, so four should take about the time
of one (target: ratio <= 1.15).

    PYTHONPATH=build/default/python python3 bench/python_threads.py [--sim PATH] [--ports 4]
"""

import argparse
import json
import os
import subprocess
import tempfile
import threading
import time

import lindprog

REGION = 512 * 1024
HERE = os.path.dirname(os.path.abspath(__file__))


def start_sims(count, folder, sim):
    scenario = os.path.join(folder, "bench.json")
    with open(scenario, "w") as file:
        json.dump({"devices": [{"name": "BENCH", "regions": [{"name": "Flash", "flags": 15, "size": REGION}]}]}, file)
    sims = [subprocess.Popen([sim, "--scenario", scenario, "--pace", "--quiet"], stdout=subprocess.PIPE, text=True)
            for _ in range(count)]
    return sims, [process.stdout.readline().strip() for process in sims]


def read_all(ports):
    """Seconds until every port's session has read its region, each in its thread."""
    sessions = [lindprog.open(port) for port in ports]
    failures = []

    def read(session):
        try:
            if len(session.read("Flash")) != REGION:
                failures.append(session.port)
        except lindprog.Error as error:
            failures.append(f"{session.port}: {error}")

    threads = [threading.Thread(target=read, args=(session,)) for session in sessions]
    started = time.monotonic()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    seconds = time.monotonic() - started
    for session in sessions:
        session.close()
    if failures:
        raise SystemExit("reads failed: " + ", ".join(failures))
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", default=os.path.join(HERE, "..", "build", "default", "sim", "lindprog-sim"))
    parser.add_argument("--ports", type=int, default=4)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        sims, ports = start_sims(options.ports, folder, options.sim)
        try:
            one = read_all(ports[:1])
            many = read_all(ports)
        finally:
            for process in sims:
                process.terminate()
                process.wait()
    kib = REGION // 1024
    print(f"Python sessions in threads, {kib} KiB read per session from paced simulators")
    print(f"  1 session  {one:.2f} s ({REGION / one / 1024:.1f} KiB/s)")
    print(f"  {options.ports} sessions {many:.2f} s ({options.ports * REGION / many / 1024:.1f} KiB/s in all)")
    print(f"  ratio {many / one:.3f} (target <= 1.15)")


if __name__ == "__main__":
    main()
