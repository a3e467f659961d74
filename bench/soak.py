#!/usr/bin/env python3
"""Soak run: linkrelay on linkrelay-sim (behind a pty) for a bounded time, with clients
connecting, scanning, subscribing, leaving and misbehaving, while the simulated dongle
faults once a minute. The service's resident memory, open descriptors and log size are
sampled every 10 s and written as a markdown section (start, peak, end, and every sample)
into bench/RESULTS.md, between the soak markers.

    unshare --net sh -c 'ip link set lo up; bench/soak.py BUILD_DIR [SECONDS]'

Loopback only, port 9089 (run it in a network namespace of its own); SECONDS defaults to
600. Every loop is bounded by the run's deadline; every process started here is ended by
its id.
"""
import os
import random
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PORT = 9089
SAMPLE_S = 10
FAULT_S = 60
PULSE_HR = bytes.fromhex("01126a8d7cc4")  # C4:7C:8D:6A:12:01, least significant first
ECHO_PAD = bytes.fromhex("3c5b90441fe8")  # E8:1F:44:90:5B:3C
HEART_RATE_MEASUREMENT = bytes([2, 0x2A, 0x37])
# Each fault and what ends it, one a minute in turn.
FAULTS = [("unplug", "replug"), ("silence on", "silence off"), ("unknown", None),
          ("wedge on", "wedge off"), ("garbage 64", None), ("stall-connect 3", None)]


def frame(content):
    if len(content) < 127:
        return bytes([len(content)]) + content
    return bytes([0x82]) + struct.pack("<H", len(content)) + content


def connect_gob(address, interval_max=40, timeout=200):
    return bytes([2]) + address + struct.pack("<IIII", 24, interval_max, timeout, 0)


