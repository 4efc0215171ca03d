"""The Python module against lindprog-sim: each test starts the simulators it
needs on pseudo-terminals and talks to them through `import lindprog`."""

import json
import os
import subprocess

import pytest

SIM = os.environ.get("LINDPROG_SIM", "lindprog-sim")


def scenario(**changes):
    """The test adapter: TESTCHIP with an 8 KiB flash holding two known pieces
    and a 256-byte data region; `changes` replace top-level keys."""
    base = {
        "identity": "Test Adapter 7",
        "version": [1, 18],
        "key": 0xABCDEF,
        "devices": [{"name": "TESTCHIP", "voltages": 5, "regions": [
            {"name": "Flash", "flags": 15, "size": 8192,
             "contents": [{"offset": 0, "hex": "0011223344556677"}, {"offset": 100, "text": "lindprog"}]},
            {"name": "Data", "flags": 15, "size": 256, "contents": [{"offset": 0, "hex": "CA1B0001"}]}]}],
        "jtag": {"count": 1, "ir_length": 5, "ids": [0x12345678]},
        "start_operation": {"values": [1, 2, 3, 4], "info": ""},
        "erase_not_ready": 1,
    }
    base.update(changes)
    return base


def flash_contents():
    flash = bytearray(b"\xff" * 8192)
    flash[0:8] = bytes.fromhex("0011223344556677")
    flash[100:108] = b"lindprog"
    return bytes(flash)


class Sim:
    """One lindprog-sim process; `port` is its pseudo-terminal."""

    def __init__(self, folder, name, described, pace=False):
        self.transcript = folder / f"{name}.transcript"
        path = folder / f"{name}.json"
        path.write_text(json.dumps(described))
        command = [SIM, "--scenario", str(path), "--quiet", "--transcript", str(self.transcript)]
        if pace:
            command.append("--pace")
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()
        assert self.port.startswith("/dev/"), f"lindprog-sim printed {self.port!r}"

    def requests(self):
        """The command code of every request the simulator received."""
        codes = []
        for line in self.transcript.read_text().splitlines():
            fields = line.split()
            if len(fields) > 7 and fields[1] == "H>A":
                codes.append(int(fields[7], 16))
        return codes

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def start_sim(tmp_path):
    sims = []

    def start(described=None, name="sim", pace=False):
        sim = Sim(tmp_path, name, described or scenario(), pace)
        sims.append(sim)
        return sim

    yield start
    for sim in sims:
        sim.stop()
