# SPDX-License-Identifier: GPL-3.0-or-later
"""evm5170ctl serve driven by PyVISA's pure-Python backend over loopback, against the simulated
board, whose trace shows what reached the board."""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import pyvisa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_support import CTL, REMOTE, Server, closed_by_server, raw_connection, read_line, reset, wait_for  # noqa: E402

POWER_ON = [0xC0, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00] + [0xFF] * 9 + [0x00] * 8 + [0xD7] * 7


def write_trace(reg, value):
    return f"_writeData(channel=0, reg=0x{reg:02X}, value=0x{value:02X}) = 0"


class ServeTest(unittest.TestCase):
    rm = None

    @classmethod
    def setUpClass(cls):
        cls.rm = pyvisa.ResourceManager("@py")

    @classmethod
    def tearDownClass(cls):
        cls.rm.close()

    def start(self, *args, **kwargs):
        server = Server(*args, **kwargs)
        self.addCleanup(server.__exit__)
        return server

    def instrument(self, server):
        inst = self.rm.open_resource(server.resource, read_termination="\n", write_termination="\n", timeout=10000)
        self.addCleanup(inst.close)
        return inst

    def errors(self, inst):
        """Every queued error, oldest first, up to "No error"."""
        out = []
        for _ in range(100):
            e = inst.query("SYST:ERR?")
            if e == '0,"No error"':
                return out
            out.append(e)
        self.fail("the error queue never emptied")

    def remote_env(self, server, **extra):
        """The tool's environment to reach the server through the remote board library."""
        env = dict(os.environ)
        for name in ("OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_STATE", "OSTREL_SIM_TRACE"):
            env.pop(name, None)
        env.update({"EVM_BOARD_LIBRARY": REMOTE, "EVM_BOARD_REMOTE": f"127.0.0.1:{server.port}",
                    "XDG_CONFIG_HOME": server.dir.name, "EVM_BOARD_REMOTE_TIMEOUT_MS": "2000"})
        env.update(extra)
        return env

    def board_lines(self, server, since):
        """The trace lines after the first `since`, those of the server's own start-up."""
        return server.trace()[since:]

    def test_identity_and_status(self):
        server = self.start()
        inst = self.instrument(server)
        maker, model, serial, version = inst.query("*IDN?").split(",")
        self.assertIn("CDX5170 EVM", model)
        self.assertEqual(serial, "1")  # the board port
        self.assertRegex(version, r"^\d+\.\d+\.\d+$")
        self.assertTrue(maker)
        self.assertEqual(inst.query("*OPC?"), "1")
        self.assertEqual(inst.query("*TST?"), "0")
        self.assertEqual(inst.query("SYST:VERS?"), "1999.0")
        self.assertEqual(inst.query("*ESR?"), "0")
        self.assertEqual(inst.query("*STB?"), "0")
        inst.write("BOGUS")
        inst.write("*OPC")
        self.assertEqual(inst.query("*STB?"), "4")  # an error is queued
        self.assertEqual(inst.query("*ESR?"), str(0x20 | 0x01))  # command error, operation complete
        self.assertEqual(inst.query("*ESR?"), "0")  # read and cleared
        inst.write("*ESE 32;REG? 0x30")
        self.assertEqual(inst.query("*ESE?"), "32")
        self.assertEqual(inst.query("*STB?"), "4")  # -222 is an execution error, not enabled
        inst.write("NOPE")
        self.assertEqual(inst.query("*STB?"), str(4 | 32))
        inst.write("*SRE 32")
        self.assertEqual(inst.query("*STB?"), str(4 | 32 | 64))
        inst.write("*CLS")
        self.assertEqual(inst.query("SYST:ERR:COUN?"), "0")
        self.assertEqual(inst.query("*STB?"), "0")

    def test_registers_and_numbers(self):
        server = self.start()
        start = len(server.trace())
        inst = self.instrument(server)
        self.assertEqual(inst.query("REG? 0x46"), str(POWER_ON[6]))
        inst.write("REG 0x46,#H2A")
        inst.write("register:value 71,0x05")
        inst.write("Reg:Val #H48,#B1010")
        inst.write("REGISTER #h49,#Q17")
        self.assertEqual(inst.query("REG:VAL? 70"), "42")
        self.assertEqual(inst.query("REGISTER? 0x47"), "5")
        self.assertEqual(inst.query("reg? #H48"), "10")
        self.assertEqual(inst.query("REG? 73"), "15")
        values = [int(v) for v in inst.query("REG:ALL?").split(",")]
        expected = list(POWER_ON)
        expected[6], expected[7], expected[8], expected[9] = 42, 5, 10, 15
        self.assertEqual(values, expected)
        lines = self.board_lines(server, start)
        self.assertEqual([l for l in lines if l.startswith("_writeData")],
                         [write_trace(0x46, 0x2A), write_trace(0x47, 5), write_trace(0x48, 10), write_trace(0x49, 15)])
        self.assertEqual(sum(l.startswith("_readData") for l in lines), 5 + 31)
        # Out of range, not a number, a long form that is not one: nothing reaches the board.
        for command in ("REG 0x3F,1", "REG 0x5F,1", "REG 0x46,256", "REG 0x46,-1", "REG 0x46,99999999999"):
            inst.write(command)
        inst.write("REG 0x46,ten")
        inst.write("REGI 0x46,1")
        inst.write("REG:VALUE 0x46")
        inst.write("REG 0x46,1,2")
        self.assertEqual([e.split(",")[0] for e in self.errors(inst)],
                         ["-222"] * 5 + ["-102", "-113", "-109", "-108"])
        self.assertFalse([l for l in self.board_lines(server, start) if l.startswith("_writeData")][4:])

    def test_fields_as_the_tool_sets_them(self):
        server = self.start()
        inst = self.instrument(server)
        start = len(server.trace())
        inst.write("FIELD DEMP,2")
        self.assertEqual(inst.query("FIELD? demp"), "2")
        self.assertEqual(self.board_lines(server, start)[:2],
                         ["_readData(channel=0, reg=0x46) = 0 value=0x00", write_trace(0x46, 0x20)])
        # A field of 0x40 never starts a reset: MRST and SRST are written as 1.
        self.assertEqual(inst.query("FIELD SRDA,2;*OPC?"), "1")
        self.assertIn(write_trace(0x40, 0xC2), server.trace())
        self.assertEqual(inst.query("FIELD? ZERO1"), "1")  # flags can be read
        start = len(server.trace())
        inst.write("FIELD ZERO1,0")
        inst.write("FIELD MRST,0")
        inst.write("FIELD DEMP,4")
        inst.write("FIELD NOSUCH,1")
        errors = self.errors(inst)
        self.assertEqual(errors[0], '-224,"Illegal parameter value;ZERO1 is a status flag of the chip and cannot be set"')
        self.assertTrue(errors[1].startswith('-224,"Illegal parameter value;MRST is a reset trigger'), errors[1])
        self.assertTrue(errors[2].startswith("-222,"), errors[2])
        self.assertTrue(errors[3].startswith('-224,"Illegal parameter value;unknown field'), errors[3])
        self.assertFalse([l for l in self.board_lines(server, start) if l.startswith("_writeData")])

    def test_python_export_applies_and_checks_the_setup(self):
        # A chip set up on the bench, kept in a state file; the tool exports it as a PyVISA script.
        work = self.start_dir()
        state = os.path.join(work, "state.csv")
        bench = list(POWER_ON)
        for reg, value in ((0x40, 0xC2), (0x41, 0x53), (0x46, 0xBA), (0x48, 0x80), (0x53, 0x2A), (0x57, 0xC1), (0x59, 0xE0)):
            bench[reg - 0x40] = value
        with open(state, "w", newline="") as f:
            f.write("".join(f"0x{0x40 + i:02X}, 0x{v:02X}\r\n" for i, v in enumerate(bench)))
        env = dict(os.environ, EVM_BOARD_LIBRARY=os.environ["OSTREL_SIM_PATH"], OSTREL_SIM_STATE=state, XDG_CONFIG_HOME=work)
        env.pop("OSTREL_SIM_TRACE", None)
        script = os.path.join(work, "setup.py")
        subprocess.run([CTL, "export", "--format", "python", script], env=env, check=True, timeout=60)
        dump = subprocess.run([CTL, "dump"], env=env, check=True, capture_output=True, text=True, timeout=60).stdout
        as_read = [int(line.split(", ")[1], 16) for line in dump.splitlines()]

        # Run with Debian's Python against a server on a chip at its power-on values.
        server = self.start()
        start = len(server.trace())
        run = subprocess.run(["/usr/bin/python3", script, server.resource], capture_output=True, text=True, timeout=120)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        self.assertEqual(run.stdout, "applied and checked 29 registers\n")
        inst = self.instrument(server)
        self.assertEqual([int(v) for v in inst.query("REG:ALL?").split(",")], as_read)
        writes = [l for l in self.board_lines(server, start) if l.startswith("_writeData")]
        self.assertEqual(writes, [write_trace(0x40 + i, v) for i, v in enumerate(bench) if 0x40 + i not in (0x45, 0x56)])

        # A server that refuses the writes fails the script, naming the refusal.
        read_only = self.start("--read-only")
        run = subprocess.run(["/usr/bin/python3", script, read_only.resource], capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 2)
        self.assertIn('-203,"Command protected;the server is read-only"', run.stderr)

    def start_dir(self):
        d = tempfile.TemporaryDirectory(prefix="evm-export-")
        self.addCleanup(d.cleanup)
        return d.name

    def test_lines_and_reset(self):
        server = self.start()
        inst = self.instrument(server)
        inst.write("LINE 53,1;LINE 0,0")
        inst.write("LINE 64,1")
        inst.write("LINE 4,256")
        self.assertEqual([e.split(",")[0] for e in self.errors(inst)], ["-222", "-222"])
        trace = server.trace()
        self.assertIn("_writeData(channel=7, pin=53, value=1) = 0", trace)
        self.assertIn("_writeData(channel=7, pin=0, value=0) = 0", trace)
        self.assertEqual(sum("channel=7" in l for l in trace), 2)

        self.assertEqual(inst.query("REG 0x46,0x2A;REG 0x40,0xC1;*OPC?"), "1")
        start = len(server.trace())
        self.assertEqual(inst.query("*RST;*OPC?"), "1")
        self.assertEqual(self.board_lines(server, start)[:2],
                         ["_readData(channel=0, reg=0x40) = 0 value=0xC1", write_trace(0x40, 0x41)])
        self.assertEqual([int(v) for v in inst.query("REG:ALL?").split(",")], POWER_ON)

    def test_board_failures_are_hardware_errors(self):
        server = self.start(env={"OSTREL_SIM_FAIL": "write=0x0101,pin=0x0105,read@1=0x0103"})
        inst = self.instrument(server)
        self.assertEqual(inst.query("REG? 0x41"), "0")
        inst.write("REG 0x46,1")
        inst.write("LINE 53,1")
        inst.write("REG? 0x46;*OPC?")  # the failed query answers nothing; the rest of the line runs
        self.assertEqual(inst.read(), "1")
        self.assertEqual(self.errors(inst), ['-240,"Hardware error;WRERR0101"', '-240,"Hardware error;SPERR0105"',
                                             '-240,"Hardware error;RDERR0103"'])

    def test_error_queue(self):
        server = self.start()
        inst = self.instrument(server)
        self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
        inst.write("FOO")
        inst.write("REG?")
        inst.write("*IDN? 1")
        inst.write("REG 0x46,1 2")
        inst.write("*RST?")
        self.assertEqual(inst.query("SYST:ERR:COUNT?"), "5")
        self.assertEqual(inst.query("SYSTEM:ERROR:NEXT?"), "-113,\"Undefined header;'FOO'\"")
        self.assertEqual(inst.query("syst:err?").split(",")[0], "-109")
        self.assertEqual(inst.query("SYST:ERR?").split(",")[0], "-108")
        self.assertEqual(inst.query("SYST:ERR?").split(",")[0], "-102")
        self.assertEqual(inst.query("SYST:ERR?").split(",")[0], "-113")
        self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
        # More errors than the queue holds: the first 31 in order, then "Queue overflow".
        for i in range(40):
            inst.write(f"REG 0x46,{300 + i}")
        errors = self.errors(inst)
        self.assertEqual(len(errors), 32)
        self.assertEqual([e.split(",")[0] for e in errors[:31]], ["-222"] * 31)
        self.assertIn("'300'", errors[0])
        self.assertIn("'330'", errors[30])
        self.assertEqual(errors[31], '-350,"Queue overflow"')
        # Every client has its own queue.
        other = self.instrument(server)
        inst.write("FOO")
        self.assertEqual(other.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(inst.query("SYST:ERR?").split(",")[0], "-113")

    def test_compound_lines(self):
        server = self.start()
        inst = self.instrument(server)
        self.assertEqual(inst.query("REG 0x46,10;REG? 0x46;:REG:ALL?;*OPC?"), "10;" + ",".join(
            str(v) for v in POWER_ON[:6] + [10] + POWER_ON[7:]) + ";1")
        # SCPI's path rule: after REG:VAL, VAL? is REG:VAL?; a header that does not fit is taken from the root.
        self.assertEqual(inst.query("REG:VAL 0x47,5;VAL? 0x47;ALL?;REG? 0x47"),
                         "5;" + ",".join(str(v) for v in POWER_ON[:6] + [10, 5] + POWER_ON[8:]) + ";5")
        self.assertEqual(inst.query("SYST:ERR?;ERR?;*IDN?").split(";")[:2],
                         ['0,"No error"', '0,"No error"'])
        # A command error ends the line there; an execution error does not.
        start = len(server.trace())
        inst.write("REG 0x48,1;BOGUS;REG 0x49,1")
        inst.write("REG 0x4A,1;REG 0x4B,999;REG 0x4C,1")
        self.assertEqual(inst.query("*OPC?"), "1")
        writes = [l for l in self.board_lines(server, start) if l.startswith("_writeData")]
        self.assertEqual(writes, [write_trace(0x48, 1), write_trace(0x4A, 1), write_trace(0x4C, 1)])
        self.assertEqual([e.split(",")[0] for e in self.errors(inst)], ["-113", "-222"])
        # Empty commands and CR LF endings are harmless.
        self.assertEqual(inst.query(";;REG? 0x48;\r"), "1")

    def test_oversized_line(self):
        server = self.start()
        inst = self.instrument(server)
        start = len(server.trace())
        inst.write("REG 0x46,1;" + "REG 0x47,2;" * 7000)  # 77 kB
        self.assertEqual(inst.query("*IDN?").split(",")[1], "CDX5170 EVM")
        self.assertEqual(self.errors(inst), ['-100,"Command error;line longer than 65536 bytes"'])
        self.assertEqual(self.board_lines(server, start), [])
        # A line of exactly 64 KiB is taken.
        line = "REG? 0x46" + " " * (65536 - 9)
        self.assertEqual(inst.query(line), "0")
        # The connection stays usable after a much longer line, too.
        inst.write("X" * 1_000_000)
        self.assertEqual(inst.query("REG? 0x46"), "0")
        self.assertEqual(len(self.errors(inst)), 1)

    def test_read_only(self):
        server = self.start("--read-only")
        inst = self.instrument(server)
        start = len(server.trace())
        for command in ("REG 0x46,1", "FIELD DEMP,1", "LINE 53,1", "*RST", "BOARD:CLOSE"):
            inst.write(command)
        # The queries a board library waits on still answer: no board, and the refusal's code.
        self.assertEqual(inst.query("BOARD:OPEN? 1,0x44"), "0")
        self.assertEqual(inst.query("BOARD:OPEN? 3,0"), "0")
        self.assertEqual(inst.query("BOARD:WRITE? 0,0x46,1"), str(0x020D))
        self.assertEqual(inst.query("REG? 0x46"), "0")
        self.assertEqual(inst.query("FIELD? DEMP"), "0")
        self.assertEqual(inst.query("BOARD:READ? 0,0x46"), "0,0")
        self.assertEqual(self.errors(inst), ['-203,"Command protected;the server is read-only"'] * 8)
        # The remote tool is told why it finds no board.
        tool = subprocess.run([CTL, "get", "DEMP"], env=self.remote_env(server), capture_output=True, text=True,
                              timeout=60)
        self.assertEqual(tool.returncode, 2)
        self.assertEqual(tool.stderr, f"evm5170ctl: No EVM was found (SPI): 127.0.0.1:{server.port}: "
                                      "the server is read-only\n")
        self.assertEqual(self.board_lines(server, start), ["_readData(channel=0, reg=0x46) = 0 value=0x00"] * 3)

    def test_board_commands(self):
        server = self.start(env={"OSTREL_SIM_IIC_ADDRESS": "0x45"})
        inst = self.instrument(server)
        start = len(server.trace())
        self.assertEqual(inst.query("BOARD:VER?"), str(0x1000))
        self.assertEqual(inst.query("BOARD:OPEN? 1,0x44"), "1")
        self.assertEqual(inst.query("BOARD:READ? 0,0x46"), f"{0x0101},0")  # no acknowledge at 0x44
        self.assertEqual(inst.query("BOARD:OPEN? 1,0x45,1"), "1")
        self.assertEqual(inst.query("BOARD:READ? 0,0x46"), "0,0")
        self.assertEqual(inst.query("BOARD:WRITE? 0,0x46,0x2A"), "0")
        self.assertEqual(inst.query("BOARD:READ? 0,0x46"), "0,42")
        self.assertEqual(inst.query("BOARD:WRITE? 7,53,1"), "0")
        self.assertEqual(inst.query("BOARD:READ? 7,0x46"), "4,0")  # the library's own codes pass through
        self.assertEqual(inst.query("BOARD:WRITE? 0,0x60,1"), "5")
        # Giving up the hold leaves the board open for everyone: no library call.
        inst.write("BOARD:CLOSE")
        self.assertEqual(inst.query("BOARD:READ? 0,0x46"), "0,42")
        self.assertEqual(self.errors(inst), [])
        self.assertEqual(self.board_lines(server, start), [
            "_getVer() = 0x1000",
            "_close() = 0",
            "_init(port=0, interface=1, address=0x44, word56=3) = 1",
            "_readData(channel=0, reg=0x46) = 0x0101 value=0x00",
            "_close() = 0",
            "_init(port=1, interface=1, address=0x45, word56=3) = 1",
            "_readData(channel=0, reg=0x46) = 0 value=0x00",
            write_trace(0x46, 0x2A),
            "_readData(channel=0, reg=0x46) = 0 value=0x2A",
            "_writeData(channel=7, pin=53, value=1) = 0",
            "_readData(channel=7, reg=0x46) = 0x0004 value=0x00",
            "_writeData(channel=0, reg=0x60, value=0x01) = 0x0005",
            "_readData(channel=0, reg=0x46) = 0 value=0x2A",
        ])

    def test_six_clients_at_once(self):
        server = self.start()
        failures = []

        def client(reg):
            try:
                inst = self.rm.open_resource(server.resource, read_termination="\n", write_termination="\n",
                                             timeout=20000)
                try:
                    for i in range(100):
                        value = (reg * 37 + i) % 256
                        inst.write(f"REG {reg},{value}")
                        answer = inst.query(f"REG? {reg}")
                        if answer != str(value):
                            failures.append(f"0x{reg:02X}: wrote {value}, read {answer}")
                finally:
                    inst.close()
            except Exception as e:  # noqa: BLE001 - reported by the main thread
                failures.append(f"0x{reg:02X}: {e!r}")

        threads = [threading.Thread(target=client, args=(0x47 + k,)) for k in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        self.assertFalse([t for t in threads if t.is_alive()], "a client hung")
        self.assertEqual(failures, [])
        writes = [l for l in server.trace() if l.startswith("_writeData")]
        self.assertEqual(len(writes), 600)
        inst = self.instrument(server)
        self.assertEqual([int(v) for v in inst.query("REG:ALL?").split(",")][7:13],
                         [(reg * 37 + 99) % 256 for reg in range(0x47, 0x4D)])

    def test_more_clients_than_allowed_are_refused(self):
        server = self.start("--max-clients", "2")
        first, second = self.instrument(server), self.instrument(server)
        third = raw_connection(server.port)
        self.addCleanup(third.close)
        self.assertEqual(read_line(third), "refused: the server is full: 2 of 2 clients are connected")
        self.assertIsNone(read_line(third))  # then closed
        self.assertEqual(first.query("*OPC?"), "1")
        self.assertEqual(second.query("*OPC?"), "1")
        second.close()
        # A place freed is taken again; wait for the server to see the close.
        deadline = time.monotonic() + 20
        while True:
            s = raw_connection(server.port)
            try:
                s.sendall(b"*OPC?\n")
                answer = read_line(s)
            except ConnectionResetError:  # refused with the query unread
                answer = None
            s.close()
            if answer == "1" or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(answer, "1")

    def test_option_numbers_are_the_programs_integers(self):
        # As every number the tool reads: decimal, or hexadecimal after 0x, $ or x.
        server = self.start("--max-clients", "$1", "--idle-timeout", "x0", listen="127.0.0.1:0x0")
        first = self.instrument(server)
        second = raw_connection(server.port)
        self.addCleanup(second.close)
        self.assertEqual(read_line(second), "refused: the server is full: 1 of 1 clients are connected")
        self.assertEqual(first.query("*OPC?"), "1")
        for option, bad, message in (("--max-clients", "2x", "--max-clients takes a number 1..1000"),
                                     ("--max-clients", "$", "--max-clients takes a number 1..1000"),
                                     ("--idle-timeout", "1.5", "--idle-timeout takes seconds 0..604800 (0: never)")):
            tool = subprocess.run([CTL, "serve", option, bad], capture_output=True, text=True, timeout=60,
                                  env=dict(os.environ, EVM_BOARD_LIBRARY=os.environ["OSTREL_SIM_PATH"]))
            self.assertEqual((tool.returncode, tool.stderr), (2, f"evm5170ctl: {message}, not '{bad}'\n"))

    def test_every_line_before_a_close_runs(self):
        server = self.start()
        start = len(server.trace())
        # Far more lines than the server runs at a turn, sent at once, then the connection closed.
        lines = [(0x41 + i % 30, i % 256) for i in range(2000)]
        sent = raw_connection(server.port)
        sent.sendall(b"".join(b"REG %d,%d\n" % line for line in lines))
        sent.close()
        expected = [write_trace(reg, value) for reg, value in lines]
        deadline = time.monotonic() + 60
        while True:
            writes = [l for l in self.board_lines(server, start) if l.startswith("_writeData")]
            if writes == expected or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(writes, expected)
        # One that only half-closes still gets its answers, then the server's end.
        half = raw_connection(server.port)
        self.addCleanup(half.close)
        half.sendall(b"*OPC?\n*OPC?\n")
        half.shutdown(socket.SHUT_WR)
        answers = b""
        while chunk := half.recv(4096):
            answers += chunk
        self.assertEqual(answers, b"1\n1\n")

    def test_slow_client_holds_up_nobody(self):
        server = self.start()
        # A client that disconnects in the middle of a line changes nothing.
        cut = raw_connection(server.port)
        cut.sendall(b"REG 0x47,1")
        cut.close()
        # Queries a client never reads the answers of, until its connection pushes back.
        slow = raw_connection(server.port)
        self.addCleanup(slow.close)
        slow.setblocking(False)
        chunk = b"*IDN?\n" * 10000
        sent, blocked_since = 0, None
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and sent < 20_000_000:
            try:
                sent += slow.send(chunk)
                blocked_since = None
            except BlockingIOError:
                blocked_since = blocked_since or time.monotonic()
                if time.monotonic() - blocked_since > 1:
                    break
                time.sleep(0.01)
        self.assertIsNotNone(blocked_since, "the server read everything the slow client sent")
        # Another client is still served while the slow one's answers pile up.
        inst = self.instrument(server)
        for _ in range(20):
            self.assertEqual(inst.query("REG? 0x47"), "255")
        status, err = server.stop()
        self.assertEqual(status, 0, err)
        self.assertFalse([l for l in server.trace() if l.startswith("_writeData")])

    def test_stops_cleanly_on_signals(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                server = self.start()
                inst = self.instrument(server)
                self.assertEqual(inst.query("*OPC?"), "1")
                status, err = server.stop(sig)
                self.assertEqual(status, 0, err)
                self.assertEqual(err, "")
                trace = server.trace()
                self.assertEqual(trace[0], "_init(port=0, interface=3, address=0x00, word56=3) = 1")
                self.assertEqual(trace.count("_close() = 0"), 1)
                self.assertEqual(trace[-1], "_close() = 0")

    def test_without_a_board_it_serves_and_opens_later(self):
        server = self.start(env={"OSTREL_SIM_BOARD": "absent"})
        inst = self.instrument(server)
        self.assertEqual(inst.query("*IDN?").split(",")[2], "0")
        self.assertEqual(inst.query("BOARD:OPEN? 3,0"), "0")
        self.assertEqual(inst.query("BOARD:READ? 0,0x46"), f"{0x0102},0")
        status, err = server.stop()
        self.assertEqual(status, 0)
        self.assertIn("No EVM was found", err)

    def test_clients_share_the_board_by_holds(self):
        server = self.start()
        start = len(server.trace())
        reader = self.instrument(server)
        a, b = self.instrument(server), self.instrument(server)

        def lines():
            return [l for l in self.board_lines(server, start) if not l.startswith("_readData(channel=0, reg=0x46)")]

        self.assertEqual(reader.query("REG? 0x46"), "0")
        self.assertEqual(a.query("BOARD:OPEN? 3,0"), "1")  # the board's own choice: joined
        self.assertEqual(b.query("BOARD:OPEN? 1,0x44"), "0")  # another, while A holds it
        self.assertEqual(b.query("SYST:ERR?"), '-221,"Settings conflict;the board is held under SPI by 1 client"')
        self.assertEqual(lines(), [])
        a.write("BOARD:CLOSE")  # only A's hold
        self.assertEqual(reader.query("REG? 0x46"), "0")
        self.assertEqual(b.query("BOARD:OPEN? 1,0x44,1"), "1")  # nobody else holds it: reopened
        self.assertEqual(a.query("BOARD:OPEN? 3,0"), "0")
        self.assertIn("held under IIC at 0x44 by 1 client", a.query("SYST:ERR?"))
        self.assertEqual(reader.query("REG? 0x46"), "0")
        b.close()  # a client that goes gives up its hold
        self.assertEqual(wait_for(lambda: a.query("BOARD:OPEN? 3,0") == "1" or None, what="B's hold to go"), True)
        self.assertEqual(reader.query("REG? 0x46"), "0")
        self.assertEqual(lines(), ["_close() = 0", "_init(port=1, interface=1, address=0x44, word56=3) = 1",
                                   "_close() = 0", "_init(port=0, interface=3, address=0x00, word56=3) = 1"])
        status, err = server.stop()
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(server.trace().count("_close() = 0"), 3)

    def test_remote_tool_beside_a_reading_client(self):
        server = self.start()
        reader = self.instrument(server)
        self.assertEqual(reader.query("REG? 0x46"), "0")
        for args in (["set", "DEMP", "2"], ["get", "DEMP"], ["info"]):
            tool = subprocess.run([CTL, *args], env=self.remote_env(server), capture_output=True, text=True, timeout=60)
            self.assertEqual((tool.returncode, tool.stderr), (0, ""), args)
            self.assertEqual(reader.query("REG? 0x46"), "32")  # the tool's end took nothing from the reader
        self.assertEqual(server.trace().count("_close() = 0"), 0)
        self.assertEqual(server.trace().count("_init(port=0, interface=3, address=0x00, word56=3) = 1"), 1)

    def test_other_protocols_close_at_once(self):
        server = self.start()
        start = len(server.trace())
        requests = [
            # What curl -X POST --data-binary sends: the body's lines would be commands.
            b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: curl/7.88.1\r\nContent-Length: 28\r\n\r\n"
            b"\nREG 0x46,0xA5\nLINE 5,1\n",
            b"GET /?REG%200x46,1 HTTP/1.1\r\nHost: x\r\n\r\n",
            b"OPTIONS * HTTP/1.1\r\n\r\nREG 0x46,1\n",
            b"host: 127.0.0.1:5025\r\nREG 0x46,1\n",
        ]
        for request in requests:
            s = raw_connection(server.port)
            self.addCleanup(s.close)
            s.sendall(request)
            self.assertTrue(closed_by_server(s))
        inst = self.instrument(server)
        self.assertEqual(inst.query("REG? 0x46"), "0")
        self.assertEqual(self.errors(inst), [])
        self.assertEqual(self.board_lines(server, start), ["_readData(channel=0, reg=0x46) = 0 value=0x00"])

    def test_allow(self):
        for allow, answer in ((["--allow", "10.0.0.0/8", "--allow", "::1"], "refused: 127.0.0.1 is not allowed to connect (--allow)"),
                              (["--allow", "10.0.0.0/8", "--allow", "127.0.0.0/8"], "1")):
            with self.subTest(allow=allow):
                server = self.start(*allow)
                s = raw_connection(server.port)
                self.addCleanup(s.close)
                s.sendall(b"*OPC?\n")
                self.assertEqual(read_line(s), answer)
        for bad in ("10.0.0.0/33", "10.0.0", "::1/129", "host.example"):
            tool = subprocess.run([CTL, "serve", "--allow", bad], capture_output=True, text=True, timeout=60,
                                  env=dict(os.environ, EVM_BOARD_LIBRARY=os.environ["OSTREL_SIM_PATH"]))
            self.assertEqual(tool.returncode, 2)
            self.assertEqual(tool.stderr, f"evm5170ctl: --allow takes ADDRESS or ADDRESS/PREFIX, e.g. 192.168.1.0/24, "
                                          f"not '{bad}'\n")

    def test_idle_clients_are_let_go(self):
        server = self.start("--idle-timeout", "1", "--max-clients", "1")
        silent = raw_connection(server.port)
        self.addCleanup(silent.close)
        self.assertTrue(closed_by_server(silent, timeout=20))
        inst = self.instrument(server)  # its place is free again
        self.assertEqual(inst.query("*OPC?"), "1")

    def test_keepalive_on_accepted_sockets(self):
        server = self.start()
        s = raw_connection(server.port)
        self.addCleanup(s.close)
        s.sendall(b"*OPC?\n")
        self.assertEqual(read_line(s), "1")
        # The server's end of this connection in the kernel's table: its timer is the
        # keepalive timer (2), due within the minute.
        local = f"0100007F:{server.port:04X}"
        peer = f"0100007F:{s.getsockname()[1]:04X}"
        with open("/proc/net/tcp") as f:
            rows = [line.split() for line in f.readlines()[1:]]
        row = next(r for r in rows if r[1] == local and r[2] == peer)
        timer, when = row[5].split(":")
        self.assertEqual(timer, "02")
        self.assertLessEqual(int(when, 16), 60 * os.sysconf("SC_CLK_TCK"))

    def test_network_address_is_warned_of(self):
        server = self.start(listen="0.0.0.0:0")
        inst = self.instrument(server)  # loopback reaches it too
        self.assertEqual(inst.query("*OPC?"), "1")
        status, err = server.stop()
        self.assertEqual(status, 0)
        self.assertEqual(err, f"evm5170ctl: warning: listening on 0.0.0.0:{server.port}, which other machines can "
                              "reach: the protocol has no authentication, so anyone who reaches the port drives the "
                              "board and its lines (--allow limits the clients; an SSH tunnel to 127.0.0.1 is safer)\n")

    def test_clients_gone_with_answers_pending_leave_stderr_quiet(self):
        server = self.start()
        for _ in range(5):
            s = raw_connection(server.port)
            s.sendall(b"REG:ALL?\n" * 100)
            s.close()
        s = raw_connection(server.port)
        s.sendall(b"*IDN?\n" * 200)
        reset(s)
        inst = self.instrument(server)
        self.assertEqual(inst.query("*OPC?"), "1")
        status, err = server.stop()
        self.assertEqual((status, err), (0, ""))

    def test_turns_of_one_command(self):
        # A slow board: 31 reads of REG:ALL? take about 6 ms, the long line about 6 s.
        server = self.start(env={"OSTREL_SIM_DELAY_US": "200"})
        long = raw_connection(server.port)
        self.addCleanup(long.close)
        long.sendall(b";".join([b"REG:ALL?"] * 1000) + b"\n")
        wait_for(lambda: len(server.trace()) > 40, what="the long line's reads")
        short = raw_connection(server.port)
        self.addCleanup(short.close)
        short.sendall(b"BOARD:READ? 0,0x60;BOARD:READ? 0,0x61;BOARD:READ? 0,0x62\n")
        self.assertEqual(read_line(short, timeout=30), "5,0;5,0;5,0")
        trace = server.trace()
        marks = [i for i, line in enumerate(trace) if "reg=0x6" in line]
        self.assertEqual(len(marks), 3)
        # One command of the long line between two of the short one, then the long line goes on.
        self.assertEqual([b - a - 1 for a, b in zip(marks, marks[1:])], [31, 31])
        wait_for(lambda: len(server.trace()) > marks[-1] + 31, what="the long line's next command")
        # A signal ends the server after the command that is running, not after the line.
        status, err = server.stop(signal.SIGINT, timeout=20)
        self.assertEqual((status, err), (0, ""))
        trace = server.trace()
        self.assertEqual(trace[-1], "_close() = 0")
        self.assertEqual(trace.count("_close() = 0"), 1)
        reads = sum(line.startswith("_readData") for line in trace)
        self.assertLess(reads, 31 * 1000)
        self.assertEqual((reads - 3) % 31, 0)  # whole commands only

    def test_line_waiting_its_turn_is_dropped_with_a_reset(self):
        # Three clients keep the slow board busy, so a fourth one's line waits about 0.9 s for
        # its turn after it was read; that client gives up after 0.45 s, with a reset.
        server = self.start(env={"OSTREL_SIM_DELAY_US": "10000"})
        busy = []
        for _ in range(3):
            s = raw_connection(server.port)
            s.sendall(b";".join([b"REG:ALL?"] * 20) + b"\n")
            busy.append(s)
        wait_for(lambda: len(server.trace()) > 40, what="the busy clients' reads")
        late = raw_connection(server.port)
        late.sendall(b"BOARD:OPEN? 3,0\n")  # a hold, which the server gives up when it drops the client
        self.assertEqual(read_line(late, timeout=30), "1")
        late.sendall(b"BOARD:WRITE? 0,0x46,199\n")
        time.sleep(0.45)  # the client's own timeout
        reset(late)
        for s in busy:
            reset(s)  # their long lines are dropped too
        inst = self.instrument(server)
        wait_for(lambda: inst.query("BOARD:OPEN? 1,0x44") == "1", what="the late client's hold to go")
        self.assertEqual(inst.query("REG? 0x46"), "0")
        self.assertFalse([l for l in server.trace() if l.startswith("_writeData")])

    def test_reset_of_a_client_whose_lines_fill_the_server(self):
        # More lines than the server reads ahead, so it no longer waits on the socket: the reset
        # is found before the next command all the same, not after the lines queued before it.
        server = self.start(env={"OSTREL_SIM_DELAY_US": "1000"})
        c = raw_connection(server.port)
        c.sendall(b"BOARD:OPEN? 3,0\n")
        self.assertEqual(read_line(c), "1")
        c.setblocking(False)
        lines, sent = b"REG 0x47,1\n" * 100_000, 0
        while sent < len(lines):
            try:
                sent += c.send(lines[sent:])
            except BlockingIOError:
                break
        self.assertGreater(sent, 300_000)
        at_reset = wait_for(lambda: sum(l.startswith("_writeData") for l in server.trace()), what="writes")
        reset(c)
        inst = self.instrument(server)
        wait_for(lambda: inst.query("BOARD:OPEN? 1,0x44") == "1", what="the client's hold to go")
        after = sum(l.startswith("_writeData") for l in server.trace()) - at_reset
        self.assertLess(after, 1000)

    def test_remote_tool_against_a_stopped_server_waits_one_timeout(self):
        server = self.start()
        server.pause()
        started = time.monotonic()
        tool = subprocess.run([CTL, "set", "DEMP", "2"], env=self.remote_env(server), capture_output=True, text=True,
                              timeout=60)
        elapsed = time.monotonic() - started
        server.resume()
        self.assertEqual(tool.returncode, 2)
        self.assertEqual(tool.stderr.splitlines()[-1], f"evm5170ctl: No EVM was found (SPI): 127.0.0.1:{server.port}: "
                                                       "no answer within 2 s")
        self.assertLess(elapsed, 2 * 2.0)  # one timeout, not one per call

    def test_memory_stays_flat(self):
        # No trace file: only what the server and the board keep in memory.
        env = {}
        if "ASAN_OPTIONS" in os.environ:  # freed memory must come back, not wait in quarantine
            env["ASAN_OPTIONS"] = os.environ["ASAN_OPTIONS"] + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"
        server = self.start(env=env, trace=False)
        s = raw_connection(server.port, timeout=60)
        self.addCleanup(s.close)
        batch = b"REG? 0x47\n" * 1000

        def queries(n):
            for _ in range(n // 1000):
                s.sendall(batch)
                data = b""
                while data.count(b"\n") < 1000:
                    chunk = s.recv(65536)
                    self.assertTrue(chunk)
                    data += chunk
                self.assertEqual(data, b"255\n" * 1000)

        queries(30_000)  # the board's call log reaches its bound
        before = server.rss()
        queries(200_000)
        grown = server.rss() - before
        self.assertLess(grown, 1024 * 1024, f"grew by {grown} bytes over 200 000 queries")


if __name__ == "__main__":
    unittest.main(verbosity=2)
