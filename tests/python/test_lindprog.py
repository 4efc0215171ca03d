"""`import lindprog` against lindprog-sim: data, failures as exceptions,
interrupts, jobs and threads."""

import os
import signal
import subprocess
import threading
import time

import pytest

import lindprog
from conftest import flash_contents, scenario

POWER_OFF = 175


def test_session_reads_what_the_adapter_holds_and_reports_itself(start_sim):
    sim = start_sim()
    with lindprog.open(sim.port) as session:
        assert session.identity == "Test Adapter 7"
        assert session.firmware_version == "1.18"
        assert session.key == "00ABCDEF"
        (device,) = session.devices
        assert device.name == "TESTCHIP"
        assert [(r.name, r.size, r.flags) for r in device.regions] == [("Flash", 8192, 15), ("Data", 256, 15)]
        assert session.read("Flash") == flash_contents()
        assert session.read(1, device="TESTCHIP")[:4] == bytes.fromhex("CA1B0001")
        assert session.jtag_scan() == (1, 5, [0x12345678])
    assert session.closed
    with pytest.raises(lindprog.PortError):
        session.read("Flash")


def test_program_of_a_hex_image_leaves_the_flash_equal_to_it(start_sim, tmp_path):
    sim = start_sim()
    raw = tmp_path / "fw.bin"
    raw.write_bytes(bytes(range(256)) * 3)
    image = tmp_path / "fw.hex"
    # objcopy writes the HEX file, so the module's reader is checked by another.
    subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", "--change-addresses", "0x400", str(raw), str(image)],
                   check=True)
    seen = []
    with lindprog.open(sim.port, progress=lambda *report: seen.append(report)) as session:
        result = session.program("Flash", image)
        flash = session.read("Flash")
        again = session.program("Flash", image, preverify=True)
    expected = bytearray(b"\xff" * 8192)
    expected[0x400:0x400 + 768] = raw.read_bytes()
    assert flash == bytes(expected)
    assert result.line.startswith("Programming successfull: ")
    assert not result.unchanged and again.unchanged
    assert {stage for stage, *_ in seen} >= {"erase", "blank-check", "write", "verify"}
    writes = [(done, total) for stage, done, total, _ in seen if stage == "write"]
    assert writes[-1][0] == writes[-1][1] and writes == sorted(writes)


def test_compare_reports_the_differing_ranges(start_sim):
    sim = start_sim()
    data = bytearray(flash_contents())
    data[10:12] = b"\x00\x00"
    data[4000] = 0x5A
    with lindprog.open(sim.port) as session:
        comparison = session.compare("Flash", bytes(data))
        same = session.compare("Flash", flash_contents())
        with pytest.raises(lindprog.MismatchError) as failed:
            session.verify("Flash", bytes(data))
    assert not comparison.equal and comparison.count == 3
    assert comparison.ranges == [(10, 12), (4000, 4001)]
    assert comparison.data == flash_contents()
    assert same.equal and same.ranges == []
    assert (failed.value.status, failed.value.offset, failed.value.expected, failed.value.actual) == (14, 10, 0, 0xFF)


@pytest.mark.parametrize("call, kind, status", [
    (lambda s: s.read("Nowhere"), lindprog.TargetError, 0),
    (lambda s: s.write("Flash", b"\x01" * 10), lindprog.FileError, 0),
    (lambda s: s.erase("Flash"), lindprog.AdapterError, 10),
])
def test_failures_raise_their_kind_with_the_adapters_status(start_sim, call, kind, status):
    sim = start_sim(scenario(start_operation={"values": [1, 2, 3, 4], "info": "", "status": 10}))
    with lindprog.open(sim.port) as session:
        with pytest.raises(kind) as failed:
            call(session)
        # The session goes on after a failure.
        assert session.identity == "Test Adapter 7"
    assert failed.value.status == status
    if status:
        assert failed.value.status_text == "Device not found"


