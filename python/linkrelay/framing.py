"""Framing of gobs on the TCP stream: a length prefix, then the gob's bytes.

A gob of 1 to 126 bytes has a one-byte prefix holding its length. A longer one has the
prefix 0x80 + n followed by its length in n bytes (1 to 4), least significant first;
senders use the fewest bytes. Receivers accept either form for any length from 1 to
65,536 bytes; anything else is malformed.
"""

from typing import List

from .errors import ProtocolError

FRAME_MAX_LENGTH = 65536
_ONE_BYTE_MAX = 126


def encode_frame(gob: bytes) -> bytes:
    """The frame that carries `gob`: its prefix, then its bytes."""
    length = len(gob)
    if not 1 <= length <= FRAME_MAX_LENGTH:
        raise ValueError(f"a gob is 1 to {FRAME_MAX_LENGTH} bytes long, not {length}")
    if length <= _ONE_BYTE_MAX:
        return bytes([length]) + gob
    count = (length.bit_length() + 7) // 8
    return bytes([0x80 | count]) + length.to_bytes(count, "little") + gob


class FrameParser:
    """Cuts the bytes received on one stream into gobs; a frame may arrive in pieces."""

    def __init__(self) -> None:
        self._pending = bytearray()

    def feed(self, data: bytes) -> List[bytes]:
        """Adds received bytes; returns the gobs they complete, oldest first.

        Raises ProtocolError on an empty frame, a bad prefix or a frame above 65,536
        bytes: nothing after it can be trusted to begin a frame.
        """
        self._pending += data
        gobs = []
        while True:
            gob = self._next()
            if gob is None:
                return gobs
            gobs.append(gob)

    def _next(self):
        pending = self._pending
        if not pending:
            return None
        first = pending[0]
        prefix = 1
        length = first
        if first & 0x80:
            count = first & 0x7F
            if not 1 <= count <= 4:
                raise ProtocolError(f"bad frame prefix 0x{first:02x}")
            prefix += count
            if len(pending) < prefix:
                return None
            length = int.from_bytes(pending[1:prefix], "little")
        if not 1 <= length <= FRAME_MAX_LENGTH:
            raise ProtocolError(f"frame of {length} bytes")
        if len(pending) < prefix + length:
            return None
        gob = bytes(pending[prefix : prefix + length])
        del pending[: prefix + length]
        return gob
