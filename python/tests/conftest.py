"""Helpers of the package's own tests: child Python processes and the line coming up."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from pathlib import Path
from typing import Dict, Iterator, Optional

import pytest

import kalvo
from kalvo.testing import wait_until


def run_python(script: str, env: Optional[Dict[str, str]] = None, cwd: Optional[Path] = None,
               timeout: float = 120) -> subprocess.CompletedProcess[str]:
    """Runs a script in a new Python process with this one's interpreter and package."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)],
                          env=env if env is not None else dict(os.environ), cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=timeout)


def start_python(script: str, env: Dict[str, str]) -> subprocess.Popen[str]:
    """Starts a script in a new Python process, its stdin and stdout piped line by line."""
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(script)], env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)


@pytest.fixture(autouse=True)
def private_folders(tmp_path_factory: pytest.TempPathFactory, monkeypatch: pytest.MonkeyPatch) -> Iterator[None]:
    """Device and runtime folders of the test's own, so that no test meets a host or named
    objects of the machine (a test network sets its own over these); the library unloaded
    after the test, so that a failed test leaves no folder loaded for the next."""
    base = tmp_path_factory.mktemp("kalvo-", numbered=True)
    for name, folder in (("KALVO_DEVICE_DIR", "devices"), ("KALVO_RUNTIME_DIR", "runtime")):
        (base / folder).mkdir(mode=0o700)
        monkeypatch.setenv(name, str(base / folder))
    yield
    kalvo.unload()


@pytest.fixture
def loaded(kalvo_folder: Path) -> Iterator[Path]:
    """The library loaded in the test network's folder, its line up (the network's teardown unloads it)."""
    kalvo.load(kalvo_folder)
    with kalvo.Dio(1) as dio:
        assert wait_until(lambda: dio.condition), "the line did not come up"
    yield kalvo_folder
