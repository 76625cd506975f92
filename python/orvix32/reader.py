"""The reader: one serial link, and the device families reached through it."""

from __future__ import annotations

import contextlib
import ctypes
import datetime as _dt
import os
import sys
import threading
import weakref
from dataclasses import dataclass
from typing import Any, Iterator, List, Optional, Sequence, Tuple, Union

from . import _check as chk
from . import _library
from ._library import buffer
from ._worker import Worker, WorkerClosed
from .errors import (FAMILY_ATTENDANCE, FAMILY_CPU, FAMILY_MEMORY, FAMILY_MIFARE, FAMILY_READER,
                     FAMILY_RF5550, ArgumentError, LinkError, ReaderClosedError, ReaderError,
                     StatusWordError)
from .errors import check as _check
from .errors import Result
from .errors import result as _result
from .mifare import parse_value_block

Port = Union[int, str, "os.PathLike[str]"]

#: The calendar year the attendance terminal's year 0 stands for (a leap year,
#: as the terminal's year 0 is).
YEAR_ZERO = 2000


def _port_index(port: Port) -> Union[int, str]:
    """0 … 9 for COM1 … COM10 given as a number; a name as the library takes
    it (the library judges it: "COM3", a device path, a URL) or "auto"."""
    if isinstance(port, os.PathLike):
        port = os.fspath(port)
    if isinstance(port, str):
        if port == "auto" or (port and "\0" not in port
                              and _library.port_device(port)[0] != Result.BAD_ARGUMENT):
            return port
    elif type(port) is int and 0 <= port <= 9:
        return port
    raise ArgumentError(f"port must be 0 … 9, 'COM1' … 'COM10', a device path, a URL or 'auto', "
                        f"not {port!r}")


def _serial(serial: bytes) -> int:
    """A card serial (4 bytes as the reader delivers them) as the library's int."""
    return int.from_bytes(chk.data(serial, "a serial", 4), "little", signed=True)


#: Mifare 1 blocks 0 … 63 (Mifare Light 10 pages 0 … 11 lie within) and sectors 0 … 15.
_BLOCK, _SECTOR = (0, 63), (0, 15)


class _Family:
    """A device family: calls the library's exports and raises on failure.

    A family refers to its reader and the reader keeps none of its families
    (each attribute access makes one), so there is no cycle: a Reader nobody
    refers to is closed at once, and ``Reader(port).mifare`` keeps its reader
    alive for as long as it is used."""

    _contact = False
    _family = FAMILY_READER

    def __init__(self, reader: "Reader") -> None:
        self._reader = reader

    def _call(self, name: str, *args: Any) -> int:
        code, changed = self._reader._raw(name, *args, outcome=True)
        _check(code, name, self._contact, self._family, changed)
        return code


