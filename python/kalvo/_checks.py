"""Argument checks made before a call reaches the library.

ctypes turns a Python int into a 32-bit argument by cutting it silently, so
every number is checked here first: its type (``TypeError``) and its range
(``ValueError``), naming the argument.
"""

from __future__ import annotations

import math
import operator
from typing import Optional, SupportsIndex, cast

INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1


def integer(value: object, what: str, low: int = INT32_MIN, high: int = INT32_MAX) -> int:
    """``value`` as an int within ``low..high``."""
    if type(value) is int:  # the common case, without the conversion's cost
        number = value
    else:
        try:
            number = operator.index(cast(SupportsIndex, value))
        except TypeError:
            raise TypeError(f"{what} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{what} {number} is outside {low}..{high}")
    return number


def word(value: object, what: str = "word") -> int:
    """A 16-bit word, 0..0xFFFF."""
    return integer(value, what, 0, 0xFFFF)


def timeout_ms(timeout: Optional[float]) -> int:
    """A timeout in seconds as the library's milliseconds; ``None`` waits without limit (0)."""
    if timeout is None:
        return 0
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
        raise TypeError(f"timeout must be a number of seconds or None, not {type(timeout).__name__}")
    if not timeout > 0:
        raise ValueError(f"timeout {timeout} must be above 0 seconds (None waits without limit)")
    if math.isinf(timeout):
        return 0
    milliseconds = math.ceil(timeout * 1000)
    if milliseconds > INT32_MAX:
        raise ValueError(f"timeout {timeout} s is longer than {INT32_MAX // 1000} s")
    return milliseconds
