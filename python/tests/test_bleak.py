"""The bleak backends, driven only through bleak's public API, against linkrelay --simulate."""

import asyncio
from pathlib import Path

import pytest
from bleak import BleakClient, BleakScanner
from bleak.exc import BleakError

from linkrelay.bleak import BleakClientLinkrelay, BleakScannerLinkrelay
from conftest import BEACON, ECHO, ECHO_SERIAL, ECHO_SERVICE, ECHO_VALUE, HEART_RATE, THERMO, run_python

HR_MEASUREMENT = "00002a37-0000-1000-8000-00805f9b34fb"
SENSOR_LOCATION = "00002a38-0000-1000-8000-00805f9b34fb"
BATTERY_LEVEL = "00002a19-0000-1000-8000-00805f9b34fb"
PROGRAM = Path(__file__).parent / "bleak_program.py"


def endpoint(service):
    return {"host": service.host, "port": service.port}


async def test_discover_fills_devices_and_advertisement_data(service):
    found = await BleakScanner.discover(
        timeout=3, return_adv=True, backend=BleakScannerLinkrelay, **endpoint(service)
    )
    device, advert = found[HEART_RATE]
    assert device.name == "Pulse HR" and device.address == HEART_RATE
    assert advert.local_name == "Pulse HR"
    assert advert.service_uuids == ["0000180d-0000-1000-8000-00805f9b34fb", "0000180f-0000-1000-8000-00805f9b34fb"]
    assert -100 < advert.rssi < 0
    assert found[ECHO][1].service_uuids == [ECHO_SERVICE]
    assert found[BEACON][1].manufacturer_data == {0xFFFF: bytes.fromhex("02151020304000010002c5")}
    assert found[BEACON][0].name is None


async def test_find_by_name_and_address_and_detection_callback_with_filter(service, monkeypatch):
    # The host and port from the environment this time.
    monkeypatch.setenv("LINKRELAY_HOST", service.host)
    monkeypatch.setenv("LINKRELAY_PORT", str(service.port))
    device = await BleakScanner.find_device_by_name("Thermo 7", timeout=10, backend=BleakScannerLinkrelay)
    assert device is not None and device.address == THERMO
    device = await BleakScanner.find_device_by_address(ECHO.lower(), timeout=10, backend=BleakScannerLinkrelay)
    assert device is not None and device.address == ECHO  # its name may come later
    assert await BleakScanner.find_device_by_name("Nobody", timeout=1, backend=BleakScannerLinkrelay) is None

    seen = set()
    battery_service = "0000180f-0000-1000-8000-00805f9b34fb"
    scanner = BleakScanner(lambda d, a: seen.add(d.address), [battery_service], backend=BleakScannerLinkrelay)
    async with scanner:
        await asyncio.sleep(2)
    assert seen == {HEART_RATE, THERMO}
    assert set(scanner.discovered_devices_and_advertisement_data) == {HEART_RATE, THERMO}


async def test_connect_read_notify_stop_notify(service):
    client = BleakClient(HEART_RATE, backend=BleakClientLinkrelay, **endpoint(service))
    await client.connect()
    try:
        assert client.is_connected and client.mtu_size == 23
        assert [s.uuid for s in client.services] == [
            "0000180d-0000-1000-8000-00805f9b34fb",
            "0000180f-0000-1000-8000-00805f9b34fb",
        ]
        assert not client.services.characteristics  # nothing looked up yet
        assert await client.read_gatt_char(SENSOR_LOCATION) == bytearray(b"\x01")
        assert await client.read_gatt_char("2a19") == bytearray([87])
        location = client.services.get_characteristic(SENSOR_LOCATION)
        assert location.handle >= 0
        assert await client.read_gatt_char(location) == bytearray(b"\x01")

        values = []
        three = asyncio.Event()

        def on_value(characteristic, data):
            assert characteristic.uuid == HR_MEASUREMENT
            values.append(bytes(data))
            if len(values) == 3:
                three.set()

        await client.start_notify(HR_MEASUREMENT, on_value)
        await asyncio.wait_for(three.wait(), 10)
        await client.stop_notify(HR_MEASUREMENT)
        count = len(values)
        await asyncio.sleep(1.5)
        assert len(values) <= count + 1  # at most one already on the way
        assert all(v[0] == 0 and 60 < v[1] < 90 for v in values)
        assert len(client.services.characteristics) == 3

        # What the protocol cannot do.
        with pytest.raises(BleakError, match="pair"):
            await client.pair()
        with pytest.raises(BleakError, match="descriptors"):
            await client.read_gatt_descriptor(3)
        with pytest.raises(BleakError, match="handles"):
            await client.read_gatt_char(5)
    finally:
        await client.disconnect()
    assert not client.is_connected