class Reader(_Family):
    """The card reader on one serial port, linked while open.

    ``port`` is 0 … 9 (or "COM1" … "COM10"), a device path, or "auto" (COM1 or
    COM2, whichever answers); any other text goes to the library as it is.
    ``speed`` is 0 (57600 bit/s, else 9600), 57600 or 9600; ``low_latency``
    asks the serial driver to pass bytes on at once. ``trace`` names a file
    (or "-" for standard error) for this reader's exchange trace.

    The reader opens at once and holds its port until :meth:`close` (or the
    end of a ``with`` block): each Reader has a link of its own, so several
    readers work side by side, also from several threads. Calls on one reader
    run one after the other; :meth:`transaction` holds it across several.
    Ctrl-C stops a call in progress and leaves the reader usable::

        with Reader("/dev/ttyUSB0") as reader:
            print(reader.firmware_version())
    """

    _handle: Optional[int] = None
    _pid: Optional[int] = None  # the process that opened the handle

    def __init__(self, port: Port = 0, trace: Union[str, "os.PathLike[str]", None] = None, *,
                 speed: int = 0, low_latency: bool = True) -> None:
        me = weakref.proxy(self)
        super().__init__(me)
        self._requested = _port_index(port)
        self.port: Union[int, str, None] = None if self._requested == "auto" else self._requested
        self._options = _library.Options(speed, 1 if low_latency else 0)
        self._trace = None if trace is None else os.fspath(trace)
        self._lock = threading.RLock()
        self._worker = Worker(f"orvix32 {self._name(self._requested)}")
        self.link()

    mifare = property(lambda self: Mifare(self))
    rf5550 = property(lambda self: RF5550(self))
    memory_card = property(lambda self: MemoryCard(self))
    at1608 = property(lambda self: AT1608(self))
    cpu = property(lambda self: Slot(self, 0))
    attendance = property(lambda self: Attendance(self))

    @staticmethod
    def _name(port: Union[int, str]) -> str:
        return f"COM{port + 1}" if isinstance(port, int) else port

    def _closed(self, name: str, why: str = "is closed") -> ReaderClosedError:
        return ReaderClosedError(f"{name}: the reader on {self._name(self._requested)} {why}",
                                 None, name)

    def _raw(self, name: str, *args: Any, outcome: bool = False) -> Any:
        """One library call of this reader, named by its export; its result
        (with ``outcome``: and whether the library says a failed call may
        have changed the card)."""
        fn, adapt = _library.handle_call(name)
        lib = _library.library()
        with self._lock:
            handle = self._handle
            if handle is None or self._pid != os.getpid():
                # A process forked from the opener shares its port: only the
                # opener may use it (the worker thread did not come along).
                raise self._closed(name, "is closed" if handle is None else
                                   "belongs to the process that opened it")

            def run(*flat: Any) -> Tuple[int, bool]:
                code = int(fn(*flat))
                return code, bool(code and lib.orvix_may_have_changed(handle))
            try:
                code, changed = self._worker.call(run, adapt(handle, args),
                                                  lambda: lib.orvix_cancel(handle))
            except WorkerClosed:
                raise self._closed(name) from None
            except KeyboardInterrupt as e:  # Ctrl-C: say when the card may have changed
                if getattr(e, "result", (0, False))[1]:
                    e.card_may_have_changed = True
                    e.add_note(f"{name}: {_library.strerror(Result.CARD_MAY_HAVE_CHANGED)}")
                raise
            return (code, changed) if outcome else code

    def _open(self, name: str) -> int:
        lib, handle = _library.library(), ctypes.c_void_p()
        code = self._worker.call(lib.orvix_open, (name.encode(), ctypes.byref(self._options),
                                                  ctypes.byref(handle)),
                                 abandon=lambda code: lib.orvix_close(handle))
        if code == 0:
            self._handle, self._pid = handle.value, os.getpid()
        return int(code)

    def link(self) -> "Reader":
        """Opens the port and links to the reader (links again when open);
        raises :class:`LinkError` when no reader answers."""
        with self._lock:
            if self._handle is None:
                self._worker.reopen()
            if self._handle is not None:
                code = self._raw("orvix_relink")
                if code:
                    raise LinkError(f"orvix_relink: {_library.strerror(code)} ({code})",
                                    _result(code), "orvix_relink")
                return self
            names = ["COM1", "COM2"] if self._requested == "auto" else [self._name(
                self._requested)]
            for name in names:
                code = self._open(name)
                if code == 0:
                    break
            if code:
                self._worker.stop()
                _check(code if code == 4 else 0, "orvix_open")
                raise LinkError(f"orvix_open: {' or '.join(names)}: {_library.strerror(code)} "
                                f"({code})", _result(code), "orvix_open")
            if self._requested == "auto":
                self.port = names.index(name)
            if self._trace is not None:
                code = _library.library().orvix_set_trace_file(self._handle, self._trace.encode())
                if code:
                    self.close()
                    _check(code, "orvix_set_trace_file")
            return self

    @property
    def linked(self) -> bool:
        """True while the reader is open."""
        return self._handle is not None

    def close(self) -> None:
        """Closes the port at once (no pause); harmless when closed. A call
        of another thread in progress is cancelled (it raises, within 10 ms)
        and a transaction held is ended; later calls raise
        :class:`ReaderClosedError`."""
        handle, self._handle = self._handle, None
        if handle is None or self._pid != os.getpid():
            self._worker.stop()
            return
        lib = _library.library()
        if sys.is_finalizing():
            # At interpreter exit the worker thread runs no more: closed here.
            lib.orvix_close(handle)
            return
        # On the worker thread, which made every call and holds any
        # transaction: the library closes under a transaction of its own.
        self._worker.finish(lambda: lib.orvix_close(handle), lambda: lib.orvix_cancel(handle))

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # (at interpreter exit the modules may be gone)
            pass

    @contextlib.contextmanager
    def transaction(self) -> Iterator["Reader"]:
        """Holds the reader for this thread across a ``with`` block: other
        threads' calls on it wait until the block ends::

            with reader.transaction():
                reader.mifare.request()
                ...
        """
        with self._lock:
            _check(self._raw("orvix_begin"), "orvix_begin")
            try:
                yield self
            finally:
                if self._handle is not None:
                    self._raw("orvix_end")

    def __enter__(self) -> "Reader":
        return self if self.linked else self.link()

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"Reader(port={self.port!r}, linked={self.linked})"

    @property
    def baud_rate(self) -> int:
        """The line speed of the link (57600 or 9600; 0 while relinking found no reader)."""
        return int(self._raw("ComBaudRate"))

    @staticmethod
    def library_version() -> int:
        """The library's version number."""
        return int(_library.library().DLLVER())

    def module_number(self) -> int:
        """The reader's module number (17 is the Mifare module)."""
        buf = buffer(4)
        self._call("RFMifare_Mcmno", buf)
        return int.from_bytes(bytes(buf), "little")

    def device_number(self) -> bytes:
        """The reader's device number, 8 bytes."""
        buf = buffer(8)
        self._call("GetDeviceNumber", buf)
        return bytes(buf)

    def firmware_version(self) -> bytes:
        """The reader's firmware version, 8 bytes."""
        buf = buffer(8)
        self._call("DEVVER", buf)
        return bytes(buf)

    def signal(self, select: int, a: int = 0, b: int = 0, c: int = 0) -> None:
        """Drives the reader's signal outputs: ``select`` 1 … 7 and three bytes."""
        args = [chk.integer(select, "select", 1, 7)] + [chk.byte(v, "a signal byte")
                                                         for v in (a, b, c)]
        self._call("ALARM", *args)

    def sam(self, n: int) -> "Slot":
        """SAM slot ``n`` (1 … 4)."""
        return Slot(self, chk.integer(n, "SAM slot", 1, 4))  # (not kept: may refer strongly)


