import os
from typing import Any, Callable, NamedTuple, Optional, Union

__version__: str

Data = Union[str, os.PathLike[str], bytes, bytearray, memoryview]
Entry = Union[str, int, None]
ProgressCallback = Callable[[str, int, int, float], None]
LogCallback = Callable[[str], None]

class Error(Exception):
    status: int
    status_text: str
    exit_code: int

class PortError(Error): ...
class AdapterError(Error): ...

class MismatchError(AdapterError):
    offset: Optional[int]
    expected: Optional[int]
    actual: Optional[int]

class TargetError(Error): ...
class FileError(Error): ...

class JobError(Error):
    place: str

class DatabaseError(Error): ...
class Cancelled(Error): ...

class Port(NamedTuple):
    name: str
    number: int
    path: str
    key: str
    mapped: bool
    adapter: bool

class Region(NamedTuple):
    index: int
    name: str
    size: int
    flags: int
    operations: list[str]

class Device(NamedTuple):
    index: int
    name: str
    voltages: list[str]
    voltage_mask: int
    regions: list[Region]

class JtagScan(NamedTuple):
    count: int
    ir_length: int
    ids: list[int]

class Result(NamedTuple):
    device: str
    region: str
    line: str
    bytes: int
    seconds: float
    crc: Optional[int]
    unchanged: bool
    blocks_written: int
    blocks_blank: int

class Comparison(NamedTuple):
    equal: bool
    count: int
    ranges: list[tuple[int, int]]
    only_sets_bits: bool
    data: bytes
    line: str

class Job:
    @property
    def name(self) -> str: ...
    @property
    def path(self) -> str: ...
    @property
    def hash(self) -> str: ...
    @property
    def plan(self) -> str: ...

class Session:
    progress: Optional[ProgressCallback]
    log: Optional[LogCallback]
    @property
    def port(self) -> str: ...
    @property
    def identity(self) -> str: ...
    @property
    def firmware_version(self) -> str: ...
    @property
    def key(self) -> str: ...
    @property
    def devices(self) -> list[Device]: ...
    @property
    def closed(self) -> bool: ...
    def jtag_scan(self) -> JtagScan: ...
    def read(self, region: Entry = None, device: Entry = None, *, voltage: Optional[str] = None) -> bytes: ...
    def write(self, region: Entry, data: Data, device: Entry = None, *, voltage: Optional[str] = None,
              base: Optional[int] = None, pad: bool = False, sparse: Optional[bool] = None,
              preverify: bool = False) -> Result: ...
    def verify(self, region: Entry, data: Data, device: Entry = None, *, voltage: Optional[str] = None,
               base: Optional[int] = None, pad: bool = False, sparse: Optional[bool] = None,
               preverify: bool = False) -> Result: ...
    def program(self, region: Entry, data: Data, device: Entry = None, *, voltage: Optional[str] = None,
                base: Optional[int] = None, pad: bool = False, sparse: Optional[bool] = None,
                preverify: bool = False) -> Result: ...
    def erase(self, region: Entry, device: Entry = None, *, voltage: Optional[str] = None) -> Result: ...
    def blank_check(self, region: Entry, device: Entry = None, *, voltage: Optional[str] = None) -> Result: ...
    def unlock(self, region: Entry, device: Entry = None, *, voltage: Optional[str] = None) -> Result: ...
    def compare(self, region: Entry, data: Data, device: Entry = None, *, voltage: Optional[str] = None,
                base: Optional[int] = None, pad: bool = False) -> Comparison: ...
    def run_job(self, job: Job, db: Optional[str] = None, station: str = "") -> dict[str, Any]: ...
    def cancel(self) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Session": ...
    def __exit__(self, *args: object) -> None: ...

def ports() -> list[Port]: ...
def open(port: Optional[str] = None, *, power_off: bool = True, jtag_delay: int = 4,
         ignore_read_errors: bool = False, progress: Optional[ProgressCallback] = None,
         log: Optional[LogCallback] = None) -> Session: ...
def load_job(path: Union[str, os.PathLike[str]]) -> Job: ...
