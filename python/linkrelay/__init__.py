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
from . import errors
from .errors import *  # noqa: F401,F403 -- the exceptions, as errors.__all__ lists them
from .gobs import Status
from .text import normalize_uuid, short_uuid

__all__ = [
    "Advertisement",
    "Characteristic",
    "Client",
    "Device",
    "Scan",
    "ScanResult",
    "Service",
    "Status",
    "Subscription",
    "normalize_uuid",
    "parse_advertisement",
    "short_uuid",
] + errors.__all__
