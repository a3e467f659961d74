"""linkrelay.Client against linkrelay --simulate: every call, time-outs, events of other
clients' devices, refused requests."""

import asyncio

import pytest

import linkrelay
from linkrelay import gobs
from linkrelay.framing import encode_frame
from conftest import BEACON, ECHO, ECHO_SERIAL, ECHO_SERVICE, ECHO_VALUE, HEART_RATE, THERMO

HR_MEASUREMENT = "00002a37-0000-1000-8000-00805f9b34fb"
SENSOR_LOCATION = "00002a38-0000-1000-8000-00805f9b34fb"
BATTERY_LEVEL = "00002a19-0000-1000-8000-00805f9b34fb"


async def scan_until(client, wanted, seconds=10):
    """The merged fields seen per address until every wanted address has shown its name."""
    seen = {}
    async with client.scan(duration=seconds) as scan:
        async for result in scan:
            seen.setdefault(result.address, []).append(result)
            if all(any(r.local_name for r in seen.get(a, [])) for a in wanted):
                break
    return seen


async def test_status_and_scan_results_with_decoded_advertising_data(service):
    async with service.client() as client:
        assert client.status == linkrelay.Status(version=1, conduit=1, state=0)
        seen = await scan_until(client, [HEART_RATE, THERMO, ECHO])
    heart = seen[HEART_RATE]
    assert {r.local_name for r in heart} >= {"Pulse HR"}
    advert = next(r for r in heart if r.service_uuids)
    assert advert.flags == 0x06
    assert advert.service_uuids == [
        "0000180d-0000-1000-8000-00805f9b34fb",
        "0000180f-0000-1000-8000-00805f9b34fb",
    ]
    assert all(-100 < r.rssi < 0 for r in heart)
    echo = next(r for r in seen[ECHO] if r.service_uuids)
    assert echo.service_uuids == [ECHO_SERVICE]
    assert any(r.local_name == "Thermo 7" and r.service_uuids for r in seen[THERMO])


async def test_scan_reports_manufacturer_data_and_stops(service):
    async with service.client() as client:
        async for result in client.scan(duration=10):
            if result.address == BEACON:
                break
        assert result.manufacturer_data == {0xFFFF: bytes.fromhex("02151020304000010002c5")}
        assert result.flags == 0x04
        scan = client.scan()
        async with scan:
            await asyncio.wait_for(scan.__anext__(), 10)
        # Stopped: the iterator ends, and the session stays usable.
        with pytest.raises(StopAsyncIteration):
            await scan.__anext__()
        assert client.status.ready


async def test_device_calls_on_the_heart_rate_monitor(service):
    async with service.client() as client:
        device = await client.connect(HEART_RATE)
        assert device.connected
        services = await device.services()
        assert [(s.index, linkrelay.short_uuid(s.uuid)) for s in services] == [(0, "180d"), (1, "180f")]
        # A UUID the device lacks is left out of the answer.
        found = await device.characteristics(["2a38", "2a37", "abcd"])
        assert sorted(c.uuid for c in found) == [HR_MEASUREMENT, SENSOR_LOCATION]
        assert await device.read(SENSOR_LOCATION) == b"\x01"
        battery = await device.characteristic(0x2A19)  # looked up on first use
        assert battery.uuid == BATTERY_LEVEL
        assert await device.read(battery) == bytes([87])
        assert -100 < await device.rssi() < 0

        values = []
        got_three = asyncio.Event()

        def on_value(value):
            values.append(value)
            if len(values) == 3:
                got_three.set()

        await device.notify("2a37", on_value)
        await asyncio.wait_for(got_three.wait(), 10)
        await device.unsubscribe("2a37")
        assert all(len(v) == 2 and v[0] == 0 and 60 < v[1] < 90 for v in values)
        assert await device.disconnect() == 0
        assert not device.connected
        with pytest.raises(linkrelay.DeviceDisconnected):
            await device.read(SENSOR_LOCATION)


async def values_until_end(subscription):
    return [value async for value in subscription]


async def test_subscription_as_an_async_iterator_ends_on_unsubscribe(service):
    async with service.client() as client:
        device = await client.connect(HEART_RATE)
        subscription = await device.notify(HR_MEASUREMENT)
        first = await asyncio.wait_for(subscription.__anext__(), 10)
        assert first[0] == 0
        await subscription.unsubscribe()
        rest = await asyncio.wait_for(values_until_end(subscription), 10)
        assert len(rest) <= 1  # at most one value already on the way
        await device.disconnect()


