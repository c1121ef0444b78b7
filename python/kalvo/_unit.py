"""The base of the unit classes: open by number or placement, close, condition."""

from __future__ import annotations

import ctypes
import warnings
from dataclasses import dataclass
from typing import Any, Callable, ClassVar, Optional, Sequence, Tuple, Type, TypeVar, Union

from . import _checks, _library
from ._errorbase import KalvoError, LoadError
from .errors import ArgumentError

_FAMILY_CODES = {"DIO": 1, "ADA": 2, "AXSA": 3, "SIO": 5}

UnitT = TypeVar("UnitT", bound="Unit")
Value = Union[Type[ctypes.c_int32], Type[ctypes.c_uint16]]


@dataclass(frozen=True)
class Placement:
    """Where a unit sits on the network, for opening it without its ``Kalvo.ini`` section.

    ``unit`` 1-1024, ``board`` 1-4, ``line`` 1-4, ``base`` the station
    address 0-31, ``offsets`` 1 to 16 word offsets 0-15 from the station
    (one per channel or word; AXSA and SIO units take four per job or
    channel, each group starting at a multiple of 4). ``kind`` 0 takes the
    family's kind. Checked when made (``ValueError``, ``TypeError``).
    """

    unit: int
    board: int
    line: int
    base: int
    offsets: Tuple[int, ...]
    kind: int = 0

    def __init__(self, unit: int, board: int, line: int, base: int, offsets: Sequence[int], kind: int = 0) -> None:
        object.__setattr__(self, "unit", _checks.integer(unit, "unit", 1, 1024))
        object.__setattr__(self, "board", _checks.integer(board, "board", 1, 4))
        object.__setattr__(self, "line", _checks.integer(line, "line", 1, 4))
        object.__setattr__(self, "base", _checks.integer(base, "base", 0, 31))
        if isinstance(offsets, (str, bytes)) or not 1 <= len(offsets) <= 16:
            raise ValueError(f"offsets must be 1 to 16 word offsets, not {offsets!r}")
        checked = tuple(_checks.integer(o, "offset", 0, 15) for o in offsets)
        object.__setattr__(self, "offsets", checked)
        object.__setattr__(self, "kind", _checks.integer(kind, "kind"))

    def record(self, family: str) -> _library.UnitPlacementRecord:
        """The C record of this placement for ``family``."""
        record = _library.UnitPlacementRecord(
            _FAMILY_CODES[family], self.unit, self.kind, self.board, self.line, self.base
        )
        for i in range(16):
            record.offsets[i] = self.offsets[i] if i < len(self.offsets) else -1
        return record


class Unit:
    """A unit of the network, opened in this process until ``close()``.

    Open a unit by its number (its section ``FAMILY_N`` of ``Kalvo.ini``
    places it) or by a ``Placement``; ``kalvo.load`` must have been called.
    A unit is a context manager: leaving the ``with`` block closes it.
    ``close()`` may be called more than once. Calls on a closed unit raise
    ``ValueError``; every code other than 0 raises its ``KalvoError``.
    """

    family: ClassVar[str] = ""
    # The unit's numbered parts (ADA and SIO channels, AXSA jobs): their name
    # and the most a placement can give; counted once when asked.
    _part: ClassVar[Tuple[str, int]] = ("", 0)
    _part_count: Optional[int] = None
    # Class-level, so that a unit whose open failed has nothing to close.
    _closed = True

    def __init__(self, unit: Optional[int] = None, *, placement: Optional[Placement] = None) -> None:
        if not self.family:
            raise TypeError("kalvo.Unit is the base of Dio, Ada, Axsa and Sio; open one of those")
        if (unit is None) == (placement is None):
            raise TypeError(f"{type(self).__name__}() takes a unit number or a placement")
        loaded = _library.current()
        if placement is None:
            number = _checks.integer(unit, "unit", 1, 1024)
            getattr(loaded.calls, f"KV_{self.family}_Open")(number)
        else:
            if not isinstance(placement, Placement):
                raise TypeError(f"placement must be a kalvo.Placement, not {type(placement).__name__}")
            number = placement.unit
            record = placement.record(self.family)
            getattr(loaded.calls, f"KV_{self.family}_OpenEx")(ctypes.byref(record))
        self._number = number
        self._loaded = loaded
        self._closed = False
        loaded.units.add(self)

    @property
    def unit(self) -> int:
        """The unit number."""
        return self._number

    @property
    def name(self) -> str:
        """The unit's name on the network and its section of ``Kalvo.ini`` (``"DIO_1"``)."""
        return f"{self.family}_{self._number}"

    @property
    def closed(self) -> bool:
        """True once the unit is closed."""
        return self._closed

    @property
    def condition(self) -> bool:
        """True while the unit's station answers on the line."""
        return bool(self._fetch("GetCondition"))

    def close(self) -> None:
        """Closes the unit in this process; nothing when it is closed already."""
        if self._closed:
            return
        self._closed = True
        self._loaded.units.discard(self)
        if self._loaded.alive:
            getattr(self._loaded.calls, f"KV_{self.family}_Close")(self._number)

    def __enter__(self: UnitT) -> UnitT:
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        if self._closed:
            return
        try:
            warnings.warn(f"{self!r} was not closed", ResourceWarning, source=self)
            self.close()
        except Exception:  # the interpreter may be shutting down
            pass

    def __repr__(self) -> str:
        return f"<kalvo.{type(self).__name__} {self.name} {'closed' if self._closed else 'open'}>"

    def _call(self, operation: str) -> _library.Call:
        """The bound call ``KV_<family>_<operation>`` of this open unit."""
        if self._closed:
            raise ValueError(f"{self.name} is closed")
        if not self._loaded.alive:
            _library.current()  # in a forked child: says so
            raise LoadError(f"{self.name} was opened with a Kalvo library since unloaded")
        call: _library.Call = getattr(self._loaded.calls, f"KV_{self.family}_{operation}")
        return call

    def _fetch(self, operation: str, *arguments: int, kind: Value = ctypes.c_int32) -> int:
        """``KV_<family>_<operation>(unit, arguments..., &value)``: the value."""
        value = kind()
        self._call(operation)(self._number, *arguments, ctypes.byref(value))
        return int(value.value)

    def _numbered(self, number: int) -> int:
        """A channel or job number, checked against the most a unit can have."""
        name, limit = self._part
        return _checks.integer(number, name, 1, limit)

    def _counted(self, probe: Callable[[int], Any]) -> int:
        """How many channels or jobs the library counts: it answers 3 for the first one past them."""
        if self._part_count is None:
            limit = self._part[1]
            self._part_count = limit
            for n in range(1, limit + 1):
                try:
                    probe(n)
                except ArgumentError:
                    self._part_count = n - 1
                    break
                except KalvoError:
                    pass  # taken: only its answer failed
        return self._part_count
