"""Builds the package: kalvo/_errors.py is generated from kalvo/kalvo_errors.h.

The header is taken from KALVO_ERRORS_HEADER when set, else from the source
tree this folder belongs to, else from the installed include folders.
"""

import os
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import build_errors  # noqa: E402

HEADER_PLACES = [
    HERE.parent / "api" / "include" / "kalvo" / "kalvo_errors.h",
    Path("/usr/local/include/kalvo/kalvo_errors.h"),
    Path("/usr/include/kalvo/kalvo_errors.h"),
]


def errors_header() -> Path:
    override = os.environ.get("KALVO_ERRORS_HEADER")
    places = [Path(override)] if override else HEADER_PLACES
    for place in places:
        if place.is_file():
            return place
    raise SystemExit("kalvo: kalvo/kalvo_errors.h not found (set KALVO_ERRORS_HEADER); looked at: "
                     + ", ".join(str(p) for p in places))


class BuildWithErrors(build_py):
    def run(self) -> None:
        super().run()
        if not self.dry_run:
            build_errors.generate(str(errors_header()), os.path.join(self.build_lib, "kalvo", "_errors.py"))


setup(cmdclass={"build_py": BuildWithErrors})
