"""Addresses and UUIDs between their text forms and their wire forms.

Addresses are written AA:BB:CC:DD:EE:FF, most significant byte first; on the wire they
travel least significant byte first, as the dongle reports them.

UUIDs are written in the 36-character form, lower case, as bleak writes them. On the
wire a UUID is a length byte (2 or 16) and its bytes, most significant first; a 16-bit
UUID stands for its expansion with the Bluetooth base UUID.
"""

import uuid as uuid_module
from typing import Union

BASE_UUID_SUFFIX = "-0000-1000-8000-00805f9b34fb"

UuidLike = Union[str, int, uuid_module.UUID]


def address_to_wire(address: str) -> bytes:
    """The 6 wire bytes of an address such as "C4:7C:8D:6A:12:01"."""
    parts = address.split(":")
    if len(parts) != 6 or any(len(part) != 2 for part in parts):
        raise ValueError(f"not an address: {address!r} (expected AA:BB:CC:DD:EE:FF)")
    try:
        return bytes(int(part, 16) for part in reversed(parts))
    except ValueError:
        raise ValueError(f"not an address: {address!r} (expected AA:BB:CC:DD:EE:FF)") from None


def address_from_wire(wire: bytes) -> str:
    """The text form of 6 wire bytes."""
    return ":".join(f"{byte:02X}" for byte in reversed(wire))


def normalize_uuid(value: UuidLike) -> str:
    """The 36-character lower-case form of "180d", "0x180d", 0x180D, a 32-bit or a
    128-bit UUID (text or uuid.UUID)."""
    if isinstance(value, uuid_module.UUID):
        return str(value)
    if isinstance(value, int):
        if not 0 <= value <= 0xFFFFFFFF:
            raise ValueError(f"not a 16- or 32-bit UUID: {value:#x}")
        return f"{value:08x}{BASE_UUID_SUFFIX}"
    text = value.strip().lower()
    if text.startswith("0x"):
        text = text[2:]
    if len(text) in (4, 8):
        try:
            return f"{int(text, 16):08x}{BASE_UUID_SUFFIX}"
        except ValueError:
            pass
    try:
        return str(uuid_module.UUID(text))
    except ValueError:
        raise ValueError(f"not a UUID: {value!r}") from None


def uuid_to_wire(value: UuidLike) -> bytes:
    """The wire bytes of a UUID without its length byte: 2 bytes for a UUID of the
    Bluetooth base with a 16-bit value, else 16."""
    text = normalize_uuid(value)
    raw = uuid_module.UUID(text).bytes
    if text.endswith(BASE_UUID_SUFFIX) and text.startswith("0000"):
        return raw[2:4]
    return raw


def uuid_from_wire(wire: bytes) -> str:
    """The 36-character form of 2 or 16 wire bytes (most significant first)."""
    if len(wire) == 2:
        return f"0000{wire.hex()}{BASE_UUID_SUFFIX}"
    if len(wire) == 16:
        return str(uuid_module.UUID(bytes=bytes(wire)))
    raise ValueError(f"a UUID is 2 or 16 bytes long, not {len(wire)}")


def short_uuid(value: UuidLike) -> str:
    """"180d" for a UUID of the Bluetooth base with a 16-bit value, else the full form."""
    text = normalize_uuid(value)
    if text.endswith(BASE_UUID_SUFFIX) and text.startswith("0000"):
        return text[4:8]
    return text