class Mifare(_Family):
    """Mifare 1 and Mifare Light 10 cards. Serials are the 4 bytes the reader
    delivers; blocks are 16 bytes."""

    _family = FAMILY_MIFARE

    def module_number(self) -> int:
        """The reader's Mifare module number."""
        return self._reader.module_number()

    def request(self, all: bool = True) -> int:
        """Asks the field for a card (``all``: halted cards too); the card's type code."""
        buf = buffer(4)
        self._call("RFMifare_Request", 1 if chk.flag(all, "all") else 0, buf)
        return int.from_bytes(bytes(buf), "little")

    def anticollision(self) -> bytes:
        """The serial of a card that answered the request."""
        buf = buffer(4)
        self._call("RFMifare_AntiColl", buf)
        return bytes(buf)

    def select(self, serial: bytes) -> None:
        """Selects the card with this serial."""
        self._call("RFMifare_Select", _serial(serial))

    def card_type(self) -> int:
        """The type code of the card the reader holds (4 = Mifare 1, 16 = Mifare Light 10)."""
        buf = buffer(4)
        self._call("RFMifare_GetType", buf)
        return int.from_bytes(bytes(buf), "little")

    def serial(self) -> bytes:
        """The serial of the card the reader holds."""
        buf = buffer(4)
        self._call("RFMifare_GetSnr", buf)
        return bytes(buf)

    def load_key(self, sector: int, key: bytes, key_type: Union[str, int] = "A") -> None:
        """Stores a 6-byte key for a sector in the reader's key memory."""
        mode, sector = chk.key_type(key_type) * 4, chk.integer(sector, "sector", *_SECTOR)
        self._call("RFMifare_LoadKey", mode, sector, buffer(6, chk.data(key, "a key", 6)))

    def transfer_key(self, sector: int, key: bytes) -> None:
        """Transfers a 6-byte key into the reader module for a sector (as key A and B)."""
        sector = chk.integer(sector, "sector", *_SECTOR)
        self._call("RFMifare_TransKey", sector, buffer(6, chk.data(key, "a key", 6)))

    def auth_mode(self, mode: int) -> None:
        """Sets the reader's authentication mode (0 or 1)."""
        self._call("RFMifare_Authmode", chk.integer(mode, "mode", 0, 1))

    def authenticate(self, sector: int, key_type: Union[str, int] = "A",
                     block: Optional[int] = None) -> None:
        """Authenticates a sector with the stored key; ``block`` defaults to the
        sector's trailer (Mifare Light 10: 6 for key A, 8 for key B)."""
        kind, sector = chk.key_type(key_type), chk.integer(sector, "sector", *_SECTOR)
        block = sector * 4 + 3 if block is None else chk.integer(block, "block", *_BLOCK)
        self._call("RFMifare_Authentication", kind, sector, block)

    def read(self, block: int) -> bytes:
        """The 16 bytes of a block of the selected, authenticated card."""
        block = chk.integer(block, "block", *_BLOCK)
        buf = buffer(16)
        self._call("RFMifare_Read", block, buf)
        return bytes(buf)

    def write(self, block: int, data: bytes) -> None:
        """Writes 16 bytes to a block of the selected, authenticated card."""
        block = chk.integer(block, "block", *_BLOCK)
        self._call("RFMifare_Write", block, buffer(16, chk.data(data, "a block", 16)))

    def value(self, block: int) -> int:
        """The amount of a value block (read and checked for the value format)."""
        return parse_value_block(self.read(block)).value

    def increment(self, block: int, amount: int) -> None:
        """Adds ``amount`` to a value block."""
        self._call("RFMifare_Increment", chk.integer(block, "block", *_BLOCK),
                   chk.integer(amount, "amount"))

    def decrement(self, block: int, amount: int) -> None:
        """Subtracts ``amount`` from a value block."""
        self._call("RFMifare_Decrment", chk.integer(block, "block", *_BLOCK),
                   chk.integer(amount, "amount"))

    def halt(self) -> None:
        """Sends the selected card to sleep; only ``request(all=True)`` wakes it."""
        self._call("RFMifare_Halt")

    # One-shot commands: the reader finds the card by serial and authenticates
    # with the key it holds.

    def read_block(self, block: int, serial: bytes) -> bytes:
        """One-shot read of a block."""
        block, sn = chk.integer(block, "block", *_BLOCK), _serial(serial)
        buf = buffer(16)
        self._call("RFMifare_ReadBlock", block, sn, buf)
        return bytes(buf)

    def write_block(self, block: int, serial: bytes, data: bytes) -> bytes:
        """One-shot write of a block; the block as it stands afterwards."""
        block, sn = chk.integer(block, "block", *_BLOCK), _serial(serial)
        buf = buffer(16, chk.data(data, "a block", 16))
        self._call("RFMifare_WriteBlock", block, sn, buf)
        return bytes(buf)

    def write_key(self, sector: int, serial: bytes, key: bytes, last: int = 255) -> None:
        """One-shot change of a sector's key on the card."""
        sector, sn = chk.integer(sector, "sector", *_SECTOR), _serial(serial)
        k, last = chk.data(key, "a key", 6), chk.byte(last, "last")
        self._call("RFMifare_WriteKey", sector, sn, buffer(6, k), last)

    def _value(self, name: str, block: int, serial: bytes, amount: int) -> int:
        block, sn = chk.integer(block, "block", *_BLOCK), _serial(serial)
        value = ctypes.c_int(chk.integer(amount, "amount"))
        self._call(name, block, sn, ctypes.byref(value))
        return value.value

    def read_value(self, block: int, serial: bytes) -> int:
        """One-shot read of a value block's amount."""
        return self._value("RFMifare_ReadValue", block, serial, 0)

    def write_value(self, block: int, serial: bytes, amount: int) -> int:
        """One-shot format of a value block with ``amount``; the value afterwards."""
        return self._value("RFMifare_WriteValue", block, serial, amount)

    def increment_value(self, block: int, serial: bytes, amount: int) -> int:
        """One-shot increment; the new value."""
        return self._value("RFMifare_IncrementValue", block, serial, amount)

    def decrement_value(self, block: int, serial: bytes, amount: int) -> int:
        """One-shot decrement; the new value."""
        return self._value("RFMifare_DecrementValue", block, serial, amount)


