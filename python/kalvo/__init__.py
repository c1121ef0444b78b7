"""The Kalvo fieldbus application API for Python, over libKalvo.so.0.

    import kalvo

    kalvo.load("/path/to/configuration-folder")   # reads Kalvo.ini there, opens the boards
    with kalvo.Dio(1) as dio:                      # DIO_1 as Kalvo.ini places it
        dio.write(0x0005)
        print(hex(dio.read()))

The same calls, codes and behaviour as the C library: each unit family is a
class (``Dio``, ``Ada``, ``Axsa``, ``Sio``), each code other than 0 raises
its exception (``UnitError``, ``KalvoTimeoutError``, ... all ``KalvoError``,
with ``.code``, ``.name`` and ``.text``), and arguments are checked before
the call. A process works in one configuration folder: ``load`` it once.
Nothing is loaded at import. ``kalvo.testing`` brings up a private
simulated network for pytest.

The library is found by ``KALVO_LIBRARY`` when set, else where the package
was installed with it, else by the system loader.
"""

from . import errors
from ._library import find_library, load, loaded_folder, unload
from ._unit import Placement, Unit
from .ada import Ada, AdaFilter
from .axsa import AxisAnswer, Axsa
from .board import attach_memory, begin_period, check_board, end_period, timer_period
from .dio import Dio
from .errors import *  # noqa: F401,F403  (KalvoError, LoadError, error_for, ...)
# A class per return code, generated from kalvo_errors.h (imported from its
# own module too, so that type checkers follow the names).
from ._errors import *  # noqa: F401,F403
from .sio import Sio

__version__ = "0.1.0"

__all__ = [
    "load",
    "unload",
    "loaded_folder",
    "find_library",
    "Placement",
    "Unit",
    "Dio",
    "Ada",
    "AdaFilter",
    "Axsa",
    "AxisAnswer",
    "Sio",
    "check_board",
    "attach_memory",
    "begin_period",
    "end_period",
    "timer_period",
]
__all__ += errors.__all__
