"""DIO units: one 16-bit input word and one 16-bit output word."""

from __future__ import annotations

import ctypes

from . import _checks
from ._unit import Unit


class Dio(Unit):
    """A digital I/O unit: ``kalvo.Dio(1)`` opens DIO_1 as ``Kalvo.ini`` places it.

    ``read()`` gives the input word, ``read_output()`` the output word as
    written; ``write(word)`` sets the output word. Bits are numbered 0 (least
    significant) to 15. ``set_bit`` changes one output bit under the unit's
    lock, which every process using the unit shares, so two programs setting
    different bits never lose each other's change. Reads take no lock.

        with kalvo.Dio(1) as dio:
            dio.set_bit(3, True)
            if dio.bit(0): ...
    """

    family = "DIO"

    def read(self) -> int:
        """The input word (0..0xFFFF)."""
        return self._fetch("InData", kind=ctypes.c_uint16)

    def read_output(self) -> int:
        """The output word read back (0..0xFFFF)."""
        return self._fetch("InOData", kind=ctypes.c_uint16)

    def write(self, word: int) -> None:
        """Writes the output word (0..0xFFFF)."""
        self._call("OutData")(self._number, _checks.word(word))

    def bit(self, number: int) -> bool:
        """One bit (0..15) of the input word."""
        return bool(self._fetch("InDataBit", _checks.integer(number, "bit", 0, 15)))

    def output_bit(self, number: int) -> bool:
        """One bit (0..15) of the output word."""
        return bool(self._fetch("InODataBit", _checks.integer(number, "bit", 0, 15)))

    def set_bit(self, number: int, value: bool) -> None:
        """Sets (true) or clears (false) one bit (0..15) of the output word, atomically for every process."""
        checked = _checks.integer(number, "bit", 0, 15)
        self._call("OutDataBit")(self._number, checked, 1 if value else 0)
