"""The package from this tree if not installed, the plugin registered once, one reader a module."""
import os
import pathlib
import signal
import sys

import pytest

try:
    import orvix32  # noqa: F401  (installed)
except ImportError:
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from orvix32.testing import Simulator  # noqa: E402

# Ctrl-C is part of what is tested: a run started with SIGINT ignored (a
# background job of a script, nohup) gets Python's own handler back.
signal.signal(signal.SIGINT, signal.default_int_handler)

# No test reaches a real serial port: every port no simulator takes leads nowhere.
for _n in range(1, 11):
    os.environ[f"ORVIX32_COM{_n}"] = f"/nonexistent/orvix32-test-com{_n}"


def pytest_configure(config):
    if not config.pluginmanager.has_plugin("orvix32"):  # installed: the entry point did it
        from orvix32 import pytest_plugin
        config.pluginmanager.register(pytest_plugin, "orvix32")


@pytest.fixture(scope="module")
def sim():
    with Simulator() as s:
        yield s


@pytest.fixture(scope="module")
def reader(sim):
    with sim.reader() as r:
        yield r


@pytest.fixture
def fresh_card(sim, reader):
    """A new Mifare 1 card alone in the field, selected; calling it selects it again."""
    for words in ("faults clear", "mifare remove", "mifare insert classic 12345678"):
        sim.control(words)

    def select():
        reader.mifare.request()
        reader.mifare.select(reader.mifare.anticollision())
    return select() or select
