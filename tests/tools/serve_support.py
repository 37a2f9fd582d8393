"""evm5170ctl serve as the tests start it: on a free loopback port over the simulated board,
with the board's trace in a private directory, and always stopped at the end."""

import os
import re
import select
import signal
import socket
import subprocess
import tempfile
import time

CTL = os.environ["EVM5170CTL"]
SIM = os.environ["OSTREL_SIM_PATH"]
START_SECONDS = 30  # a sanitizer build starts slowly on a loaded machine


class Server:
    def __init__(self, *args, env=None):
        self.dir = tempfile.TemporaryDirectory(prefix="evm-serve-")
        self.trace_path = os.path.join(self.dir.name, "trace.txt")
        environment = dict(os.environ)
        for name in ("OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_STATE", "EVM_BOARD_REMOTE"):
            environment.pop(name, None)
        environment.update({
            "EVM_BOARD_LIBRARY": SIM,
            "XDG_CONFIG_HOME": self.dir.name,  # no settings file: SPI
            "OSTREL_SIM_TRACE": self.trace_path,
        })
        environment.update(env or {})
        self.process = subprocess.Popen([CTL, "serve", "--listen", "127.0.0.1:0", *args], env=environment,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir.name)
        self.port = None
        try:
            line = self._first_line()
            m = re.fullmatch(r"listening on 127\.0\.0\.1:(\d+)", line)
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
        try:
            with open(self.trace_path) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Ends the server with sig; answers its exit status and standard error."""
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