_NO_PASSWORD = b"\0\0\0\0"


class RF5550(_Family):
    """RF5550 tags: eight 4-byte blocks; passwords are 4 bytes."""

    _family = FAMILY_RF5550

    def module_number(self) -> int:
        """The reader's module number as this family reads it."""
        buf = buffer(4)
        self._call("RF5550_Mcmno", buf)
        return int.from_bytes(bytes(buf), "little")

    def read(self, block: int) -> bytes:
        """The 4 bytes of a block."""
        block = chk.byte(block, "block")
        buf = buffer(255)
        self._call("RF5550_ReadBlk", block, buf)
        return bytes(buf[:4])

    @staticmethod
    def _write_args(block: int, data: bytes, password: bytes, option: int) -> Tuple[Any, ...]:
        # The library takes -1 for block 0 (0 itself is refused).
        block = chk.byte(block, "block")
        return (-1 if block == 0 else block, buffer(4, chk.data(password, "a password", 4)),
                buffer(4, chk.data(data, "a block", 4)), chk.byte(option, "option"))

    def write(self, block: int, data: bytes, password: bytes = _NO_PASSWORD,
              option: int = 0) -> bytes:
        """Writes a block (0 … 7); the tag's answer."""
        args = self._write_args(block, data, password, option)
        self._call("RF5550_WriteBlk", *args)
        return bytes(args[2])

    def init(self, config: Sequence[int], password: bytes = _NO_PASSWORD, option: int = 0) -> None:
        """Configures the tag from the ten configuration items (0, 3 and 9 are used)."""
        items = chk.ints(config, "the configuration", 10)
        pw, option = chk.data(password, "a password", 4), chk.byte(option, "option")
        self._call("RF5550_Init", (ctypes.c_int * 10)(*items), buffer(4, pw), option)

    def wake(self, password: bytes) -> None:
        """Wakes the tag with its password."""
        self._call("RF5550_Wake", buffer(4, chk.data(password, "a password", 4)))

    def read_after_wake(self, block: int, password: bytes) -> bytes:
        """Wakes the tag, then reads a block."""
        block, pw = chk.byte(block, "block"), chk.data(password, "a password", 4)
        buf = buffer(255)
        self._call("RF5550_ReadAfterWake", block, buffer(4, pw), buf)
        return bytes(buf[:4])

    def write_after_wake(self, block: int, data: bytes, password: bytes, option: int = 0) -> bytes:
        """Wakes the tag, then writes a block; the tag's answer."""
        args = self._write_args(block, data, password, option)
        self._call("RF5550_WriteAfterWake", *args)
        return bytes(args[2])


