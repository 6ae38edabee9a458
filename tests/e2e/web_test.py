#!/usr/bin/python3
"""The web page, the API and the metrics of tarvel-headless against tarvel-sim.

    web_test.py BIN_DIR page        the page in headless Chromium: values,
                                    a change without reload, the monitor,
                                    the trend from the history file
    web_test.py BIN_DIR metrics     /metrics through prometheus_client's parser,
                                    over HTTPS with a certificate made by openssl
    web_test.py BIN_DIR abuse       1,000 bad requests and 50 idle connections
    web_test.py BIN_DIR access      credentials, a wrong password, a refused Bind
    web_test.py BIN_DIR stop        a reload that turns the page off and a stop,
                                    each with an idle, a slow and a streaming client
    web_test.py BIN_DIR screenshot PNG   a picture of the page (for the README)

Exit code 0 passed, 1 failed, 77 skipped (no Chromium). Everything listens
on and talks to 127.0.0.1 only.
"""
import base64
import fcntl
import json
import os
import shutil
import signal
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

BIN = sys.argv[1]
LIMIT = 60  # seconds any awaited state is given before the test fails

MAP = "node 1\ninput 0 {voltage}\ninput 1 500\ncoil 0 1\n"
LINES = ["1,4,0,1;Vac;V", "1,4,1,1;Freq;Hz", "1,1,0,0;Stato", "9,4,0,0;Assente"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def eventually(what, check):
    end = time.monotonic() + LIMIT
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("never happened: " + what)


class Plant:
    """tarvel-sim and tarvel-headless on a folder of their own."""

    def __init__(self, web_keys, extra="", tls=False):
        self.folder = tempfile.mkdtemp(prefix="tarvel-web-")
        self.port = free_port()
        self.tls = None
        if tls:
            # A self-signed certificate for this address, which the client
            # takes as its only authority.
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                            "-nodes", "-days", "2", "-keyout", "key.pem", "-out", "cert.pem", "-subj",
                            "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
                           cwd=self.folder, check=True, capture_output=True)
            self.tls = ssl.create_default_context(cafile=os.path.join(self.folder, "cert.pem"))
            web_keys += "\nCertFile=cert.pem\nKeyFile=key.pem"
        self.map = os.path.join(self.folder, "plant.map")
        self.set_voltage(2301)
        self.fifo = os.path.join(self.folder, "control")
        link = os.path.join(self.folder, "tty")
        self.sim = subprocess.Popen([os.path.join(BIN, "tarvel-sim"), "--map", self.map, "--link", link,
                                     "--control", self.fifo], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        eventually("the simulator's link", lambda: os.path.exists(link) and os.path.exists(self.fifo))
        self.write_settings(web_keys.format(port=self.port), extra)
        self.run = subprocess.Popen([os.path.join(BIN, "tarvel-headless"), "--folder", self.folder],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def write_settings(self, web_keys, extra=""):
        lines = "".join("\n%03d=%s" % (i + 1, line) for i, line in enumerate(LINES))
        text = ("[Ports]\nCOM1=%s/tty\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\nRetry=1\nTimeOut=200\n"
                "[History]\nFile=history.db\n[Web]\n%s\n%s[Parameters]\nFirt=1\nLast=%d\nInterval=300%s\n"
                % (self.folder, web_keys, extra, len(LINES), lines))
        with open(os.path.join(self.folder, "Tarvel.new"), "w") as f:
            f.write(text)
        os.replace(os.path.join(self.folder, "Tarvel.new"), os.path.join(self.folder, "Tarvel.INI"))

    def set_voltage(self, raw):
        with open(self.map, "w") as f:
            f.write(MAP.format(voltage=raw))

    def reload_map(self):
        with open(self.fifo, "w") as f:
            f.write("reload\n")

    def url(self, path):
        return "%s://127.0.0.1:%d%s" % ("https" if self.tls else "http", self.port, path)

    def get(self, path, headers=None):
        """The status and body; None while nothing answers."""
        try:
            with urllib.request.urlopen(urllib.request.Request(self.url(path), headers=headers or {}),
                                        timeout=10, context=self.tls) as r:
                return r.status, r.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()
        except OSError:
            return None

    def cycles(self, headers=None):
        answer = self.get("/api/values", headers)
        return json.loads(answer[1])["cycle"] if answer and answer[0] == 200 else 0

    def close(self):
        for p in (self.run, self.sim):
            p.terminate()
            try:
                p.wait(timeout=LIMIT)
            except subprocess.TimeoutExpired:
                p.kill()
                raise AssertionError("a program did not end after SIGTERM")
        shutil.rmtree(self.folder, ignore_errors=True)


# --- Chromium through the DevTools protocol on a pipe ------------------------

class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="tarvel-chromium-")
        # Chromium reads the commands on its descriptor 3 and answers on 4.
        to_chromium, self.commands = os.pipe()
        self.events, from_chromium = os.pipe()
        high = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_chromium, from_chromium)]
        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             "--no-first-run", "--user-data-dir=" + self.profile, "--window-size=800,1200", "about:blank"],
            pass_fds=(3, 4), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=lambda: (os.dup2(high[0], 3), os.dup2(high[1], 4)))
        for fd in high:
            os.close(fd)
        os.close(to_chromium)
        os.close(from_chromium)
        self.next_id, self.buffer = 0, b""
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.events, 65536)
                if not chunk:
                    raise AssertionError("Chromium went away")
                self.buffer += chunk
            text, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise AssertionError(method + ": " + str(answer["error"]))
                return answer["result"]

    def page(self, method, params=None):
        return self.call(method, params, self.session)

    def value(self, expression):
        result = self.page("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        return result["result"].get("value")

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=LIMIT)
        shutil.rmtree(self.profile, ignore_errors=True)


