"""A private simulated network: a device host of one's own on a configuration folder.

``SimulatedNetwork`` starts ``kalvo-devhost --network FOLDER`` with private
device and runtime folders (``KALVO_DEVICE_DIR``, ``KALVO_RUNTIME_DIR``) in a
temporary folder, waits for its readiness line, and stops it by its process
id (SIGTERM: the host stops every device and ends). Its ``sim`` plays the far
side of the line through ``kalvo-devctl sim``: unit inputs, faults, stations
taken off the line.

    with SimulatedNetwork(example_folder()) as network:
        kalvo.load(network.folder)
        with kalvo.Dio(1) as dio:
            network.sim.set_input("DIO_1", 0, 0x12)
            ...

The programs are found by ``KALVO_BIN_DIR`` when set, else where the package
was installed with them, else on ``PATH``.
"""

from __future__ import annotations

import atexit
import os
import selectors
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path
from typing import IO, Callable, Dict, List, Optional, Sequence, Union

from . import _library

PathLike = Union[str, "os.PathLike[str]"]

_READY = b"kalvo-devhost: serving"
_START_SECONDS = 60.0
_STOP_SECONDS = 60.0
# sun_path holds 108 bytes with its NUL.
_SOCKET_PATH_ROOM = 107
_SOCKET_NAME = "devices.sock"


class SimulationError(RuntimeError):
    """A program of the simulated network failed; the message carries its output."""


def _places(variable: str, installed: str, *below: str) -> List[Path]:
    """Where to look first: the folder an environment variable names, then the one recorded at install."""
    places: List[Path] = []
    override = os.environ.get(variable)
    if override:
        places.append(Path(override))
    folder = _library.installed_folder(installed)
    if folder is not None:
        places.append(folder.joinpath(*below))
    return places


def find_program(name: str) -> Path:
    """A program of the stack (``kalvo-devhost``, ``kalvo-devctl``, ``kalvo-config``)."""
    tried: List[str] = []
    for folder in _places("KALVO_BIN_DIR", "BINDIR"):
        if os.access(folder / name, os.X_OK):
            return folder / name
        tried.append(str(folder / name))
    found = shutil.which(name)
    if found:
        return Path(found)
    tried.append(f"{name} on PATH")
    raise FileNotFoundError(f"{name} was not found (set KALVO_BIN_DIR to the folder of the Kalvo programs); "
                            f"looked at: {', '.join(tried)}")


def example_folder() -> Path:
    """The example configuration folder (one PCI board with DIO, ADA, AXSA and SIO units)."""
    candidates = _places("KALVO_SAMPLE_CONFIG", "DATADIR", "kalvo", "example")
    try:
        candidates.append(find_program("kalvo-devhost").resolve().parent.parent / "share" / "kalvo" / "example")
    except FileNotFoundError:
        pass
    # Run from the source tree.
    candidates.append(Path(__file__).resolve().parent.parent.parent / "api" / "sample" / "config")
    for folder in candidates:
        if (folder / "Kalvo.ini").is_file():
            return folder
    raise FileNotFoundError("the example configuration folder was not found (set KALVO_SAMPLE_CONFIG); looked at: "
                            + ", ".join(str(c) for c in candidates))


def wait_until(predicate: Callable[[], object], timeout: float = 10.0) -> bool:
    """Calls ``predicate`` every millisecond until it is true or ``timeout`` seconds passed.

    For states that come and then hold: the line up after a load, an input
    set on the simulator arriving through the line's next cycles. True when
    the predicate became true.
    """
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() >= deadline:
            return bool(predicate())
        time.sleep(0.001)
    return True


def _run(argv: Sequence[str], env: Dict[str, str]) -> str:
    result = subprocess.run(list(argv), env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, timeout=120)
    if result.returncode != 0:
        raise SimulationError(f"{' '.join(argv)} failed (status {result.returncode}): {result.stdout.strip()}")
    return result.stdout


