"""linkrelay: a client of the linkrelay service, which shares one BLE dongle among the
programs of a computer over TCP (the gob protocol, docs/protocol.md).

linkrelay.Client is the protocol as asyncio calls; linkrelay.bleak holds backends that let
bleak programs use the service unchanged (imported on demand: it needs bleak).
"""

from .advertising import Advertisement, parse_advertisement
from .client import (
    Characteristic,
    Client,
    Device,
    Scan,
    ScanResult,
    Service,
    Subscription,
)
from .errors import (
    Closed,
    ConnectFailed,
    DeviceDisconnected,
    LinkrelayError,
    NotReady,
    ProtocolError,
    Timeout,
    reason_text,
)
from .gobs import Status
from .text import normalize_uuid, short_uuid

__all__ = [
    "Advertisement",
    "Characteristic",
    "Client",
    "Closed",
    "ConnectFailed",
    "Device",
    "DeviceDisconnected",
    "LinkrelayError",
    "NotReady",
    "ProtocolError",
    "Scan",
    "ScanResult",
    "Service",
    "Status",
    "Subscription",
    "Timeout",
    "normalize_uuid",
    "parse_advertisement",
    "reason_text",
    "short_uuid",
]
