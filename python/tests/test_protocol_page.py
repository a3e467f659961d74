"""The package against docs/protocol.md: each example's fields, written by this package,
make the example's frame (requests), and its frame decodes to its fields (events). The C++
codec is held to the same page by tests/gob/protocol_doc_test.cpp."""

from pathlib import Path

import pytest

from linkrelay import gobs
from linkrelay.framing import FrameParser, encode_frame
from linkrelay.text import short_uuid

PAGE = Path(__file__).resolve().parents[2] / "docs" / "protocol.md"


def examples():
    lines = PAGE.read_text().splitlines()
    return [
        (bytes.fromhex(line[len("frame: ") :]), lines[at + 1][len("fields: ") :])
        for at, line in enumerate(lines)
        if line.startswith("frame: ") and lines[at + 1].startswith("fields: ")
    ]


def request_of(fields: str) -> bytes:
    name, *pairs = fields.split(" ")
    values = dict(pair.split("=", 1) for pair in pairs)
    address = values.get("address")
    index = int(values.get("index", 0))
    if name == "StartScan":
        return gobs.start_scan()
    if name == "StopScan":
        return gobs.stop_scan()
    if name == "Connect":
        return gobs.connect(
            address,
            int(values["interval_min"]),
            int(values["interval_max"]),
            int(values["supervision_timeout"]),
            int(values["latency"]),
        )
    if name == "FindAttributes":
        return gobs.find_attributes(address, values["uuids"].split(","))
    if name == "Write":
        return gobs.write(address, index, bytes.fromhex(values["value"]), values["response"] == "1")
    if name in ("Read", "Notify", "Indicate", "Unsubscribe"):
        return getattr(gobs, name.lower())(address, index)
    simple = {"FindServices": gobs.find_services, "Disconnect": gobs.disconnect, "GetRssi": gobs.get_rssi}
    return simple[name](address)


def fields_of(event) -> str:
    parts = [type(event).__name__.replace("ScanResultGob", "ScanResult")]
    for name, value in vars(event).items():
        if isinstance(value, bytes):
            value = value.hex()
        elif name == "uuid":
            value = short_uuid(value)
        parts.append(f"{name}={value}")
    return " ".join(parts)


EXAMPLES = examples()


def test_the_page_has_an_example_of_every_type():
    assert sorted(frame[1] for frame, _ in EXAMPLES) == list(range(12)) + list(range(128, 137))


@pytest.mark.parametrize("frame,fields", EXAMPLES, ids=[f.split(" ")[0] for _, f in EXAMPLES])
def test_example(frame, fields):
    (gob,) = FrameParser().feed(frame)
    if gob[0] < gobs.STATUS:
        assert encode_frame(request_of(fields)) == frame
    else:
        assert fields_of(gobs.decode_event(gob)) == fields