@dataclass(frozen=True)
class SlotState:
    """The reader's view of the contact slot."""

    type: int
    second: int
    power: int


class MemoryCard(_Family):
    """Contact memory cards. Most calls behave by the card type selected last
    (:meth:`select`); 3 and 19 raise :class:`CardTypeError`."""

    _contact = True
    _family = FAMILY_MEMORY

    def power_on(self) -> None:
        """Powers the card in the contact slot."""
        self._call("PowerOn")

    def power_off(self) -> None:
        """Powers the card off."""
        self._call("PowerOff")

    def select(self, card_type: int) -> None:
        """Selects the card type (type code 0 … 30)."""
        self._call("SelectCard", chk.byte(card_type, "card type"))

    def verify(self) -> None:
        """Checks the card's identity bytes against the selected type."""
        self._call("VerifyIC")

    def inquire(self) -> SlotState:
        """The reader's card type, second byte and power state for the slot."""
        t, s, p = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        self._call("Inquire", ctypes.byref(t), ctypes.byref(s), ctypes.byref(p))
        return SlotState(t.value, s.value, p.value)

    def _code(self, name: str, code: bytes, length: Optional[int], most: int) -> bytes:
        code = chk.data(code, "a code", high=most)
        n = len(code) if length is None else chk.integer(length, "length", 0, most)
        buf = buffer(max(n, 4), code)
        self._call(name, n, buf)
        return bytes(buf[:n])

    def check_code(self, code: bytes, length: Optional[int] = None) -> bytes:
        """Presents the security code; the reply stored over it (``length``
        bytes of room, default the code's length)."""
        return self._code("CheckSecret", code, length, 255)

    def change_code(self, code: bytes, length: Optional[int] = None) -> bytes:
        """Changes the security code; the reply stored over it."""
        return self._code("ModifySecret", code, length, 254)

    def read_code(self) -> Tuple[bytes, bytes]:
        """The error counter (2 bytes) and the security code bytes (8 bytes of room)."""
        counter, code = buffer(2), buffer(8)
        self._call("ReadSecret", counter, code)
        return bytes(counter), bytes(code)

    def _run(self, name: str, area: int, page: int, address: int, length: int,
             data: bytes = b"") -> bytes:
        area = chk.byte(area, "area")
        page, address, length = chk.run(page, address, length)
        buf = buffer(length, data)
        self._call(name, area, page, address, length, buf)
        return bytes(buf[:length])

    def read(self, area: int, page: int, address: int, length: int) -> bytes:
        """``length`` bytes of an area from position page × 256 + address (area 18: memory)."""
        return self._run("ReadCard", area, page, address, length)

    def write(self, area: int, page: int, address: int, data: bytes) -> bytes:
        """Writes ``data``; the reader's replies, piece by piece."""
        data = chk.data(data, "data", low=1)
        return self._run("WriteCard", area, page, address, len(data), data)

    def erase(self, area: int, page: int, address: int, length: int) -> bytes:
        """Erases ``length`` bytes (to FF)."""
        return self._run("EraseCard", area, page, address, length)

    def _pages(self, name: str, address: int, length: int, data: bytes = b"") -> bytes:
        # Pages of at most 264 bytes, numbered up to 65535.
        address = chk.integer(address, "address", 0)
        length = chk.integer(length, "length", 1, 65536 * 264 - address)
        buf = buffer(length, data)
        self._call(name, address, length, buf)
        return bytes(buf[:length])

    def read_pages(self, address: int, length: int) -> bytes:
        """``length`` bytes of a page-organised card from a linear address."""
        return self._pages("ReadMemCard", address, length)

    def write_pages(self, address: int, data: bytes) -> bytes:
        """Writes ``data`` to a page-organised card from a linear address."""
        data = chk.data(data, "data", low=1)
        return self._pages("WriteMemCard", address, len(data), data)

    def erase_pages(self, address: int, length: int) -> None:
        """Erases ``length`` bytes of a page-organised card."""
        self._pages("EraseMemCard", address, length)

    def fuse(self, value: int) -> None:
        """Blows the card's fuse."""
        self._call("Fuse", chk.byte(value, "value"))

    def check_erase_key(self, selector: int, key: bytes) -> bytes:
        """Presents an erase key; the reply stored over it."""
        selector, key = chk.byte(selector, "selector"), chk.one_of(key, "an erase key", (2, 4, 6))
        buf = buffer(6, key)
        self._call("CheckEraseSecret", selector, buf)
        return bytes(buf[: len(key)])

    def check_zone_code(self, zone: int, code: bytes) -> bytes:
        """Presents a zone's 2-byte code; the reply stored over it."""
        zone, code = chk.byte(zone, "zone"), chk.data(code, "a zone code", 2)
        buf = buffer(2, code)
        self._call("CheckZoneSecret", zone, buf)
        return bytes(buf)

    def set_zone_bits(self, zone: int, bits: int) -> None:
        """Sets a zone's access bits."""
        self._call("SetZoneRWBit", chk.byte(zone, "zone"), chk.byte(bits, "bits"))

    def standby(self) -> None:
        """Puts the card into standby."""
        self._call("SetStandby")


