"""Finding, loading and unloading libKalvo, and its calls bound once.

Loading libKalvo is its process attach: it reads ``Kalvo.ini`` from the
current directory, opens its log there, binds the board libraries, opens the
boards and, in the first process on the machine, starts their lines. So the
load happens in the configuration folder, once per process, and nothing
loads at import.

The library is loaded through the platform library's own loader
(``kalvo::platform::loadLibrary``), not by a plain ``dlopen``: a module whose
attach fails is then unloaded again and reported, where a plain ``dlopen``
would end the whole process (there would be nobody to tell). Its calls are
bound by address from ``getProcAddress``, so that ``unload`` really unloads
it (ctypes would otherwise hold a reference of its own).
"""

from __future__ import annotations

import ctypes
import importlib
import os
import sys
import tempfile
import threading
import weakref
from contextlib import contextmanager
from pathlib import Path
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, Optional, Tuple

from ._errorbase import LibraryNotFoundError, LoadError
from .errors import error_for

if TYPE_CHECKING:
    from ._unit import Unit

SONAME = "libKalvo.so.0"
PLATFORM_SONAME = "libKalvoPlatform.so.0"

# The platform library's C++ API (kalvo/platform/module.h, win_error.h), by
# symbol: ModuleHandle loadLibrary(const char*), void* getProcAddress(
# ModuleHandle, const char*), bool freeLibrary(ModuleHandle), uint32_t
# lastError().
_LOAD_LIBRARY = "_ZN5kalvo8platform11loadLibraryEPKc"
_GET_PROC_ADDRESS = "_ZN5kalvo8platform14getProcAddressEPNS0_12ModuleRecordEPKc"
_FREE_LIBRARY = "_ZN5kalvo8platform11freeLibraryEPNS0_12ModuleRecordE"
_LAST_ERROR = "_ZN5kalvo8platform9lastErrorEv"
_ERROR_MOD_NOT_FOUND = 126
_ERROR_DLL_INIT_FAILED = 1114

_I32 = ctypes.c_int32
_PI32 = ctypes.POINTER(ctypes.c_int32)
_PU16 = ctypes.POINTER(ctypes.c_uint16)
_BYTES = ctypes.c_char_p


class UnitPlacementRecord(ctypes.Structure):
    """``UnitPlacement`` of kalvo/kalvo.h: the 88-byte argument of the OpenEx calls."""

    _fields_ = [
        ("family", ctypes.c_int32),
        ("unit", ctypes.c_int32),
        ("kind", ctypes.c_int32),
        ("board", ctypes.c_int32),
        ("line", ctypes.c_int32),
        ("base", ctypes.c_int32),
        ("offsets", ctypes.c_int32 * 16),
    ]


_PPLACEMENT = ctypes.POINTER(UnitPlacementRecord)


def _family_calls(family: str, *data: Tuple[str, Tuple[Any, ...]]) -> Dict[str, Tuple[Any, ...]]:
    calls: Dict[str, Tuple[Any, ...]] = {
        f"KV_{family}_Open": (_I32,),
        f"KV_{family}_OpenEx": (_PPLACEMENT,),
        f"KV_{family}_Close": (_I32,),
        f"KV_{family}_GetCondition": (_I32, _PI32),
    }
    calls.update((f"KV_{family}_{name}", argtypes) for name, argtypes in data)
    return calls


