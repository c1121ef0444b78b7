"""What the examples share: the configuration folder they run in.

With ``--folder FOLDER`` an example runs in that configuration folder, on
whatever device host serves it (a plant's, or ``kalvo-devctl start``).
Without it, it brings up a private simulated network on a copy of the
example configuration folder (one PCI board with DIO, ADA, AXSA and SIO
units) and stops it at the end.
"""

from __future__ import annotations

import argparse
import contextlib
from pathlib import Path
from typing import Iterator

import kalvo
from kalvo.simulation import SimulatedNetwork, example_folder, wait_until


@contextlib.contextmanager
def configuration_folder(description: str) -> Iterator[Path]:
    """Parses the example's command line; the Kalvo library loaded in the folder, its line up."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--folder", type=Path, help="a configuration folder served by a running device host "
                        "(default: a private simulated network on the example configuration folder)")
    arguments = parser.parse_args()
    with contextlib.ExitStack() as stack:
        if arguments.folder is not None:
            folder: Path = arguments.folder
        else:
            folder = stack.enter_context(SimulatedNetwork(example_folder())).folder
            print(f"simulated network on a copy of the example folder: {folder}")
        kalvo.load(folder)
        with kalvo.Dio(1) as dio:
            if not wait_until(lambda: dio.condition, timeout=5):
                print("DIO_1's station does not answer (is the line up?)")
        yield folder