def build_folder(folder: PathLike, *commands: Sequence[str]) -> Path:
    """Builds a configuration folder with ``kalvo-config``, one command per argument.

        build_folder(path, ["new", "--board", "1=Pcimaster64"], ["place", "1", "1", "MST", "QMDIO16"])

    ``ModelTbl.ini`` is copied in from beside ``kalvo-config`` when the folder
    has none (the simulated network reads it there).
    """
    target = Path(folder)
    target.mkdir(parents=True, exist_ok=True)
    tool = find_program("kalvo-config")
    model_table = target / "ModelTbl.ini"
    if not model_table.exists():
        programs = tool.resolve().parent
        for source in (programs / "ModelTbl.ini", programs.parent / "share" / "kalvo" / "ModelTbl.ini"):
            if source.is_file():
                shutil.copyfile(source, model_table)
                break
    for command in commands:
        _run([str(tool), "-C", str(target), *command], dict(os.environ))
    return target


class Simulator:
    """The far side of the line: ``kalvo-devctl sim`` against a network's host."""

    def __init__(self, network: "SimulatedNetwork") -> None:
        self._network = network

    def run(self, *words: object) -> str:
        """``kalvo-devctl sim WORDS...``; its output, or SimulationError."""
        return self._network.devctl("sim", *words)

    def show(self, board: int = 0) -> str:
        """The line's state, its stations and units (boards counted from 0)."""
        return self.run("show", board)

    def unit(self, name: str, *command: object) -> str:
        """A unit's outputs and inputs as the unit sees them, or a unit command."""
        return self.run("unit", name, *command)

    def set_input(self, name: str, index: int, value: int) -> None:
        """A unit's input as the unit sends it: the DIO word at an offset, the ADA value of a channel."""
        self.unit(name, "input", index, hex(value))

    def offline(self, board: int, address: int) -> None:
        """Takes the station at an address off the line (it stops answering)."""
        self.run("offline", board, address)

    def online(self, board: int, address: int) -> None:
        """Puts the station back on the line."""
        self.run("online", board, address)

    def silent(self, name: str) -> None:
        """The unit stops answering (its station stays on the line)."""
        self.run("silent", name)

    def unsilent(self, name: str) -> None:
        """The unit answers again."""
        self.run("unsilent", name)


_running: "set[SimulatedNetwork]" = set()


@atexit.register
def _stop_left_over() -> None:
    for network in list(_running):
        network.stop()