# Every export of kalvo/kalvo.h with its argument types; each returns int32_t.
SIGNATURES: Dict[str, Tuple[Any, ...]] = {
    "KV_BeginPeriod": (),
    "KV_EndPeriod": (),
    "KV_CheckBoard": (_I32,),
    "KV_AttachMemory": (_I32, _I32, ctypes.POINTER(ctypes.c_void_p)),
    **_family_calls(
        "DIO",
        ("InData", (_I32, _PU16)),
        ("InOData", (_I32, _PU16)),
        ("OutData", (_I32, _I32)),
        ("InDataBit", (_I32, _I32, _PI32)),
        ("InODataBit", (_I32, _I32, _PI32)),
        ("OutDataBit", (_I32, _I32, _I32)),
    ),
    **_family_calls(
        "ADA",
        ("InValue", (_I32, _I32, _PI32)),
        ("InValueFull", (_I32, _I32, _PU16)),
        ("InOValue", (_I32, _I32, _PI32)),
        ("InOValueFull", (_I32, _I32, _PU16)),
        ("OutValue", (_I32, _I32, _I32)),
        ("OutValueFull", (_I32, _I32, _I32)),
        ("SetFilter", (_I32, _I32, _I32, _I32, _I32)),
        ("GetFilter", (_I32, _I32, _PI32, _PI32, _PI32)),
        ("GetInRange", (_I32, _I32, _PI32)),
        ("GetOutRange", (_I32, _I32, _PI32)),
        ("GetVersion", (_I32, _PI32)),
        ("PutCmd", (_I32, _I32, _I32, _I32, _PU16)),
    ),
    **_family_calls(
        "AXSA",
        ("PutCmd", (_I32, _I32, _I32, _I32, _I32)),
        ("Answer", (_I32, _I32, _PU16, _PU16)),
        ("AnsWith", (_I32, _I32, _PU16, _PI32, _PU16)),
        ("GetStatus", (_I32, _I32, _PU16, _PI32)),
        ("PutCmdEx", (_I32, _I32, _I32, _I32, _I32, _PU16, _PI32)),
        ("PutForm", (_I32, _I32, _I32, _I32, _I32)),
        ("PutFormEx", (_I32, _I32, _I32, _I32, _I32, _PU16, _PI32)),
    ),
    **_family_calls(
        "SIO",
        ("Config", (_I32,) * 8),
        ("PutData", (_I32, _I32, _BYTES, _I32, _PI32, _I32)),
        ("GetData", (_I32, _I32, _BYTES, _I32, _PI32, _I32)),
        ("ClearError", (_I32, _I32)),
        ("CheckBuffer", (_I32, _I32, _PI32)),
        ("ClearBuffer", (_I32, _I32)),
    ),
}

Call = Callable[..., int]


def _describe(name: str, args: Tuple[Any, ...]) -> str:
    shown = (str(a) if isinstance(a, int) else "*" for a in args)
    return f"{name}({', '.join(shown)})"


def _raise_on_code(name: str) -> Callable[[int, Any, Tuple[Any, ...]], int]:
    def check(result: int, function: Any, args: Tuple[Any, ...]) -> int:
        if result != 0:
            raise error_for(result, _describe(name, args))
        return result

    return check


class Calls:
    """The library's calls for one load, each raising on a code other than 0."""

    def __init__(self, resolve: Callable[[str], int]) -> None:
        for name, argtypes in SIGNATURES.items():
            address = resolve(name)
            function = ctypes.CFUNCTYPE(ctypes.c_int32, *argtypes)(address)
            function.errcheck = _raise_on_code(name)  # type: ignore[assignment]
            setattr(self, name, function)

    def __getattr__(self, name: str) -> Call:
        raise AttributeError(f"libKalvo has no call {name}")


class _LinkMap(ctypes.Structure):
    _fields_ = [("l_addr", ctypes.c_void_p), ("l_name", ctypes.c_char_p)]


def _loaded_path(library: ctypes.CDLL) -> Optional[Path]:
    """Where the loader found a loaded library (dlinfo's link map)."""
    try:
        dlinfo = ctypes.CDLL(None).dlinfo
    except AttributeError:
        return None
    link_map = ctypes.POINTER(_LinkMap)()
    if dlinfo(ctypes.c_void_p(library._handle), 2, ctypes.byref(link_map)) != 0:  # RTLD_DI_LINKMAP
        return None
    name = link_map.contents.l_name
    return Path(os.fsdecode(name)) if name else None


class _Platform:
    """The platform library and the four calls of its module loader."""

    def __init__(self, spec: str) -> None:
        self.library = ctypes.CDLL(spec)
        lib = self.library
        self.load_library = lib[_LOAD_LIBRARY]
        self.load_library.argtypes = [ctypes.c_char_p]
        self.load_library.restype = ctypes.c_void_p
        self.get_proc_address = lib[_GET_PROC_ADDRESS]
        self.get_proc_address.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
        self.get_proc_address.restype = ctypes.c_void_p
        self.free_library = lib[_FREE_LIBRARY]
        self.free_library.argtypes = [ctypes.c_void_p]
        self.free_library.restype = ctypes.c_bool
        self.last_error = lib[_LAST_ERROR]
        self.last_error.argtypes = []
        self.last_error.restype = ctypes.c_uint32
        self.dlerror = ctypes.CDLL(None).dlerror
        self.dlerror.argtypes = []
        self.dlerror.restype = ctypes.c_char_p


