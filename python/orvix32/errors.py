"""The errors of the package: every nonzero result of the library raises one."""

from __future__ import annotations

from enum import IntEnum
from typing import Any, Optional, Tuple, Union

#: The link errors of the frame exchange (the library's texts name the step that failed).
LINK_ERRORS = range(101, 116)


def _text(code: int, family: Optional[int] = None) -> str:
    """The library's text for a result code, or for a reader status of the family."""
    from ._library import status_text, strerror  # (the library module needs this one first)

    return strerror(code) if family is None else status_text(family, code)


#: A CPU card or SAM reply too short to hold the status words.
NO_STATUS_WORD = 65536


class Result(IntEnum):
    """The results the library itself gives; any other is the reader's own status."""

    SUCCESS = 0
    NO_LINK = 1
    NOT_AVAILABLE_FOR_CARD_TYPE = 3  # contact cards
    BAD_ARGUMENT = 4
    NOT_SELECTED_CARD_TYPE = 19  # contact cards: VerifyIC
    SYNC_NOT_WRITTEN = 101
    NO_ANSWER_TO_SYNC = 102
    ANSWER_TO_SYNC_WRONG = 103
    COMMAND_NOT_WRITTEN = 104
    LENGTH_NOT_WRITTEN = 105
    DATA_NOT_WRITTEN = 106
    CHECKSUM_NOT_WRITTEN = 107
    NO_ACKNOWLEDGE = 108
    ACKNOWLEDGE_WRONG = 109
    POLL_NOT_WRITTEN = 110
    NO_STATUS_BYTE = 111
    NO_LENGTH_BYTE = 112
    RESPONSE_DATA_SHORT = 113
    NO_CHECKSUM_BYTE = 114
    CHECKSUM_MISMATCH = 115
    NO_STATUS_WORD = NO_STATUS_WORD
    CANCELLED = 65537  # a call stopped by Ctrl-C
    BUFFER_TOO_SMALL = 65538
    NO_PORT = 65539  # opening a reader
    PORT_BUSY = 65540
    PERMISSION_DENIED = 65541
    NOT_HELD = 65542  # ending a transaction the thread does not hold
    INTERNAL_ERROR = 65543
    CARD_MAY_HAVE_CHANGED = 65544  # a write or value step cancelled after its frame went out
    CONNECTION_REFUSED = 65545  # opening a reader on a network port
    HOST_NOT_FOUND = 65546
    CONNECT_TIMED_OUT = 65547
    NOT_RFC2217 = 65548
    SERVER_BUSY = 65549
    NOT_SERIAL = 65550  # opening a reader: not a serial device
    TRACE_NOT_OPENED = 65551
    SPEED_NOT_SETTABLE = 65552  # tcp://: no reader at the server's speed
    READER_HELD = 65553  # closing: another thread holds the reader
    READER_CLOSED = 65554  # a call that waited for a reader being closed


#: The command families of the reader's statuses (orvix_status_text).
FAMILY_READER, FAMILY_MIFARE, FAMILY_RF5550, FAMILY_MEMORY, FAMILY_CPU, FAMILY_ATTENDANCE = range(6)



def result(code: int, contact: bool = False) -> Union[Result, int]:
    """The code as a :class:`Result` where the library defines it for the
    family (3 and 19 only for contact cards; 1 only for linking), else the
    plain int: the reader's own status."""
    if code == 1 or (code in (3, 19) and not contact):
        return code
    try:
        return Result(code)
    except ValueError:
        return code


def _rebuild(cls: type, args: Tuple[Any, ...]) -> "Error":
    error = cls.__new__(cls)
    error.args = args
    return error


class Error(Exception):
    """Base of every error raised by this package.

    ``code`` is the library's result (``None`` when the error arose in Python)
    and ``function`` the export that returned it. ``card_may_have_changed`` is
    True when the call failed after a frame that changes the card had gone
    out (the library's verdict): read the card back before anything else.
    """

    card_may_have_changed = False

    def __init__(self, message: str, code: Optional[int] = None, function: str = "") -> None:
        super().__init__(message)
        self.code = code
        self.function = function

    def __reduce__(self) -> Any:
        # Pickles whatever the subclass's constructor takes: the attributes
        # travel as the state.
        return (_rebuild, (type(self), self.args), self.__dict__)


class LibraryNotFoundError(Error, OSError):
    """The ``ORVIX32`` library (or ``readersim``) was found in none of the places looked at."""


class LinkError(Error):
    """The link to the reader failed: codes 101 … 115 of the frame exchange, or why a
    reader could not be opened (no such port, the port busy, …).

    ``step`` names the step of the exchange that failed, e.g. "no answer to sync".
    """

    @property
    def step(self) -> str:
        """The failed step of the exchange, or why the reader could not be opened."""
        return "no link" if self.code in (None, 1) else _text(self.code)


class ReaderError(Error):
    """The reader (or the card through it) answered with a nonzero status."""

    @property
    def status(self) -> int:
        """The reader's status for the command."""
        return self.code or 0


class CardTypeError(Error):
    """Contact cards: not available for the selected card type (3), or not that type (19)."""


class ArgumentError(Error, ValueError):
    """An argument is out of range; nothing was sent to the reader."""


class ArgumentTypeError(Error, TypeError):
    """An argument is of the wrong type (e.g. an int or a str given as data);
    nothing was sent to the reader."""


class ReaderClosedError(Error):
    """A call on a reader that is closed (or was never opened); nothing was sent."""


class StatusWordError(Error):
    """An APDU ended with a status word other than 9000 (only with ``check=True``)."""

    def __init__(self, message: str, sw: int, data: bytes, function: str = "") -> None:
        super().__init__(message, sw, function)
        self.sw = sw
        self.data = data


def check(code: int, function: str, contact: bool = False, family: int = FAMILY_READER,
          changed: bool = False) -> None:
    """Raises the error for a nonzero library result; returns for 0.

    ``contact`` marks the contact-card families, where 3 and 19 are the
    library's own verdicts on the card type; ``family`` names the reader
    statuses; ``changed`` is the library's word that the card may have been
    changed (orvix_may_have_changed).
    """
    if code == 0:
        return
    try:
        _raise(code, function, contact, family)
    except Error as e:
        if changed or code == Result.CARD_MAY_HAVE_CHANGED:
            if code != Result.CARD_MAY_HAVE_CHANGED:
                e.args = (f"{e.args[0]}; {_text(Result.CARD_MAY_HAVE_CHANGED)}",)
            e.card_may_have_changed = True
        raise


def _raise(code: int, function: str, contact: bool, family: int) -> None:
    named = result(code, contact)
    if code in LINK_ERRORS:
        raise LinkError(f"{function}: link error {code} ({_text(code)})", named, function)
    if code == 4:
        raise ArgumentError(f"{function}: argument out of range (nothing sent)", named, function)
    if contact and code in (3, 19):
        what = "not the selected card type" if code == 19 else "not available for the card type"
        raise CardTypeError(f"{function}: {what} ({code})", named, function)
    if code == NO_STATUS_WORD:
        raise ReaderError(f"{function}: reply too short to hold the status words", named,
                          function)
    if code > NO_STATUS_WORD:  # the library's own verdicts: cancelled, buffer too small, …
        raise Error(f"{function}: {_text(code)} ({code})", named, function)
    meaning = _text(code, family)
    raise ReaderError(f"{function}: reader status 0x{code:02X}"
                      + (f" ({meaning})" if meaning != _text(code) else ""), named, function)
