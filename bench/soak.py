#!/usr/bin/env python3
"""Soak run: linkrelay on linkrelay-sim (behind a pty) for a bounded time, with clients
connecting, scanning, subscribing, leaving and misbehaving, while the simulated dongle
faults once a minute. The service's resident memory, open descriptors, the size of its log
folder (the log files, which have their own bounds) and the size of its captured standard
error (which has none) are sampled every 10 s and written as a markdown section (start,
peak, end, and every sample) into bench/RESULTS.md, between the soak markers.

    unshare --net sh -c 'ip link set lo up; bench/soak.py BUILD_DIR [SECONDS]'

Loopback only, port 9089 (run it in a network namespace of its own); SECONDS defaults to
600. Every loop is bounded by the run's deadline; every process started here is ended by
its id.
"""
import os
import random
import re
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
# The echo pad's readable and writable characteristic, as a UUID entry (length, then the
# UUID in text order); found first, it has index 0.
ECHO_CHAR = bytes([16]) + bytes.fromhex("a5b1c0011e7d4b3a9f2c5d0e8b6a7c10")
HEART_RATE_MEASUREMENT = bytes([2, 0x2A, 0x37])
# Each fault and what ends it, one a minute in turn.
FAULTS = [("unplug", "replug"), ("silence on", "silence off"), ("unknown", None),
          ("wedge on", "wedge off"), ("garbage 64", None), ("stall-connect 3", None)]
FRAME_LIMIT_S = 10  # the service drops a client whose begun frame is unfinished this long
CROWD = 64  # connections one crowd visit holds at once
# The log's own bounds, for the verdict: 64 MiB per file, 512 MiB for the folder.
LOG_FOLDER_BOUND = 512 * 1024 * 1024


def frame(content):
    if len(content) < 127:
        return bytes([len(content)]) + content
    return bytes([0x82]) + struct.pack("<H", len(content)) + content


def folder_size(path):
    """The bytes of the files in `path`; a file removed while it is counted counts 0."""
    total = 0
    for name in os.listdir(path) if os.path.isdir(path) else []:
        try:
            total += os.path.getsize(os.path.join(path, name))
        except OSError:
            pass
    return total


def connect_gob(address, interval_max=40, timeout=200):
    return bytes([2]) + address + struct.pack("<IIII", 24, interval_max, timeout, 0)


