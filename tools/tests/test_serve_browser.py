"""orvix serve's page in headless Chromium, against readersim."""
import json
import os
import pathlib
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

import pytest

from test_orvix import NOWHERE, ORVIX, Sim, orvix

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
pytestmark = pytest.mark.skipif(not (CHROMIUM and DRIVER), reason="chromium is not installed")
FLAGS = ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --window-size=1280,860"
         " --disable-background-networking --disable-component-update --disable-sync").split()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def started(args, url, **kw):
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    for _ in range(100):
        try:
            urllib.request.urlopen(url, timeout=1)
            return p
        except OSError:
            time.sleep(0.1)
    p.kill()
    pytest.fail(f"{args[0]} did not serve {url}")


class Bench:
    """readersim logging its exchanges, orvix serve on it, one browser."""

    def __init__(self, tmp):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        self.tmp, self.downloads, self.sim_log = tmp, tmp / "downloads", tmp / "sim.log"
        with open(self.sim_log, "w") as log:
            self.sim = Sim.__new__(Sim)
            self.sim.p = subprocess.Popen([os.environ["READERSIM"], "--control", "--verbose"],
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          stderr=log, text=True)
        self.sim.path = self.sim.p.stdout.readline().strip()
        self.base = f"http://127.0.0.1:{free_port()}"
        env = {k: v for k, v in os.environ.items() if not k.startswith("ORVIX")}
        env.update(NOWHERE, ORVIX32_COM1=self.sim.path)
        self.serve = started([ORVIX, "serve", "--listen", self.base[7:]], self.base + "/", env=env)
        o = webdriver.ChromeOptions()
        o.binary_location = CHROMIUM
        for f in FLAGS + [f"--user-data-dir={tmp / 'profile'}"]:
            o.add_argument(f)
        self.d = webdriver.Chrome(service=Service(DRIVER), options=o)
        self.d.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": str(self.downloads)})

    def close(self):
        self.d.quit()
        for p in (self.serve, self.sim.p):
            p.terminate()
            p.wait()

    def wait(self, what, timeout=15):
        from selenium.webdriver.support.ui import WebDriverWait
        return WebDriverWait(self.d, timeout, 0.05).until(lambda _: what())

    def text(self, id):
        e = self.d.find_element("id", id)
        return e.get_attribute("value") if e.tag_name == "input" else e.text

    def page(self, lang="en"):
        self.d.get(f"{self.base}/?lang={lang}")
        status = self.d.find_element("id", "status")
        self.wait(lambda: "ok" in status.get_attribute("class") and self.text("reader-list"))

    def click(self, id, **fields):
        for field, value in fields.items():
            e = self.d.find_element("id", field)
            e.clear()
            e.send_keys(str(value))
        b = self.d.find_element("id", id)
        b.click()
        self.wait(b.is_enabled)

    def open(self, page=True, tries=20):
        """Opens COM1; a session just gone may hold it a moment longer."""
        if page:
            self.page()
        self.d.find_element("css selector", "input[value=COM1]").click()
        for _ in range(tries):
            self.click("btn-open")
            if "busy" not in self.text("held"):
                break
            time.sleep(0.1)
        return self.text("held")

    def block(self, n):
        return self.sim.image(self.tmp)[n * 16:n * 16 + 16].hex().upper()


@pytest.fixture(scope="module")
def bench(tmp_path_factory):
    b = Bench(tmp_path_factory.mktemp("serve"))
    yield b
    b.close()


@pytest.mark.parametrize("lang, title", [("zh", "ORVIX32 读卡器"), ("en", "ORVIX32 reader")])
def test_page_speaks_chinese_unless_asked(bench, lang, title):
    bench.page(lang)
    assert (bench.d.title, bench.text("btn-open")) == (title, {"zh": "打开", "en": "Open"}[lang])


