"""The errors of the package: every nonzero result of the library raises one."""

from __future__ import annotations

from enum import IntEnum
from typing import Any, Optional, Tuple, Union

#: Link errors of the frame exchange, by code: the step that failed.
LINK_STEPS = {
    101: "sync byte not written",
    102: "no answer to sync",
    103: "answer to sync not 0x45",
    104: "command byte not written",
    105: "length byte not written",
    106: "command data not written",
    107: "checksum byte not written",
    108: "no acknowledge",
    109: "acknowledge not 0x67",
    110: "poll byte not written",
    111: "no status byte",
    112: "no length byte",
    113: "response data short",
    114: "no checksum byte",
    115: "checksum mismatch",
}

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


#: The link errors raised after the whole command frame was written: the
#: reader may have carried the command out.
AFTER_FRAME = range(108, 116)

#: Commands whose repetition changes the card again: after a link error
#: following the frame the library does not repeat them, and the card's
#: state is unknown.
VALUE_COMMANDS = frozenset({"RFMifare_Increment", "RFMifare_Decrment",
                            "RFMifare_IncrementValue", "RFMifare_DecrementValue"})
CARD_MAY_HAVE_CHANGED = "the card may have been changed; read the value back"


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
    and ``function`` the export that returned it.
    """

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
    """The link to the reader failed: codes 101 … 115 of the frame exchange, or 1 (no link).

    ``step`` names the step of the exchange that failed, e.g. "no answer to sync".
    """

    @property
    def step(self) -> str:
        """The failed step of the exchange ("no link" for code 1)."""
        return LINK_STEPS.get(self.code or 0, "no link")


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


class StatusWordError(Error):
    """An APDU ended with a status word other than 9000 (only with ``check=True``)."""

    def __init__(self, message: str, sw: int, data: bytes, function: str = "") -> None:
        super().__init__(message, sw, function)
        self.sw = sw
        self.data = data


def check(code: int, function: str, contact: bool = False) -> None:
    """Raises the error for a nonzero library result; returns for 0.

    ``contact`` marks the contact-card families, where 3 and 19 are the
    library's own verdicts on the card type.
    """
    if code == 0:
        return
    named = result(code, contact)
    if code in LINK_STEPS:
        message = f"{function}: link error {code} ({LINK_STEPS[code]})"
        if function in VALUE_COMMANDS and code in AFTER_FRAME:
            message += f"; {CARD_MAY_HAVE_CHANGED}"
        raise LinkError(message, named, function)
    if code == 4:
        raise ArgumentError(f"{function}: argument out of range (nothing sent)", named, function)
    if contact and code in (3, 19):
        what = "not the selected card type" if code == 19 else "not available for the card type"
        raise CardTypeError(f"{function}: {what} ({code})", named, function)
    if code == NO_STATUS_WORD:
        raise ReaderError(f"{function}: reply too short to hold the status words", named,
                          function)
    raise ReaderError(f"{function}: reader status 0x{code:02X}", named, function)
