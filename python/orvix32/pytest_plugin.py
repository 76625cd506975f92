"""pytest fixtures for programs that use the reader: ``orvix_sim`` (a running
simulator) and ``orvix_reader`` (a :class:`orvix32.Reader` linked to it).

Further readersim options come from the marker
``@pytest.mark.orvix_sim("--speeds", "slow")``.
"""

from __future__ import annotations

from typing import Iterator

import pytest

from .reader import Reader
from .testing import Simulator, map_ports_nowhere


def pytest_configure(config: pytest.Config) -> None:
    """Declares the marker and maps every COM port away from real devices."""
    config.addinivalue_line("markers", "orvix_sim(*args): further readersim options")
    map_ports_nowhere()


@pytest.fixture
def orvix_sim(request: pytest.FixtureRequest) -> Iterator[Simulator]:
    """A simulated reader with one Mifare 1 card, stopped after the test."""
    marker = request.node.get_closest_marker("orvix_sim")
    with Simulator(args=marker.args if marker else ()) as sim:
        yield sim


@pytest.fixture
def orvix_reader(orvix_sim: Simulator) -> Iterator[Reader]:
    """A reader linked to ``orvix_sim``, closed after the test."""
    with orvix_sim.reader() as reader:
        yield reader
