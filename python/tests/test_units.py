"""Each family's calls end to end: the package, libKalvo, the board library, a device host, the simulated units."""

from __future__ import annotations

import ctypes
import re
from pathlib import Path
from typing import Callable

import pytest

import kalvo
from kalvo.testing import Simulator, wait_until


def test_dio_words_and_bits_reach_the_unit_and_come_back(loaded: Path, kalvo_sim: Simulator) -> None:
    with kalvo.Dio(1) as dio, kalvo.Dio(2) as neighbour:
        dio.write(0x0001)
        dio.set_bit(5, True)
        assert dio.read_output() == 0x0021 and dio.output_bit(5)
        dio.set_bit(0, False)
        assert wait_until(lambda: "[0] out 0x0020" in kalvo_sim.unit("DIO_1"))
        # The unit's inputs follow its outputs until the far side sets them.
        assert wait_until(lambda: dio.read() == 0x0020)
        kalvo_sim.set_input("DIO_1", 0, 0xBEEF)
        assert wait_until(lambda: dio.read() == 0xBEEF)
        assert [dio.bit(n) for n in (0, 4, 8)] == [True, False, False]
        # DIO_2 is the next word of the same station.
        neighbour.write(0xA5A5)
        assert wait_until(lambda: "[1] out 0xa5a5" in kalvo_sim.unit("DIO_2"))
        assert dio.read_output() == 0x0020
        # The station off the line, and back.
        assert dio.condition
        kalvo_sim.offline(0, 1)
        assert wait_until(lambda: not dio.condition)
        kalvo_sim.online(0, 1)
        assert wait_until(lambda: dio.condition)


def test_ada_values_and_commands(loaded: Path, kalvo_sim: Simulator) -> None:
    with kalvo.Ada(1) as ada:
        assert ada.channels == 4
        ada.write(1, 5000)  # the library clamps
        assert (ada.output(1), ada.output_word(1)) == (4095, 4095)
        ada.write_word(2, 0xF123)
        assert (ada.output(2), ada.output_word(2)) == (0x123, 0xF123)
        kalvo_sim.set_input("ADA_1", 3, 2048)
        assert wait_until(lambda: ada.value(3) == 2048)
        assert ada.value_word(3) & 0x0FFF == 2048
        ada.set_filter(1, 0xA0, 0x10, 0x05)
        assert ada.filter(1) == kalvo.AdaFilter(0xA0, 0x10, 0x05)
        kalvo_sim.unit("ADA_1", "in-range", 4, 7)
        assert (ada.input_range(4), ada.output_range(4)) == (0x700, 0x100)
        version = ada.version()
        assert version >> 13 == 7  # the reply carries the command code
        assert ada.command(1, 0xE000) == version
        assert ada.output(1) == 4095  # restored after every command


def test_axsa_commands_move_the_axis(loaded: Path, kalvo_sim: Simulator) -> None:
    with kalvo.Axsa(1) as axis:
        assert axis.jobs == 4
        axis.command(2, "V", 0, 1000)
        moved = axis.command(2, "T", 0, 20000)
        assert moved.data == 20000
        assert wait_until(lambda: axis.command(2, "P").data == 20000)
        # Two steps: the command, then its answer.
        axis.put_command(2, "P")
        assert wait_until(lambda: _answered(axis, 2))
        assert axis.answer_with_data(2).data == 20000
        # A 28-bit parameter keeps its sign through the two 14-bit halves.
        axis.command(1, "T", 0, -5000)
        assert wait_until(lambda: axis.command(1, "P").data == -5000)
        assert "target -5000" in kalvo_sim.unit("AXSA_1")
        axis.put_form(3, "V", 0, 700)
        assert re.search(r"job3 .* speed 700", kalvo_sim.unit("AXSA_1"))


def _answered(axis: kalvo.Axsa, job: int) -> bool:
    try:
        axis.answer(job)
        return True
    except kalvo.PairError:
        return False


def test_sio_bytes_go_round_the_loopback(loaded: Path) -> None:
    with kalvo.Sio(1) as sio:
        assert sio.channels == 1
        sio.configure(receive_size=100)
        message = bytes(range(256)) * 2
        assert sio.send(message, timeout=10) == len(message)
        assert sio.receive(len(message), timeout=10) == message
        sio.send(b"abcdef")
        assert wait_until(lambda: sio.waiting() == 6)
        sio.clear_buffer()
        assert sio.waiting() == 0
        assert sio.receive(0) == b""
        sio.clear_error()


def test_a_placement_opens_a_unit_without_its_section(loaded: Path) -> None:
    # Unit 7 placed on DIO_2's word: board 1, line 1, station 1, offset 1.
    with kalvo.Dio(placement=kalvo.Placement(unit=7, board=1, line=1, base=1, offsets=[1])) as placed, \
            kalvo.Dio(2) as dio2:
        assert (placed.unit, placed.name) == (7, "DIO_7")
        placed.write(0x5A5A)
        assert dio2.read_output() == 0x5A5A
    with pytest.raises(kalvo.UnitError):
        kalvo.Sio(placement=kalvo.Placement(unit=3, board=1, line=1, base=8, offsets=[2, 3, 4, 5]))


