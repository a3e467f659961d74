"""Fixtures: the real service on its simulated dongle, started per test module.

The programs come from LINKRELAY_BIN (default: build/ci/bin of this tree). Each service
listens on a free loopback port of its own (--listen), so the tests can run beside
anything else on the machine.
"""

import asyncio
import os
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

from linkrelay import Client, LinkrelayError

REPO = Path(__file__).resolve().parents[2]
BIN = Path(os.environ.get("LINKRELAY_BIN", REPO / "build" / "ci" / "bin"))
START_SECONDS = 30

HEART_RATE = "C4:7C:8D:6A:12:01"  # "Pulse HR": 180d (2a37 notifies every second, 2a38), 180f (2a19)
THERMO = "D0:2B:20:11:30:07"  # "Thermo 7": 180f (2a19)
ECHO = "E8:1F:44:90:5B:3C"  # "Echo Pad": a5b1c000-...: c001 echoes what is written, c002 indicates
BEACON = "F1:00:00:BE:AC:04"  # not connectable; manufacturer data
ECHO_SERVICE = "a5b1c000-1e7d-4b3a-9f2c-5d0e8b6a7c10"
ECHO_VALUE = "a5b1c001-1e7d-4b3a-9f2c-5d0e8b6a7c10"
ECHO_SERIAL = "a5b1c002-1e7d-4b3a-9f2c-5d0e8b6a7c10"


def program(name: str) -> str:
    path = BIN / name
    if not path.exists():
        pytest.exit(f"{path} is missing: build the tree first (or set LINKRELAY_BIN)", 2)
    return str(path)


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def endpoint():
    """Where the next service listens, and its --listen arguments."""
    port = free_port()
    return ("127.0.0.1", port), ["--listen", f"127.0.0.1:{port}"]


async def wait_ready(host: str, port: int, service: subprocess.Popen) -> None:
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if service.poll() is not None:
            raise RuntimeError(f"linkrelay exited with {service.returncode}")
        try:
            async with Client(host, port, timeout=2) as client:
                await client.wait_ready(timeout=deadline - time.monotonic())
                return
        except LinkrelayError:
            await asyncio.sleep(0.1)
    raise RuntimeError(f"linkrelay on {host}:{port} not ready within {START_SECONDS} s")


def stop(process: subprocess.Popen) -> None:
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Service:
    def __init__(self, host, port):
        self.host = host
        self.port = port
        self.controls = None  # the simulated dongle's control input, when it has one

    def client(self, **kwargs) -> Client:
        return Client(self.host, self.port, **kwargs)

    def environment(self) -> dict:
        """The environment of a program that finds the service through LINKRELAY_*."""
        env = dict(os.environ)
        env["LINKRELAY_HOST"] = self.host
        env["LINKRELAY_PORT"] = str(self.port)
        env["PYTHONPATH"] = str(REPO / "python")
        return env

    def control(self, line: str) -> None:
        self.controls.write(line + "\n")
        self.controls.flush()


@pytest.fixture(scope="module")
def service():
    """linkrelay --simulate."""
    (host, port), listen = endpoint()
    process = subprocess.Popen(
        [program("linkrelay"), "--simulate", *listen],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    try:
        asyncio.run(wait_ready(host, port, process))
        yield Service(host, port)
    finally:
        stop(process)


@pytest.fixture(scope="module")
def controlled_service():
    """linkrelay on linkrelay-sim's pseudo-terminal, whose standard input takes the
    simulated dongle's control commands (range ADDR out, ...)."""
    (host, port), listen = endpoint()
    with tempfile.TemporaryDirectory() as folder:
        link = os.path.join(folder, "dongle.tty")
        sim = subprocess.Popen(
            [program("linkrelay-sim"), "--link", link],
            stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            text=True,
        )
        service_process = None
        try:
            deadline = time.monotonic() + START_SECONDS
            while not os.path.exists(link) and time.monotonic() < deadline:
                time.sleep(0.05)
            service_process = subprocess.Popen(
                [program("linkrelay"), "--port", link, *listen],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
            asyncio.run(wait_ready(host, port, service_process))
            running = Service(host, port)
            running.controls = sim.stdin
            yield running
        finally:
            if service_process is not None:
                stop(service_process)
            stop(sim)


def run_python(path, env, *arguments) -> subprocess.Popen:
    return subprocess.Popen(
        [sys.executable, str(path), *arguments],
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