async def test_writes_and_indications_through_bleak(service):
    echoed = asyncio.Queue()
    async with BleakClient(ECHO, backend=BleakClientLinkrelay, timeout=3, **endpoint(service)) as client:
        await client.start_notify(ECHO_VALUE, lambda c, data: echoed.put_nowait(bytes(data)))

        async def written_back(length):
            data = b""
            while len(data) < length:
                data += await asyncio.wait_for(echoed.get(), 10)
            return data

        await client.write_gatt_char(ECHO_VALUE, b"with response", response=True)
        assert await written_back(13) == b"with response"
        await client.write_gatt_char(ECHO_VALUE, b"without", response=False)
        assert await written_back(7) == b"without"
        long_value = bytes(range(100))
        await client.write_gatt_char(ECHO_VALUE, long_value, response=True)
        assert await written_back(100) == long_value
        await client.stop_notify(ECHO_VALUE)
        assert await client.read_gatt_char(ECHO_SERIAL) == b"EP-0042"
        await client.start_notify(ECHO_VALUE, lambda c, data: echoed.put_nowait(bytes(data)), indicate=True)
        await client.write_gatt_char(ECHO_VALUE, b"ind", response=True)
        assert await written_back(3) == b"ind"
        feed = "0000feed-0000-1000-8000-00805f9b34fb"
        expected = f"^timed out after 3 s waiting for the characteristics {feed} of {ECHO}$"
        with pytest.raises(BleakError, match=expected):
            await client.read_gatt_char(feed)
    assert not client.is_connected


async def test_two_clients_on_two_devices_in_one_program(service):
    async def heart_rates(count):
        values = asyncio.Queue()
        async with BleakClient(HEART_RATE, backend=BleakClientLinkrelay, **endpoint(service)) as client:
            location = await client.read_gatt_char(SENSOR_LOCATION)
            await client.start_notify(HR_MEASUREMENT, lambda c, d: values.put_nowait(bytes(d)))
            return location, [await asyncio.wait_for(values.get(), 10) for _ in range(count)]

    async def battery_levels(count):
        async with BleakClient(THERMO, backend=BleakClientLinkrelay, **endpoint(service)) as client:
            return [await client.read_gatt_char(BATTERY_LEVEL) for _ in range(count)]

    # Thermo 7 has a random address: the service connects it as a scan saw it.
    assert await BleakScanner.find_device_by_address(THERMO, timeout=10, backend=BleakScannerLinkrelay, **endpoint(service))
    (location, heart), levels = await asyncio.gather(heart_rates(2), battery_levels(5))
    assert location == b"\x01"
    assert all(v[0] == 0 and 60 < v[1] < 90 for v in heart)
    assert all(len(v) == 1 and 60 <= v[0] <= 64 for v in levels)


async def test_two_programs_share_the_dongle(service):
    env = service.environment()
    programs = [
        run_python(PROGRAM, env, HEART_RATE, HR_MEASUREMENT, "3", "notify"),
        run_python(PROGRAM, env, ECHO, ECHO_SERIAL, "3", "read"),
    ]
    loop = asyncio.get_running_loop()
    try:
        outputs = [await loop.run_in_executor(None, p.communicate, None, 60) for p in programs]
    finally:
        for program in programs:
            if program.poll() is None:
                program.kill()
                program.wait()
    for program, (out, err) in zip(programs, outputs):
        assert program.returncode == 0, err
    assert outputs[0][0].splitlines()[-1] == "values 3"
    assert outputs[1][0].splitlines()[-1] == "values 3"
    assert "read 4550" in outputs[1][0]  # "EP-0042" begins with 0x45 0x50
