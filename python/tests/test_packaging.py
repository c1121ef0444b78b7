"""The package as users get it: pip from the source tree, cmake --install, the examples, the docs."""

from __future__ import annotations

import inspect
import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import kalvo

SOURCE = Path(os.environ.get("KALVO_SOURCE_DIR", Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE / "python" / "examples"
# What the installed package is asked in each case: its error classes made
# at build time, its type marker, its pytest plugin, and where it came from.
PROBE = """
import importlib.metadata, pathlib, kalvo
plugins = [e.value for e in importlib.metadata.entry_points(group="pytest11") if e.name == "kalvo"]
print(kalvo.KalvoTimeoutError.code, (pathlib.Path(kalvo.__file__).parent / "py.typed").is_file(), plugins)
print(kalvo.__file__)
"""


def without_test_paths() -> dict[str, str]:
    return {name: value for name, value in os.environ.items()
            if name not in ("PYTHONPATH", "KALVO_LIBRARY", "KALVO_BIN_DIR", "KALVO_SAMPLE_CONFIG")}


def test_pip_installs_the_source_tree_without_an_index(tmp_path: Path) -> None:
    # The package and the header it generates its errors from, laid out as
    # in the source tree (pip builds in the tree it is given).
    tree = tmp_path / "src"
    shutil.copytree(SOURCE / "python", tree / "python", ignore=shutil.ignore_patterns("build", "*.egg-info", "tests"))
    (tree / "api" / "include" / "kalvo").mkdir(parents=True)
    shutil.copy(SOURCE / "api" / "include" / "kalvo" / "kalvo_errors.h", tree / "api" / "include" / "kalvo")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    install = subprocess.run([str(venv / "bin" / "pip"), "install", "--no-index", "--no-build-isolation", "--no-deps",
                              str(tree / "python")], env=without_test_paths(), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, timeout=300)
    assert install.returncode == 0, install.stdout
    probe = subprocess.run([str(venv / "bin" / "python"), "-c", PROBE], env=without_test_paths(),
                           cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=True)
    lines = probe.stdout.splitlines()
    assert lines[0] == "17 True ['kalvo.testing']"
    assert lines[1].startswith(str(venv))


def test_cmake_install_gives_the_system_python_a_working_package(tmp_path: Path) -> None:
    # Installed into a prefix, the package finds the library, the programs
    # and the example folder of that prefix by itself.
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", os.environ["KALVO_BUILD_DIR"], "--prefix", str(prefix)],
                   stdout=subprocess.DEVNULL, check=True, timeout=300)
    # Where Debian's python3 looks under a prefix other than /usr.
    scheme = "dist-packages" if "deb_system" in sysconfig.get_scheme_names() else "site-packages"
    packages = [p.parent for p in prefix.glob(f"lib/python3.*/{scheme}/kalvo")]
    assert len(packages) == 1, list(prefix.rglob("kalvo"))
    env = without_test_paths()
    env["PYTHONPATH"] = str(packages[0])
    script = PROBE + """
import os, kalvo
from kalvo.simulation import SimulatedNetwork, wait_until
with SimulatedNetwork() as network:
    kalvo.load(network.folder)
    with kalvo.Dio(1) as dio:
        assert wait_until(lambda: dio.condition)
        dio.write(0x1234)
        print(hex(dio.read_output()), kalvo.find_library()[0])
"""
    run = subprocess.run([sys.executable, "-c", script], env=env, cwd=tmp_path, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=120)
    assert run.returncode == 0, run.stdout
    lines = run.stdout.splitlines()
    assert lines[0] == "17 True ['kalvo.testing']"
    assert lines[1].startswith(str(packages[0]))
    value, library = lines[2].split()
    assert value == "0x1234" and library.startswith(str(prefix))


@pytest.mark.parametrize("example", ["dio_read_write", "ada_loop", "axis_move", "sio_echo"])
def test_examples_run_on_the_example_folder(example: str) -> None:
    run = subprocess.run([sys.executable, str(EXAMPLES / f"{example}.py")], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=120)
    assert run.returncode == 0, run.stdout


def test_every_public_name_has_its_docs() -> None:
    # Its own docstring, not one inherited: help(kalvo.Dio) says what each call does.
    missing = []
    for name in kalvo.__all__:
        item = getattr(kalvo, name)
        if not item.__doc__ or (inspect.isclass(item) and "__doc__" not in vars(item)):
            missing.append(name)
        if inspect.isclass(item) and issubclass(item, kalvo.Unit):
            missing += [f"{name}.{member}" for member, value in vars(item).items()
                        if not member.startswith("_") and (inspect.isfunction(value) or isinstance(value, property))
                        and not value.__doc__]
    assert missing == []
