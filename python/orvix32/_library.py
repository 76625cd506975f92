"""Finding and loading the ORVIX32 library, with the prototypes of its exports."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path
from typing import List, Optional, Tuple

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
