"""Finding and loading the ORVIX32 library, with the prototypes of its exports."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import re
import sys
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from .errors import LibraryNotFoundError

PACKAGE_DIR = Path(__file__).resolve().parent
#: The build folder of the source tree this package sits in (python/../build);
#: None for an installed package.
TREE_BUILD: Optional[Path] = (PACKAGE_DIR.parent.parent / "build"
                              if (PACKAGE_DIR.parent / "pyproject.toml").is_file() else None)
LIBRARY_FILE = "ORVIX32.dll" if sys.platform == "win32" else "libORVIX32.so"

_U8 = ctypes.POINTER(ctypes.c_ubyte)
_INT = ctypes.c_int
_PINT = ctypes.POINTER(ctypes.c_int)

# Every export's parameters; each returns an int.
_PROTOTYPES = {
    "LinkCom": (_INT,), "AutoLinkCom": (_PINT,), "UnLinkCom": (), "ComBaudRate": (),
    "DLLVER": (), "GetDeviceNumber": (_U8,), "DEVVER": (_U8,),
    "ALARM": (_INT, _INT, _INT, _INT),
    "RFMifare_Mcmno": (_U8,), "RFMifare_TransKey": (_INT, _U8), "RFMifare_Authmode": (_INT,),
    "RFMifare_GetType": (_U8,), "RFMifare_GetSnr": (_U8,),
    "RFMifare_ReadBlock": (_INT, _INT, _U8), "RFMifare_WriteBlock": (_INT, _INT, _U8),
    "RFMifare_WriteKey": (_INT, _INT, _U8, _INT), "RFMifare_ReadValue": (_INT, _INT, _PINT),
    "RFMifare_WriteValue": (_INT, _INT, _PINT), "RFMifare_IncrementValue": (_INT, _INT, _PINT),
    "RFMifare_DecrementValue": (_INT, _INT, _PINT), "RFMifare_LoadKey": (_INT, _INT, _U8),
    "RFMifare_Request": (_INT, _U8), "RFMifare_AntiColl": (_U8,), "RFMifare_Select": (_INT,),
    "RFMifare_Authentication": (_INT, _INT, _INT), "RFMifare_Read": (_INT, _U8),
    "RFMifare_Write": (_INT, _U8), "RFMifare_Increment": (_INT, _INT),
    "RFMifare_Decrment": (_INT, _INT), "RFMifare_Halt": (),
    "RF5550_ReadBlk": (_INT, _U8), "RF5550_WriteBlk": (_INT, _U8, _U8, _INT),
    "RF5550_Init": (_PINT, _U8, _INT), "RF5550_Wake": (_U8,),
    "RF5550_ReadAfterWake": (_INT, _U8, _U8), "RF5550_WriteAfterWake": (_INT, _U8, _U8, _INT),
    "RF5550_Mcmno": (_U8,),
    "PowerOn": (), "PowerOff": (), "SelectCard": (_INT,), "VerifyIC": (),
    "Inquire": (_PINT, _PINT, _PINT), "CheckSecret": (_INT, _U8), "ReadSecret": (_U8, _U8),
    "ModifySecret": (_INT, _U8), "ReadCard": (_INT, _INT, _INT, _INT, _U8),
    "WriteCard": (_INT, _INT, _INT, _INT, _U8), "EraseCard": (_INT, _INT, _INT, _INT, _U8),
    "Fuse": (_INT,), "CheckEraseSecret": (_INT, _U8), "CheckZoneSecret": (_INT, _U8),
    "SetZoneRWBit": (_INT, _INT), "SetStandby": (),
    "ReadMemCard": (_INT, _INT, _U8), "WriteMemCard": (_INT, _INT, _U8),
    "EraseMemCard": (_INT, _INT, _U8),
    "AT1608_Write": (_INT, _INT, _INT, _U8), "AT1608_Read": (_INT, _INT, _INT, _U8),
    "AT1608_Psw": (_INT, _U8), "AT1608_Authentic": (_U8, _U8), "AT1608_ReadFuse": (_U8,),
    "AT1608_Reset": (),
    "CPUCardProtocolType": (), "CpuCardReset": (_U8,), "ProCpuCard": (_U8, _U8),
    "EnDesData": (_U8, _U8, _U8, _INT), "UnDesData": (_U8, _U8, _U8, _INT),
    "KQ_EndTrans": (), "KQ_GetTime": (_PINT,), "KQ_SetTime": (_PINT,),
    "KQ_GetCurrentPos": (_PINT, _U8), "KQ_GetStartPos": (_PINT, _PINT, _U8),
    "KQ_GetEndPos": (_PINT, _PINT, _U8), "KQ_ReadRecord": (_INT, _INT, _INT, _U8),
    "KQ_SysInit": (), "KQ_Display": (_U8,), "KQ_TransCmd": (_INT, _INT, _U8),
    "KQ_DownloadPSW": (_INT, _U8),
}
for _n in range(1, 5):
    _PROTOTYPES[f"SamCard{_n}Reset"] = (_U8,)
    _PROTOTYPES[f"ProSamCard{_n}"] = (_U8, _U8)


# The reader-handle counterparts of the exports the families call, by the
# export's name: the handle function and its parameters after the reader,
# each one letter: i an int, b a byte buffer (its size follows), p an int
# pointer or array, c an int array (its count follows), r the received length
# (filled in here, not by the caller). A third item is a leading slot number.
_HANDLE_CALLS = {
    "GetDeviceNumber": ("device_number", "b"), "DEVVER": ("device_version", "b"),
    "ALARM": ("alarm", "iiii"), "ComBaudRate": ("baud_rate", ""),
    "orvix_relink": ("relink", ""), "orvix_begin": ("begin", ""), "orvix_end": ("end", ""),
    "RFMifare_Mcmno": ("mifare_module", "b"), "RFMifare_TransKey": ("mifare_trans_key", "ib"),
    "RFMifare_Authmode": ("mifare_auth_mode", "i"), "RFMifare_GetType": ("mifare_get_type", "b"),
    "RFMifare_GetSnr": ("mifare_get_serial", "b"),
    "RFMifare_ReadBlock": ("mifare_read_block", "iib"),
    "RFMifare_WriteBlock": ("mifare_write_block", "iib"),
    "RFMifare_WriteKey": ("mifare_write_key", "iibi"),
    "RFMifare_ReadValue": ("mifare_read_value", "iip"),
    "RFMifare_WriteValue": ("mifare_write_value", "iip"),
    "RFMifare_IncrementValue": ("mifare_increment_value", "iip"),
    "RFMifare_DecrementValue": ("mifare_decrement_value", "iip"),
    "RFMifare_LoadKey": ("mifare_load_key", "iib"), "RFMifare_Request": ("mifare_request", "ib"),
    "RFMifare_AntiColl": ("mifare_anticoll", "b"), "RFMifare_Select": ("mifare_select", "i"),
    "RFMifare_Authentication": ("mifare_authenticate", "iii"),
    "RFMifare_Read": ("mifare_read", "ib"), "RFMifare_Write": ("mifare_write", "ib"),
    "RFMifare_Increment": ("mifare_increment", "ii"),
    "RFMifare_Decrment": ("mifare_decrement", "ii"), "RFMifare_Halt": ("mifare_halt", ""),
    "RF5550_ReadBlk": ("rf5550_read_block", "ibr"),
    "RF5550_WriteBlk": ("rf5550_write_block", "ibbi"), "RF5550_Init": ("rf5550_init", "cbi"),
    "RF5550_Wake": ("rf5550_wake", "b"), "RF5550_ReadAfterWake": ("rf5550_read_after_wake", "ibbr"),
    "RF5550_WriteAfterWake": ("rf5550_write_after_wake", "ibbi"),
    "RF5550_Mcmno": ("rf5550_module", "b"),
    "PowerOn": ("power_on", ""), "PowerOff": ("power_off", ""), "SelectCard": ("select_card", "i"),
    "VerifyIC": ("verify_ic", ""), "Inquire": ("inquire", "ppp"),
    "CheckSecret": ("check_secret", "ib"), "ReadSecret": ("read_secret", "bb"),
    "ModifySecret": ("modify_secret", "ib"), "ReadCard": ("read_card", "iiiib"),
    "WriteCard": ("write_card", "iiiib"), "EraseCard": ("erase_card", "iiiib"),
    "Fuse": ("fuse", "i"), "CheckEraseSecret": ("check_erase_secret", "ib"),
    "CheckZoneSecret": ("check_zone_secret", "ib"), "SetZoneRWBit": ("set_zone_rw_bit", "ii"),
    "SetStandby": ("set_standby", ""), "ReadMemCard": ("read_mem_card", "iib"),
    "WriteMemCard": ("write_mem_card", "iib"), "EraseMemCard": ("erase_mem_card", "iib"),
    "AT1608_Write": ("at1608_write", "iiib"), "AT1608_Read": ("at1608_read", "iiib"),
    "AT1608_Psw": ("at1608_password", "ib"), "AT1608_Authentic": ("at1608_authenticate", "bb"),
    "AT1608_ReadFuse": ("at1608_read_fuse", "b"), "AT1608_Reset": ("at1608_reset", ""),
    "CPUCardProtocolType": ("cpu_protocol", ""),
    "KQ_EndTrans": ("kq_end_trans", ""), "KQ_GetTime": ("kq_get_time", "p"),
    "KQ_SetTime": ("kq_set_time", "p"), "KQ_GetCurrentPos": ("kq_current_pos", "pb"),
    "KQ_GetStartPos": ("kq_start_pos", "ppb"), "KQ_GetEndPos": ("kq_end_pos", "ppb"),
    "KQ_ReadRecord": ("kq_read_record", "iiibr"), "KQ_SysInit": ("kq_sys_init", ""),
    "KQ_Display": ("kq_display", "b"), "KQ_TransCmd": ("kq_trans_cmd", "iib"),
    "KQ_DownloadPSW": ("kq_download_password", "ib"),
}
for _n, _slot in enumerate(["CpuCard"] + [f"SamCard{n}" for n in range(1, 5)]):
    _HANDLE_CALLS[_slot + "Reset"] = ("cpu_reset", "br", _n)
    _HANDLE_CALLS["Pro" + _slot] = ("cpu_packed", "bb", _n)

_SIZE = ctypes.c_size_t
_KINDS = {"i": (_INT,), "b": (_U8, _SIZE), "p": (_PINT,), "c": (_PINT, _SIZE),
          "r": (ctypes.POINTER(_SIZE),)}
# The handle functions that are no command of a family.
_HANDLE_PROTOTYPES = {
    "orvix_open": ([ctypes.c_char_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p)], _INT),
    "orvix_close": ([ctypes.c_void_p], _INT), "orvix_cancel": ([ctypes.c_void_p], _INT),
    "orvix_strerror": ([_INT], ctypes.c_char_p),
    "orvix_status_text": ([_INT, _INT], ctypes.c_char_p),
    "orvix_port_device": ([ctypes.c_char_p, ctypes.c_char_p, _INT], _INT),
    "orvix_may_have_changed": ([ctypes.c_void_p], _INT),
    "orvix_port_name": ([ctypes.c_void_p], ctypes.c_char_p),
    "orvix_set_trace_file": ([ctypes.c_void_p, ctypes.c_char_p], _INT),
}


class Options(ctypes.Structure):
    """orvix_options: how a reader links."""

    _fields_ = [("speed", _INT), ("low_latency", _INT)]


def _adapter(kinds: str, lead: Tuple[int, ...]) -> Callable[[Any, Sequence[Any]], List[Any]]:
    """Turns an export's arguments into its handle function's: the reader
    first, then each buffer followed by its size."""

    def adapt(handle: Any, args: Sequence[Any]) -> List[Any]:
        out: List[Any] = [handle, *lead]
        it = iter(args)
        for kind in kinds:
            if kind == "r":
                out.append(ctypes.byref(_SIZE()))
                continue
            arg = next(it)
            out.append(arg)
            if kind == "b":
                out.append(ctypes.sizeof(arg))
            elif kind == "c":
                out.append(len(arg))
        return out

    return adapt


_handle_calls: Dict[str, Tuple[Any, Callable[[Any, Sequence[Any]], List[Any]]]] = {}


def handle_call(name: str) -> Tuple[Any, Callable[[Any, Sequence[Any]], List[Any]]]:
    """The handle function standing for the export ``name`` and the adapter of its arguments."""
    try:
        return _handle_calls[name]
    except KeyError:
        pass
    entry = _HANDLE_CALLS[name]
    fn = getattr(library(), "orvix_" + entry[0])
    fn.argtypes = ([ctypes.c_void_p] + [_INT] * (len(entry) - 2)
                   + [t for k in entry[1] for t in _KINDS[k]])
    fn.restype = _INT
    _handle_calls[name] = (fn, _adapter(entry[1], tuple(entry[2:])))
    return _handle_calls[name]


def strerror(code: int) -> str:
    """The library's text for a result code."""
    return str(library().orvix_strerror(code).decode("utf-8", "replace"))