class AT1608(_Family):
    """AT1608 secure memory cards: user zones 0 … 7 and configuration zone 8."""

    _contact = True
    _family = FAMILY_MEMORY

    def reset(self) -> None:
        """Resets the card."""
        self._call("AT1608_Reset")

    def read(self, zone: int, address: int, length: int) -> bytes:
        """``length`` bytes (0 … 160) of a zone."""
        zone, address = chk.integer(zone, "zone", 0, 8), chk.byte(address, "address")
        length = chk.integer(length, "length", 0, 160)
        buf = buffer(length)
        self._call("AT1608_Read", zone, address, length, buf)
        return bytes(buf[:length])

    def write(self, zone: int, address: int, data: bytes) -> None:
        """Writes ``data`` (at most 160 bytes) to a zone."""
        zone, address = chk.integer(zone, "zone", 0, 8), chk.byte(address, "address")
        data = chk.data(data, "data", high=160)
        self._call("AT1608_Write", zone, address, len(data), buffer(len(data), data))

    def verify_password(self, index: int, password: bytes) -> int:
        """Verifies password ``index`` (0 … 15, 3 bytes); the attempts left."""
        index = chk.integer(index, "index", 0, 15)
        buf = buffer(4, chk.data(password, "a password", 3))
        self._call("AT1608_Psw", index, buf)
        return buf[0]

    def authenticate(self, secret: bytes, challenge: Optional[bytes] = None) -> int:
        """Mutual authentication with the 8-byte ``secret`` (``challenge``: 8
        bytes, random by default); the attempts left. A card answer that does
        not match raises :class:`CardTypeError` with code 3."""
        key = chk.data(secret, "a secret", 8)
        ch = buffer(8, chk.data(challenge if challenge is not None else os.urandom(8),
                                "a challenge", 8))
        self._call("AT1608_Authentic", ch, buffer(8, key))
        return ch[0]

    def read_fuse(self) -> int:
        """The fuse byte."""
        buf = buffer(1)
        self._call("AT1608_ReadFuse", buf)
        return buf[0]


