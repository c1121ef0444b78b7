"""ADA units: analogue channels with the unit's command protocol."""

from __future__ import annotations

import ctypes
from typing import NamedTuple

from . import _checks
from ._unit import Unit

class AdaFilter(NamedTuple):
    """A channel's filter settings as the unit reports them (the codes are the unit's)."""

    filter: int
    max_min: int
    sample: int


class Ada(Unit):
    """An analogue I/O unit: ``kalvo.Ada(1)`` opens ADA_1 as ``Kalvo.ini`` places it.

    One channel per word offset of its placement, numbered from 1
    (``channels`` says how many). In data mode a channel carries 12-bit
    values: ``value(ch)`` reads the input, ``write(ch, value)`` sets the
    output (clamped to 0..4095 by the library), ``value_word``/``write_word``
    take the whole 16-bit words.

    The command calls (``set_filter``, ``filter``, ``input_range``,
    ``output_range``, ``version``, ``command``) run the unit's command
    protocol on the channel: they wait for the unit's reply and its return to
    data mode, up to about 400 ms times the line's "TimeOutTimes", holding
    the channel's lock; ``KalvoTimeoutError`` when the unit does not answer
    (the output value is restored in either case).
    """

    family = "ADA"
    _part = ("channel", 16)

    @property
    def channels(self) -> int:
        """The number of channels, as the library counts them."""
        return self._counted(self.value)

    def value(self, channel: int) -> int:
        """The channel's input value (the input word & 0x0FFF)."""
        return self._fetch("InValue", self._numbered(channel))

    def value_word(self, channel: int) -> int:
        """The channel's whole input word."""
        return self._fetch("InValueFull", self._numbered(channel), kind=ctypes.c_uint16)

    def output(self, channel: int) -> int:
        """The channel's output value read back (& 0x0FFF)."""
        return self._fetch("InOValue", self._numbered(channel))

    def output_word(self, channel: int) -> int:
        """The channel's whole output word read back."""
        return self._fetch("InOValueFull", self._numbered(channel), kind=ctypes.c_uint16)

    def write(self, channel: int, value: int) -> None:
        """Writes an output value; the library clamps it to 0..4095."""
        self._call("OutValue")(self._number, self._numbered(channel), _checks.integer(value, "value"))

    def write_word(self, channel: int, word: int) -> None:
        """Writes the whole output word (0..0xFFFF)."""
        self._call("OutValueFull")(self._number, self._numbered(channel), _checks.word(word))

    def set_filter(self, channel: int, filter: int, max_min: int, sample: int) -> None:
        """Sends the filter command (the unit takes filter & 0xE0, max_min & 0x10, sample & 0x0F)."""
        self._call("SetFilter")(
            self._number,
            self._numbered(channel),
            _checks.integer(filter, "filter", 0, 0xFF),
            _checks.integer(max_min, "max_min", 0, 0xFF),
            _checks.integer(sample, "sample", 0, 0xFF),
        )

    def filter(self, channel: int) -> AdaFilter:
        """The channel's filter settings."""
        values = [ctypes.c_int32() for _ in range(3)]
        self._call("GetFilter")(self._number, self._numbered(channel), *(ctypes.byref(v) for v in values))
        return AdaFilter(*(v.value for v in values))

    def input_range(self, channel: int) -> int:
        """The channel's input range code (the reply & 0x0F00)."""
        return self._fetch("GetInRange", self._numbered(channel))

    def output_range(self, channel: int) -> int:
        """The channel's output range code (the reply & 0x0F00)."""
        return self._fetch("GetOutRange", self._numbered(channel))

    def version(self) -> int:
        """The unit's version word (asked on channel 1)."""
        return self._fetch("GetVersion")

    def command(self, channel: int, command: int, parameter: int = 0) -> int:
        """Runs any command code (bits 15-13 of ``command``) with a 12-bit parameter; the reply word."""
        code = _checks.integer(command, "command", 0, 0xE000)
        if code & ~0xE000:
            raise ValueError(f"command {code:#x} must use bits 15-13 only (a code the unit never answers)")
        reply = ctypes.c_uint16()
        self._call("PutCmd")(
            self._number,
            self._numbered(channel),
            code,
            _checks.integer(parameter, "parameter", 0, 0x0FFF),
            ctypes.byref(reply),
        )
        return reply.value