def status_text(family: int, code: int) -> str:
    """The library's text for a reader status of the family (else strerror's)."""
    return str(library().orvix_status_text(family, code).decode("utf-8", "replace"))


def port_device(name: str) -> Tuple[int, str]:
    """The library's mapping of a port name: its result and the device."""
    room = ctypes.create_string_buffer(4096)
    code = int(library().orvix_port_device(name.encode("utf-8", "surrogateescape"), room,
                                           len(room)))
    return code, room.value.decode("utf-8", "surrogateescape") if code == 0 else ""


def _beside_package() -> Path:
    return PACKAGE_DIR / LIBRARY_FILE


def find_library() -> str:
    """The path (or name) of the ORVIX32 library to load.

    Looks at, in order: the environment variable ``ORVIX32_LIBRARY``; a library
    installed beside this package; the system's library path; the build folder
    of the source tree. Raises :class:`LibraryNotFoundError` naming every place.
    """
    looked: List[str] = []
    env = os.environ.get("ORVIX32_LIBRARY")
    if env:
        if Path(env).is_file():
            return env
        looked.append(f"ORVIX32_LIBRARY={env} (no such file)")
    else:
        looked.append("ORVIX32_LIBRARY (not set)")
    beside = _beside_package()
    if beside.is_file():
        return str(beside)
    looked.append(str(beside))
    system = ctypes.util.find_library("ORVIX32")
    if system:
        return system
    looked.append("the system's library path (ORVIX32)")
    if TREE_BUILD is not None:
        tree = TREE_BUILD / "driver" / LIBRARY_FILE
        if tree.is_file():
            return str(tree)
        looked.append(str(tree))
    raise LibraryNotFoundError("ORVIX32 library not found; looked at: " + "; ".join(looked))