@dataclass(frozen=True)
class Response:
    """An APDU's response: the data and the status word (SW1 × 256 + SW2)."""

    data: bytes
    sw: int

    @property
    def ok(self) -> bool:
        """True for status word 9000."""
        return self.sw == 0x9000


class Slot(_Family):
    """The CPU card (slot 0) or a SAM (slots 1 … 4)."""

    _family = FAMILY_CPU

    def __init__(self, reader: Reader, index: int) -> None:
        super().__init__(reader)
        self.index = index
        self._name = "CpuCard" if index == 0 else f"SamCard{index}"

    @property
    def protocol(self) -> int:
        """The protocol of the last reset: 0 (T=0) or 1 (T=1); shared by all slots."""
        return self._reader._raw("CPUCardProtocolType")

    def reset(self) -> bytes:
        """Resets the card; its answer to reset."""
        buf = buffer(256)
        self._call(self._name + "Reset", buf)
        return bytes(buf[1 : 1 + buf[0]])

    def apdu(self, command: bytes, check: bool = False) -> Response:
        """Sends one APDU (CLA INS P1 P2 [Lc data] [Le], at most 83 data bytes).

        Raises :class:`StatusWordError` for a status word other than 9000 when
        ``check`` is true.
        """
        cmd = chk.data(command, "an APDU", low=4, high=6 + 83)
        lc, le = 0, 0
        if len(cmd) == 5:
            le = cmd[4]
        elif len(cmd) > 5:
            lc = cmd[4]
            if lc > 83:
                raise ArgumentError(f"Lc {lc} is above 83")
            if len(cmd) not in (5 + lc, 6 + lc):
                raise ArgumentError(f"APDU of {len(cmd)} bytes does not match Lc {lc}")
            le = cmd[5 + lc] if len(cmd) == 6 + lc else 0
        packed = cmd[:4] + bytes((lc,)) + cmd[5 : 5 + lc] + bytes((le,))
        out = buffer(max(93, 10 + lc), packed)
        resp = buffer(136)
        name = "Pro" + self._name
        code = self._reader._raw(name, out, resp)
        if code < 256 or code == 0x10000:  # not a status word: the link's or reader's status
            _check(code, name, family=self._family)
        r = Response(bytes(resp[1 : 1 + resp[0]]), code)
        if check and not r.ok:
            raise StatusWordError(f"{name}: status word {code:04X}", code, r.data, name)
        return r


@dataclass(frozen=True)
class Position:
    """A position answer of the attendance terminal."""

    found: bool
    position: int


@dataclass(frozen=True)
class Record:
    """One attendance record: the card number and the minute it was taken."""

    card: int
    time: _dt.datetime


def _datetime(parts: Sequence[int], function: str) -> _dt.datetime:
    """A terminal date and time (year counted from YEAR_ZERO); a terminal that
    sends no valid date raises :class:`ReaderError`."""
    try:
        return _dt.datetime(YEAR_ZERO + parts[0], parts[1], parts[2], parts[3], parts[4],
                            parts[5] if len(parts) > 5 else 0)
    except ValueError as e:
        raise ReaderError(f"{function}: the terminal sent no valid date ({e})", None,
                          function) from e