async def test_writes_short_and_long_with_and_without_response(service):
    async with service.client() as client:
        device = await client.connect(ECHO)
        echoed = await device.notify(ECHO_VALUE)  # the device sends back what is written

        async def written_back(length):
            data = b""
            while len(data) < length:
                data += await asyncio.wait_for(echoed.__anext__(), 10)
            return data

        short = b"hello"
        await device.write(ECHO_VALUE, short, response=True)
        assert await written_back(len(short)) == short
        long_value = bytes(range(200))
        await device.write(ECHO_VALUE, long_value, response=True)
        assert await written_back(len(long_value)) == long_value
        await device.write(ECHO_VALUE, long_value[:7], response=False)
        assert await written_back(7) == long_value[:7]
        await device.write(ECHO_VALUE, long_value[::-1], response=False)
        assert await written_back(200) == long_value[::-1]
        assert await device.read(ECHO_SERIAL) == b"EP-0042"
        await device.unsubscribe(ECHO_VALUE)

        # Indications arrive the same way once asked for.
        indicated = await device.indicate(ECHO_VALUE)
        await device.write(ECHO_VALUE, b"ind", response=True)
        assert await asyncio.wait_for(indicated.__anext__(), 10) == b"ind"
        await device.unsubscribe(ECHO_VALUE)
        await device.disconnect()


async def test_time_outs(service):
    async with service.client(timeout=2) as client:
        # Thermo 7 has a random address: the service connects it as the scan saw it.
        await scan_until(client, [THERMO])
        device = await client.connect(THERMO)
        # No characteristic found: the service sends nothing.
        feed = "0000feed-0000-1000-8000-00805f9b34fb"
        expected = f"^timed out after 1 s waiting for the characteristics {feed} of {THERMO}$"
        with pytest.raises(linkrelay.Timeout, match=expected):
            await device.characteristics(["feed"], timeout=1)
        # The device is still usable after the time-out.
        assert await device.read("2a19") in (bytes([64]), bytes([63]), bytes([62]))
        await device.disconnect()
        # A device that is not there never connects; the attempt is withdrawn.
        expected = "^timed out after 1 s waiting for a connection to 01:02:03:04:05:06$"
        with pytest.raises(linkrelay.Timeout, match=expected):
            await client.connect("01:02:03:04:05:06", timeout=1)
        assert isinstance(linkrelay.Timeout("x"), asyncio.TimeoutError)
        # A connect given up too early is withdrawn; connecting again waits for that.
        with pytest.raises(linkrelay.Timeout):
            await client.connect(THERMO, timeout=0.001)
        device = await client.connect(THERMO, timeout=10)
        assert await device.read("2a19")
        await device.disconnect()
    with pytest.raises(linkrelay.LinkrelayError, match="not open"):
        await service.client().wait_ready()


async def test_events_of_other_clients_devices_stay_out(service):
    async with service.client() as owner, service.client() as other:
        heart = await owner.connect(HEART_RATE)
        echo = await other.connect(ECHO)
        # Both characteristics get index 0 on their own connections.
        assert (await heart.characteristic(HR_MEASUREMENT)).index == 0
        assert (await echo.characteristic(ECHO_SERIAL)).index == 0
        notifications = await heart.notify(HR_MEASUREMENT)
        for _ in range(3):
            await asyncio.wait_for(notifications.__anext__(), 10)
            assert await echo.read(0) == b"EP-0042"
        # Every client hears of every disconnection; only the owner's device ends.
        await heart.disconnect()
        await asyncio.sleep(0.3)
        assert echo.connected
        assert await echo.read(ECHO_SERIAL) == b"EP-0042"
        await echo.disconnect()


async def test_refused_request_closes_only_that_session(service):
    async with service.client() as bystander:
        await scan_until(bystander, [THERMO])
        device = await bystander.connect(THERMO)
        async with service.client() as client:
            echo = await client.connect(ECHO)
            # Index 200 was never found: the service refuses the write and ends the session.
            with pytest.raises(linkrelay.Closed):
                await echo.write(200, b"x")
            assert client.closed
            assert not echo.connected
            with pytest.raises(linkrelay.Closed):
                await client.connect(HEART_RATE)
            with pytest.raises(linkrelay.Closed):
                await echo.read(ECHO_SERIAL)
        assert await device.read("2a19")
        await device.disconnect()


async def test_malformed_gob_and_split_frames_on_a_raw_socket(service):
    # A request sent one byte at a time is taken as one.
    reader, writer = await asyncio.open_connection(service.host, service.port)
    frame = encode_frame(gobs.connect(HEART_RATE))
    for at in range(len(frame)):
        writer.write(frame[at : at + 1])
        await writer.drain()
        await asyncio.sleep(0.01)
    received = b""
    connected = encode_frame(bytes([gobs.CONNECTED]) + bytes.fromhex("01126a8d7cc4"))
    while connected not in received:
        received += await asyncio.wait_for(reader.read(4096), 10)
    # An unknown request type ends the session: the service closes the stream.
    writer.write(encode_frame(bytes([99])))
    await writer.drain()
    while await asyncio.wait_for(reader.read(4096), 10):
        pass
    writer.close()
    # ... and the device it held is released: another session can connect to it.
    async with service.client() as client:
        device = await client.connect(HEART_RATE)
        await device.disconnect()


async def test_unreachable_service():
    with pytest.raises(linkrelay.ConnectFailed):
        await linkrelay.Client("127.0.0.1", 1).open()
