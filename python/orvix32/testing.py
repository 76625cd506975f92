"""The reader simulator for tests: ``readersim`` on a pseudo-terminal, with a
COM port of this process pointed at it.

Every ``ORVIX32_COM<n>`` this process can reach is mapped, so that no test
ever opens a real serial port: the simulator's own port points at its link,
every port not set before points at a path that does not exist (and stays
so after the simulator stops)::

    with Simulator() as sim, sim.reader() as reader:
        sim.control("mifare remove")
"""

from __future__ import annotations

import os
import queue
import shutil
import subprocess
import tempfile
import threading
import weakref
from pathlib import Path
from typing import Any, List, Optional, Sequence, Set, Union

from ._library import find_program
from .errors import Error
from .reader import Reader

NOWHERE = "/nonexistent/orvix32-com{}"
_claimed: Set[int] = set()
_lock = threading.Lock()


class SimulatorError(Error):
    """The simulator could not start, or refused a control command."""


def _port_var(index: int) -> str:
    return f"ORVIX32_COM{index + 1}"


def map_ports_nowhere() -> None:
    """Points every COM port that is not set (or set empty) at a path that does not exist."""
    for i in range(10):
        if not os.environ.get(_port_var(i)):
            os.environ[_port_var(i)] = NOWHERE.format(i + 1)


def _claim_port() -> int:
    with _lock:
        for i in range(10):
            value = os.environ.get(_port_var(i))
            if i not in _claimed and (value is None or not os.path.exists(value)):
                _claimed.add(i)
                return i
    raise SimulatorError("no free ORVIX32_COM<n>: all ten name existing devices or simulators")


def _stop(proc: "subprocess.Popen[str]", port: Optional[int], folder: str) -> None:
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdin:
        proc.stdin.close()
    if proc.stdout:
        proc.stdout.close()
    if port is not None:
        os.environ[_port_var(port)] = NOWHERE.format(port + 1)
        with _lock:
            _claimed.discard(port)
    shutil.rmtree(folder, ignore_errors=True)


class Simulator:
    """``readersim`` running with control words on its standard input.

    ``args`` are further readersim options (e.g. ``["--speeds", "slow"]``).
    The program is found like the library: ``ORVIX32_READERSIM``, beside the
    package, ``PATH``, the source tree's build folder. A context manager:
    started on enter, stopped on exit (and, failing that, when collected or
    at interpreter exit).
    """

    def __init__(self, args: Sequence[str] = (), timeout: float = 10.0) -> None:
        self.args = list(args)
        self.timeout = timeout
        self.port: Optional[int] = None
        self.path = ""
        self._proc: Optional["subprocess.Popen[str]"] = None
        self._lines: "queue.Queue[Optional[str]]" = queue.Queue()
        self._sync = 0
        self._finalizer: Optional[Any] = None

    def start(self) -> "Simulator":
        """Starts the simulator and points a free COM port at it."""
        if self._proc is not None:
            raise SimulatorError("the simulator is already running")
        map_ports_nowhere()
        program = find_program("readersim", "ORVIX32_READERSIM", "sim")
        folder = tempfile.mkdtemp(prefix="orvix32-sim-")
        self._folder = Path(folder)
        link = str(self._folder / "reader")
        self._proc = subprocess.Popen(
            # It stops by itself when its input ends, so also when this process dies.
            [program, "--stdin-control", "--link", link, *self.args], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True, bufsize=1)
        self._finalizer = weakref.finalize(self, _stop, self._proc, None, folder)
        threading.Thread(target=self._pump, args=(self._proc.stdout,), daemon=True).start()
        first = self._next_line()
        if first != link:
            self.stop()
            raise SimulatorError(f"readersim did not start (it said {first!r})")
        self.path = link
        self.port = _claim_port()
        self._finalizer.detach()
        self._finalizer = weakref.finalize(self, _stop, self._proc, self.port, folder)
        os.environ[_port_var(self.port)] = link
        return self

    def _pump(self, stream: Any) -> None:
        try:
            for line in stream:
                self._lines.put(line.rstrip("\n"))
        except (OSError, ValueError):
            pass
        self._lines.put(None)

    def _next_line(self) -> Optional[str]:
        try:
            return self._lines.get(timeout=self.timeout)
        except queue.Empty:
            return None

    def stop(self) -> None:
        """Stops the simulator; its COM port then points at a path that does not exist."""
        if self._finalizer is not None:
            self._finalizer()
        self._finalizer = None
        self._proc = None
        self.port = None

    def __enter__(self) -> "Simulator":
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.stop()

    @property
    def running(self) -> bool:
        """True while the simulator process runs."""
        return self._proc is not None and self._proc.poll() is None

    def reader(self, **kwargs: Any) -> Reader:
        """A :class:`Reader` linked to this simulator's port."""
        if self.port is None:
            raise SimulatorError("the simulator is not running")
        return Reader(self.port, **kwargs)

    def control(self, command: str) -> str:
        """Runs a control command (e.g. "mifare remove"); its answer.

        Raises :class:`SimulatorError` when the simulator refuses it.
        """
        if not self.running or self._proc is None or self._proc.stdin is None:
            raise SimulatorError("the simulator is not running")
        if "\n" in command or not command.strip():
            raise SimulatorError(f"one control command a call, not {command!r}")
        self._sync += 1
        marker = f"#orvix32-sync-{self._sync}"
        try:
            self._proc.stdin.write(f"{command}\n{marker}\n")
            self._proc.stdin.flush()
        except OSError as e:
            raise SimulatorError(f"the simulator is gone: {e}") from e
        lines: List[str] = []
        while True:
            line = self._next_line()
            if line is None:
                raise SimulatorError(f"no answer from the simulator to {command!r}")
            if line.endswith(marker):
                break
            lines.append(line)
        answer = "\n".join(lines)
        if answer.startswith("error:"):
            raise SimulatorError(f"readersim: {command!r}: {answer}")
        return answer

    def fault(self, kind: str, cmd: Optional[int] = None, count: Union[int, str, None] = None,
              skip: Optional[int] = None, ms: Optional[int] = None,
              status: Optional[int] = None) -> str:
        """Queues a reader-side fault, e.g. ``fault("noack", cmd=0xB9)``."""
        words = ["fault", kind]
        if cmd is not None:
            words.append(f"cmd={cmd:02X}")
        for name, value in (("count", count), ("skip", skip), ("ms", ms), ("status", status)):
            if value is not None:
                words.append(f"{name}={value}")
        return self.control(" ".join(words))

    def unplug(self) -> None:
        """The line goes away: open handles hang up and the path disappears."""
        self.control("unplug")

    def replug(self) -> None:
        """The line comes back under the same path."""
        self.control("replug")

    def load_card(self, image: bytes, serial: Optional[bytes] = None) -> None:
        """Puts a Mifare 1 card made from a 1024-byte dump into the field."""
        if len(image) != 1024:
            raise SimulatorError(f"a Mifare 1 image is 1024 bytes, not {len(image)}")
        dump = self._folder / f"card-{self._sync}.bin"
        dump.write_bytes(bytes(image))
        self.control(f"mifare load {dump}" + (f" {bytes(serial).hex()}" if serial else ""))

    def save_card(self) -> bytes:
        """The 1024 bytes of the Mifare 1 card in the field."""
        dump = self._folder / f"save-{self._sync}.bin"
        self.control(f"mifare save {dump}")
        return dump.read_bytes()
