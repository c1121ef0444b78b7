"""Return codes as exceptions: one class per code of the application API.

The names and texts come from ``kalvo/kalvo_errors.h`` (generated into
``kalvo._errors`` when the package is built), so the C programs, ``kalvo
strerror`` and Python say the same thing about the same code.
"""

from __future__ import annotations

from typing import Optional

from . import _errors
from ._errorbase import BoardLibraryError, KalvoError, LibraryNotFoundError, LoadError
from ._errors import *  # noqa: F401,F403  (the generated classes)
from ._errors import API_CODES, API_UNKNOWN_TEXT, BOARD_CODES, ERROR_CLASSES

__all__ = [
    "KalvoError",
    "BoardLibraryError",
    "LoadError",
    "LibraryNotFoundError",
    "error_for",
    "error_name",
    "error_text",
]
__all__ += _errors.__all__


def error_name(code: int) -> Optional[str]:
    """The name of an API return code (``"KALVO_ERR_UNIT"``), or ``None``."""
    entry = API_CODES.get(code)
    return entry[0] if entry else None


def error_text(code: int) -> str:
    """What an API return code means; a text for every value."""
    entry = API_CODES.get(code)
    return entry[1] if entry else API_UNKNOWN_TEXT


def error_for(code: int, call: str) -> KalvoError:
    """The exception for a code that ``call`` returned.

    A code of the API's table gets its own class. A code only the board
    library's table knows (the API passes those on) is a
    ``BoardLibraryError`` named from that table; any other value is a plain
    ``KalvoError``.
    """
    cls = ERROR_CLASSES.get(code)
    if cls is not None:
        return cls(code, call)
    if code not in API_CODES and code in BOARD_CODES:
        name, text = BOARD_CODES[code]
        return BoardLibraryError(code, call, name, text)
    return KalvoError(code, call, None, API_UNKNOWN_TEXT)
