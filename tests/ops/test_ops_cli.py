"""The operation tables through the command line against readersim."""
import os
import pathlib
import subprocess
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from cases import TABLES  # noqa: E402

ORVIX, SIM = os.environ["ORVIX"], os.environ["READERSIM"]
NOWHERE = {f"ORVIX32_COM{i}": f"/nonexistent/ops-test-com{i}" for i in range(1, 11)}
POSITIONAL = ("block", "data", "amount", "bits", "bytes")


def argv(op, args):
    """mifare.value.sub {block, amount, allow_negative} -> mifare value sub 4 5 --allow-negative"""
    out = op.split(".") + [args[n] for n in POSITIONAL if n in args]
    for name, value in args.items():
        if name == "keys":
            out += [f"--key={k}" for k in value.split()]
        elif name not in POSITIONAL:
            out.append("--" + name.replace("_", "-"))
    return out


@pytest.mark.parametrize("op, args, setup, error, text, after",
                         [c for table in TABLES.values() for c in table])
def test_operation(tmp_path, op, args, setup, error, text, after):
    sim = subprocess.Popen([SIM, "--control"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           text=True)
    ask = lambda c: (sim.stdin.write(c + "\n"), sim.stdin.flush(), sim.stdout.readline())[2]
    try:
        path = sim.stdout.readline().strip()
        patches = [c.split()[1:] for c in setup if c.startswith("block ")]
        if patches:
            ask(f"mifare save {tmp_path}/card.mfd")
            image = bytearray((tmp_path / "card.mfd").read_bytes())
            for block, data in patches:
                image[int(block) * 16:int(block) * 16 + 16] = bytes.fromhex(data)
            (tmp_path / "card.mfd").write_bytes(image)
            ask("mifare remove")
            assert ask(f"mifare load {tmp_path}/card.mfd").startswith("loaded")
        for command in (c for c in setup if not c.startswith("block ")):
            assert ask(command).startswith("fault queued"), command
        env = {k: v for k, v in os.environ.items() if not k.startswith("ORVIX")}
        env.update(NOWHERE, ORVIX32_COM1=path)
        r = subprocess.run([ORVIX, *argv(op, args)], env=env, capture_output=True, text=True,
                           timeout=60)
        assert (r.returncode != 0) == (error is not None), r.stderr
        assert (error or text) in (r.stderr if error else r.stdout), r.stderr
        ask(f"mifare save {tmp_path}/after.mfd")
        image = (tmp_path / "after.mfd").read_bytes()
        for block, data in after.items():
            assert image[block * 16:block * 16 + 16].hex().upper() == data
    finally:
        sim.terminate()
        sim.wait()
