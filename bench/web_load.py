#!/usr/bin/python3
"""The web server against a running plant: tarvel-headless on tarvel-sim.

    bench/web_load.py BIN_DIR [SECONDS]

Phase 1, no client, then phase 2, 20 clients each asking /metrics and
/api/values once a second: the cycle durations of each (the "durata" of the
cycle lines), same run. Phase 3, one request a second: the CPU time of the
server's threads (named tarvel-web) over the phase, as a share of one core.
Only 127.0.0.1 is used.
"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

BIN = sys.argv[1]
SECONDS = int(sys.argv[2]) if len(sys.argv) > 2 else 30
TICK = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


folder = tempfile.mkdtemp(prefix="tarvel-webload-")
port = free_port()
with open(folder + "/plant.map", "w") as f:
    f.write("node 1\n" + "".join("input %d %d\n" % (i, 1000 + i) for i in range(20)))
lines = "".join("\n%03d=1,4,%d,1;Valore%d" % (i + 1, i, i) for i in range(20))
with open(folder + "/Tarvel.INI", "w") as f:
    f.write("[Ports]\nCOM1=%s/tty\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\nTimeOut=300\n[Web]\nPort=%d\n"
            "[Parameters]\nFirt=1\nLast=20\nInterval=100%s\n" % (folder, port, lines))
sim = subprocess.Popen([BIN + "/tarvel-sim", "--map", folder + "/plant.map", "--link", folder + "/tty"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
while not os.path.exists(folder + "/tty"):
    time.sleep(0.05)
run = subprocess.Popen([BIN + "/tarvel-headless", "--folder", folder], stdout=subprocess.PIPE, text=True)
durations = []


def read_cycles():
    for line in run.stdout:
        if line.startswith("Ciclo "):
            durations.append(int(line.split("durata ")[1].split(" ms")[0]))


threading.Thread(target=read_cycles, daemon=True).start()


def server_cpu():
    total = 0
    for task in os.listdir("/proc/%d/task" % run.pid):
        with open("/proc/%d/task/%s/stat" % (run.pid, task)) as f:
            stat = f.read()
        if "(tarvel-web)" in stat:
            fields = stat.rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
    return total / TICK


def poll(stop, paths):
    while not stop.is_set():
        for p in paths:
            try:
                urllib.request.urlopen("http://127.0.0.1:%d%s" % (port, p), timeout=5).read()
            except OSError:
                pass
        stop.wait(1.0)


def phase(clients, paths):
    stop = threading.Event()
    threads = [threading.Thread(target=poll, args=(stop, paths)) for _ in range(clients)]
    for t in threads:
        t.start()
    first, cpu, start = len(durations), server_cpu(), time.monotonic()
    time.sleep(SECONDS)
    seen, used = durations[first:], (server_cpu() - cpu) / (time.monotonic() - start)
    stop.set()
    for t in threads:
        t.join()
    return seen, used


time.sleep(3)  # the first cycles
none, _ = phase(0, [])
twenty, busy = phase(20, ["/metrics", "/api/values"])
_, cpu = phase(1, ["/metrics"])
for name, d in (("no client", none), ("20 clients", twenty)):
    print("%-11s cycles %3d  duration median %.0f ms, mean %.1f ms, stdev %.1f ms" %
          (name, len(d), statistics.median(d), statistics.mean(d), statistics.pstdev(d)))
print("server CPU at 40 requests/s: %.3f %% of a core" % (busy * 100))
print("server CPU at 1 request/s: %.3f %% of a core (clock ticks of %.0f ms)" % (cpu * 100, 1000 / TICK))
run.terminate()
sim.terminate()
run.wait()
sim.wait()
