"""Board-level calls: a board's state, its memory window, the timer period."""

from __future__ import annotations

import ctypes
from contextlib import contextmanager
from typing import Iterator

from . import _checks, _library


def check_board(board: int) -> None:
    """Raises unless board 1-4 of ``Kalvo.ini`` is open.

    ``StartupError`` when its library is loaded but the board did not open
    (no device host serving it?), ``NoLibraryError`` when its library is not
    loaded, ``ArgumentError`` for a board that is not configured.
    """
    _library.current().calls.KV_CheckBoard(_checks.integer(board, "board", 1, 4))


def attach_memory(board: int, line: int) -> int:
    """The address of the board line's 4096-byte memory window in this process (for diagnosis)."""
    address = ctypes.c_void_p()
    _library.current().calls.KV_AttachMemory(
        _checks.integer(board, "board", 1, 4), _checks.integer(line, "line", 1, 4), ctypes.byref(address)
    )
    return address.value or 0


def begin_period() -> None:
    """Asks for a 1 ms timer resolution for the unit calls' reply waits (pair with ``end_period``)."""
    _library.current().calls.KV_BeginPeriod()


def end_period() -> None:
    """Ends what ``begin_period`` asked for."""
    _library.current().calls.KV_EndPeriod()


@contextmanager
def timer_period() -> Iterator[None]:
    """``begin_period`` for the ``with`` block, ``end_period`` after it."""
    begin_period()
    try:
        yield
    finally:
        end_period()
