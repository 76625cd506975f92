"""orvix serve's page in headless Chromium at a 1366×768 desk screen, against readersim.
With ORVIX_SCREENSHOTS=DIR the start, an error and a removal are saved there."""
import json
import os
import re
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
FLAGS = ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --window-size=1366,768"
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
            time.sleep(0.1)  # poll: until it serves
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
        self.start_service()
        o = webdriver.ChromeOptions()
        o.binary_location = CHROMIUM
        for f in FLAGS + [f"--user-data-dir={tmp / 'profile'}"]:
            o.add_argument(f)
        self.d = webdriver.Chrome(service=Service(DRIVER), options=o)
        self.d.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": str(self.downloads)})

    def start_service(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("ORVIX")}
        env.update(NOWHERE, ORVIX32_COM1=self.sim.path)
        self.serve = started([ORVIX, "serve", "--listen", self.base[7:]], self.base + "/", env=env)

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
        return e.get_attribute("value") if e.tag_name == "input" else e.get_attribute("textContent")

    def rect(self, id):
        return self.d.execute_script("return document.getElementById(arguments[0]).getBoundingClientRect()", id)

    def page(self, lang="en", base=None, desk="Front desk"):
        """Loads the page; a browser that has no desk name yet is asked for one."""
        self.d.get(f"{base or self.base}/?lang={lang}")
        if self.d.find_element("id", "desk-dialog").get_attribute("open") is not None:
            self.click("btn-desk-ok", **{"desk-input": desk})
        status = self.d.find_element("id", "status")
        self.wait(lambda: "ok" in status.get_attribute("class") and self.text("reader-list"))

    def click(self, id, answer=None, **fields):
        """Fills the fields, clicks, and answers the question asked ("accept", "dismiss")."""
        for field, value in fields.items():
            e = self.d.find_element("id", field)
            e.clear()
            e.send_keys(str(value))
        b = self.d.find_element("id", id)
        b.click()
        if answer:
            from selenium.webdriver.support.expected_conditions import alert_is_present
            getattr(self.wait(lambda: alert_is_present()(self.d)), answer)()
        self.wait(b.is_enabled)

    def open(self, page=True, tries=20, lang="en"):
        """Opens COM1; a session just gone may hold it a moment longer."""
        if page:
            self.page(lang)
        self.d.find_element("css selector", "input[value=COM1]").click()
        for _ in range(tries):
            self.click("btn-open")
            if not self.text("readers-err"):
                break
            time.sleep(0.1)  # poll: until the port is let go
        return self.text("held") or self.text("readers-err")

    def block(self, n):
        return self.sim.image(self.tmp)[n * 16:n * 16 + 16].hex().upper()

    def sent(self):
        """Exchanges on the line but the card watch's polls (request B5, anticollision B6),
        counted once a poll has followed whatever was under way."""
        polls = self.sim_log.read_text().count("cmd B5")
        self.wait(lambda: self.sim_log.read_text().count("cmd B5") > polls)
        return len(re.findall(r"cmd (?!B5|B6)", self.sim_log.read_text()))

    def shot(self, name):
        if name and os.environ.get("ORVIX_SCREENSHOTS"):
            self.d.save_screenshot(os.path.join(os.environ["ORVIX_SCREENSHOTS"], f"{name}.png"))


@pytest.fixture(scope="module")
def bench(tmp_path_factory):
    b = Bench(tmp_path_factory.mktemp("serve"))
    yield b
    b.close()


@pytest.mark.parametrize("lang, title", [("zh", "ORVIX32 读卡器"), ("en", "ORVIX32 reader")])
def test_page_speaks_chinese_unless_asked_and_says_no_reader_before_one_is_open(bench, lang, title):
    bench.page(lang)
    bench.shot({"zh": "serve-start"}.get(lang))
    assert (bench.d.title, bench.text("btn-open"), bench.text("card-state")) == (
        title, {"zh": "打开", "en": "Open"}[lang], {"zh": "未打开读卡器", "en": "no reader open"}[lang])


