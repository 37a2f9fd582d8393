# SPDX-License-Identifier: GPL-3.0-or-later
"""The Windows build under Wine, against the Linux build: evm5170ctl.exe with the simulated board
Ostrel.dll and with OstrelRemote.dll, its server answering PyVISA and the Linux window, and the
loader's rules. Every Windows program runs in one Wine prefix made for this run in the Windows
build folder (never the user's own), each step bounded in time; the prefix's wineserver is ended
at the end.

    test_windows.py LINUX_BUILD WINDOWS_BUILD [unittest arguments]
"""

import atexit
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

LINUX_BUILD = os.path.abspath(sys.argv[1])
WINDOWS_BUILD = os.path.abspath(sys.argv[2])
del sys.argv[1:3]

FOLDER = os.path.join(WINDOWS_BUILD, "evm5170-windows")
EXE = os.path.join(FOLDER, "evm5170ctl.exe")
NOVER_DLL = os.path.join(WINDOWS_BUILD, "OstrelNoVer.dll")
PREFIX = os.path.join(WINDOWS_BUILD, "wineprefix")
LINUX_CTL = os.path.join(LINUX_BUILD, "evm5170ctl")
LINUX_SIM = os.path.join(LINUX_BUILD, "libOstrel.so")
TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
STEP_SECONDS = 120  # one Windows program, on a loaded two-core machine

WINE_ENV = {
    "WINEPREFIX": PREFIX,
    "WINEDEBUG": "-all",
    # No Mono or Gecko installer: console programs need neither.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}

# What both builds' runs share: the simulated board's variables are the test's alone.
BOARD_VARIABLES = ("OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_STATE", "OSTREL_SIM_TRACE",
                   "OSTREL_SIM_IIC_ADDRESS", "EVM_BOARD_LIBRARY", "EVM_BOARD_REMOTE")


def base_env(**extra):
    env = {k: v for k, v in os.environ.items() if k not in BOARD_VARIABLES and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINE_ENV)
    env["OSTREL_SIM_STATE"] = ""  # no chip kept between runs, unless a test names a file
    env.update(extra)
    return env


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], timeout=kwargs.pop("timeout", STEP_SECONDS), **kwargs)


def wine_path(windows_path):
    """The Linux path of a Windows one in the prefix."""
    out = subprocess.run(["winepath", "-u", windows_path], env=base_env(), capture_output=True, text=True,
                         timeout=STEP_SECONDS, check=True)
    return out.stdout.strip()


def setUpModule():
    # A fresh prefix for each run, so nothing of an earlier one (a settings file, a registry
    # change) is found. Made before anything is timed, and its wineserver kept for the run, so
    # that each program starts at once.
    if os.path.exists(PREFIX):
        subprocess.run(["wineserver", "-k"], env=base_env(), timeout=STEP_SECONDS, stderr=subprocess.DEVNULL)
        shutil.rmtree(PREFIX)
    subprocess.run(["wineboot", "-i"], env=base_env(), timeout=600, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=base_env(), timeout=STEP_SECONDS, stderr=subprocess.DEVNULL)  # may run already
    global APPDATA
    out = wine("cmd", "/c", "echo %APPDATA%", env=base_env(), capture_output=True, text=True, check=True)
    APPDATA = wine_path(out.stdout.strip())


def tearDownModule():
    subprocess.run(["wineserver", "-k"], env=base_env(), timeout=STEP_SECONDS)
    subprocess.run(["wineserver", "-w"], env=base_env(), timeout=STEP_SECONDS)


def read_lines(path):
    try:
        with open(path, encoding="latin-1") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    return text[:text.rfind("\n") + 1].splitlines()