def test_units_close_once_and_the_unload_closes_the_rest(loaded: Path) -> None:
    dio = kalvo.Dio(1)
    with dio:
        assert not dio.closed
    assert dio.closed and repr(dio) == "<kalvo.Dio DIO_1 closed>"
    dio.close()
    with pytest.raises(ValueError, match="DIO_1 is closed"):
        dio.read()
    # Closed, the unit number is free again; the unload closes what is open.
    ada = kalvo.Ada(1)
    again = kalvo.Dio(1)
    kalvo.unload()
    assert ada.closed and again.closed


def test_board_calls(loaded: Path) -> None:
    kalvo.check_board(1)
    assert kalvo.attach_memory(1, 1) != 0
    with pytest.raises(kalvo.ArgumentError):
        kalvo.attach_memory(1, 2)  # the board has one line
    with kalvo.timer_period():
        pass


# Each row: a call with a bad argument, the exception, what its message says.
BAD_ARGUMENTS: list[tuple[Callable[..., object], type, str]] = [
    (lambda d, a, x, s: d.write(0x10000), ValueError, "word 65536 is outside 0..65535"),
    (lambda d, a, x, s: d.write("1"), TypeError, "word must be an int, not str"),
    (lambda d, a, x, s: d.set_bit(16, True), ValueError, "bit 16"),
    (lambda d, a, x, s: d.bit(-1), ValueError, "bit -1"),
    (lambda d, a, x, s: a.write(1, 2**31), ValueError, "value 2147483648"),
    (lambda d, a, x, s: a.value(0), ValueError, "channel 0"),
    (lambda d, a, x, s: a.command(1, 0x1000), ValueError, "bits 15-13"),
    (lambda d, a, x, s: x.command(1, "PV"), ValueError, "one ASCII character"),
    (lambda d, a, x, s: x.command(1, "P", 32), ValueError, "function 32"),
    (lambda d, a, x, s: x.command(1, "T", 0, 2**28), ValueError, "parameter 268435456"),
    (lambda d, a, x, s: x.status(5), ValueError, "job 5"),
    (lambda d, a, x, s: s.receive(-1), ValueError, "size -1"),
    (lambda d, a, x, s: s.receive(1, timeout=0), ValueError, "None waits without limit"),
    (lambda d, a, x, s: s.send("text"), TypeError, "data must be bytes"),
    (lambda d, a, x, s: s.configure(baud=0x40), ValueError, "baud 64"),
    (lambda d, a, x, s: kalvo.Dio(1025), ValueError, "unit 1025"),
    (lambda d, a, x, s: kalvo.Dio(), TypeError, "a unit number or a placement"),
    (lambda d, a, x, s: kalvo.Placement(1, 1, 1, 32, [0]), ValueError, "base 32"),
    (lambda d, a, x, s: kalvo.Placement(1, 1, 1, 0, [0] * 17), ValueError, "1 to 16 word offsets"),
    (lambda d, a, x, s: kalvo.Placement(1, 1, 1, 0, [16]), ValueError, "offset 16"),
]


def flushed_size(log: Path) -> int:
    # The log's thread writes lines behind the calls; the platform library's
    # flush hooks (loaded once per process) put them in the file now.
    ctypes.CDLL(kalvo.find_library()[1])._ZN5kalvo8platform13runFlushHooksEv()
    return log.stat().st_size


def test_arguments_are_checked_before_the_call(loaded: Path) -> None:
    log = loaded / "KalvoLog_0000.log"
    with kalvo.Dio(1) as dio, kalvo.Ada(1) as ada, kalvo.Axsa(1) as axis, kalvo.Sio(1) as sio:
        for row, (call, error, said) in enumerate(BAD_ARGUMENTS):
            before = flushed_size(log)
            with pytest.raises(error, match=re.escape(said)):
                call(dio, ada, axis, sio)
            # Refused before the library was called: it logged nothing.
            assert flushed_size(log) == before, f"row {row}"


@pytest.mark.kalvo_network(
    build=[["new", "--board", "1=Pcimaster64"], ["place", "1", "3", "MST", "QMDIO16", "QMDIO32"]], cycle_us=500)
def test_a_network_built_with_kalvo_config(kalvo_folder: Path, kalvo_sim: Simulator) -> None:
    # A station of three DIO words at address 3: DIO_1 to DIO_3.
    kalvo.load(kalvo_folder)
    with kalvo.Dio(3) as dio:
        assert wait_until(lambda: dio.condition)
        dio.write(0x0F0F)
        assert wait_until(lambda: "[2] out 0x0f0f" in kalvo_sim.unit("DIO_3"))
    assert "station 3" in kalvo_sim.show()
    with pytest.raises(kalvo.UnitError):
        kalvo.Ada(1)