CELL = "document.querySelector('tr[data-name=\"%s\"] td.%s')?.textContent"


def test_page():
    plant = Plant("Port={port}")
    browser = Browser()
    try:
        # Rows of an hour ago in the history file, as the program writes
        # them: the trend's lowest point is one of these.
        history_file = os.path.join(plant.folder, "history.db")
        eventually("the history's table", lambda: os.path.exists(history_file) and sqlite3.connect(
            history_file, timeout=10).execute("SELECT count(*) FROM sqlite_master WHERE name = 'history'").fetchone()[0])
        history = sqlite3.connect(history_file, timeout=10)
        stamp = time.time() - 1800
        old = [(time.strftime("%Y-%m-%dT%H:%M:%S.000Z", time.gmtime(stamp + 60 * i)), 0, 1, "Vac", 100.0 + i, 0)
               for i in range(10)]
        with history:
            history.executemany("INSERT INTO history(time, cycle, device, name, value, line) "
                                "VALUES (?, ?, ?, ?, ?, ?)", old)
        browser.page("Page.navigate", {"url": plant.url("/")})
        eventually("230.1 V on the page", lambda: browser.value(CELL % ("Vac", "value")) == "230.1")
        assert browser.value(CELL % ("Freq", "value")) == "50"
        assert browser.value(CELL % ("Assente", "value")) == "(lettura fallita)"
        assert browser.value(CELL % ("Vac", "unit")) == "V"
        browser.value("window.notReloaded = true")
        lines = eventually("the monitor", lambda: browser.value("document.querySelectorAll('#monitor div').length"))
        assert "TX 01 04 00 00 00 01" in browser.value("document.getElementById('monitor').textContent")
        plant.set_voltage(2345)
        plant.reload_map()
        eventually("234.5 V without a reload", lambda: browser.value(CELL % ("Vac", "value")) == "234.5")
        assert browser.value("window.notReloaded") is True
        eventually("more monitor lines",
                   lambda: browser.value("document.querySelectorAll('#monitor div').length") > lines)
        labels = "[...document.querySelectorAll('#chart text')].map(t => t.textContent)"
        eventually("the trend from 100 to 234.5", lambda: {"100", "234.5"} <= set(browser.value(labels) or []))
        assert int(browser.value("document.getElementById('chart').dataset.points")) > len(old)
    finally:
        browser.close()
        plant.close()