class Dir:
    """A private folder, removed at the end."""

    def __init__(self, case):
        self.path = tempfile.mkdtemp(prefix="evm-win-")
        case.addCleanup(shutil.rmtree, self.path, True)

    def file(self, name, data=None):
        path = os.path.join(self.path, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path


# Every command of the tool, in one run over one state file, so each sees what the last left.
SCRIPT = b"0x41, 0x12\r\nsleep, 1\r\n72 200\r\n$44, 0XFF\r\n"
STDIN_SCRIPT = b"0x4A, 0x21\r\n0x4B, 0x22\r\n"
# Every command of the tool, its failures among them, and the forms of values it takes.
COMMANDS = [
    (["info"], b""),
    (["read", "0x46"], b""),
    (["write", "0x46", "0x2A"], b""),
    (["read", "70"], b""),
    (["get", "DEMP"], b""),
    (["set", "DEMP", "3"], b""),
    (["--trace", "get", "DEMP"], b""),
    (["dump", "snap.csv"], b""),
    (["dump", "-"], b""),
    (["dump", "--fields", "-"], b""),
    (["write", "0x47", "5"], b""),
    (["diff", "snap.csv", "-"], b""),
    (["diff", "snap.csv", "snap.csv"], b""),
    (["diff", "--settings", "snap.csv", "-"], b""),
    (["run", "script.txt"], b""),
    (["run", "--check", "script.txt"], b""),
    (["run", "-"], STDIN_SCRIPT),
    (["--interface", "iic", "--address", "0x45", "get", "DEMP"], b""),
    (["--interface", "spi", "set", "LPFV1", "1"], b""),
    (["read", "0x99"], b""),
    (["set", "NOSUCH", "1"], b""),
    (["write", "0x46"], b""),
    (["run", "missing.txt"], b""),
    (["bogus"], b""),
    (["show"], b""),
    (["show", "DEMP", "ATDA1"], b""),
    (["set", "DEMP", "32kHz"], b""),
    (["set", "ATDA1", "-12.5dB"], b""),
    (["get", "DEPM"], b""),
    (["export", "--format", "c", "-"], b""),
    (["export", "--format", "json", "--changed", "-"], b""),
    (["export", "--format", "i2cset", "-"], b""),
    (["export", "--format", "python", "-"], b""),
    (["export", "--format", "script", "setup.txt"], b""),
    (["run", "setup.txt"], b""),
    (["--version"], b""),
    (["help", "serve"], b""),
    (["help"], b""),
]


class ToolTest(unittest.TestCase):
    def windows(self, args, cwd, env=None, stdin=b"", exe=EXE):
        return wine(exe, *args, cwd=cwd, env=env or base_env(), input=stdin, capture_output=True)

    def test_every_command_as_on_linux(self):
        """Exit status, standard output and error, the board's trace line for line, and the state
        file: the Windows tool and simulator give what the Linux ones give."""
        runs = {}
        for side in ("linux", "windows"):
            d = Dir(self)
            d.file("script.txt", SCRIPT)
            env = base_env(OSTREL_SIM_TRACE=d.file("trace.txt"), OSTREL_SIM_STATE=d.file("state.csv"),
                           XDG_CONFIG_HOME=d.path)
            if side == "linux":
                env["EVM_BOARD_LIBRARY"] = LINUX_SIM
            results = []
            for args, stdin in COMMANDS:
                if side == "linux":
                    r = subprocess.run([LINUX_CTL, *args], cwd=d.path, env=env, input=stdin, capture_output=True,
                                       timeout=STEP_SECONDS)
                else:
                    r = self.windows(args, d.path, env, stdin)
                results.append(r)
            with open(d.file("state.csv"), "rb") as f:
                state = f.read()
            with open(d.file("snap.csv"), "rb") as f:
                snapshot = f.read()
            runs[side] = (results, read_lines(d.file("trace.txt")), state, snapshot)

        (lin, lin_trace, lin_state, lin_snap), (win, win_trace, win_state, win_snap) = runs["linux"], runs["windows"]
        for (args, _), l, w in zip(COMMANDS, lin, win):
            with self.subTest(command=" ".join(args)):
                self.assertEqual(w.returncode, l.returncode, w.stderr)
                lout, wout = l.stdout, w.stdout
                if args == ["info"]:
                    # The library's own path, and nothing else, differs.
                    lout = b"\n".join(x for x in lout.split(b"\n") if not x.startswith(b"library: "))
                    wout = b"\n".join(x for x in wout.split(b"\n") if not x.startswith(b"library: "))
                    self.assertIn(b"library: Z:\\", w.stdout)
                if args[0] == "help":
                    # Where the help names the system's own ways: the settings folder, the
                    # library's search, the keys that stop the server.
                    changed = set(wout.split(b"\n")) ^ set(lout.split(b"\n"))
                    self.assertTrue(changed)
                    self.assertFalse([x for x in changed if not any(
                        word in x for word in (b"EVM_BOARD_LIBRARY", b"PATH", b"APPDATA", b"XDG_CONFIG_HOME",
                                               b"library paths", b"never written", b"SIGINT", b"Ctrl+C"))], changed)
                    self.assertEqual(len(wout.split(b"\n")), len(lout.split(b"\n")))
                else:
                    self.assertEqual(wout, lout)
                # Messages are text on a Windows console: CR LF.
                self.assertEqual(w.stderr.replace(b"\r\n", b"\n"), l.stderr)
        self.assertGreater(len(lin_trace), 100)
        self.assertEqual(win_trace, lin_trace)
        self.assertEqual(win_state, lin_state)
        self.assertEqual(win_snap, lin_snap)
        self.assertTrue(win_snap.endswith(b"0x5E, 0xD7\r\n"), win_snap[-20:])
        # "dump -" gives the file's bytes exactly, CR LF and all.
        dump_out = win[[a for a, _ in COMMANDS].index(["dump", "-"])].stdout
        self.assertTrue(dump_out.startswith(b"0x40, 0xC0\r\n0x41, "), dump_out[:24])
        self.assertNotIn(b"\r\r", dump_out)

    def test_settings_from_appdata(self):
        d = Dir(self)
        settings = os.path.join(APPDATA, "EVM5170.ini")
        self.assertFalse(os.path.exists(settings))
        self.addCleanup(lambda: os.path.exists(settings) and os.remove(settings))
        env = base_env(OSTREL_SIM_TRACE=d.file("trace.txt"), OSTREL_SIM_IIC_ADDRESS="0x46")
        unreadable = b"evm5170ctl: warning: cannot read the interface settings in C:\\users\\"
        for text, interface, address, code, message in (
                (b"[SerialInterface]\r\nType=0\r\nAddr=0x46\r\n", 1, 0x46, 0, b""),
                (b"[SerialInterface]\nType=1\nAddr=$44\n", 3, 0x00, 0, b""),
                (b"[SerialInterface]\nType=zero\n", 3, 0x00, 0, unreadable),
        ):
            with self.subTest(settings=text):
                with open(settings, "wb") as f:
                    f.write(text)
                if os.path.exists(d.file("trace.txt")):
                    os.remove(d.file("trace.txt"))
                r = self.windows(["read", "0x40"], d.path, env)
                trace = read_lines(d.file("trace.txt"))
                self.assertEqual(r.returncode, code, (r.stdout, r.stderr, trace))
                self.assertIn(message, r.stderr)
                self.assertEqual(trace[:1], [f"_init(port=0, interface={interface}, address=0x{address:02X}, word56=3) = 1"],
                                 (r.stdout, r.stderr))
                with open(settings, "rb") as f:
                    self.assertEqual(f.read(), text)  # only read, never written

    def test_default_state_file_in_local_appdata(self):
        """Without OSTREL_SIM_STATE the simulated board keeps its chip in the user's local
        application data, so one run sees what the one before it set."""
        d = Dir(self)
        env = base_env()
        del env["OSTREL_SIM_STATE"]
        out = wine("cmd", "/c", "echo %LOCALAPPDATA%", env=env, capture_output=True, text=True, check=True)
        state = os.path.join(wine_path(out.stdout.strip()), "evm5170", "sim-state.csv")
        self.assertFalse(os.path.exists(state))
        self.addCleanup(lambda: shutil.rmtree(os.path.dirname(state), ignore_errors=True))
        self.assertEqual(self.windows(["set", "DEMP", "2"], d.path, env).returncode, 0)
        r = self.windows(["get", "DEMP"], d.path, env)
        self.assertEqual((r.returncode, r.stdout.strip(), r.stderr), (0, b"2", b""))
        with open(state, "rb") as f:
            self.assertIn(b"0x46, 0x2", f.read())

    def test_state_file_shared_by_parallel_runs(self):
        """Runs at once over one state file, each setting its own register: the file's lock on
        Windows lets none of them lose another's."""
        d = Dir(self)
        env = base_env(OSTREL_SIM_STATE=d.file("state.csv"))
        registers = range(0x48, 0x50)
        processes = [subprocess.Popen(["wine", EXE, "write", hex(reg), hex(reg - 0x40)], cwd=d.path, env=env,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE) for reg in registers]
        for p in processes:
            out, err = p.communicate(timeout=STEP_SECONDS)
            self.assertEqual(p.returncode, 0, err)
            self.assertEqual(err, b"")
        with open(d.file("state.csv"), "rb") as f:
            lines = f.read().split(b"\r\n")
        for reg in registers:
            self.assertIn(f"0x{reg:02X}, 0x{reg - 0x40:02X}".encode(), lines)
        self.assertFalse([n for n in os.listdir(d.path) if n not in ("state.csv", "state.csv.lock")])

    def test_dump_keeps_the_file_and_refuses_a_folder(self):
        d = Dir(self)
        env = base_env(OSTREL_SIM_STATE=d.file("state.csv"))
        target = d.file("snap.csv", b"old\r\n")
        os.chmod(target, 0o640)
        os.symlink("snap.csv", d.file("link.csv"))
        for name in ("snap.csv", "link.csv"):
            with open(target, "wb") as f:
                f.write(b"old\r\n")
            r = self.windows(["dump", name], d.path, env)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(target, "rb") as f:
                self.assertEqual(len(f.read().split(b"\r\n")), 32)
            # Replaced whole, its permissions kept; a link stays a link.
            self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
            self.assertEqual(os.readlink(d.file("link.csv")), "snap.csv")
        os.mkdir(d.file("folder"))
        r = self.windows(["dump", "folder"], d.path, env)
        self.assertEqual(r.returncode, 2)
        self.assertTrue(r.stderr.startswith(b"evm5170ctl: cannot write folder: "), r.stderr)
        self.assertEqual(sorted(os.listdir(d.path)), ["folder", "link.csv", "snap.csv", "state.csv", "state.csv.lock"])


class LoaderTest(unittest.TestCase):
    def run_tool(self, exe, cwd, **env):
        return wine(exe, "info", cwd=cwd, env=base_env(**env), capture_output=True, text=True)

    def test_only_the_programs_own_folder(self):
        """An Ostrel.dll planted in the working folder is not loaded, with the program's folder
        lacking one or having its own."""
        d = Dir(self)
        alone = os.path.join(d.path, "program")
        os.mkdir(alone)
        shutil.copy(EXE, alone)
        work = os.path.join(d.path, "work")
        os.mkdir(work)
        # The planted library lacks _getVer: were it loaded, the tool would call it invalid.
        shutil.copy(NOVER_DLL, os.path.join(work, "Ostrel.dll"))
        exe = os.path.join(alone, "evm5170ctl.exe")
        # The working folder on the Windows PATH too (WINEPATH).
        r = self.run_tool(exe, work, WINEPATH="Z:" + work.replace("/", "\\"))
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stderr.rstrip("\r\n"), "evm5170ctl: Cannot load the board library: Z:"
                         + alone.replace("/", "\\") + "\\Ostrel.dll: no such file")
        shutil.copy(os.path.join(FOLDER, "Ostrel.dll"), alone)
        r = self.run_tool(exe, work)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("library: Z:" + alone.replace("/", "\\") + "\\Ostrel.dll", r.stdout)

    def test_named_libraries(self):
        d = Dir(self)
        work = d.path
        for name, code, expected in (
                ("sim", 0, "library: Z:" + FOLDER.replace("/", "\\") + "\\Ostrel.dll"),
                (os.path.join(FOLDER, "Ostrel.dll"), 0, "version: 1.0.0.0"),
                (NOVER_DLL, 2, "evm5170ctl: Invalid board library: "),
                ("nothing.dll", 2, "evm5170ctl: Cannot load the board library: nothing.dll: no such file"),
                ("linux", 2, "evm5170ctl: Cannot load the board library: "),
        ):
            with self.subTest(library=name):
                r = self.run_tool(EXE, work, EVM_BOARD_LIBRARY=name)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(expected, r.stdout + r.stderr)
        # A DLL lacking an entry is refused by name, with the entry's reason.
        r = self.run_tool(EXE, work, EVM_BOARD_LIBRARY=NOVER_DLL)
        self.assertIn("OstrelNoVer.dll lacks a board-access entry", r.stderr)


    def test_nothing_happens_at_load(self):
        """Loading a DLL built here starts nothing: no trace file, no Winsock (the system runs a
        DLL's start-up under its loader lock); the first _init does."""
        for name, started in (("Ostrel.dll", "not started"), ("OstrelRemote.dll", "started")):
            with self.subTest(library=name):
                d = Dir(self)
                trace = d.file("trace.txt")
                r = wine(os.path.join(WINDOWS_BUILD, "load_check.exe"), os.path.join(FOLDER, name), trace, cwd=d.path,
                         capture_output=True, text=True,
                         env=base_env(OSTREL_SIM_TRACE=trace, OSTREL_REMOTE_TRACE=trace, EVM_BOARD_REMOTE="127.0.0.1:1",
                                      EVM_BOARD_REMOTE_TIMEOUT_MS="2000"))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout.replace("\r", "").splitlines(),
                                 ["loaded: winsock not started, trace absent", f"called: winsock {started}, trace written"])


