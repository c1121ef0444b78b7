"""pytest fixtures: a private simulated network for each test.

Installed with the package, this plugin registers itself (``pytest11``
entry point; otherwise ``pytest -p kalvo.testing``). A test asks for

- ``kalvo_network``: a started ``SimulatedNetwork`` (private device host,
  ``KALVO_DEVICE_DIR`` and ``KALVO_RUNTIME_DIR`` set for the test), stopped
  after the test, the Kalvo library unloaded first when the test loaded it;
- ``kalvo_folder``: that network's configuration folder, to ``kalvo.load``;
- ``kalvo_sim``: its ``Simulator``, to play the far side of the line.

The network's folder is a copy of the ``kalvo_config_folder`` fixture's
folder (the example configuration folder unless a test or conftest
overrides it). A marker chooses per test::

    @pytest.mark.kalvo_network(folder=path, boards="tolva:id=0", cycle_us=500)
    @pytest.mark.kalvo_network(build=[["new", "--board", "1=Pcimaster64"],
                                      ["place", "1", "1", "MST", "QMDIO16"]])

``build`` makes the folder with ``kalvo-config``, one command per list.

    def test_lamp(kalvo_folder, kalvo_sim):
        kalvo.load(kalvo_folder)
        with kalvo.Dio(1) as dio:
            kalvo_sim.set_input("DIO_1", 0, 0x0001)
            assert dio.bit(0)
"""

from __future__ import annotations

from pathlib import Path
from typing import Any, Dict, Iterator

import pytest

from .simulation import SimulatedNetwork, SimulationError, Simulator, build_folder, example_folder, wait_until

__all__ = ["SimulatedNetwork", "SimulationError", "Simulator", "build_folder", "example_folder", "wait_until"]


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers",
        "kalvo_network(folder=None, build=None, boards=None, cycle_us=None, host_options=()): "
        "the configuration folder and host options of the test's simulated network",
    )


@pytest.fixture
def kalvo_config_folder() -> Path:
    """The configuration folder the test's network copies (override it in a conftest)."""
    return example_folder()


@pytest.fixture
def kalvo_network(request: pytest.FixtureRequest, tmp_path: Path,
                  tmp_path_factory: pytest.TempPathFactory) -> Iterator[SimulatedNetwork]:
    """A private device host serving a copy of the configuration folder, for this test.

    Its folders stay in pytest's temporary folder (the host's output in
    ``devhost.log``, the libraries' logs in the configuration folder).
    """
    marker = request.node.get_closest_marker("kalvo_network")
    options: Dict[str, Any] = dict(marker.kwargs) if marker else {}
    build = options.pop("build", None)
    folder = options.pop("folder", None)
    if build is not None:
        folder = build_folder(tmp_path / "built-config", *build)
    elif folder is None:
        folder = request.getfixturevalue("kalvo_config_folder")
    # Under pytest's base folder rather than the test's own, whose long name
    # could leave no room for the host's socket path.
    network = SimulatedNetwork(folder, workdir=tmp_path_factory.getbasetemp(), cleanup=False, **options)
    network.start()
    try:
        yield network
    finally:
        network.stop()


@pytest.fixture
def kalvo_folder(kalvo_network: SimulatedNetwork) -> Path:
    """The configuration folder of the test's simulated network."""
    return kalvo_network.folder


@pytest.fixture
def kalvo_sim(kalvo_network: SimulatedNetwork) -> Simulator:
    """The simulator of the test's network: unit inputs, faults, stations off the line."""
    return kalvo_network.sim