def test_metrics():
    from prometheus_client.parser import text_string_to_metric_families
    plant = Plant("Port={port}", tls=True)
    try:
        eventually("two cycles", lambda: plant.cycles() >= 2)
        values = json.loads(plant.get("/api/values")[1])["devices"][0]["values"]
        assert values["Vac"] == 230.1 and values["Freq"] == 50, values
        # Plain HTTP to that port gets no HTTP answer.
        with socket.create_connection(("127.0.0.1", plant.port), timeout=LIMIT) as s:
            s.sendall(b"GET /api/values HTTP/1.1\r\nHost: x\r\n\r\n")
            reply = b""
            while chunk := s.recv(4096):
                reply += chunk
        assert b"HTTP" not in reply, reply
        status, text = plant.get("/metrics")
        assert status == 200
        samples = {}
        for family in text_string_to_metric_families(text):
            for s in family.samples:
                samples[(s.name, tuple(sorted(s.labels.items())))] = s.value
        value = lambda name, unit="": samples.get(("tarvel_value", (("device", "1"), ("name", name), ("unit", unit))))
        assert value("Vac", "V") == 230.1 and value("Freq", "Hz") == 50.0 and value("Stato") == 1.0, samples
        assert value("Assente") is None
        node = lambda metric, n: samples[(metric, (("node", str(n)),))]
        assert node("tarvel_node_requests_total", 1) >= 6 and node("tarvel_node_timeouts_total", 1) == 0
        assert node("tarvel_node_timeouts_total", 9) >= 2 and node("tarvel_node_good_answers_total", 9) == 0
        assert samples[("tarvel_cycles_total", ())] >= 2
        assert samples[("tarvel_history_enabled", ())] == 1.0
        assert 0 < samples[("tarvel_last_cycle_duration_seconds", ())] < 60
    finally:
        plant.close()


BAD_REQUESTS = [
    b"\x00\xff\x13garbage\r\n\r\n",
    b"GET / HTTP/1.1\r\nHost: x\r\nX: " + b"a" * 70000 + b"\r\n\r\n",
    b"GET / HTTP/1.1\r\n" + b"".join(b"H%d: v\r\n" % i for i in range(500)) + b"\r\n",
    b"POST /api/values HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n" + b"x" * 5000,
    b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n",
    b"GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
    b"GET /api/monitor?since=-1 HTTP/1.1\r\nHost: x\r\n\r\n",
    b"GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
    b"GET / HTTP/1.1\r\nHost",
]


def test_abuse():
    plant = Plant("Port={port}")
    idle = []
    try:
        eventually("a cycle", lambda: plant.cycles() >= 1)
        for i in range(1000):
            with socket.create_connection(("127.0.0.1", plant.port), timeout=10) as s:
                try:
                    s.sendall(BAD_REQUESTS[i % len(BAD_REQUESTS)])
                    s.shutdown(socket.SHUT_WR)
                    s.recv(4096)
                except OSError:
                    pass  # the server may close first: that is its right
        for _ in range(50):
            idle.append(socket.create_connection(("127.0.0.1", plant.port), timeout=10))
        before = plant.cycles()
        status, body = eventually("an answer", lambda: plant.get("/api/health"))
        assert status == 200 and json.loads(body)["nodes"], body
        eventually("more cycles", lambda: plant.cycles() > before + 2)
        assert plant.get("/../etc/passwd")[0] == 404
        assert plant.get("/api/monitor?since=x")[0] == 400
    finally:
        for s in idle:
            s.close()
        plant.close()


def test_access():
    plant = Plant("Port={port}\nUser=tecnico\nPassword=s3greto:x")
    try:
        basic = lambda user, password: {"Authorization": "Basic " + base64.b64encode(
            ("%s:%s" % (user, password)).encode()).decode()}
        eventually("a cycle", lambda: plant.cycles(basic("tecnico", "s3greto:x")) >= 1)
        assert plant.get("/api/values")[0] == 401
        assert plant.get("/metrics", basic("tecnico", "s3greto"))[0] == 401
        assert plant.get("/", basic("tecnic", "s3greto:x"))[0] == 401
        assert plant.get("/", basic("tecnico", "s3greto:x"))[0] == 200
        # Beyond loopback without credentials: not served, and said why.
        plant.write_settings("Port=%d\nBind=0.0.0.0" % plant.port)
        check = subprocess.run([os.path.join(BIN, "tarvel-headless"), "--folder", plant.folder, "--check"],
                               capture_output=True, text=True)
        assert check.returncode == 1 and 'Bind: "0.0.0.0" non è un indirizzo locale' in check.stdout, check.stdout
        plant.run.send_signal(1)  # SIGHUP: the settings again
        eventually("nothing listening", lambda: plant.get("/api/values", basic("tecnico", "s3greto:x")) is None)
        # The acquisition goes on: the output file is written again.
        output = os.path.join(plant.folder, "NoName.xml")
        written = os.stat(output).st_mtime_ns
        eventually("another cycle", lambda: os.stat(output).st_mtime_ns > written)
        # A port another program listens on, even one that lets the port be
        # shared (SO_REUSEPORT): not served, and said why.
        other = socket.socket()
        for option in (socket.SO_REUSEADDR, socket.SO_REUSEPORT):
            other.setsockopt(socket.SOL_SOCKET, option, 1)
        other.bind(("127.0.0.1", plant.port))
        other.listen()
        plant.write_settings("Port=%d" % plant.port)
        plant.run.send_signal(1)
        for _ in range(2):  # the reload comes before the second cycle's end
            written = os.stat(output).st_mtime_ns
            eventually("another cycle", lambda: os.stat(output).st_mtime_ns > written)
        plant.run.terminate()
        out, err = plant.run.communicate(timeout=LIMIT)
        other.close()
        assert plant.run.returncode == 0 and "[Web] Bind" in err and "servono User e Password" in err, err
        assert "[Web] impossibile ascoltare su 127.0.0.1:%d (Address already in use)" % plant.port in err, err
    finally:
        plant.close()