class RemoteTest(unittest.TestCase):
    def test_windows_tool_through_the_remote_library_against_the_linux_server(self):
        d = Dir(self)
        trace = d.file("trace.txt")
        env = base_env(EVM_BOARD_LIBRARY=LINUX_SIM, OSTREL_SIM_TRACE=trace, XDG_CONFIG_HOME=d.path)
        server = subprocess.Popen([LINUX_CTL, "serve", "--listen", "127.0.0.1:0"], cwd=d.path, env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(server.stderr.close)
        self.addCleanup(server.stdout.close)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait(30)))
        line = server.stdout.readline().decode().strip()
        self.assertTrue(line.startswith("listening on 127.0.0.1:"), line)
        port = line.rsplit(":", 1)[1]
        tool_env = base_env(EVM_BOARD_LIBRARY="remote", EVM_BOARD_REMOTE=f"127.0.0.1:{port}")
        for args, out in ((["set", "DEMP", "2"], b""), (["get", "DEMP"], b"2\n"), (["read", "0x46"], b"0x20\n")):
            r = wine(EXE, *args, cwd=d.path, env=tool_env, capture_output=True)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, out, b""), args)
        r = wine(EXE, "info", cwd=d.path, env=tool_env, capture_output=True, text=True)
        self.assertIn("OstrelRemote.dll", r.stdout)
        self.assertIn("_writeData(channel=0, reg=0x46, value=0x20) = 0", read_lines(trace))
        server.send_signal(signal.SIGINT)
        self.assertEqual(server.wait(STEP_SECONDS), 0)
        self.assertEqual(read_lines(trace).count("_close() = 0"), 1)

    def test_linux_window_against_the_server_under_wine(self):
        """The window (offscreen) through the Linux remote library against the Windows server:
        the start-up of a local board, and a control change on the Windows side's board."""
        wrapper = Dir(self).file("evm5170ctl-wine")
        with open(wrapper, "w") as f:
            f.write(f'#!/bin/sh\nexec wine "{EXE}" "$@"\n')
        os.chmod(wrapper, stat.S_IRWXU)
        env = base_env(QT_QPA_PLATFORM="offscreen", EVM_TEST_SERVE_COMMAND=wrapper,
                       EVM_TEST_SERVE_BOARD=os.path.join(FOLDER, "Ostrel.dll"))
        r = subprocess.run([os.path.join(LINUX_BUILD, "tests", "tst_remote"), "windowStartsAsAgainstALocalBoard"],
                           env=env, capture_output=True, text=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("PASS   : TestRemote::windowStartsAsAgainstALocalBoard()", r.stdout)


# The server's PyVISA suite (tests/tools/test_serve.py) against the Windows server: its own
# simulated board, its own remote library for the tool, the program run through Wine.
_WRAPPER_DIR = tempfile.mkdtemp(prefix="evm-win-ctl-")
atexit.register(shutil.rmtree, _WRAPPER_DIR, True)
_WRAPPER = os.path.join(_WRAPPER_DIR, "evm5170ctl")
with open(_WRAPPER, "w") as _f:
    _f.write(f'#!/bin/sh\nexec wine "{EXE}" "$@"\n')
os.chmod(_WRAPPER, stat.S_IRWXU)
os.environ.update(WINE_ENV)
os.environ.update({"EVM5170CTL": _WRAPPER, "OSTREL_SIM_PATH": os.path.join(FOLDER, "Ostrel.dll"),
                   "OSTREL_REMOTE_PATH": os.path.join(FOLDER, "OstrelRemote.dll"), "PYTHONDONTWRITEBYTECODE": "1"})
sys.path.insert(0, os.path.join(TESTS_DIR, "..", "tools"))
import serve_support  # noqa: E402
import test_serve  # noqa: E402


class WindowsServeTest(test_serve.ServeTest):
    pass


# Those that hold for any system; not those that end the server with SIGTERM: Windows has none,
# and Wine ends the program at once on it.
SERVE_CASES = ("test_identity_and_status", "test_registers_and_numbers", "test_fields_as_the_tool_sets_them",
               "test_error_queue", "test_read_only", "test_remote_tool_beside_a_reading_client")


def load_tests(loader, tests, pattern):
    suite = unittest.TestSuite()
    for case in (ToolTest, LoaderTest, RemoteTest, StopTest):
        suite.addTests(loader.loadTestsFromTestCase(case))
    suite.addTests(WindowsServeTest(name) for name in SERVE_CASES)
    return suite


class StopTest(unittest.TestCase):
    def test_ctrl_c_closes_once(self):
        server = serve_support.Server()
        self.addCleanup(server.__exit__)
        self.assertTrue(serve_support.read_line(self._ask(server.port)).startswith("EVM Controller,CDX5170 EVM,1,"))
        status, err = server.stop(signal.SIGINT)  # Wine hands it to the program as Ctrl+C
        self.assertEqual((status, err), (0, ""))
        trace = server.trace()
        self.assertEqual(trace[0], "_init(port=0, interface=3, address=0x00, word56=3) = 1")
        self.assertEqual(trace.count("_close() = 0"), 1)
        self.assertEqual(trace[-1], "_close() = 0")

    def test_ctrl_break_closes_once(self):
        """Ctrl+Break as the console hands it to the program, SIGBREAK (serve_break.exe raises it:
        Wine refuses GenerateConsoleCtrlEvent to programs started from Linux)."""
        d = Dir(self)
        trace = d.file("trace.txt")
        r = wine(os.path.join(WINDOWS_BUILD, "serve_break.exe"), cwd=d.path, capture_output=True, text=True,
                 env=base_env(EVM_BOARD_LIBRARY=os.path.join(FOLDER, "Ostrel.dll"), OSTREL_SIM_TRACE=trace))
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertRegex(r.stdout, r"^listening on 127\.0\.0\.1:\d+\n$")
        self.assertEqual(read_lines(trace), ["_init(port=0, interface=3, address=0x00, word56=3) = 1", "_close() = 0"])

    def _ask(self, port):
        s = serve_support.raw_connection(port)
        self.addCleanup(s.close)
        s.sendall(b"*IDN?\n")
        return s


if __name__ == "__main__":
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    print(f"test_windows: {time.monotonic() - started:.1f} s")
    sys.exit(0 if result.wasSuccessful() else 1)
