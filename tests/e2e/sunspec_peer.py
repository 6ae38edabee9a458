#!/usr/bin/python3
"""The scan and the decoder against an independent Modbus TCP server
(pymodbus 3.0): a SunSpec map whose registers are packed by Python's struct
(models 1, 103, 113 and 122, every type the scan writes a line for) and a
device identification. The fragment of the scan, pasted into a request list
with its units, must read in one cycle the values struct packed; the decoder must show the values
struct packed in each word order under the register field that reads them.

    sunspec_peer.py BIN_DIR"""

import asyncio
import logging
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
from decimal import Decimal
from pathlib import Path

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.device import ModbusDeviceIdentification
from pymodbus.server import StartAsyncTcpServer

NODE = 7
BIN = Path(sys.argv[1])
NAN16 = {"i": 0x8000, "u": 0xFFFF, "e": 0xFFFF, "f": 0x8000, "p": 0x8000, "b": 0xFFFF,
         "U": 0xFFFF, "a": 0, "A": 0, "s": 0}
failures = []


def words(fmt, *values):
    data = struct.pack(">" + fmt, *values)
    return list(struct.unpack(">%dH" % (len(data) // 2), data))


def model(registers, address, model_id, types, values):
    """ID, L, every register at its type's 'not implemented' pattern, then
    the values by offset from the ID (a float32 point's pattern is NaN)."""
    registers[address:address + 2] = [model_id, len(types)]
    run = 0
    for i, t in enumerate(types):
        run = run + 1 if t == "F" else 0
        registers[address + 2 + i] = NAN16[t] if t != "F" else words("f", float("nan"))[1 - run % 2]
    for offset, regs in values.items():
        registers[address + offset:address + offset + len(regs)] = regs


def float32_text(value):
    """The shortest decimal that reads back as the same float32."""
    for digits in range(1, 10):
        text = "%.*g" % (digits, value)
        if struct.unpack(">f", struct.pack(">f", float(text)))[0] == value:
            return format(Decimal(text).normalize(), "f")
    return repr(value)


def scaled(raw, sf):
    return format(Decimal(raw).scaleb(sf).normalize(), "f")


def sunspec_map():
    r = [0] * 40300
    r[40000:40002] = words("4s", b"SunS")
    text = lambda s, n: words("%ds" % (2 * n), s.encode())
    model(r, 40002, 1, "s" * 64 + "up",
          {2: text("PeerMaker", 16), 18: text("PM-3", 16), 50: text("SN123", 16), 66: [NODE]})
    f32 = lambda v: words("f", v)
    # Model 103: uint16, int16, scale factors, acc32, enum16, bitfield32.
    model(r, 40070, 103, "uuuufuuuuuufifufifififaafufufifiiiifeebbbbbbbbbbbb",
          {2: words("H", 1234), 6: words("h", -2), 10: words("H", 2301), 13: words("h", -1),
           14: words("h", -1500), 15: words("h", 1), 16: words("H", 5002), 17: words("h", -2),
           24: words("I", 3000000001), 26: words("h", 0), 33: words("h", -52),
           37: words("h", -1), 38: words("H", 4), 40: words("I", 65538)})
    # Model 113: float32.
    model(r, 40122, 113, "F" * 46 + "eebbbbbbbbbbbb",
          {2: f32(12.5), 16: f32(229.7), 22: f32(-4321.5), 24: f32(49.99), 32: f32(1.5e6),
           48: words("H", 4)})
    # Model 122: bitfield16, acc64, uint32.
    model(r, 40184, 122, "uuuAAAAAAAAAAAAAAAAAAAAAAAAifufbbbbssssUUuuf",
          {2: words("H", 1), 5: words("Q", 123456789012), 41: words("I", 4000000000)})
    r[40230:40232] = [0xFFFF, 0]
    expected = {
        "Mn": "PeerMaker", "Md": "PM-3", "SN": "SN123", "DA": str(NODE),
        "A": scaled(1234, -2), "PhVphA": scaled(2301, -1), "W": scaled(-1500, 1),
        "Hz": scaled(5002, -2), "WH": str(3000000001), "TmpCab": scaled(-52, -1), "St": "4",
        "Evt1": str(65538), "St_2": "4",
        "A_2": float32_text(struct.unpack(">f", struct.pack(">f", 12.5))[0]),
        "PhVphA_2": float32_text(struct.unpack(">f", struct.pack(">f", 229.7))[0]),
        "W_2": float32_text(struct.unpack(">f", struct.pack(">f", -4321.5))[0]),
        "Hz_2": float32_text(struct.unpack(">f", struct.pack(">f", 49.99))[0]),
        "WH_2": float32_text(struct.unpack(">f", struct.pack(">f", 1.5e6))[0]),
        "PVConn": "1", "ActWh": str(123456789012), "Tms": str(4000000000)}
    # The decoder's registers: float64 abcdefgh at 100, float32 dcba at 200,
    # float32 cdab at 300 with an int32 abcd reading of the same bytes.
    r[100:104] = words("d", 1234.5678)
    r[200:202] = list(struct.unpack(">2H", struct.pack("<f", 230.1)))
    r[202:204] = [0, 0]
    r[300:302] = words("f", 50.02)[::-1]
    r[302:304] = [0, 0]
    return r, expected


def serve(registers, port, started):
    block = ModbusSequentialDataBlock(0, registers)
    context = ModbusServerContext(slaves={NODE: ModbusSlaveContext(hr=block, zero_mode=True)},
                                  single=False)
    identity = ModbusDeviceIdentification(info_name={
        "VendorName": "PeerMaker", "ProductCode": "PM-3", "MajorMinorRevision": "1.2"})
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    loop.call_soon(started.set)
    loop.run_until_complete(StartAsyncTcpServer(context, identity=identity,
                                                address=("127.0.0.1", port)))


def check(what, got, wanted):
    if got != wanted:
        failures.append("%s: %r, expected %r" % (what, got, wanted))


def run(folder, *args):
    return subprocess.run([str(BIN / "tarvel-headless"), "--folder", folder, *args],
                          capture_output=True, text=True, timeout=60)


def main():
    logging.disable(logging.CRITICAL)  # pymodbus's notes on closed connections
    registers, expected = sunspec_map()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    started = threading.Event()
    threading.Thread(target=serve, args=(registers, port, started), daemon=True).start()
    started.wait(10)
    with tempfile.TemporaryDirectory() as folder:
        profile = ("[Ports]\nCOM1=mbtcp://127.0.0.1:%d\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\n"
                   "TimeOut=2000\n[Export]\nOut=out.xml\n" % port)
        Path(folder, "Tarvel.INI").write_text(profile)
        for _ in range(50):  # the server listens once its loop runs
            scan = run(folder, "--scan", "--nodes", "%d-%d" % (NODE, NODE))
            if "1 dispositivi" in scan.stdout:
                break
        check("scan exit", scan.returncode, 0)
        check("comment", re.findall(r"^; nodo 7: .*$", scan.stdout, re.M),
              ["; nodo 7: PeerMaker PM-3 1.2; SunSpec a 40000: 1 common, "
               "103 inverter, three phase, 113 inverter, three phase, float, 122 status"])
        Path(folder, "Tarvel.INI").write_text(profile + scan.stdout)
        cycle = run(folder, "--cycles", "1")
        check("cycle", re.sub(r"durata \d+", "durata N", cycle.stdout.split(",  file")[0]).split(
            ", durata")[0], "Ciclo 1: righe eseguite %d, letture fallite 0, senza valore 0"
              % len(expected))
        xml = Path(folder, "out.xml").read_text() if Path(folder, "out.xml").exists() else ""
        check("values", dict(re.findall(r"<(\w+)>([^<]*)</\1>", xml)), expected)
        decode = run(folder, "--decode", "%d,3,100" % NODE).stdout
        rows = dict(re.findall(r"^7,3,(\S+)\t[^\t]+\t(.*)$", decode, re.M))
        check("float64 abcdefgh", rows.get("100D"), "1234.5678")
        decode = run(folder, "--decode", "%d,3,200" % NODE).stdout
        rows = dict(re.findall(r"^7,3,(\S+)\t[^\t]+\t(.*)$", decode, re.M))
        check("float32 dcba", rows.get("201F-S"), float32_text(struct.unpack(">f", struct.pack(">f", 230.1))[0]))
        decode = run(folder, "--decode", "%d,3,300" % NODE).stdout
        rows = dict(re.findall(r"^7,3,(\S+)\t[^\t]+\t(.*)$", decode, re.M))
        cdab = struct.pack(">2H", *registers[300:302])
        check("float32 cdab", rows.get("301F-"), float32_text(struct.unpack(">f", struct.pack(">f", 50.02))[0]))
        check("int32 abcd", rows.get("300+"), str(struct.unpack(">i", cdab)[0]))
        check("uint32 abcd", rows.get("300+&"), str(struct.unpack(">I", cdab)[0]))
        check("uint16", rows.get("300&"), str(struct.unpack(">H", cdab[:2])[0]))
        check("int16 swapped", rows.get("300S"), str(struct.unpack("<h", cdab[:2])[0]))
    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("the scan, its fragment and the decoder agree with struct")
    return 1 if failures else 0


sys.exit(main())