class Attendance(_Family):
    """The attendance terminal on the same link. Its year 0 is :data:`YEAR_ZERO`."""

    _family = FAMILY_ATTENDANCE

    def time(self) -> _dt.datetime:
        """The terminal's clock."""
        c = (ctypes.c_int * 7)()
        self._call("KQ_GetTime", c)
        return _datetime(c[:6], "KQ_GetTime")

    def set_time(self, when: _dt.datetime) -> None:
        """Sets the terminal's clock (years YEAR_ZERO … YEAR_ZERO + 255)."""
        year = chk.date(when, "the time", _dt.datetime).year - YEAR_ZERO
        if not 0 <= year <= 255:
            raise ArgumentError(f"year {when.year} out of the terminal's range")
        clock = (year, when.month, when.day, when.hour, when.minute, when.second,
                 when.isoweekday() % 7)
        self._call("KQ_SetTime", (ctypes.c_int * 7)(*clock))

    def _position(self, name: str, date: Optional[_dt.date]) -> Position:
        first, pos = ctypes.c_int(), buffer(4)
        if date is None:
            self._call(name, ctypes.byref(first), pos)
        else:
            year = chk.date(date, "the date").year - YEAR_ZERO
            if not 0 <= year <= 255:
                raise ArgumentError(f"year {date.year} out of the terminal's range")
            self._call(name, (ctypes.c_int * 3)(year, date.month, date.day),
                       ctypes.byref(first), pos)
        return Position(bool(first.value), int.from_bytes(bytes(pos), "little"))

    def current_position(self) -> Position:
        """The position of the newest record."""
        return self._position("KQ_GetCurrentPos", None)

    def start_position(self, date: _dt.date) -> Position:
        """The position of the first record of a date."""
        return self._position("KQ_GetStartPos", date)

    def end_position(self, date: _dt.date) -> Position:
        """The position of the last record of a date."""
        return self._position("KQ_GetEndPos", date)

    def records(self, position: int, count: int = 1) -> List[Record]:
        """Up to ``count`` (1 … 31) records from ``position``: as many as the terminal has."""
        position = chk.integer(position, "position", 0, 65535)
        count = chk.integer(count, "count", 1, 31)
        buf = buffer(255, b"\xff" * 255)  # untouched bytes stay FF: no record there
        self._call("KQ_ReadRecord", 0, position, count, buf)
        out: List[Record] = []
        for i in range(count):
            r = bytes(buf[8 * i : 8 * i + 8])
            if r == b"\xff" * 8:
                break
            out.append(Record(int.from_bytes(r[:3], "little"), _datetime(r[3:], "KQ_ReadRecord")))
        return out

    def end_transfer(self) -> None:
        """Ends a transfer."""
        self._call("KQ_EndTrans")

    def system_init(self) -> None:
        """System initialisation of the terminal."""
        self._call("KQ_SysInit")

    def display(self, text: Union[str, bytes]) -> None:
        """Shows at most 16 characters (padded with spaces) on the terminal's display."""
        if isinstance(text, str):
            if not text.isascii():
                raise ArgumentError(f"the display takes ASCII only, not {text!r}")
            text = text.encode("ascii")
        raw = chk.data(text, "the text", high=16)
        self._call("KQ_Display", buffer(16, raw.ljust(16)))

    def pass_through(self, code: int, data: bytes = b"") -> bytes:
        """Passes a command (``code``, then ``data`` of at most 254 bytes) to the
        terminal; its reply."""
        code, data = chk.byte(code, "code"), chk.data(data, "data", high=254)
        buf = buffer(256, data)
        self._call("KQ_TransCmd", code, 1 + len(data), buf)
        return bytes(buf[1 : 1 + buf[0]])

    def download_password(self, kind: int, password: bytes) -> None:
        """Loads a password (4 bytes for kind 1, else 6) into the terminal."""
        kind = chk.byte(kind, "kind")
        size = 4 if kind == 1 else 6
        self._call("KQ_DownloadPSW", kind, buffer(size, chk.data(password, "a password", size)))
