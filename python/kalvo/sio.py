"""SIO units: serial channels moving bytes six at a time."""

from __future__ import annotations

import ctypes
from typing import Optional, Union

from . import _checks
from ._errorbase import KalvoError
from ._unit import Unit

Bytes = Union[bytes, bytearray, memoryview]


class Sio(Unit):
    """A serial unit: ``kalvo.Sio(1)`` opens SIO_1 as ``Kalvo.ini`` places it.

    One channel per four word offsets, numbered from 1 (``channels``). A
    channel receives nothing until its first ``configure`` in the process,
    which starts its receive thread. The receive buffer is shared by every
    process that has the unit open: bytes taken by one are gone for the
    others. ``timeout`` is in seconds; ``None`` waits without limit (until
    the unit is closed, by this or another thread).

        with kalvo.Sio(1) as sio:
            sio.configure()
            sio.send(b"hello")
            reply = sio.receive(5, timeout=1.0)

    A transfer that fails raises with what it did: ``error.received`` (the
    bytes taken) or ``error.sent`` (the number of bytes sent).
    """

    family = "SIO"
    _part = ("channel", 4)

    @property
    def channels(self) -> int:
        """The number of channels, as the library counts them."""
        return self._counted(self.waiting)

    def configure(
        self,
        channel: int = 1,
        *,
        baud: int = 0,
        bit_length: int = 0,
        parity: int = 0,
        stop_bits: int = 0,
        receive_size: int = 4096,
        send_size: int = 4096,
    ) -> None:
        """Sets the channel's line and buffer sizes and starts receiving.

        The baud, bit length, parity and stop codes are the unit's (6 bits
        together). Buffer sizes are taken between 4096 and 40960 bytes; the
        receive buffer's size holds for every process.
        """
        self._call("Config")(
            self._number,
            self._numbered(channel),
            _checks.integer(baud, "baud", 0, 0x3F),
            _checks.integer(bit_length, "bit_length", 0, 0x3F),
            _checks.integer(parity, "parity", 0, 0x3F),
            _checks.integer(stop_bits, "stop_bits", 0, 0x3F),
            _checks.integer(receive_size, "receive_size", 0),
            _checks.integer(send_size, "send_size", 0),
        )

    def send(self, data: Bytes, timeout: Optional[float] = None, *, channel: int = 1) -> int:
        """Sends the bytes and waits until the unit has taken them all; the number sent.

        ``UnitFaultError`` when the unit reports a send error (``clear_error``
        resets it), ``PairError`` when it does not acknowledge a block,
        ``KalvoTimeoutError`` when the timeout passed or the unit was closed;
        each carries the number of bytes acknowledged in ``sent``.
        """
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"data must be bytes, not {type(data).__name__}")
        payload = bytes(data)
        _checks.integer(len(payload), "the data's length")
        sent = ctypes.c_int32()
        call = self._call("PutData")
        try:
            call(self._number, self._numbered(channel), payload, len(payload), ctypes.byref(sent),
                 _checks.timeout_ms(timeout))
        except KalvoError as error:
            error.sent = sent.value
            raise
        return sent.value

    def receive(self, size: int, timeout: Optional[float] = None, *, channel: int = 1) -> bytes:
        """Waits until ``size`` bytes have arrived and takes them.

        ``KalvoTimeoutError`` when the timeout passed first (or the unit was
        closed), ``UnitFaultError`` when the unit reports a receive error;
        either carries what had arrived in ``received``.
        """
        length = _checks.integer(size, "size", 0)
        buffer = ctypes.create_string_buffer(max(length, 1))
        received = ctypes.c_int32()
        call = self._call("GetData")
        try:
            call(self._number, self._numbered(channel), buffer, length, ctypes.byref(received),
                 _checks.timeout_ms(timeout))
        except KalvoError as error:
            error.received = buffer.raw[: received.value]
            raise
        return buffer.raw[: received.value]

    def waiting(self, channel: int = 1) -> int:
        """The number of bytes waiting in the channel's receive buffer."""
        return self._fetch("CheckBuffer", self._numbered(channel))

    def clear_buffer(self, channel: int = 1) -> None:
        """Empties the channel's receive buffer (for every process)."""
        self._call("ClearBuffer")(self._number, self._numbered(channel))

    def clear_error(self, channel: int = 1) -> None:
        """Asks the unit to reset its receive and send error."""
        self._call("ClearError")(self._number, self._numbered(channel))
