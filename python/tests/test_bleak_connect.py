"""A bleak connect that fails during service discovery, against a small stand-in for the
service on loopback: the failure surfaces as BleakError and the TCP session is closed.

The real service cannot be made to fail at that moment on demand, so the stand-in speaks
just enough of the protocol: a ready Status, Connected for a Connect, and then one of the
failures below when the services are asked for.
"""

import asyncio
import time

import pytest
from bleak import BleakClient
from bleak.exc import BleakError

from linkrelay import gobs
from linkrelay.bleak import BleakClientLinkrelay
from linkrelay.framing import FrameParser, encode_frame
from linkrelay.text import address_to_wire

ADDRESS = "C4:7C:8D:6A:12:01"
EOF_SECONDS = 5
MAX_READS = 1000


class StandIn:
    """Serves one client: answers Connect, then fails FindServices in the given way, and
    records whether the client closed its end."""

    def __init__(self, failure: str):
        self.failure = failure
        self.requests = []
        self.client_closed = asyncio.Event()

    async def serve(self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter) -> None:
        parser = FrameParser()
        writer.write(encode_frame(bytes([gobs.STATUS, gobs.PROTOCOL_VERSION, 0, gobs.STATE_READY])))
        try:
            for _ in range(MAX_READS):
                data = await reader.read(4096)
                if not data:
                    self.client_closed.set()
                    return
                for gob in parser.feed(data):
                    self.requests.append(gob[0])
                    self.answer(gob[0], writer)
                await writer.drain()
        except ConnectionError:
            self.client_closed.set()
        finally:
            writer.close()

    def answer(self, kind: int, writer: asyncio.StreamWriter) -> None:
        wire = address_to_wire(ADDRESS)
        if kind == gobs.CONNECT:
            writer.write(encode_frame(bytes([gobs.CONNECTED]) + wire))
        elif kind == gobs.FIND_SERVICES and self.failure == "link lost":
            writer.write(encode_frame(bytes([gobs.DISCONNECTED]) + wire + bytes([2])))
        elif kind == gobs.FIND_SERVICES and self.failure == "malformed frame":
            writer.write(bytes([0x80]))  # a prefix no frame may have
        # "no answer": FindServices is left unanswered.


async def wait_until_closed(stand_in: StandIn) -> bool:
    try:
        await asyncio.wait_for(stand_in.client_closed.wait(), EOF_SECONDS)
        return True
    except asyncio.TimeoutError:
        return False


@pytest.mark.parametrize("failure", ["link lost", "malformed frame"])
async def test_failed_discovery_during_connect_raises_bleak_error_and_closes_the_session(failure):
    stand_in = StandIn(failure)
    server = await asyncio.start_server(stand_in.serve, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    try:
        client = BleakClient(ADDRESS, backend=BleakClientLinkrelay, host="127.0.0.1", port=port, timeout=3)
        started = time.monotonic()
        with pytest.raises(BleakError, match=f"could not connect to {ADDRESS} through linkrelay"):
            await client.connect()
        # The failure was reported, not waited out.
        assert time.monotonic() - started < 2
        assert stand_in.requests[:2] == [gobs.CONNECT, gobs.FIND_SERVICES]
        assert not client.is_connected
        assert await wait_until_closed(stand_in)
    finally:
        server.close()
        await server.wait_closed()


async def test_connect_cancelled_during_discovery_closes_the_session():
    stand_in = StandIn("no answer")
    server = await asyncio.start_server(stand_in.serve, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    try:
        client = BleakClient(ADDRESS, backend=BleakClientLinkrelay, host="127.0.0.1", port=port, timeout=30)
        connecting = asyncio.ensure_future(client.connect())
        for _ in range(200):
            if gobs.FIND_SERVICES in stand_in.requests:
                break
            await asyncio.sleep(0.01)
        assert gobs.FIND_SERVICES in stand_in.requests
        connecting.cancel()
        with pytest.raises(asyncio.CancelledError):
            await connecting
        assert not client.is_connected
        assert await wait_until_closed(stand_in)
    finally:
        server.close()
        await server.wait_closed()
