"""Script the Corvane programmer: sessions on adapters, their operations and jobs.

    import lindprog

    with lindprog.open("/dev/ttyUSB0") as session:
        flash = session.read("Flash")
        session.program("Flash", "firmware.hex")

Every call waits for the adapter with the interpreter lock let go, so sessions
in several threads work several adapters at once. Failures raise the
subclasses of lindprog.Error; Ctrl-C stops an operation at its next block, the
target powered off, and raises KeyboardInterrupt.
"""

from lindprog._lindprog import (
    AdapterError,
    Cancelled,
    Comparison,
    DatabaseError,
    Device,
    Error,
    FileError,
    Job,
    JobError,
    JtagScan,
    MismatchError,
    Port,
    PortError,
    Region,
    Result,
    Session,
    TargetError,
    __version__,
    load_job,
    open,
    ports,
)

__all__ = [
    "AdapterError",
    "Cancelled",
    "Comparison",
    "DatabaseError",
    "Device",
    "Error",
    "FileError",
    "Job",
    "JobError",
    "JtagScan",
    "MismatchError",
    "Port",
    "PortError",
    "Region",
    "Result",
    "Session",
    "TargetError",
    "load_job",
    "open",
    "ports",
]
