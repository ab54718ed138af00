# Type stubs of the cellforge module (see docs/scripting.md).
import enum
import os
from types import MappingProxyType
from typing import Callable, Iterable, Literal, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

PathLike = Union[str, bytes, os.PathLike]
CameraTuple = Tuple[float, float, float, float, float]  # x, y, z, alt, az
Point = Tuple[int, int, int]
Probe = Union[str, Tuple[int, int, int, int]]  # a terminal name, or (x, y, z, direction)

PART_DTYPE: np.dtype

class Conflict(NamedTuple):
    x: int | None  # None only for a text that is not the engine's conflict text
    y: int | None
    z: int | None
    old: int | None
    new: int | None
    text: str

class ConflictWarning(UserWarning):
    x: int | None
    y: int | None
    z: int | None
    old: int | None
    new: int | None
    count: int
    conflicts: list[Conflict]

class Stopped(Exception):
    reason: str  # "stop", "timeout", "close" (or "exit")
    generations: int
    result: Union[None, npt.NDArray[np.uint8], Counters, Trace]  # what run(record=/counters=) recorded so far

class Counters(NamedTuple):
    generation: npt.NDArray[np.int64]
    active_blocks: npt.NDArray[np.int64]
    blocks: npt.NDArray[np.int64]

class Trace(NamedTuple):
    signals: npt.NDArray[np.uint8]  # (n, k)
    generation: npt.NDArray[np.int64]
    active_blocks: npt.NDArray[np.int64]
    blocks: npt.NDArray[np.int64]

class History(NamedTuple):
    first: int
    last: int
    undo: int
    redo: int
    keyframes: int
    bytes: int

class AssemblyError(ValueError):
    messages: list[str]
    assembly: Assembly

class PartType(enum.IntEnum):
    EMPTY = 0
    CONDUCTOR = 1
    NOR_GATE = 2
    PUSHER = 3
    SHIFTER = 4
    ROTATOR = 5
    BINDER = 6
    CUTTER = 7
    PULSE_INPUT = 8
    SOURCE = 9
    DRIVE = 10

class Direction(enum.IntEnum):
    PLUS_Y = 0
    PLUS_X = 1
    MINUS_Y = 2
    MINUS_X = 3
    PLUS_Z = 4
    MINUS_Z = 5

class MemoryWrite(NamedTuple):
    pages: int
    modules: int

class Cell(NamedTuple):
    x: int
    y: int
    z: int
    type: int
    front: int
    side: int
    up: int
    outputs: int
    bonds: int

class Assembly:
    @property
    def image(self) -> bytes: ...
    @property
    def listing(self) -> str: ...
    @property
    def stimulus(self) -> str: ...
    @property
    def array(self) -> str: ...
    @property
    def messages(self) -> list[str]: ...
    @property
    def errors(self) -> list[str]: ...
    @property
    def length(self) -> int: ...

def assemble(source: Union[str, bytes, bytearray], *, strict: bool = False) -> Assembly: ...
def open(path: PathLike, *, strict: bool = False, threads: int | None = None,
         history: int | None = None) -> Document: ...
def transform(parts: np.ndarray, turns: Tuple[int, int, int] = (0, 0, 0),
              mirror: Literal["x", "y", "z", None] = None, offset: Point = (0, 0, 0)) -> np.ndarray: ...
def look_at(target: Tuple[float, float, float], distance: float, alt: float = 20.0,
            az: float = 30.0) -> CameraTuple: ...
def part_colours(type: int) -> npt.NDArray[np.uint8]: ...

class Document:
    def __init__(self, *, history: int | None = None) -> None: ...
    def __enter__(self) -> Document: ...
    def __exit__(self, *args: object) -> bool: ...
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    @property
    def path(self) -> str | None: ...
    def run(self, n: int, progress: Union[None, bool, Callable[[int, int], object]] = None,
            timeout: float | None = None, *, record: Iterable[Probe] | None = None,
            counters: bool = False) -> Union[None, npt.NDArray[np.uint8], Counters, Trace]: ...
    def stop(self) -> None: ...
    @property
    def threads(self) -> int: ...
    @threads.setter
    def threads(self, n: int) -> None: ...
    def pulse(self) -> None: ...
    @property
    def generation(self) -> int: ...
    @property
    def active_blocks(self) -> int: ...
    @property
    def part_count(self) -> int: ...
    @property
    def block_count(self) -> int: ...
    def parts(self, box: Tuple[Point, Point] | None = None) -> np.ndarray: ...
    def cell(self, x: int, y: int, z: int) -> Cell | None: ...
    def place(self, x: int, y: int, z: int, type: int, front: int = 0, side: int = 1,
              outputs: int = 0, bonds: int = 0, *, allow_any_type: bool = False) -> None: ...
    def place_parts(self, parts: np.ndarray, *, allow_any_type: bool = False) -> None: ...
    def remove(self, x: int, y: int, z: int) -> bool: ...
    def erase_box(self, lo: Point, hi: Point) -> int: ...
    def set_bond(self, x: int, y: int, z: int, direction: int, on: bool = True) -> None: ...
    def undo(self) -> None: ...
    def redo(self) -> None: ...
    def reset(self) -> None: ...
    def rewind(self, generation: int) -> None: ...
    @property
    def history(self) -> History | None: ...
    def copy(self) -> Document: ...
    def save(self, path: PathLike) -> None: ...
    def save_project(self, path: PathLike) -> None: ...
    def checkpoint(self, path: PathLike) -> None: ...
    def resume(self, path: PathLike) -> None: ...
    @property
    def terminals(self) -> MappingProxyType[str, Tuple[int, int, int, int]]: ...
    def signal(self, name: str) -> bool: ...
    def inject(self, name: str) -> None: ...
    def add_terminal(self, name: str, x: int, y: int, z: int, direction: int) -> None: ...
    def write_memory(self, image: Union[PathLike, bytes, bytearray, Sequence[int], npt.NDArray[np.integer]],
                     corner: Tuple[int, int, int] = (0, 0, 0), offset: int = 0) -> MemoryWrite: ...
    @property
    def views(self) -> list[Tuple[str, CameraTuple]]: ...
    def render(self, camera: Union[None, str, CameraTuple] = None, size: Tuple[int, int] = (640, 480),
               path: PathLike | None = None) -> npt.NDArray[np.uint8]: ...
    def fit_camera(self, size: Tuple[int, int] = (640, 480)) -> CameraTuple: ...
    def _repr_png_(self) -> bytes | None: ...
