"""AXSA units: axis controllers driven by command and answer, one job per axis."""

from __future__ import annotations

import ctypes
from typing import NamedTuple, Union

from . import _checks
from ._unit import Unit

Command = Union[int, str]


class AxisAnswer(NamedTuple):
    """A job's status word and its 28-bit data value (sign-extended)."""

    status: int
    data: int


def _command(command: Command) -> int:
    if isinstance(command, str):
        if len(command) != 1 or ord(command) > 0x7F:
            raise ValueError(f"command {command!r} must be one ASCII character or a number")
        return ord(command)
    return _checks.word(command, "command")


def _parameter28(parameter: int) -> int:
    # Split into two 14-bit halves: a signed or an unsigned 28-bit value.
    return _checks.integer(parameter, "parameter", -(2**27), 2**28 - 1)


class Axsa(Unit):
    """An axis controller unit: ``kalvo.Axsa(1)`` opens AXSA_1 as ``Kalvo.ini`` places it.

    One job (axis) per four word offsets, numbered from 1 (``jobs`` says how
    many). A command is a number or one character (``'P'`` is 0x50). A 2-bit
    pair code that every command of any process advances ties an answer to
    its command.

    ``command(job, cmd, function, parameter)`` sends a command with a
    function code (0..31) and a 28-bit parameter and waits for its answer
    (up to 200 ms times the line's "TimeOutTimes"; ``KalvoTimeoutError``).
    ``put_command`` sends without waiting; ``answer``/``answer_with_data``
    then read the answer (``PairError`` while the unit has not answered).
    ``status(job)`` reads what the unit shows outside a command.

        with kalvo.Axsa(1) as axis:
            axis.command(1, 'V', 0, 500)          # speed
            axis.command(1, 'T', 0, 25000)        # move to the target
            position = axis.command(1, 'P').data
    """

    family = "AXSA"
    _part = ("job", 4)

    @property
    def jobs(self) -> int:
        """The number of jobs (axes), as the library counts them."""
        return self._counted(self.status)

    def put_command(self, job: int, command: Command, parameter1: int = 0, parameter2: int = 0) -> None:
        """Sends a command and two 16-bit parameters (bits 15-14 carry the pair code); no wait."""
        self._call("PutCmd")(
            self._number,
            self._numbered(job),
            _command(command),
            _checks.word(parameter1, "parameter1"),
            _checks.word(parameter2, "parameter2"),
        )

    def answer(self, job: int) -> int:
        """The status word answering the job's latest command; ``PairError`` before the unit answered."""
        status, error = ctypes.c_uint16(), ctypes.c_uint16()
        self._call("Answer")(self._number, self._numbered(job), ctypes.byref(status), ctypes.byref(error))
        return status.value

    def answer_with_data(self, job: int) -> AxisAnswer:
        """Status and data answering the job's latest command; ``PairError`` before the unit answered."""
        status, data, error = ctypes.c_uint16(), ctypes.c_int32(), ctypes.c_uint16()
        self._call("AnsWith")(
            self._number, self._numbered(job), ctypes.byref(status), ctypes.byref(data), ctypes.byref(error)
        )
        return AxisAnswer(status.value, data.value)

    def status(self, job: int) -> AxisAnswer:
        """Status and data the unit shows outside a command.

        ``StatusDataError`` when the data words disagree, ``StatusWordError``
        when the status answers a command, ``PairError`` when both.
        """
        status, data = ctypes.c_uint16(), ctypes.c_int32()
        self._call("GetStatus")(self._number, self._numbered(job), ctypes.byref(status), ctypes.byref(data))
        return AxisAnswer(status.value, data.value)

    def command(self, job: int, command: Command, function: int = 0, parameter: int = 0) -> AxisAnswer:
        """Sends a command with a function code (0..31) and a 28-bit parameter; waits for the answer."""
        return self._wait("PutCmdEx", job, command, function, _parameter28(parameter))

    def put_form(self, job: int, command: Command, function: int, parameter: int) -> None:
        """Sends a command with a function code (0..31) and a 16-bit parameter; no wait."""
        self._call("PutForm")(
            self._number,
            self._numbered(job),
            _command(command),
            _checks.integer(function, "function", 0, 31),
            _checks.integer(parameter, "parameter", -0x8000, 0xFFFF),
        )

    def form(self, job: int, command: Command, function: int, parameter: int) -> AxisAnswer:
        """``command`` by the form call: a function code (0..31) and a 28-bit parameter; waits."""
        return self._wait("PutFormEx", job, command, function, _parameter28(parameter))

    def _wait(self, operation: str, job: int, command: Command, function: int, parameter: int) -> AxisAnswer:
        status, data = ctypes.c_uint16(), ctypes.c_int32()
        self._call(operation)(
            self._number,
            self._numbered(job),
            _command(command),
            _checks.integer(function, "function", 0, 31),
            parameter,
            ctypes.byref(status),
            ctypes.byref(data),
        )
        return AxisAnswer(status.value, data.value)
