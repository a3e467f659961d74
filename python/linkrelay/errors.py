"""The exceptions of the linkrelay package."""

import asyncio

__all__ = [
    "Closed",
    "ConnectFailed",
    "DeviceDisconnected",
    "LinkrelayError",
    "NotReady",
    "ProtocolError",
    "Timeout",
    "reason_text",
]


class LinkrelayError(Exception):
    """Base of every error this package raises."""


class ConnectFailed(LinkrelayError, ConnectionError):
    """The service could not be reached."""


class Closed(LinkrelayError, ConnectionError):
    """The service ended the TCP session.

    It does so when it refuses a request (a malformed request, a device with too many
    requests waiting, a dongle that is not ready) and when it stops. Every wait of the session ends with it.
    """


class Timeout(LinkrelayError, asyncio.TimeoutError):
    """The awaited event did not come in time.

    The service never reports a failed procedure: a time-out is the only sign of it.
    """


class NotReady(LinkrelayError):
    """The dongle is not ready (its last status was failed or not ready).

    Requests that need the dongle would be refused, which ends the session, so they are
    not sent.
    """


class DeviceDisconnected(LinkrelayError):
    """The device's connection ended while something waited on it."""

    def __init__(self, address: str, reason: int):
        super().__init__(f"{address} disconnected, reason {reason} ({reason_text(reason)})")
        self.address = address
        self.reason = reason


class ProtocolError(LinkrelayError):
    """The service sent bytes that are not a valid frame or event."""


_REASONS = {
    0: "local",
    1: "remote user",
    2: "supervision timeout",
    3: "link-layer timeout",
    4: "other",
}


def reason_text(reason: int) -> str:
    """The meaning of a disconnection reason."""
    return _REASONS.get(reason, "unknown")