class HeldConnections:
    """What a stop must not wait for: a keep-alive connection idle after its
    answer, the event stream, and a request sent a byte every 0.1 s (each
    byte comes well within the server's idle time, so only a stop ends it)."""

    def __init__(self, port):
        connect = lambda: socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
        self.idle, self.events, self.slow = connect(), connect(), connect()
        self.idle.sendall(b"GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n")
        self.events.sendall(b"GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n")
        for s, what in ((self.idle, b'"nodes"'), (self.events, b"data: ")):
            seen = b""
            while what not in seen:
                chunk = s.recv(4096)
                assert chunk, "the connection closed before " + what.decode()
                seen += chunk
        self.slow.sendall(b"GET /api/values HTTP/1.1\r\nHost: x\r\nX-Slow: ")
        self.sending = True
        self.thread = threading.Thread(target=self.trickle, daemon=True)
        self.thread.start()

    def trickle(self):
        try:
            while self.sending:
                self.slow.send(b"a")
                time.sleep(0.1)
        except OSError:
            pass  # the server closed it

    def assert_closed(self):
        """Each connection ends from the server's side, with no answer to the slow request."""
        for name, s in (("idle", self.idle), ("events", self.events), ("slow", self.slow)):
            rest = b""
            try:
                while chunk := s.recv(65536):
                    rest += chunk
            except ConnectionResetError:
                pass
            except socket.timeout:
                raise AssertionError("the %s connection was left open" % name)
            assert name != "slow" or not rest, rest

    def close(self):
        self.sending = False
        for s in (self.idle, self.events, self.slow):
            s.close()


def test_stop():
    plant = Plant("Port={port}")
    held = None
    try:
        eventually("a cycle", lambda: plant.cycles() >= 1)
        # A reload that turns the page off: every connection ends, the
        # acquisition goes on.
        held = HeldConnections(plant.port)
        plant.write_settings("")
        plant.run.send_signal(signal.SIGHUP)
        held.assert_closed()
        held.close()
        assert plant.get("/api/values") is None
        output = os.path.join(plant.folder, "NoName.xml")
        written = os.stat(output).st_mtime_ns
        eventually("another cycle", lambda: os.stat(output).st_mtime_ns > written)
        # Served again, then a stop: the runner ends as it always does.
        plant.write_settings("Port=%d" % plant.port)
        plant.run.send_signal(signal.SIGHUP)
        eventually("the page again", lambda: plant.cycles() >= 1)
        held = HeldConnections(plant.port)
        plant.run.terminate()
        out, err = plant.run.communicate(timeout=LIMIT)
        assert plant.run.returncode == 0, err
        assert out.splitlines()[-1].startswith("Ciclo ") and err.count("Impostazioni ricaricate") == 2, (out, err)
        held.assert_closed()
    finally:
        if held:
            held.close()
        plant.close()


def screenshot(path):
    plant = Plant("Port={port}")
    browser = Browser()
    try:
        eventually("three cycles", lambda: plant.cycles() >= 3)
        browser.page("Emulation.setDeviceMetricsOverride",
                     {"width": 412, "height": 915, "deviceScaleFactor": 1, "mobile": True})
        browser.page("Page.navigate", {"url": plant.url("/")})
        eventually("the values", lambda: browser.value(CELL % ("Vac", "value")))
        time.sleep(2)
        shot = browser.page("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True})
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
    finally:
        browser.close()
        plant.close()


if __name__ == "__main__":
    what = sys.argv[2]
    if what in ("page", "screenshot") and not shutil.which("chromium"):
        print("skipped: Chromium is not installed (scripts/install-deps.sh --test installs it)")
        sys.exit(77)
    if what == "screenshot":
        screenshot(sys.argv[3])
    else:
        {"page": test_page, "metrics": test_metrics, "abuse": test_abuse, "access": test_access,
         "stop": test_stop}[what]()
    print("web %s: 1 passed, 0 failed" % what)
