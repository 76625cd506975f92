"""The package's version is the project's: read from the project's
CMakeLists.txt beside this folder when built from the tree, else from the
metadata of the source archive being built."""
import re
from pathlib import Path

from setuptools import setup

HERE = Path(__file__).resolve().parent


def version() -> str:
    for path, pattern in ((HERE.parent / "CMakeLists.txt", r"^project\(ORVIX32 VERSION ([0-9.]+)"),
                          (HERE / "PKG-INFO", r"^Version: (\S+)")):
        found = re.search(pattern, path.read_text(), re.M) if path.is_file() else None
        if found:
            return found.group(1)
    raise SystemExit("orvix32: no version found: build the package from the project's tree")


setup(version=version())
