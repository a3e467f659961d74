"""Advertising data: the length-type-value structures of an advertisement or a scan
response, decoded into the fields a program looks at."""

from dataclasses import dataclass, field
from typing import Dict, List, Optional

from .text import normalize_uuid, uuid_from_wire

# Structure types.
_FLAGS = 0x01
_UUID16 = (0x02, 0x03)
_UUID32 = (0x04, 0x05)
_UUID128 = (0x06, 0x07)
_NAME = (0x08, 0x09)
_TX_POWER = 0x0A
_SERVICE_DATA16 = 0x16
_SERVICE_DATA32 = 0x20
_SERVICE_DATA128 = 0x21
_MANUFACTURER = 0xFF


@dataclass
class Advertisement:
    flags: Optional[int] = None
    local_name: Optional[str] = None
    service_uuids: List[str] = field(default_factory=list)
    manufacturer_data: Dict[int, bytes] = field(default_factory=dict)  # company id -> bytes
    service_data: Dict[str, bytes] = field(default_factory=dict)  # service UUID -> bytes
    tx_power: Optional[int] = None  # dBm

    def merge(self, other: "Advertisement") -> None:
        """Adds what `other` carries (a scan response after its advertisement)."""
        if other.flags is not None:
            self.flags = other.flags
        if other.local_name is not None:
            self.local_name = other.local_name
        for uuid in other.service_uuids:
            if uuid not in self.service_uuids:
                self.service_uuids.append(uuid)
        self.manufacturer_data.update(other.manufacturer_data)
        self.service_data.update(other.service_data)
        if other.tx_power is not None:
            self.tx_power = other.tx_power


def _little_endian_uuid(data: bytes) -> str:
    if len(data) == 4:
        return normalize_uuid(int.from_bytes(data, "little"))
    return uuid_from_wire(bytes(reversed(data)))


def _uuid_list(data: bytes, width: int) -> List[str]:
    return [_little_endian_uuid(data[at : at + width]) for at in range(0, len(data) - width + 1, width)]


def _structures(data: bytes):
    at = 0
    while at < len(data):
        length = data[at]
        if length == 0:
            return  # the rest is padding
        body = data[at + 1 : at + 1 + length]
        if len(body) < length:
            return  # cut short: what was complete has been decoded
        yield body[0], body[1:]
        at += 1 + length


def parse_advertisement(data: bytes) -> Advertisement:
    """Decodes advertising data; unknown structures are skipped, a structure cut short
    ends the decoding."""
    advert = Advertisement()
    for kind, value in _structures(data):
        if kind == _FLAGS and value:
            advert.flags = value[0]
        elif kind in _UUID16:
            advert.service_uuids += _uuid_list(value, 2)
        elif kind in _UUID32:
            advert.service_uuids += _uuid_list(value, 4)
        elif kind in _UUID128:
            advert.service_uuids += _uuid_list(value, 16)
        elif kind in _NAME:
            if kind == _NAME[1] or advert.local_name is None:
                advert.local_name = value.decode("utf-8", errors="replace")
        elif kind == _TX_POWER and value:
            advert.tx_power = int.from_bytes(value[:1], "little", signed=True)
        elif kind == _MANUFACTURER and len(value) >= 2:
            advert.manufacturer_data[int.from_bytes(value[:2], "little")] = bytes(value[2:])
        elif kind == _SERVICE_DATA16 and len(value) >= 2:
            advert.service_data[_little_endian_uuid(value[:2])] = bytes(value[2:])
        elif kind == _SERVICE_DATA32 and len(value) >= 4:
            advert.service_data[_little_endian_uuid(value[:4])] = bytes(value[4:])
        elif kind == _SERVICE_DATA128 and len(value) >= 16:
            advert.service_data[_little_endian_uuid(value[:16])] = bytes(value[16:])
    return advert