class Soak:
    def __init__(self, build, seconds):
        self.build = build
        self.deadline = time.monotonic() + seconds
        self.folder = tempfile.mkdtemp(prefix="linkrelay-soak-")
        self.link = os.path.join(self.folder, "dongle.tty")
        self.log = os.path.join(self.folder, "service.log")  # standard error
        self.logs = os.path.join(self.folder, "logs")  # the service's log folder
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
        env = dict(os.environ, LOGS_DIRECTORY=self.logs,
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

    @staticmethod
    def wait_for(sock, gob_type, seconds):
        """Reads frames until a gob of `gob_type` comes ("found"), the service ends the
        connection ("ended") or `seconds` pass ("timed out"). A prefix is one length byte
        below 0x80, or 0x80 + n and the length in n bytes, least significant first."""
        end = time.monotonic() + seconds
        pending = b""
        while time.monotonic() < end:
            try:
                part = sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return "ended"
            if not part:
                return "ended"
            pending += part
            while pending:
                head = 1 if pending[0] < 0x80 else 1 + (pending[0] & 0x7F)
                if len(pending) < head:
                    break
                size = pending[0] if head == 1 else int.from_bytes(pending[1:head], "little")
                if len(pending) < head + size:
                    break
                if size > 0 and pending[head] == gob_type:
                    return "found"
                pending = pending[head + size:]
        return "timed out"

    @staticmethod
    def has_input(sock):
        """Whether the service has sent this connection something (its greeting)."""
        try:
            return len(sock.recv(65536, socket.MSG_DONTWAIT)) > 0
        except OSError:
            return False

    @staticmethod
    def closed_within(sock, seconds):
        """Reads until the service closes the connection (True) or `seconds` pass (False)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                if not sock.recv(65536):
                    return True
            except socket.timeout:
                continue
            except OSError:
                return True
        return False

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
            sock.sendall(frame(bytes([4]) + ECHO_PAD + bytes([0]) + ECHO_CHAR))
            for _ in range(50):
                sock.sendall(frame(bytes([6]) + ECHO_PAD + bytes([0])))
                sock.sendall(frame(bytes([11]) + ECHO_PAD))
            self.drain(sock, 1)
        self.count("reader")

    def fast_sender(self, sock):
        """Connects the echo pad, then streams RSSI requests: at most 2,000, for at most 3 s."""
        sock.sendall(frame(connect_gob(ECHO_PAD)))
        self.drain(sock, 2)
        batch = b"".join(frame(bytes([11]) + ECHO_PAD) for _ in range(100))
        end = time.monotonic() + 3
        for _ in range(20):
            if time.monotonic() >= end:
                break
            sock.sendall(batch)
            self.drain(sock, 0.02)

    def busy_device(self, sock):
        """Two procedures, then two writes, for one device, each pair sent without waiting.
        Each step waits for the one before: the procedures for Connected (gob 130), the
        writes for CharacteristicFound (gob 132), since before it index 0 is not known."""
        sock.sendall(frame(connect_gob(ECHO_PAD)))
        connected = self.wait_for(sock, 130, 10)
        if connected != "found":
            return "connect " + connected
        sock.sendall(frame(bytes([3]) + ECHO_PAD) +
                     frame(bytes([4]) + ECHO_PAD + bytes([0]) + ECHO_CHAR))
        found = self.wait_for(sock, 132, 10)
        if found != "found":
            return "characteristic " + found
        write = frame(bytes([7]) + ECHO_PAD + bytes([0, 1]) + b"\x01\x02")
        sock.sendall(write + write)
        return "ended" if self.closed_within(sock, 2) else "served"

    def partial_held(self, sock):
        """A frame begun and never finished, held past the frame limit: the service drops it."""
        sock.sendall(bytes([0x82, 0x00, 0x10, 4, 1, 2]))
        return "dropped" if self.closed_within(sock, FRAME_LIMIT_S + 5) else "not dropped"

    def crowd(self):
        """CROWD connections at once, each held 3 s, opened within at most 5 s."""
        sockets = []
        end = time.monotonic() + 5
        try:
            for _ in range(CROWD):
                if time.monotonic() >= end:
                    break
                sockets.append(self.client())
            time.sleep(3)
            greeted = sum(1 for sock in sockets if self.has_input(sock))
        finally:
            for sock in sockets:
                sock.close()
        return f"{greeted} of {len(sockets)} greeted"

    def misbehaver(self):
        kind = random.choice(["garbage", "huge-connect", "unknown-disconnects", "partial",
                              "partial-held", "too-many-uuids", "silent-reader",
                              "hit-and-run", "fast-sender", "busy-device", "crowd"])
        if kind == "crowd":
            self.count("misbehaver crowd: " + self.crowd())
            return
        with self.client() as sock:
            try:
                if kind == "partial-held":
                    kind += ": " + self.partial_held(sock)
                elif kind == "busy-device":
                    kind += ": " + self.busy_device(sock)
                elif kind == "fast-sender":
                    self.fast_sender(sock)
                elif kind == "garbage":
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
                kind += ": session ended while sending"
        self.count("misbehaver " + kind)

    def visitor(self):
        behaviours = [self.scanner, self.subscriber, self.reader, self.misbehaver]
        while self.running():
            behaviour = random.choice(behaviours)
            try:
                behaviour()
            except OSError as error:
                # Which visit failed, and how: a session the service ended (reset, broken
                # pipe), a connection it refused, or a wait that timed out.
                self.count(f"{behaviour.__name__} failed: {type(error).__name__}")
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
        folder_bytes = folder_size(self.logs)
        stderr_bytes = os.path.getsize(self.log)
        self.samples.append((at, rss_kb, descriptors, folder_bytes, stderr_bytes))

    def run(self, visitors=8):
        self.visitors = visitors
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
        # The end: one more sample once every visit is over and its clients have left.
        self.sample(round(time.monotonic() - began))
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
        folder_end = self.samples[-1][3]
        folder_rate = (folder_end - self.samples[0][3]) / seconds
        stderr_rate = (self.samples[-1][4] - self.samples[0][4]) / seconds
        if folder_end >= LOG_FOLDER_BOUND:
            reach = "which this run reached"
        elif folder_rate > 0:
            hours = (LOG_FOLDER_BOUND - folder_end) / folder_rate / 3600
            reach = f"which this run did not reach (at this rate in about {hours:.1f} h)"
        else:
            reach = "which this run did not reach"
        logs = (f"The log grew with the traffic it records, every request logged with its "
                f"bytes: the log folder by about {folder_rate / 1024:.0f} KiB/s, to "
                f"{folder_end / 1048576:.1f} MiB, under its own bounds (64 MiB per file, "
                f"512 MiB in all), {reach}; the captured standard error, which carries the "
                f"same lines and has no bound of its own (under systemd it goes to the "
                f"journal, which keeps its own), by about {stderr_rate / 1024:.0f} KiB/s.")
        log_grew = folder_end > self.samples[0][3]
        if not log_grew:
            logs = "The log folder did not grow."
        if not grew:
            return ("Nothing grew" + (" but the log" if log_grew else "") + ": resident memory "
                    "and descriptors stayed at their first minute's level. " + logs)
        return "Grew: " + ", ".join(grew) + (", and the log. " if log_grew else ". ") + logs

    def session_ends(self):
        """The sessions the service ended, by the reason it logged; and how many of the
        requests behind them came while the dongle was not ready (during a fault)."""
        reasons = {}
        not_ready = 0
        with open(self.log, errors="replace") as log:
            for line in log:
                ended = re.search(r"mux: client [0-9a-f]+ failed: (.*)$", line)
                if ended:
                    reasons[ended.group(1)] = reasons.get(ended.group(1), 0) + 1
                elif re.search(r"BG conduit: \w+ called but not ready", line):
                    not_ready += 1
        return reasons, not_ready

    def report(self):
        names = ["RSS (KiB)", "descriptors", "log folder (bytes)", "standard error (bytes)"]
        lines = ["<!-- soak -->", "## Soak", "",
                 f"{self.samples[-1][0]} s of linkrelay on linkrelay-sim behind a pty, "
                 f"{self.visitors} clients at a time visiting as scanners, subscribers, readers "
                 "and misbehavers (garbage, 0xFFFF connects, 1,000 unknown disconnects, unfinished "
                 f"frames left at once or held past the {FRAME_LIMIT_S} s frame limit, 257 UUIDs, "
                 "scanners that never read, hit and run, fast senders of 2,000 requests, two "
                 f"procedures and two writes sent at once to one device, crowds of {CROWD} "
                 "connections at once), a dongle fault every minute (unplug, silence, unknown "
                 "message, wedged port, garbage, stalled connects). Written by `bench/soak.py`.",
                 "",
                 "| | start | peak | end |", "|---|---|---|---|"]
        for column, name in enumerate(names, start=1):
            values = [sample[column] for sample in self.samples]
            peak = max(values)
            at = self.samples[values.index(peak)][0]
            lines.append(f"| {name} | {values[0]} | {peak} (t={at} s) | {values[-1]} |")
        lines += ["", self.verdict()]
        reasons, not_ready = self.session_ends()
        lines += ["", "Visits: " + ", ".join(f"{k} {v}" for k, v in sorted(self.counts.items())),
                  "", "Sessions the service ended, by the reason it logged: " +
                  (", ".join(f"{k} {v}" for k, v in sorted(reasons.items())) or "none") +
                  f". Of these, {not_ready} were requests made while the dongle was not ready "
                  "(during a fault): such a request is refused, and the refusal ends its session.",
                  "", f"SIGTERM at the end: exit status {self.stop_status} after "
                  f"{self.stop_seconds:.1f} s.", "", "Samples (plot-ready):", "",
                  "| t (s) | " + " | ".join(names) + " |", "|---|---|---|---|---|"]
        lines += ["| " + " | ".join(str(value) for value in sample) + " |"
                  for sample in self.samples]
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
