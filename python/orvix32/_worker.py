"""A reader's library calls, made on a thread of the reader's own.

Python runs signal handlers only in the main thread, between bytecodes: a
thread blocked in a library call would see Ctrl-C only when the call ends.
So each call runs on the reader's worker thread while the calling thread
waits on a lock, which a signal interrupts. On KeyboardInterrupt the waiting
thread cancels the call in the library (allowed from any thread), waits for
it to end (the library stops it within 10 ms) and raises KeyboardInterrupt
again: the reader is left between two calls, usable.
"""

from __future__ import annotations

import _thread
import queue
import signal
import threading
from typing import Any, Callable, Optional, Sequence

_QUEUED, _RUNNING, _FINISHED, _ABANDONED = range(4)


class WorkerClosed(Exception):
    """A call after :meth:`Worker.finish` (until :meth:`Worker.reopen`)."""


class _Job:
    __slots__ = ("fn", "args", "state", "done", "result", "error", "after")

    def __init__(self, fn: Callable[..., Any], args: Sequence[Any]) -> None:
        self.fn, self.args = fn, args
        self.state = _QUEUED
        self.done = _thread.allocate_lock()
        self.done.acquire()
        self.result: Any = None
        self.error: Optional[BaseException] = None
        self.after: Optional[Callable[[Any], Any]] = None


def _serve(jobs: "queue.SimpleQueue[Optional[_Job]]", state: Any) -> None:
    if hasattr(signal, "pthread_sigmask"):  # Ctrl-C goes to the thread that waits
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    while True:
        job = jobs.get()
        if job is None:
            return
        with state:
            if job.state == _ABANDONED:
                continue
            job.state = _RUNNING
        try:
            job.result = job.fn(*job.args)
        except BaseException as e:  # handed to the waiting thread
            job.error = e
        with state:
            job.state, after = _FINISHED, job.after
        job.done.release()
        if after is not None:
            after(job.result)


class Worker:
    """The thread that makes one reader's library calls, started at the first."""

    def __init__(self, name: str) -> None:
        self._name = name
        self._jobs: "queue.SimpleQueue[Optional[_Job]]" = queue.SimpleQueue()
        self._state = _thread.allocate_lock()
        self._thread: Optional[threading.Thread] = None
        self._closed = False

    def call(self, fn: Callable[..., Any], args: Sequence[Any],
             cancel: Optional[Callable[[], Any]] = None,
             abandon: Optional[Callable[[Any], Any]] = None) -> Any:
        """``fn(*args)`` on the worker thread; its result (or its exception).

        On KeyboardInterrupt ``cancel()`` is called (again every 10 ms) until
        the call has ended; a call without ``cancel`` is left to end by itself
        and ``abandon`` then gets its result.
        """
        job = _Job(fn, args)
        try:
            self._put(job)
            # In slices: a signal that reached another thread, or a system
            # whose lock waits no signal interrupts, is still seen within 50 ms.
            while not job.done.acquire(True, 0.05):
                pass
        except KeyboardInterrupt as e:
            self._stop(job, cancel, abandon)
            if job.state == _FINISHED and job.error is None:
                e.result = job.result  # what the cancelled call gave, for the caller to read
            raise
        if job.error is not None:
            raise job.error
        return job.result

    def _put(self, job: _Job, last: bool = False) -> None:
        with self._state:  # never after the last job of finish()
            if self._closed:
                raise WorkerClosed()
            self._closed = last
            if self._thread is None:
                self._thread = threading.Thread(target=_serve, args=(self._jobs, self._state),
                                                name=self._name, daemon=True)
                self._thread.start()
            self._jobs.put(job)

    def finish(self, fn: Callable[[], Any], cancel: Callable[[], Any]) -> Any:
        """``fn()`` as the last call on the worker thread, after the calls
        already queued, each of which ``cancel()`` stops (called every 10 ms
        until ``fn`` has run); later calls raise :class:`WorkerClosed`. The
        thread then ends."""
        job = _Job(fn, ())
        self._put(job, last=True)
        while not job.done.acquire(True, 0.01):
            cancel()
        self.stop()
        if job.error is not None:
            raise job.error
        return job.result

    def reopen(self) -> None:
        """Takes calls again after :meth:`finish`."""
        with self._state:
            self._closed = False

    def _stop(self, job: _Job, cancel: Optional[Callable[[], Any]],
              abandon: Optional[Callable[[Any], Any]]) -> None:
        while True:
            try:
                with self._state:
                    if job.state == _QUEUED:
                        job.state = _ABANDONED
                    elif job.state == _RUNNING and cancel is None:
                        job.after = abandon
                    if job.state != _RUNNING or cancel is None:
                        return
                cancel()
                job.done.acquire(True, 0.01)
            except KeyboardInterrupt:  # Ctrl-C again: the call must still end first
                continue

    def stop(self) -> None:
        """Ends the thread once the calls queued have run; a later call starts another."""
        with self._state:
            if self._thread is not None:
                self._jobs.put(None)
                self._thread = None
