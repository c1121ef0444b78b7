"""The exception bases: call errors carry the library's code, load errors stand apart."""

from __future__ import annotations

from typing import List, Optional


class KalvoError(Exception):
    """A call of the Kalvo library returned a code other than 0.

    ``code`` is the library's return code, ``name`` its name in
    ``kalvo/kalvo_errors.h`` (``None`` for a value that has none), ``text``
    what it means and ``call`` the C call with its arguments. Each code of the
    application API has its own subclass (``kalvo.UnitError`` for 9, ...);
    ``except kalvo.KalvoError`` catches them all.

    A transfer that failed says what it did meanwhile: ``received``, the
    bytes taken (``Sio.receive``), and ``sent``, the number of bytes the
    unit acknowledged (``Sio.send``); ``None`` for every other call.
    """

    code: int = 0
    name: Optional[str] = None
    text: str = ""
    received: Optional[bytes] = None
    sent: Optional[int] = None

    def __init__(
        self,
        code: int,
        call: str,
        name: Optional[str] = None,
        text: Optional[str] = None,
    ) -> None:
        self.code = code
        self.call = call
        if name is not None:
            self.name = name
        if text is not None:
            self.text = text
        label = f"{self.name} ({code:#x})" if self.name else f"code {code:#x}"
        super().__init__(f"{call}: {label}: {self.text}")


class BoardLibraryError(KalvoError):
    """A code of the board library that a call passed on (``KV_ERR_REQUEST``, ...).

    The application API passes the board library's own codes on where the
    board refused a word; those that mean nothing in the API's table come as
    this class, named and explained from the board library's table.
    """


class LoadError(Exception):
    """The Kalvo library could not be loaded in this process, or not in this folder.

    Raised by ``kalvo.load`` when the library refuses to start in the folder
    (its reason is in the message), when another configuration folder is
    already loaded, and by every call made before ``kalvo.load``.
    """


class LibraryNotFoundError(LoadError):
    """``libKalvo.so.0`` was not found; ``tried`` lists every place looked at, with why."""

    def __init__(self, message: str, tried: List[str]) -> None:
        self.tried = list(tried)
        super().__init__(message + "".join("\n  " + place for place in self.tried))
