"""Python programs as separate processes on one network: shared units, a killed holder, another user."""

from __future__ import annotations

import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path

import pytest
from conftest import run_python, start_python

import kalvo
from kalvo.testing import SimulatedNetwork

TOGGLER = """
    import sys, kalvo
    kalvo.load({folder!r})
    bits, final, rounds = {bits!r}, {final!r}, {rounds!r}
    with kalvo.Dio(1) as dio:
        print("ready", flush=True)
        sys.stdin.readline()
        lost = 0
        for round in range(rounds):
            # Alternating, the last round setting the final value.
            value = ((rounds - 1 - round) % 2 == 0) == final
            for bit in bits:
                dio.set_bit(bit, value)
                lost += dio.output_bit(bit) != value
        print("lost", lost, flush=True)
"""


def test_two_processes_setting_bits_of_one_word_lose_no_change(kalvo_network: SimulatedNetwork) -> None:
    # Each process owns eight bits of DIO_1's output word and toggles them:
    # every change is a read-modify-write of the whole word, which the
    # unit's lock makes whole across processes.
    # This process keeps the unit open: the last program to leave a board
    # clears its outputs.
    kalvo.load(kalvo_network.folder)
    watcher = kalvo.Dio(1)  # closed by the network's unload
    env = kalvo_network.env()
    owners = [(list(range(0, 8)), True), (list(range(8, 16)), False)]
    children = [start_python(TOGGLER.format(folder=str(kalvo_network.folder), bits=bits, final=final, rounds=150), env)
                for bits, final in owners]
    try:
        for child in children:
            assert child.stdout is not None and child.stdout.readline().strip() == "ready"
        for child in children:  # both start together
            assert child.stdin is not None
            child.stdin.write("go\n")
            child.stdin.flush()
        reports = [child.communicate(timeout=120)[0] for child in children]
    finally:
        for child in children:
            with child:
                child.kill()
    assert [child.returncode for child in children] == [0, 0], reports
    assert [report.split() for report in reports] == [["lost", "0"], ["lost", "0"]]
    assert watcher.read_output() == 0x00FF


HOLDER = """
    import sys, kalvo
    kalvo.load({folder!r})
    dio = kalvo.Dio(1)
    print("holding", flush=True)
    n = 0
    while True:
        dio.set_bit(0, n % 2 == 0)
        n += 1
        if n == 200:
            print("busy", flush=True)
"""

NEXT = """
    import kalvo
    from kalvo.testing import wait_until
    kalvo.load({folder!r})
    with kalvo.Dio(1) as dio:
        assert wait_until(lambda: dio.condition), "the line did not come back"
        dio.write(0x0F0F)
        dio.set_bit(15, True)
        print(hex(dio.read_output()))
"""


def test_a_process_killed_holding_a_unit_leaves_the_next_one_working(kalvo_network: SimulatedNetwork) -> None:
    env = kalvo_network.env()
    folder = str(kalvo_network.folder)
    with start_python(HOLDER.format(folder=folder), env) as holder:
        assert holder.stdout is not None
        assert holder.stdout.readline().strip() == "holding"
        assert holder.stdout.readline().strip() == "busy"
        # Killed in the middle of its changes: most likely inside the unit's lock.
        holder.send_signal(signal.SIGKILL)
    run = run_python(NEXT.format(folder=folder), env=env, timeout=60)
    assert run.returncode == 0, run.stdout
    assert run.stdout.strip() == "0x8f0f"


UNPRIVILEGED = "kalvo-python-test"


def test_an_unprivileged_user_runs_the_package_and_its_network() -> None:
    # Not root: the host's folders, the sockets and the named objects are the
    # user's own, in folders that user made.
    if os.geteuid() != 0 or not shutil.which("useradd") or not shutil.which("setpriv"):
        pytest.skip("needs root, useradd and setpriv to run as another user")
    try:
        user = pwd.getpwnam(UNPRIVILEGED)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", UNPRIVILEGED],
                       check=True)
        user = pwd.getpwnam(UNPRIVILEGED)
    work = Path(tempfile.mkdtemp(prefix="kalvo-user-"))
    os.chown(work, user.pw_uid, user.pw_gid)
    env = {name: value for name, value in os.environ.items() if not name.startswith("KALVO_") or name in (
        "KALVO_LIBRARY", "KALVO_BIN_DIR", "KALVO_SAMPLE_CONFIG")}
    env.update(HOME=str(work), TMPDIR=str(work))
    script = f"""
        import os, kalvo
        from kalvo.testing import SimulatedNetwork, wait_until
        with SimulatedNetwork(workdir={str(work)!r}) as network:
            kalvo.load(network.folder)
            with kalvo.Dio(1) as dio:
                assert wait_until(lambda: dio.condition)
                dio.write(0x1234)
                print(os.getuid(), network.device_dir.stat().st_uid, hex(dio.read_output()))
    """
    try:
        run = subprocess.run(["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups",
                              sys.executable, "-c", textwrap.dedent(script)],
                             env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    assert run.returncode == 0, run.stdout
    assert run.stdout.split() == [str(user.pw_uid), str(user.pw_uid), "0x1234"]
