"""The errors of the package: every nonzero result of the library raises one."""

from __future__ import annotations

from typing import Optional

#: The link errors of the frame exchange (the library's texts name the step that failed).
LINK_ERRORS = range(101, 116)


def _text(code: int) -> str:
    """The library's text for one of its result codes."""
    from ._library import strerror  # (the library module needs this one first)

    return strerror(code)


#: A CPU card or SAM reply too short to hold the status words.
NO_STATUS_WORD = 65536


class Error(Exception):
    """Base of every error raised by this package.

    ``code`` is the library's result (``None`` when the error arose in Python)
    and ``function`` the export that returned it.
    """

    def __init__(self, message: str, code: Optional[int] = None, function: str = "") -> None:
        super().__init__(message)
        self.code = code
        self.function = function


class LibraryNotFoundError(Error, OSError):
    """The ``ORVIX32`` library (or ``readersim``) was found in none of the places looked at."""


class LinkError(Error):
    """The link to the reader failed: codes 101 … 115 of the frame exchange, or 1 (no link).

    ``step`` names the step of the exchange that failed, e.g. "no answer to sync".
    """

    @property
    def step(self) -> str:
        """The failed step of the exchange ("no link" for code 1)."""
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


class ReaderClosedError(Error):
    """A call on a reader that is closed (or was never opened); nothing was sent."""


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
    if code in LINK_ERRORS:
        raise LinkError(f"{function}: link error {code} ({_text(code)})", code, function)
    if code == 4:
        raise ArgumentError(f"{function}: argument out of range (nothing sent)", code, function)
    if contact and code in (3, 19):
        what = "not the selected card type" if code == 19 else "not available for the card type"
        raise CardTypeError(f"{function}: {what} ({code})", code, function)
    if code == NO_STATUS_WORD:
        raise ReaderError(f"{function}: reply too short to hold the status words", code, function)
    if code > NO_STATUS_WORD:  # the library's own verdicts: cancelled, buffer too small, …
        raise Error(f"{function}: {_text(code)} ({code})", code, function)
    raise ReaderError(f"{function}: reader status {code} (0x{code:02X})", code, function)