class SimulatedNetwork:
    """A private device host on a configuration folder, with its simulator.

    ``folder`` (default: the example configuration folder) is copied into a
    new temporary folder under ``workdir`` (default: the system's), where the
    libraries will write their logs, unless ``copy`` is false; that folder
    and the host's output (``log_path``) are removed at ``stop()`` unless
    ``cleanup`` is false. ``boards``, ``cycle_us`` and ``host_options`` go to
    ``kalvo-devhost``. ``start()`` (or ``with``) starts the host, sets
    ``KALVO_DEVICE_DIR`` and ``KALVO_RUNTIME_DIR`` for this process, and
    returns once the host serves; ``stop()`` unloads the Kalvo library when
    it was loaded in this network's folder, stops the host and restores the
    environment.
    """

    def __init__(
        self,
        folder: Optional[PathLike] = None,
        *,
        copy: bool = True,
        boards: Optional[str] = None,
        cycle_us: Optional[int] = None,
        host_options: Sequence[str] = (),
        workdir: Optional[PathLike] = None,
        cleanup: bool = True,
    ) -> None:
        self.workdir = Path(tempfile.mkdtemp(prefix="kalvo-net-", dir=workdir))
        self._cleanup = cleanup
        source = Path(folder) if folder is not None else example_folder()
        if copy:
            self.folder = self.workdir / "config"
            shutil.copytree(source, self.folder, ignore=shutil.ignore_patterns("*Log_*.log"))
        else:
            self.folder = source.resolve()
        self.device_dir = self.workdir / "devices"
        self.runtime_dir = self.workdir / "runtime"
        if len(os.fsencode(self.device_dir / _SOCKET_NAME)) > _SOCKET_PATH_ROOM:
            raise ValueError(f"{self.device_dir} is too deep for a socket (at most {_SOCKET_PATH_ROOM} bytes with "
                             f"{_SOCKET_NAME}): give a shorter workdir")
        self.log_path = self.workdir / "devhost.log"
        self.sim = Simulator(self)
        self._argv = [str(find_program("kalvo-devhost")), "--network", str(self.folder)]
        if boards is not None:
            self._argv += ["--boards", boards]
        if cycle_us is not None:
            self._argv += ["--cycle-us", str(cycle_us)]
        self._argv += list(host_options)
        self._process: Optional["subprocess.Popen[bytes]"] = None
        self._drain: Optional[threading.Thread] = None
        self._saved_env: Dict[str, Optional[str]] = {}

    @property
    def pid(self) -> Optional[int]:
        """The host's process id while it runs."""
        return self._process.pid if self._process is not None else None

    def env(self) -> Dict[str, str]:
        """This process's environment with the network's device and runtime folders, for child processes."""
        env = dict(os.environ)
        env["KALVO_DEVICE_DIR"] = str(self.device_dir)
        env["KALVO_RUNTIME_DIR"] = str(self.runtime_dir)
        return env

    def devctl(self, *words: object) -> str:
        """``kalvo-devctl WORDS...`` against this network's host; its output, or SimulationError."""
        return _run([str(find_program("kalvo-devctl")), *(str(w) for w in words)], self.env())

    def start(self) -> "SimulatedNetwork":
        """Starts the host and waits until it serves; SimulationError with its output when it does not."""
        if self._process is not None:
            return self
        for folder in (self.device_dir, self.runtime_dir):
            folder.mkdir(mode=0o700, exist_ok=True)
        process = subprocess.Popen(self._argv, env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, bufsize=0)
        assert process.stdout is not None
        log = open(self.log_path, "wb")
        if not self._wait_ready(process.stdout, log):
            log.close()
            self._end(process)
            raise SimulationError(f"kalvo-devhost did not come up (status {process.returncode}): "
                                  f"{self.log_path.read_text(errors='replace').strip()}")
        self._process = process
        self._drain = threading.Thread(target=self._copy_output, args=(process.stdout, log), daemon=True)
        self._drain.start()
        for name in ("KALVO_DEVICE_DIR", "KALVO_RUNTIME_DIR"):
            self._saved_env[name] = os.environ.get(name)
        os.environ.update({"KALVO_DEVICE_DIR": str(self.device_dir), "KALVO_RUNTIME_DIR": str(self.runtime_dir)})
        _running.add(self)
        return self

    @staticmethod
    def _wait_ready(output: IO[bytes], log: IO[bytes]) -> bool:
        # The host prints its readiness line once it serves: reading its
        # output is the signal, with no look at its state in between.
        deadline = time.monotonic() + _START_SECONDS
        seen = b""
        with selectors.DefaultSelector() as selector:
            selector.register(output, selectors.EVENT_READ)
            while time.monotonic() < deadline:
                if not selector.select(deadline - time.monotonic()):
                    continue
                chunk = os.read(output.fileno(), 4096)
                if not chunk:
                    return False  # the host ended
                log.write(chunk)
                log.flush()
                seen += chunk
                if any(line.startswith(_READY) for line in seen.split(b"\n")[:-1]):
                    return True
        return False

    @staticmethod
    def _copy_output(output: IO[bytes], log: IO[bytes]) -> None:
        with log:
            while chunk := os.read(output.fileno(), 4096):
                log.write(chunk)
                log.flush()

    @staticmethod
    def _end(process: "subprocess.Popen[bytes]") -> int:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(_STOP_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        return process.returncode

    def stop(self) -> int:
        """Unloads the library if loaded in this folder, stops the host; its exit status (0: orderly)."""
        process = self._process
        if process is None:
            return 0
        if _library.loaded_folder() == self.folder.resolve():
            _library.unload()
        self._process = None
        _running.discard(self)
        try:
            status = self._end(process)
        finally:
            if self._drain is not None:
                self._drain.join()
                self._drain = None
            if process.stdout is not None:
                process.stdout.close()
            for name, value in self._saved_env.items():
                if value is None:
                    os.environ.pop(name, None)
                else:
                    os.environ[name] = value
            self._saved_env = {}
            if self._cleanup:
                shutil.rmtree(self.workdir, ignore_errors=True)
        return status

    def __enter__(self) -> "SimulatedNetwork":
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.stop()