def test_blocks_values_sector_and_card_removal(bench):
    assert bench.open().startswith("open: COM1")
    bench.wait(lambda: bench.text("card-serial") == "12345678")
    bench.click("btn-write", **{"blk-no": 4, "blk-data": "00112233445566778899aabbccddeeff"})
    assert bench.text("blk-data") == bench.block(4) == "00112233445566778899AABBCCDDEEFF"
    bench.click("btn-read", **{"blk-no": 3})  # key A reads back as zeros
    assert bench.text("blk-data") == "000000000000FF078069FFFFFFFFFFFF"
    for button, block, amount, shown in [
            ("btn-value-set", 5, 100, "100"), ("btn-topup", 5, 50, "150"), ("btn-charge", 5, 30, "120"),
            ("btn-topup", 6, 1, "error -8"), ("btn-value-read", 5, 0, "120")]:
        bench.click(button, **{"val-block": block, "val-amount": amount})
        assert bench.text("val-result").startswith(shown)
    assert (bench.block(5), bench.block(6)) == ("78000000" "87FFFFFF" "78000000" "05FA05FA", "00" * 16)
    bench.click("btn-sector", **{"sec-no": 1})
    rows = [r.text for r in bench.d.find_elements("css selector", "#sector-table tr")]
    assert rows[1].endswith("000 read A|B · write A|B · increment A|B · decrement A|B Value 120 (@5)")
    assert "001 key A write A · access bits read A write A · key B read A write A" in rows[3]
    bench.sim(f"mifare save {bench.tmp}/card.mfd")
    bench.sim("mifare remove")
    bench.wait(lambda: bench.text("card-state") == "card removed", 5)
    bench.sim(f"mifare load {bench.tmp}/card.mfd")
    bench.wait(lambda: bench.text("card-state") == "card arrived", 5)


def test_dump_downloads_orvix_files_and_restore_uploads(bench):
    bench.open()
    formats = ["json", "mfd", "eml", "mct"]  # the page makes the others from the JSON document
    for fmt in formats:
        bench.d.find_element("id", "dump-format").send_keys(fmt)
        bench.click("btn-dump")
    files = [bench.downloads / f"12345678.{fmt}" for fmt in formats]
    bench.wait(lambda: all(f.exists() for f in files) and not list(bench.downloads.glob("*.crdown*")))
    bench.click("btn-close")
    for f in files:
        r = orvix("mifare", "dump", "-o", bench.tmp / f"cli{f.suffix}", sim=bench.sim)
        assert r.returncode == 0 and f.read_bytes() == (bench.tmp / f"cli{f.suffix}").read_bytes()
    doc = json.loads(files[0].read_text())
    doc["blocks"]["6"] = "66" * 16
    (bench.tmp / "up.json").write_text(json.dumps(doc))
    (bench.tmp / "bad.json").write_text('{"blocks": {"6": "6666"}}')
    raw = files[1].read_bytes()
    (bench.tmp / "up.mfd").write_bytes(raw[:96] + b"\x77" * 16 + raw[112:])
    bench.open()
    for name, shown, block6 in [("bad.json", "error", "00" * 16), ("up.json", "47 blocks", "66" * 16),
                                ("up.mfd", "47 blocks", "77" * 16)]:
        bench.d.find_element("id", "restore-file").send_keys(str(bench.tmp / name))
        bench.click("btn-restore")
        assert bench.text("restore-result").startswith(shown) and bench.block(6) == block6


def test_page_of_another_origin_is_refused_before_the_reader(bench, tmp_path):
    bench.d.get("about:blank")  # the operator's session ends, its reader closes
    (tmp_path / "index.html").write_text(
        f"<script>const ws = new WebSocket('ws://{bench.base[7:]}/ws');"
        "ws.onopen = () => { ws.send('{\"id\":1,\"op\":\"open\",\"args\":{\"port\":\"COM1\"}}');"
        " document.title = 'open'; }; ws.onerror = () => { document.title = 'refused'; };</script>")
    other = f"http://127.0.0.1:{free_port()}"
    web = started([sys.executable, "-m", "http.server", "-b", "127.0.0.1", other.rsplit(":")[-1]],
                  other + "/", cwd=tmp_path)
    try:
        for _ in range(10):  # until the reader is quiet: no session holds it
            seen = bench.sim_log.stat().st_size
            time.sleep(0.6)
            if seen == bench.sim_log.stat().st_size:
                break
        bench.d.get(other + "/")
        assert bench.wait(lambda: bench.d.title) == "refused"
        time.sleep(0.5)
        assert bench.sim_log.stat().st_size == seen
    finally:
        web.terminate()
        web.wait()


def test_second_session_finds_the_reader_busy_until_the_first_goes(bench):
    first = bench.d.current_window_handle
    assert bench.open().startswith("open: COM1")
    bench.d.switch_to.new_window("tab")
    second = bench.d.current_window_handle
    assert bench.open(tries=1).startswith("error 65540: busy: held by session")
    bench.d.switch_to.window(first)
    bench.d.close()
    bench.d.switch_to.window(second)
    assert bench.open(page=False).startswith("open: COM1")
