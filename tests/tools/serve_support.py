# SPDX-License-Identifier: GPL-3.0-or-later
"""evm5170ctl serve as the tests start it: on a free loopback port over the simulated board,
with the board's trace in a private directory, and always stopped at the end."""

import os
import re
import select
import signal
import socket
import struct
import subprocess
import tempfile
import time

CTL = os.environ["EVM5170CTL"]
SIM = os.environ["OSTREL_SIM_PATH"]
REMOTE = os.environ["OSTREL_REMOTE_PATH"]
START_SECONDS = 30  # a sanitizer build starts slowly on a loaded machine


def wait_for(condition, timeout=30, what="the condition"):
    """Polls condition until it answers something true; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} did not come within {timeout} s")
        time.sleep(0.01)


class Server:
    def __init__(self, *args, env=None, listen="127.0.0.1:0", trace=True):
        self.dir = tempfile.TemporaryDirectory(prefix="evm-serve-")
        self.trace_path = os.path.join(self.dir.name, "trace.txt")
        environment = dict(os.environ)
        for name in ("OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_STATE", "EVM_BOARD_REMOTE"):
            environment.pop(name, None)
        environment.update({
            "EVM_BOARD_LIBRARY": SIM,
            "OSTREL_SIM_STATE": "",  # no state file: power-on values
            "XDG_CONFIG_HOME": self.dir.name,  # no settings file: SPI
        })
        if trace:
            environment["OSTREL_SIM_TRACE"] = self.trace_path
        else:
            environment.pop("OSTREL_SIM_TRACE", None)
        environment.update(env or {})
        self.process = subprocess.Popen([CTL, "serve", "--listen", listen, *args], env=environment,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir.name)
        self.port = None
        host = re.escape(listen.rsplit(":", 1)[0])
        try:
            line = self._first_line()
            m = re.fullmatch(rf"listening on {host}:(\d+)", line)
            if not m:
                raise AssertionError(f"server said {line!r}; stderr: {self.process.stderr.read1(4096)!r}")
            self.port = int(m.group(1))
        except BaseException:
            self.kill()
            raise

    def _first_line(self):
        deadline = time.monotonic() + START_SECONDS
        data = b""
        while not data.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                raise AssertionError("the server printed no address in time")
            chunk = os.read(self.process.stdout.fileno(), 256)
            if not chunk:
                raise AssertionError(f"the server ended: {self.process.stderr.read()!r}")
            data += chunk
        return data.decode().strip()

    @property
    def resource(self):
        return f"TCPIP0::127.0.0.1::{self.port}::SOCKET"

    def trace(self):
        """The board's calls so far, whole lines only (the server may be writing the next)."""
        try:
            with open(self.trace_path) as f:
                text = f.read()
        except FileNotFoundError:
            return []
        return text[:text.rfind("\n") + 1].splitlines()

    def pause(self):
        """SIGSTOP: the system still takes connections and lines for it; nothing answers."""
        self.process.send_signal(signal.SIGSTOP)

    def resume(self):
        self.process.send_signal(signal.SIGCONT)

    def rss(self):
        """The server's resident memory in bytes."""
        with open(f"/proc/{self.process.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
        raise AssertionError("no VmRSS")

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Ends the server with sig; answers its exit status and standard error."""
        self.resume()
        self.process.send_signal(sig)
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"the server did not end within {timeout} s of {sig!r}")
        err = self.process.stderr.read().decode(errors="replace")
        return self.process.returncode, err

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(30)
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()
        self.dir.cleanup()


def raw_connection(port, timeout=10):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def reset(sock):
    """Closes with a reset, as a client that gives up does: SO_LINGER with no time."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def closed_by_server(sock, timeout=10):
    """True once the server has closed the connection (all it sent before is read and dropped)."""
    sock.settimeout(timeout)
    try:
        while sock.recv(4096):
            pass
    except ConnectionResetError:
        pass
    return True


def read_line(sock, timeout=10):
    """One answer line from a raw socket, without its terminator; None when the server closed it."""
    sock.settimeout(timeout)
    data = b""
    while not data.endswith(b"\n"):
        chunk = sock.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data[:-1].decode()