def test_blocks_values_sector_and_card_removal(bench):
    assert bench.open().startswith("open: COM1")
    bench.wait(lambda: bench.text("card-serial") == "12345678")
    bench.click("btn-write", **{"blk-no": 4, "blk-data": "00112233445566778899aabbccddeeff"})
    assert bench.text("blk-data") == bench.block(4) == "00112233445566778899AABBCCDDEEFF"
    bench.click("btn-read", **{"blk-no": 3})  # key A reads back as zeros
    assert bench.text("blk-data") == "000000000000FF078069FFFFFFFFFFFF"
    for button, block, amount, shown, error, answer in [
            ("btn-value-set", 5, 100, "100", "", None), ("btn-topup", 5, 50, "150", "", None),
            ("btn-charge", 5, 30, "120", "", None), ("btn-topup", 6, 1, "failed", "not a value block", None),
            ("btn-value-read", 5, 0, "120", "", None),
            ("btn-charge", 5, 121, "120", "not enough on the card: the balance would go below zero", "dismiss")]:
        bench.click(button, answer, **{"val-block": block, "val-amount": amount})
        assert (bench.text("val-result"), bench.text("val-err").split("details")[0]) == (shown, error)
    assert (bench.block(5), bench.block(6)) == ("78000000" "87FFFFFF" "78000000" "05FA05FA", "00" * 16)
    bench.click("btn-sector", **{"sec-no": 1})
    rows = [r.text for r in bench.d.find_elements("css selector", "#sector-table tr")]
    assert rows[1].endswith("000 read A|B, write A|B, increment A|B, decrement A|B Value 120 (@5)")
    assert "001 key A write A, access bits read A write A, key B read A write A" in rows[3]
    bench.d.execute_script("window.print = () => { document.title = 'printed'; }")
    bench.click("btn-report")  # the report: what the card is, what was read, its value blocks
    report = bench.text("report")
    assert "Serial: 12345678" in report and "Sectors read: 16/16" in report and bench.d.title == "printed"
    assert [c.get_attribute("textContent") for c in bench.d.find_elements("css selector", "#report tbody td")] == [
        "5", "120", "5"]
    bench.click("btn-charge", "accept", **{"val-block": 5, "val-amount": 121})  # the operator says yes
    assert bench.text("val-result") == "-1" and bench.block(5).startswith("FFFFFFFF")
    bench.click("btn-value-set", **{"val-amount": 120})


@pytest.mark.parametrize("lang, shown", [("zh", "密钥不对：扇区不接受任何已知密钥"),
                                         ("en", "wrong key: the sector took none of the keys known")])
def test_wrong_key_is_told_beside_the_block_and_clears_it(bench, lang, shown):
    bench.open(lang=lang)
    bench.click("btn-read", **{"blk-no": 4})
    card = bench.sim.image(bench.tmp)
    secret = card[:112] + bytes.fromhex("123456789ABC") + card[118:122] + bytes.fromhex("123456789ABC") + card[128:]
    (bench.tmp / "secret.mfd").write_bytes(secret)  # sector 1 opens to no key the page knows
    try:
        assert bench.sim("mifare remove") and not bench.sim(f"mifare load {bench.tmp}/secret.mfd").startswith("error")
        bench.click("btn-read")
    finally:
        (bench.tmp / "card.mfd").write_bytes(card)
        bench.sim("mifare remove")
        bench.sim(f"mifare load {bench.tmp}/card.mfd")
    bench.shot({"en": "serve-error"}.get(lang))
    message, field = bench.d.find_element("css selector", "#blk-err .msg"), bench.d.find_element("id", "blk-data")
    assert (message.text, field.get_attribute("value"), "failed" in field.get_attribute("class")) == (shown, "", True)
    assert bench.d.find_element("id", "key").get_attribute("aria-invalid") == "true"
    assert 0 <= bench.rect("blk-err")["top"] - bench.rect("blk-data")["bottom"] < 20
    bench.d.find_element("css selector", "#blk-err summary").click()  # the service's own words
    assert "no key opened sector 1" in bench.d.find_element("css selector", "#blk-err code").text
    width, height = bench.d.execute_script("return [innerWidth, innerHeight]")  # below 768: the browser's own bars
    for panel in ("card-panel", "block-panel", "value-panel"):  # the everyday jobs need no scrolling
        r = bench.rect(panel)
        assert r["left"] >= 0 and r["top"] >= 0 and r["right"] <= width and r["bottom"] <= height


