"""The gobs: request encoders (types 0 to 11) and event decoders (types 128 to 136).

Every multi-byte number is least significant byte first. docs/protocol.md gives the byte
table of each gob.
"""

import struct
from dataclasses import dataclass
from typing import Iterable, Union

from .errors import ProtocolError
from .text import address_from_wire, address_to_wire, uuid_from_wire, uuid_to_wire, UuidLike

# Requests.
START_SCAN = 0
STOP_SCAN = 1
CONNECT = 2
FIND_SERVICES = 3
FIND_ATTRIBUTES = 4
DISCONNECT = 5
READ = 6
WRITE = 7
NOTIFY = 8
INDICATE = 9
UNSUBSCRIBE = 10
GET_RSSI = 11
# Events.
STATUS = 128
SCAN_RESULT = 129
CONNECTED = 130
SERVICE_FOUND = 131
CHARACTERISTIC_FOUND = 132
DISCONNECTED = 133
WRITE_DONE = 134
ATTRIBUTE_VALUE = 135
RSSI = 136

PROTOCOL_VERSION = 1
# The service refuses a FindAttributes with more UUIDs than this.
MAX_LOOKUP_UUIDS = 256

# Conduit states carried by Status.
STATE_READY = 0
STATE_FAILED = 1
STATE_NOT_READY = 2


# --- Requests -------------------------------------------------------------------------


def start_scan() -> bytes:
    return bytes([START_SCAN])


def stop_scan() -> bytes:
    return bytes([STOP_SCAN])


def connect(
    address: str,
    interval_min: int = 24,
    interval_max: int = 40,
    supervision_timeout: int = 200,
    latency: int = 0,
) -> bytes:
    """Connection intervals in 1.25 ms units, the supervision time-out in 10 ms units,
    the latency in connection events (defaults: 30 ms, 50 ms, 2 s, 0)."""
    return (
        bytes([CONNECT])
        + address_to_wire(address)
        + struct.pack("<IIII", interval_min, interval_max, supervision_timeout, latency)
    )


def find_services(address: str) -> bytes:
    return bytes([FIND_SERVICES]) + address_to_wire(address)


def find_attributes(address: str, uuids: Iterable[UuidLike]) -> bytes:
    entries = b""
    count = 0
    for value in uuids:
        wire = uuid_to_wire(value)
        entries += bytes([len(wire)]) + wire
        count += 1
    if not 1 <= count <= MAX_LOOKUP_UUIDS:
        raise ValueError(f"a look-up takes 1 to {MAX_LOOKUP_UUIDS} UUIDs, not {count}")
    return bytes([FIND_ATTRIBUTES]) + address_to_wire(address) + b"\x00" + entries


def disconnect(address: str) -> bytes:
    return bytes([DISCONNECT]) + address_to_wire(address)


def _indexed(kind: int, address: str, index: int) -> bytes:
    if not 0 <= index <= 255:
        raise ValueError(f"a characteristic index is 0 to 255, not {index}")
    return bytes([kind]) + address_to_wire(address) + bytes([index])


def read(address: str, index: int) -> bytes:
    return _indexed(READ, address, index)


def write(address: str, index: int, value: bytes, response: bool) -> bytes:
    return _indexed(WRITE, address, index) + bytes([1 if response else 0]) + bytes(value)


def notify(address: str, index: int) -> bytes:
    return _indexed(NOTIFY, address, index)


def indicate(address: str, index: int) -> bytes:
    return _indexed(INDICATE, address, index)


def unsubscribe(address: str, index: int) -> bytes:
    return _indexed(UNSUBSCRIBE, address, index)


def get_rssi(address: str) -> bytes:
    return bytes([GET_RSSI]) + address_to_wire(address)


# --- Events ---------------------------------------------------------------------------


@dataclass(frozen=True)
class Status:
    version: int
    conduit: int
    state: int  # STATE_READY, STATE_FAILED or STATE_NOT_READY

    @property
    def ready(self) -> bool:
        return self.state == STATE_READY


@dataclass(frozen=True)
class ScanResultGob:
    address: str
    data: bytes  # the advertising or scan response data as received
    rssi: int  # dBm


@dataclass(frozen=True)
class Connected:
    address: str


@dataclass(frozen=True)
class ServiceFound:
    address: str
    index: int
    uuid: str


@dataclass(frozen=True)
class CharacteristicFound:
    address: str
    index: int
    uuid: str  # the UUID the characteristic was looked up by


@dataclass(frozen=True)
class Disconnected:
    address: str
    reason: int  # 0 local, 1 remote user, 2 supervision timeout, 3 link-layer timeout, 4 other


@dataclass(frozen=True)
class WriteDone:
    address: str


@dataclass(frozen=True)
class AttributeValue:
    address: str
    index: int
    value: bytes


@dataclass(frozen=True)
class Rssi:
    address: str
    rssi: int  # dBm


Event = Union[
    Status,
    ScanResultGob,
    Connected,
    ServiceFound,
    CharacteristicFound,
    Disconnected,
    WriteDone,
    AttributeValue,
    Rssi,
]


class _Reader:
    def __init__(self, gob: bytes):
        self.gob = gob
        self.at = 1

    def take(self, count: int) -> bytes:
        if self.at + count > len(self.gob):
            raise ProtocolError(f"event {self.gob[0]} cut short: {self.gob.hex(' ')}")
        part = self.gob[self.at : self.at + count]
        self.at += count
        return part

    def byte(self) -> int:
        return self.take(1)[0]

    def signed(self) -> int:
        return struct.unpack("<b", self.take(1))[0]

    def address(self) -> str:
        return address_from_wire(self.take(6))

    def field(self) -> bytes:
        return self.take(self.byte())

    def uuid(self) -> str:
        length = self.byte()
        if length not in (2, 16):
            raise ProtocolError(f"UUID of {length} bytes in event {self.gob[0]}")
        return uuid_from_wire(self.take(length))


def decode_event(gob: bytes) -> Event:
    """The event in one gob. Raises ProtocolError for an unknown type or a gob cut short;
    bytes after the fields are ignored, as the service does with requests."""
    kind = gob[0]
    reader = _Reader(gob)
    if kind == STATUS:
        if len(gob) != 4 or gob[1] != PROTOCOL_VERSION:
            raise ProtocolError(f"status gob {gob.hex(' ')} of another protocol version")
        return Status(gob[1], gob[2], gob[3])
    if kind == SCAN_RESULT:
        address = reader.address()
        data = reader.field()
        return ScanResultGob(address, data, reader.signed())
    if kind == CONNECTED:
        return Connected(reader.address())
    if kind == SERVICE_FOUND:
        address = reader.address()
        index = reader.byte()
        return ServiceFound(address, index, reader.uuid())
    if kind == CHARACTERISTIC_FOUND:
        address = reader.address()
        index = reader.byte()
        return CharacteristicFound(address, index, reader.uuid())
    if kind == DISCONNECTED:
        address = reader.address()
        return Disconnected(address, reader.byte())
    if kind == WRITE_DONE:
        return WriteDone(reader.address())
    if kind == ATTRIBUTE_VALUE:
        address = reader.address()
        index = reader.byte()
        return AttributeValue(address, index, reader.field())
    if kind == RSSI:
        address = reader.address()
        return Rssi(address, reader.signed())
    raise ProtocolError(f"unknown event type {kind}")