class Soak:
    def __init__(self, build, seconds):
        self.build = build
        self.deadline = time.monotonic() + seconds
        self.folder = tempfile.mkdtemp(prefix="linkrelay-soak-")
        self.link = os.path.join(self.folder, "dongle.tty")
        self.log = os.path.join(self.folder, "service.log")
        self.samples = []
        self.counts = {}
        self.lock = threading.Lock()

    def running(self):
        return time.monotonic() < self.deadline

    def count(self, what):
        with self.lock:
            self.counts[what] = self.counts.get(what, 0) + 1

    def start(self):
        self.sim = subprocess.Popen(
            [os.path.join(self.build, "bin", "linkrelay-sim"), "--link", self.link],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.folder, "sim.log"), "w"))
        for _ in range(100):
            if os.path.exists(self.link + ".control"):
                break
            time.sleep(0.1)
        env = dict(os.environ, LOGS_DIRECTORY=os.path.join(self.folder, "logs"),
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(self.folder, "no-bus"))
        env.pop("NOTIFY_SOCKET", None)
        self.service = subprocess.Popen(
            [os.path.join(self.build, "bin", "linkrelay"), "--port", self.link],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(self.log, "w"), env=env)
        for _ in range(300):
            if "BG conduit: ready" in open(self.log).read():
                return
            time.sleep(0.1)
        raise SystemExit("the service did not become ready")

    def control(self, command):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as control:
            control.settimeout(5)
            control.connect(self.link + ".control")
            control.sendall(command.encode() + b"\n")
            reply = b""
            while not (reply.endswith(b"ok\n") or b"error" in reply):
                part = control.recv(4096)
                if not part:
                    break
                reply += part
        return reply.decode(errors="replace")

    def client(self):
        sock = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        sock.settimeout(0.2)
        return sock

    @staticmethod
    def drain(sock, seconds):
        end = time.monotonic() + seconds
        received = 0
        while time.monotonic() < end:
            try:
                part = sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return received
            if not part:
                return received
            received += len(part)
        return received

    # --- Client behaviours, each one visit: connect, act, leave --------------------------
    def scanner(self):
        with self.client() as sock:
            sock.sendall(frame(bytes([0])))
            self.drain(sock, random.uniform(1, 5))
            if random.random() < 0.5:
                sock.sendall(frame(bytes([1])))
        self.count("scanner")

    def subscriber(self):
        with self.client() as sock:
            sock.sendall(frame(connect_gob(PULSE_HR)))
            self.drain(sock, 2)
            sock.sendall(frame(bytes([4]) + PULSE_HR + bytes([0]) + HEART_RATE_MEASUREMENT))
            self.drain(sock, 1)
            sock.sendall(frame(bytes([8]) + PULSE_HR + bytes([0])))  # notify index 0
            self.drain(sock, random.uniform(2, 8))
            sock.sendall(frame(bytes([5]) + PULSE_HR))
            self.drain(sock, 0.5)
        self.count("subscriber")

    def reader(self):
        with self.client() as sock:
            sock.sendall(frame(connect_gob(ECHO_PAD)))
            self.drain(sock, 2)
            sock.sendall(frame(bytes([4]) + ECHO_PAD + bytes([0]) + bytes([2, 0x2A, 0x00])))
            for _ in range(50):
                sock.sendall(frame(bytes([6]) + ECHO_PAD + bytes([0])))
                sock.sendall(frame(bytes([11]) + ECHO_PAD))
            self.drain(sock, 1)
        self.count("reader")

    def misbehaver(self):
        kind = random.choice(["garbage", "huge-connect", "unknown-disconnects", "partial",
                              "too-many-uuids", "silent-reader", "hit-and-run"])
        with self.client() as sock:
            try:
                if kind == "garbage":
                    sock.sendall(bytes(random.getrandbits(8) for _ in range(64)))
                elif kind == "huge-connect":
                    sock.sendall(frame(connect_gob(PULSE_HR, 0xFFFF, 3200)))
                elif kind == "unknown-disconnects":
                    sock.sendall(b"".join(frame(bytes([5, 0x0A, 0x0B, 0x0C, 0x0D, i >> 8, i & 0xFF]))
                                          for i in range(1000)))
                elif kind == "partial":
                    sock.sendall(bytes([0x82, 0x00, 0x10, 4, 1, 2]))  # a frame never finished
                elif kind == "too-many-uuids":
                    sock.sendall(frame(bytes([4]) + ECHO_PAD + bytes([0]) +
                                       b"".join(bytes([2, i, 0x2A]) for i in range(256)) +
                                       bytes([2, 0, 0x2B])))
                elif kind == "silent-reader":
                    sock.sendall(frame(bytes([0])))  # scans but never reads its results
                    time.sleep(random.uniform(1, 5))
                self.drain(sock, 0.5)
            except OSError:
                pass
        self.count("misbehaver " + kind)

    def visitor(self):
        behaviours = [self.scanner, self.subscriber, self.reader, self.misbehaver]
        while self.running():
            try:
                random.choice(behaviours)()
            except OSError:
                self.count("connection refused or reset")
                time.sleep(0.5)

    # --- Faults and samples ---------------------------------------------------------------
    def faults(self):
        next_fault = time.monotonic() + FAULT_S
        index = 0
        while self.running():
            time.sleep(1)
            if time.monotonic() < next_fault:
                continue
            start, end = FAULTS[index % len(FAULTS)]
            index += 1
            self.control(start)
            self.count("fault " + start)
            if end is not None:
                time.sleep(8)
                self.control(end)
            next_fault += FAULT_S

    def sample(self, at):
        pid = self.service.pid
        rss_kb = 0
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    rss_kb = int(line.split()[1])
        descriptors = len(os.listdir(f"/proc/{pid}/fd"))
        log_bytes = os.path.getsize(self.log)
        self.samples.append((at, rss_kb, descriptors, log_bytes))

    def run(self, visitors=6):
        self.start()
        began = time.monotonic()
        self.sample(0)
        threads = [threading.Thread(target=self.visitor) for _ in range(visitors)]
        threads.append(threading.Thread(target=self.faults))
        for thread in threads:
            thread.start()
        while self.running():
            time.sleep(min(SAMPLE_S, max(0.0, self.deadline - time.monotonic())))
            self.sample(round(time.monotonic() - began))
        for thread in threads:
            thread.join(timeout=30)
        stopping = time.monotonic()
        self.service.terminate()
        try:
            self.stop_status = self.service.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.service.kill()
            self.stop_status = "killed after 30 s"
        self.stop_seconds = time.monotonic() - stopping
        self.sim.terminate()
        self.sim.wait(timeout=10)

    def verdict(self):
        # Growth: the end above what the first minute reached (RSS with 25 % of slack).
        settled = [sample for sample in self.samples if sample[0] <= FAULT_S]
        grew = []
        if self.samples[-1][1] > 1.25 * max(sample[1] for sample in settled):
            grew.append("resident memory")
        if self.samples[-1][2] > max(sample[2] for sample in settled):
            grew.append("descriptors")
        seconds = max(1, self.samples[-1][0])
        rate = (self.samples[-1][3] - self.samples[0][3]) / seconds / 1024
        logs = (f"The log grows with the traffic it records (about {rate:.0f} KiB/s here, every "
                "request logged with its bytes); on disk it is held by the log's own bounds "
                "(64 MiB per file, 512 MiB in all).")
        if not grew:
            return "Nothing grew: resident memory and descriptors stayed at their first " \
                   "minute's level. " + logs
        return "Grew: " + ", ".join(grew) + ". " + logs

    def report(self):
        names = ["RSS (KiB)", "descriptors", "log (bytes)"]
        lines = ["<!-- soak -->", "## Soak", "",
                 f"{self.samples[-1][0]} s of linkrelay on linkrelay-sim behind a pty, 6 clients "
                 "at a time visiting as scanners, subscribers, readers and misbehavers (garbage, "
                 "0xFFFF connects, 1,000 unknown disconnects, unfinished frames, 257 UUIDs, "
                 "scanners that never read, hit and run), a dongle fault every minute "
                 "(unplug, silence, unknown message, wedged port, garbage, stalled connects). "
                 "Written by `bench/soak.py`.", "",
                 "| | start | peak | end |", "|---|---|---|---|"]
        for column, name in enumerate(names, start=1):
            values = [sample[column] for sample in self.samples]
            lines.append(f"| {name} | {values[0]} | {max(values)} | {values[-1]} |")
        lines += ["", self.verdict()]
        lines += ["", "Visits: " + ", ".join(f"{k} {v}" for k, v in sorted(self.counts.items())),
                  "", f"SIGTERM at the end: exit status {self.stop_status} after "
                  f"{self.stop_seconds:.1f} s.", "", "Samples (plot-ready):", "",
                  "| t (s) | RSS (KiB) | descriptors | log (bytes) |", "|---|---|---|---|"]
        lines += [f"| {t} | {rss} | {fds} | {log} |" for t, rss, fds, log in self.samples]
        lines += ["", "<!-- /soak -->", ""]
        return "\n".join(lines)


def write_results(section):
    path = os.path.join(HERE, "RESULTS.md")
    text = open(path).read() if os.path.exists(path) else ""
    if "<!-- soak -->" in text:
        text = text[:text.index("<!-- soak -->")] + text[text.index("<!-- /soak -->") + 15:]
    open(path, "w").write(text.rstrip("\n") + "\n\n" + section)


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    soak = Soak(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 600)
    try:
        soak.run()
    finally:
        for process in (getattr(soak, "service", None), getattr(soak, "sim", None)):
            if process is not None and process.poll() is None:
                process.kill()
    section = soak.report()
    print(section)
    write_results(section)


if __name__ == "__main__":
    main()