def installed_folder(name: str) -> Optional[Path]:
    """A folder recorded by ``cmake --install`` (``LIBDIR``, ``BINDIR``, ``DATADIR``), or None."""
    try:
        recorded = importlib.import_module(__package__ + "._install")
    except ImportError:
        return None
    return Path(getattr(recorded, name))


def find_library() -> Tuple[Path, str]:
    """libKalvo's path and how to load its platform library, or LibraryNotFoundError.

    In order: ``KALVO_LIBRARY`` (a path; when it is set nothing else is
    tried), the library folder the package was installed with, then the
    system loader's own search (``LD_LIBRARY_PATH``, ``/etc/ld.so.cache``,
    ``/lib``, ``/usr/lib``), which finds the platform library by its soname;
    libKalvo sits beside it.
    """
    tried: List[str] = []
    override = os.environ.get("KALVO_LIBRARY")
    if override:
        path = Path(override)
        if path.is_file():
            beside = path.parent / PLATFORM_SONAME
            return path, str(beside) if beside.is_file() else PLATFORM_SONAME
        tried.append(f"{override} (KALVO_LIBRARY): no such file")
        raise LibraryNotFoundError("the Kalvo library named by KALVO_LIBRARY does not exist:", tried)
    tried.append("KALVO_LIBRARY: not set")
    libdir = installed_folder("LIBDIR")
    if libdir is not None:
        if (libdir / SONAME).is_file():
            beside = libdir / PLATFORM_SONAME
            return libdir / SONAME, str(beside) if beside.is_file() else PLATFORM_SONAME
        tried.append(f"{libdir / SONAME} (the folder the package was installed with): no such file")
    try:
        platform = ctypes.CDLL(PLATFORM_SONAME)
    except OSError as error:
        tried.append(f"{PLATFORM_SONAME} through the system loader "
                     f"(LD_LIBRARY_PATH, /etc/ld.so.cache, /lib, /usr/lib): {error}")
    else:
        found = _loaded_path(platform)
        if found is not None and (found.parent / SONAME).is_file():
            return found.parent / SONAME, str(found)
        tried.append(f"{SONAME} beside {found or PLATFORM_SONAME}: no such file")
    raise LibraryNotFoundError(
        f"{SONAME} was not found (install it, run ldconfig, or set KALVO_LIBRARY to its path); looked at:",
        tried,
    )


@contextmanager
def _stderr_captured() -> Iterator[List[str]]:
    """Collects what the library writes to file descriptor 2 meanwhile."""
    sys.stderr.flush()
    saved = os.dup(2)
    text: List[str] = []
    with tempfile.TemporaryFile() as capture:
        os.dup2(capture.fileno(), 2)
        try:
            yield text
        finally:
            os.dup2(saved, 2)
            os.close(saved)
            capture.seek(0)
            text.append(capture.read().decode("utf-8", "replace"))


class Loaded:
    """The library as loaded in this process: its folder, module and calls."""

    def __init__(self, folder: Path, path: Path, platform: _Platform, module: int, calls: Calls) -> None:
        self.folder = folder
        self.path = path
        self.platform = platform
        self.module = module
        self.calls = calls
        self.alive = True
        self.units: "weakref.WeakSet[Unit]" = weakref.WeakSet()


_lock = threading.RLock()
_loaded: Optional[Loaded] = None
# Set in a child forked from a process that had the library loaded.
_forked_from: Optional[Path] = None


def _after_fork_in_child() -> None:
    # The child shares the parent's device connections and holds none of its
    # named objects: using the library there would act for the parent, and a
    # new load would find the library mapped already and not start it.
    global _loaded, _forked_from
    if _loaded is not None:
        _loaded.alive = False
        _forked_from = _loaded.folder
        _loaded = None


os.register_at_fork(after_in_child=_after_fork_in_child)