def test_removal_clears_the_card_and_the_banner_is_seen_where_the_operator_works(bench):
    bench.open()
    bench.click("btn-read", **{"blk-no": 4})
    bench.click("btn-value-read", **{"val-block": 5})
    bench.click("btn-sector", **{"sec-no": 1})
    bench.d.set_window_size(900, 700)  # one column: the purse panel far below the top
    try:
        bench.d.execute_script("document.getElementById('value-panel').scrollIntoView()")
        bench.sim(f"mifare save {bench.tmp}/card.mfd")
        bench.sim("mifare remove")
        bench.wait(lambda: bench.text("card-state") == "no card", 5)
        bench.shot("serve-removed")
        banner, purse, height = bench.rect("banner"), bench.rect("value-panel"), bench.d.execute_script("return innerHeight")
        assert bench.text("banner-text") == "card removed; its data was cleared" and banner["top"] >= 0
        assert banner["bottom"] < purse["bottom"] <= height and bench.d.execute_script("return scrollY") > 0
        assert [bench.text(i) for i in ("blk-data", "val-result", "sector-table", "card-serial")] == ["", "—", "", "—"]
        bench.sim(f"mifare load {bench.tmp}/card.mfd")
        bench.wait(lambda: bench.text("banner-text") == "card arrived: 12345678", 5)
    finally:
        bench.d.set_window_size(1366, 768)


def test_service_restart_the_page_reconnects_reopens_and_reads(bench):
    bench.open()
    bench.serve.terminate()
    bench.serve.wait()
    bench.wait(lambda: bench.text("card-state") == "no reader open" and "reconnecting" in bench.text("status"))
    bench.start_service()
    bench.wait(lambda: bench.text("status") == "reconnected to the service and reopened COM1", 30)
    bench.click("btn-read", **{"blk-no": 4})
    assert bench.text("blk-data") == bench.block(4) and bench.text("card-serial") == "12345678"


def test_inputs_refused_at_the_field_with_nothing_sent(bench):
    bench.open()
    before = bench.sent()
    for button, fields, box, shown in [
            ("btn-read", {"blk-no": ""}, "blk-err", "enter the block number"),
            ("btn-read", {"blk-no": 64}, "blk-err", "the block number must be 0–63"),
            ("btn-write", {"blk-no": 4, "blk-data": "0011"}, "blk-err", "the data must be 32 hex digits"),
            ("btn-write", {"blk-data": "0g" * 16}, "blk-err", "the data must be 32 hex digits"),
            ("btn-topup", {"val-block": 5, "val-amount": ""}, "val-err", "enter the amount"),
            ("btn-charge", {"val-amount": -1}, "val-err", "the amount must be 0–2147483647"),
            ("btn-value-read", {"val-block": 63}, "val-err", "the block number must be 1–62"),
            ("btn-sector", {"sec-no": 16}, "sec-err", "the sector must be 0–15"),
            ("btn-read", {"blk-no": 4, "key": "FFFF"}, "card-err", "the key must be 12 hex digits")]:
        bench.click(button, **fields)
        assert bench.text(box).split("details")[0] == shown
    assert bench.sent() == before
    bench.click("btn-read", key="FFFFFFFFFFFF")  # the count does see a read
    assert bench.sent() > before and bench.text("card-err") == ""


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
    bench.click("btn-restore")
    assert bench.text("restore-err").startswith("choose a file first")
    for name, shown, block6 in [("bad.json", "", "00" * 16), ("up.json", "47 blocks", "66" * 16),
                                ("up.mfd", "47 blocks", "77" * 16)]:
        bench.d.find_element("id", "restore-file").send_keys(str(bench.tmp / name))
        bench.click("btn-restore")
        assert bench.text("restore-result").startswith(shown) and bench.block(6) == block6
        assert bool(bench.text("restore-err")) == (shown == "")


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
            time.sleep(0.6)  # stimulus: a quiet spell of the log is what is looked for
            if seen == bench.sim_log.stat().st_size:
                break
        bench.d.get(other + "/")
        assert bench.wait(lambda: bench.d.title) == "refused"
        time.sleep(0.5)  # stimulus: the window in which nothing may reach the reader
        assert bench.sim_log.stat().st_size == seen
    finally:
        web.terminate()
        web.wait()


def test_second_desk_sees_the_first_desks_name_until_it_goes(bench):
    first = bench.d.current_window_handle
    assert bench.open().startswith("open: COM1")
    bench.d.switch_to.new_window("tab")
    second = bench.d.current_window_handle
    bench.page(base=bench.base.replace("127.0.0.1", "localhost"), desk="Back office")  # its own storage
    assert "Front desk" in bench.d.find_element("css selector", "#reader-list tr").text
    assert bench.open(page=False, tries=1).startswith('reader busy: held by "Front desk" since ')
    bench.d.switch_to.window(first)
    bench.d.close()
    bench.d.switch_to.window(second)
    assert bench.open(page=False).startswith("open: COM1")
    assert bench.text("desk-name") == "Back office"
