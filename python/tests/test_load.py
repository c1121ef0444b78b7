"""Finding and loading the library: one configuration folder per process."""

from __future__ import annotations

import os
from pathlib import Path

import pytest
from conftest import run_python

import kalvo
from kalvo.testing import SimulatedNetwork


def child_env(**changes: str) -> dict[str, str]:
    env = dict(os.environ)
    for name, value in changes.items():
        if value:
            env[name] = value
        else:
            env.pop(name, None)
    return env


@pytest.mark.parametrize(
    "changes, said",
    [
        # An override that names nothing is not passed over for another library.
        ({"KALVO_LIBRARY": "/nonexistent/libKalvo.so.0"}, ["/nonexistent/libKalvo.so.0 (KALVO_LIBRARY): no such file"]),
        # Nowhere to be found: every place is named, the loader's own reason too.
        ({"KALVO_LIBRARY": "", "LD_LIBRARY_PATH": ""},
         ["KALVO_LIBRARY: not set", "libKalvoPlatform.so.0 through the system loader", "cannot open shared object"]),
    ],
    ids=["override-missing", "not-installed"],
)
def test_a_library_not_found_names_every_place_looked_at(changes: dict[str, str], said: list[str]) -> None:
    run = run_python(
        """
        import kalvo
        try:
            kalvo.load(".")
        except kalvo.LibraryNotFoundError as error:
            print("tried:", error.tried)
            print(error)
        """,
        env=child_env(**changes),
    )
    assert run.returncode == 0, run.stdout
    for text in said:
        assert text in run.stdout


def test_nothing_loads_at_import_and_calls_before_load_say_so() -> None:
    run = run_python(
        """
        import kalvo
        maps = open("/proc/self/maps").read()
        print("mapped:", "libKalvo" in maps)
        try:
            kalvo.Dio(1)
        except kalvo.LoadError as error:
            print(error)
        """
    )
    assert "mapped: False" in run.stdout
    assert "call kalvo.load(configuration_folder) first" in run.stdout


def test_load_works_in_its_folder_once_per_process(kalvo_network: SimulatedNetwork, tmp_path: Path,
                                                   monkeypatch: pytest.MonkeyPatch) -> None:
    here = tmp_path / "elsewhere"
    here.mkdir()
    monkeypatch.chdir(here)
    assert kalvo.load(kalvo_network.folder) == kalvo_network.folder.resolve()
    # The load read Kalvo.ini and wrote its log there, and came back.
    assert Path.cwd() == here
    assert (kalvo_network.folder / "KalvoLog_0000.log").is_file()
    assert list(here.iterdir()) == []
    # The same folder again is the load already made; another one is refused.
    assert kalvo.load(str(kalvo_network.folder) + "/.") == kalvo_network.folder.resolve()
    with pytest.raises(kalvo.LoadError, match="already loaded .* with the configuration folder .*kalvo.unload"):
        kalvo.load(here)
    assert kalvo.loaded_folder() == kalvo_network.folder.resolve()
    with kalvo.Dio(1):
        pass
    # Unloaded, the process may take another folder (here, with no host and
    # no Kalvo.ini: the library loads and every open finds no board).
    kalvo.unload()
    assert kalvo.loaded_folder() is None
    kalvo.load(here)
    with pytest.raises(kalvo.UnitError):
        kalvo.Dio(1)
    kalvo.unload()
    kalvo.unload()


def test_a_folder_the_library_cannot_start_in_raises_its_reason(tmp_path: Path) -> None:
    # The library must open its log there: a folder in the log file's place
    # stops its load. The process goes on and can load elsewhere.
    blocked = tmp_path / "blocked"
    (blocked / "KalvoLog_0000.log").mkdir(parents=True)
    with pytest.raises(kalvo.LoadError, match=r"refused to start in .*blocked: libKalvo: .*KalvoLog"):
        kalvo.load(blocked)
    assert kalvo.loaded_folder() is None
    with pytest.raises(kalvo.LoadError, match="does not exist"):
        kalvo.load(tmp_path / "missing")
    kalvo.load(tmp_path)
    kalvo.unload()


def test_logs_written_after_the_load_stay_in_the_load_folder(kalvo_network: SimulatedNetwork, tmp_path: Path) -> None:
    # A log switch (five lines a file here) and the log ini written at the
    # library's unload, at process exit, both after the process changed to
    # another folder: they go to the folder the library was loaded in.
    folder = kalvo_network.folder
    (folder / "KalvoLog.ini").write_text("[LOG]\nLOGMAXLINE=5\n")
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    run = run_python(
        f"""
        import os, kalvo
        kalvo.load({str(folder)!r})
        os.chdir({str(elsewhere)!r})
        with kalvo.Dio(1) as dio:
            for i in range(12):
                dio.write(i)
        """,
        env=kalvo_network.env(),
    )
    assert run.returncode == 0, run.stdout
    assert sorted(p.name for p in elsewhere.iterdir()) == []
    assert (folder / "KalvoLog_0001.log").is_file()
    ini = (folder / "KalvoLog.ini").read_text()
    assert "FILENO_00=" in ini and "LOGLINE_00=" in ini, ini
    last = sorted(folder.glob("KalvoLog_00*.log"), key=lambda p: p.stat().st_mtime)[-1]
    assert "Service Stop" in last.read_text(errors="replace")


def test_a_forked_child_cannot_act_for_its_parent(kalvo_folder: Path) -> None:
    kalvo.load(kalvo_folder)
    dio = kalvo.Dio(1)
    pid = os.fork()
    if pid == 0:  # the child: every use is refused, nothing reaches the library
        status = 0
        for use in (dio.read, lambda: kalvo.load(kalvo_folder), lambda: kalvo.Dio(2)):
            try:
                use()
                status = 1
            except kalvo.LoadError as error:
                status |= 0 if "forked" in str(error) else 2
        dio.close()
        os._exit(status)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    dio.write(0x1234)
    assert dio.read_output() == 0x1234