def test_a_vanished_port_raises_port_error_without_waiting_for_an_answer(start_sim, tmp_path):
    sim = start_sim(scenario(vanish_after=12))
    with lindprog.open(sim.port) as session:
        started = time.monotonic()
        with pytest.raises(lindprog.PortError):
            session.read("Flash")
        # Well below the 5 s an unanswered request waits.
        assert time.monotonic() - started < 4
    with pytest.raises(lindprog.PortError):
        lindprog.open(str(tmp_path / "no-such-port"))


def test_ctrl_c_stops_at_the_next_block_and_powers_off(start_sim):
    big = scenario()
    big["devices"][0]["regions"].append({"name": "Big", "flags": 15, "size": 512 * 1024})
    sim = start_sim(big, pace=True)
    with lindprog.open(sim.port) as session:
        # The signal comes while the core waits on the adapter, no Python
        # code running: the module must look for it itself.
        threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
        with pytest.raises(KeyboardInterrupt):
            session.read("Big")
        stopped = sim.requests()
        assert session.read("Data")[:4] == bytes.fromhex("CA1B0001")
    reads = stopped.count(161)
    assert 0 < reads < 512 * 1024 // 4094 and stopped[-1] == POWER_OFF


def test_a_raising_callback_cancels_and_its_exception_reaches_the_caller(start_sim):
    sim = start_sim()

    def fail(*_):
        raise RuntimeError("from the callback")

    with lindprog.open(sim.port, progress=fail) as session:
        with pytest.raises(RuntimeError, match="from the callback"):
            session.erase("Flash")
    assert POWER_OFF in sim.requests()


JOB = """name = "line"
device = "TESTCHIP"
[[step]]
region = "Flash"
operation = "program"
image = "fw.hex"
[[step]]
region = "Data"
operation = "verify"
image = "data.bin"
[serial]
region = "Flash"
offset = 0x100
format = "u32le"
start = 1000
"""


def test_a_job_unit_returns_its_row_and_a_bad_job_names_the_step_and_key(start_sim, tmp_path):
    sim = start_sim()
    (tmp_path / "fw.hex").write_text(":04000000DEADBEEFC4\n:00000001FF\n")
    (tmp_path / "data.bin").write_bytes(bytes.fromhex("CA1B0001") + b"\xff" * 252)
    (tmp_path / "job.toml").write_text(JOB)
    job = lindprog.load_job(tmp_path / "job.toml")
    with lindprog.open(sim.port) as session:
        first = session.run_job(job, db=str(tmp_path / "units.db"), station="bench 1")
        second = session.run_job(job, db=str(tmp_path / "units.db"), station="bench 1")
        flash = session.read("Flash")
    assert (first["result"], first["serial"], second["serial"]) == ("PASS", 1000, 1001)
    assert first["station"] == "bench 1" and first["adapter_key"] == "00ABCDEF"
    assert [step["result"] for step in first["steps"]] == ["passed", "passed"]
    assert first["verdict"].startswith("PASS unit 1 ")
    assert flash[:4] == bytes.fromhex("DEADBEEF") and flash[0x100:0x104] == (1001).to_bytes(4, "little")

    (tmp_path / "bad.toml").write_text(JOB.replace('image = "fw.hex"', 'image = "fw.hex"\nfromat = "x"'))
    with pytest.raises(lindprog.JobError) as bad:
        lindprog.load_job(tmp_path / "bad.toml")
    assert "step" in bad.value.place and "fromat" in bad.value.place


def test_sessions_in_threads_work_their_adapters_side_by_side(start_sim):
    sims = [start_sim(name=f"sim{k}") for k in range(4)]
    reads = [None] * len(sims)

    def read(k):
        with lindprog.open(sims[k].port) as session:
            reads[k] = session.read("Flash")

    threads = [threading.Thread(target=read, args=(k,)) for k in range(len(sims))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert reads == [flash_contents()] * len(sims)