def _refuse_after_fork() -> None:
    if _forked_from is not None:
        raise LoadError(
            f"this process was forked from one that had the Kalvo library loaded (with {_forked_from}): "
            f"it cannot use the library; start the process anew (multiprocessing's 'spawn' start method)"
        )


def load(folder: "os.PathLike[str] | str") -> Path:
    """Loads libKalvo in the configuration folder ``folder`` and returns the folder.

    The library reads ``Kalvo.ini`` there and writes its log there; its load
    opens the boards and, in the first process on the machine, starts their
    lines. The process's working directory is changed into the folder for
    the load and back (the working directory is the process's, so no other
    thread should rely on it meanwhile).

    Loading the folder already loaded does nothing. Another folder raises
    ``LoadError``: a process works in one configuration folder (its units,
    log and lines); ``kalvo.unload()`` first, or use another process.
    ``LoadError`` also when the library refuses to start in the folder (its
    reason in the message), ``LibraryNotFoundError`` when it is not found.
    A child forked from a process with the library loaded cannot use it
    (``LoadError``): start child processes anew (multiprocessing's
    ``spawn``).
    """
    global _loaded
    target = Path(folder).resolve()
    with _lock:
        _refuse_after_fork()
        if _loaded is not None:
            if _loaded.folder == target:
                return target
            raise LoadError(
                f"the Kalvo library is already loaded in this process with the configuration folder "
                f"{_loaded.folder}; a process works in one configuration folder (its Kalvo.ini, units, "
                f"log and lines), so {target} cannot be loaded beside it: call kalvo.unload() first, "
                f"or run a second process"
            )
        if not target.is_dir():
            raise LoadError(f"the configuration folder {target} does not exist or is not a folder")
        path, platform_spec = find_library()
        try:
            platform = _Platform(platform_spec)
        except (OSError, AttributeError) as error:
            raise LoadError(f"the platform library {platform_spec} beside {path} does not load: {error}") from None
        # Back by descriptor: the way in works even when the working
        # directory may not be read, or was renamed meanwhile.
        back = os.open(".", os.O_PATH | os.O_DIRECTORY)
        try:
            with _stderr_captured() as said:
                os.chdir(target)
                try:
                    module = platform.load_library(os.fsencode(path))
                    reason = platform.last_error()
                    loader = platform.dlerror() if not module else None
                finally:
                    os.fchdir(back)
        finally:
            os.close(back)
        message = "".join(said).strip()
        if not module:
            if reason == _ERROR_DLL_INIT_FAILED:
                raise LoadError(f"the Kalvo library {path} refused to start in {target}: "
                                f"{message or 'its attach failed (see its log there)'}")
            said_by_loader = os.fsdecode(loader) if loader else f"error {reason}"
            raise LoadError(f"the Kalvo library {path} does not load: {said_by_loader}")
        if message:
            print(message, file=sys.stderr)

        def resolve(name: str) -> int:
            address = platform.get_proc_address(module, name.encode())
            if not address:
                raise LoadError(f"the Kalvo library {path} has no call {name} (an older version?)")
            return int(address)

        try:
            calls = Calls(resolve)
        except LoadError:
            platform.free_library(module)
            raise
        _loaded = Loaded(target, path, platform, module, calls)
        return target


def unload() -> None:
    """Closes every unit still open and unloads the library (nothing when none is loaded).

    The library's unload is what a program's end does: it closes the units
    and boards and, in the last process using a board, resets and stops its
    lines. ``kalvo.load`` may then load another folder. No other thread may
    be inside a call meanwhile.
    """
    global _loaded
    with _lock:
        loaded = _loaded
        if loaded is None:
            return
        try:
            for unit in list(loaded.units):
                unit.close()
        finally:
            loaded.alive = False
            _loaded = None
            loaded.platform.free_library(loaded.module)


def current() -> Loaded:
    """The loaded library, or LoadError when ``kalvo.load`` has not been called."""
    loaded = _loaded
    if loaded is None:
        _refuse_after_fork()
        raise LoadError("the Kalvo library is not loaded: call kalvo.load(configuration_folder) first")
    return loaded


def loaded_folder() -> Optional[Path]:
    """The configuration folder the library is loaded with, or ``None``."""
    loaded = _loaded
    return loaded.folder if loaded is not None else None
