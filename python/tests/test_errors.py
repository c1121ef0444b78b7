"""Return codes as exceptions: the header's tables, and each kind of failure end to end."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path
from typing import Callable

import pytest

import kalvo
from kalvo import _errors
from kalvo.testing import Simulator, example_folder, wait_until


def test_the_generated_tables_say_what_the_header_says() -> None:
    # The header's own functions, compiled, against the generated module.
    dump = subprocess.run([os.environ["KALVO_ERRORS_DUMP"]], stdout=subprocess.PIPE, text=True,
                          check=True).stdout
    tables: dict[str, dict[int, tuple[str, str]]] = {"api": {}, "board": {}}
    defaults = {}
    for line in dump.splitlines():
        head, _, rest = line.partition(" ")
        if head.endswith("-default"):
            defaults[head] = rest
            continue
        code, _, named = rest.partition(" ")
        name, _, text = named.partition("\t")
        tables[head][int(code)] = (name, text)
    assert _errors.API_CODES == tables["api"]
    assert _errors.BOARD_CODES == tables["board"]
    assert _errors.API_UNKNOWN_TEXT == defaults["api-default"]
    assert _errors.BOARD_UNKNOWN_TEXT == defaults["board-default"]
    # One class per code but 0, each carrying the header's name and text.
    assert sorted(_errors.ERROR_CLASSES) == sorted(code for code in tables["api"] if code != 0)
    for code, (name, text) in tables["api"].items():
        if code:
            error = kalvo.error_for(code, "KV_X(1)")
            assert (type(error), error.code, error.name, error.text) == (_errors.ERROR_CLASSES[code], code, name, text)
            assert str(error) == f"KV_X(1): {name} ({code:#x}): {text}"
    assert isinstance(kalvo.error_for(0x11, "x"), TimeoutError)
    assert isinstance(kalvo.error_for(3, "x"), ValueError)
    # A code only the board library knows keeps its own name; others stay nameless.
    request = kalvo.error_for(-1, "x")
    assert (type(request), request.name) == (kalvo.BoardLibraryError, "KV_ERR_REQUEST")
    assert kalvo.error_for(77, "x").name is None


def test_no_host_and_no_board_library_raise_their_codes(tmp_path: Path) -> None:
    # The example folder's board, with no device host serving it: the
    # library loads, its board does not open, every open is refused.
    folder = tmp_path / "config"
    folder.mkdir()
    example = example_folder()
    (folder / "Kalvo.ini").write_bytes((example / "Kalvo.ini").read_bytes())
    kalvo.load(folder)
    with pytest.raises(kalvo.StartupError, match=r"KV_DIO_Open\(1\): KALVO_ERR_STARTUP \(0x4\): .*device host"):
        kalvo.Dio(1)
    with pytest.raises(kalvo.StartupError):
        kalvo.check_board(1)
    with pytest.raises(kalvo.ArgumentError):
        kalvo.check_board(2)
    kalvo.unload()
    # A board whose library is not there.
    (folder / "Kalvo.ini").write_text("[Kalvo]\nBoard=1\n[Board_1]\nKind=NoSuchMaster\n")
    kalvo.load(folder)
    with pytest.raises(kalvo.NoLibraryError, match="0x100"):
        kalvo.check_board(1)
    kalvo.unload()


def _silent_axis_answer(sim: Simulator) -> None:
    sim.silent("AXSA_1")
    with kalvo.Axsa(1) as axis:
        axis.put_command(1, "P")
        axis.answer(1)


def _stuck_ada_channel(sim: Simulator) -> None:
    sim.unit("ADA_1", "stuck", 2, "on")
    with kalvo.Ada(1) as ada:
        ada.write(2, 1234)
        try:
            ada.input_range(2)
        finally:
            # The output value is back whatever the command's end.
            assert ada.output(2) == 1234


def _sio_receive_timeout(sim: Simulator) -> None:
    with kalvo.Sio(1) as sio:
        sio.configure()
        sio.send(b"abc")
        assert wait_until(lambda: sio.waiting() == 3)
        try:
            sio.receive(10, timeout=0.1)
        except kalvo.KalvoTimeoutError as error:
            assert error.received == b"abc"
            raise


def _sio_receive_error(sim: Simulator) -> None:
    with kalvo.Sio(1) as sio:
        sio.configure()
        sim.unit("SIO_1", "rx-error", 1)
        sio.receive(1, timeout=5)


def _status_answering_a_command(sim: Simulator) -> None:
    # After a command the status word carries its pair code: not a status
    # sent outside a command, while the data words agree with each other.
    with kalvo.Axsa(1) as axis:
        axis.command(1, "P")
        axis.status(1)


def _twice(sim: Simulator) -> None:
    with kalvo.Dio(1):
        kalvo.Dio(1)


def _channel_past_the_units(sim: Simulator) -> None:
    with kalvo.Ada(1) as ada:
        ada.value(ada.channels + 1)


@pytest.mark.parametrize(
    "failure, error",
    [
        (lambda sim: kalvo.Dio(99), kalvo.UnitError),
        (_twice, kalvo.AlreadyOpenError),
        (_channel_past_the_units, kalvo.ArgumentError),
        (_silent_axis_answer, kalvo.PairError),
        (_stuck_ada_channel, kalvo.KalvoTimeoutError),
        (_sio_receive_timeout, TimeoutError),
        (_sio_receive_error, kalvo.UnitFaultError),
        (_status_answering_a_command, kalvo.StatusWordError),
    ],
    ids=["unknown-unit", "already-open", "channel-past-the-unit", "no-answer-yet", "command-timeout",
         "receive-timeout", "receive-error", "status-word"],
)
def test_each_failure_raises_its_code(loaded: Path, kalvo_sim: Simulator,
                                      failure: Callable[[Simulator], object], error: type) -> None:
    with pytest.raises(error) as raised:
        failure(kalvo_sim)
    assert isinstance(raised.value, kalvo.KalvoError)
    assert raised.value.name and raised.value.name in str(raised.value)