def find_program(name: str, env: str, tree_dir: str) -> str:
    """The path of a program shipped with the library, found like the library:
    the environment variable ``env``, beside the package, ``PATH``, the tree's
    build folder."""
    import shutil

    looked: List[str] = []
    value = os.environ.get(env)
    if value:
        if os.access(value, os.X_OK):
            return value
        looked.append(f"{env}={value} (not an executable file)")
    else:
        looked.append(f"{env} (not set)")
    beside = PACKAGE_DIR / name
    if os.access(beside, os.X_OK):
        return str(beside)
    looked.append(str(beside))
    on_path = shutil.which(name)
    if on_path:
        return on_path
    looked.append(f"PATH ({name})")
    if TREE_BUILD is not None:
        tree = TREE_BUILD / tree_dir / name
        if os.access(tree, os.X_OK):
            return str(tree)
        looked.append(str(tree))
    raise LibraryNotFoundError(f"{name} not found; looked at: " + "; ".join(looked))


def package_version() -> str:
    """The project's version: from the tree's CMakeLists.txt for the package in
    its source tree, else from the installed package's metadata."""
    cmake = TREE_BUILD.parent / "CMakeLists.txt" if TREE_BUILD is not None else None
    if cmake is not None and cmake.is_file():
        found = re.search(r"^project\(ORVIX32 VERSION ([0-9.]+)", cmake.read_text(), re.M)
        if found:
            return found.group(1)
    from importlib.metadata import PackageNotFoundError, version

    try:
        return version("orvix32")
    except PackageNotFoundError:
        return "unknown"


_loaded: Optional[Tuple[str, ctypes.CDLL]] = None


def library() -> ctypes.CDLL:
    """The loaded library, with every export's prototype set (loaded once)."""
    global _loaded
    if _loaded is None:
        path = find_library()
        loader = getattr(ctypes, "WinDLL", ctypes.CDLL) if sys.platform == "win32" else ctypes.CDLL
        lib = loader(path)
        for name, params in _PROTOTYPES.items():
            fn = getattr(lib, name)
            fn.argtypes = list(params)
            fn.restype = ctypes.c_int
        for name, (params, result) in _HANDLE_PROTOTYPES.items():
            fn = getattr(lib, name)
            fn.argtypes, fn.restype = params, result
        _loaded = (path, lib)
    return _loaded[1]


def library_path() -> str:
    """The path the library was loaded from (loading it when needed)."""
    library()
    assert _loaded is not None
    return _loaded[0]


def buffer(size: int, data: bytes = b"") -> "ctypes.Array[ctypes.c_ubyte]":
    """A zeroed byte buffer of ``size`` bytes, starting with ``data``."""
    buf = (ctypes.c_ubyte * max(size, 1))()
    ctypes.memmove(buf, data, min(len(data), size))
    return buf
