"""A device lost while it notifies: the simulated peripheral goes out of range (linkrelay
on linkrelay-sim, whose control input moves it), seen through linkrelay.Client and
through bleak."""

import asyncio

import pytest
from bleak import BleakClient
from bleak.exc import BleakError

import linkrelay
from linkrelay.bleak import BleakClientLinkrelay
from conftest import HEART_RATE

HR_MEASUREMENT = "00002a37-0000-1000-8000-00805f9b34fb"
SENSOR_LOCATION = "00002a38-0000-1000-8000-00805f9b34fb"


def endpoint(service):
    return {"host": service.host, "port": service.port}


async def test_subscription_ends_with_the_link(controlled_service):
    service = controlled_service
    lost = []
    async with service.client() as client:
        device = await client.connect(HEART_RATE, on_disconnect=lost.append)
        values = []
        subscription = await device.notify(HR_MEASUREMENT)
        with pytest.raises(linkrelay.DeviceDisconnected) as ended:
            async for value in subscription:
                values.append(value)
                if len(values) == 2:
                    service.control(f"range {HEART_RATE} out")
                assert len(values) < 10, "the link outlived the peripheral's departure"
        assert ended.value.reason == 2  # supervision timeout
        assert lost == [device] and not device.connected
        assert device.disconnect_reason == 2
        with pytest.raises(linkrelay.DeviceDisconnected):
            await device.read(SENSOR_LOCATION)
        assert await device.disconnect() == 2  # nothing left to end
        service.control(f"range {HEART_RATE} in")
        # The session goes on: the device can be connected again.
        device = await client.connect(HEART_RATE)
        assert await device.read(SENSOR_LOCATION) == b"\x01"
        await device.disconnect()


async def test_bleak_disconnected_callback_when_the_link_is_lost(controlled_service):
    lost = asyncio.Event()
    seen = []
    service = controlled_service
    client = BleakClient(
        HEART_RATE,
        disconnected_callback=lambda c: (seen.append(c), lost.set()),
        backend=BleakClientLinkrelay,
        **endpoint(service),
    )
    await client.connect()
    values = asyncio.Queue()
    await client.start_notify(HR_MEASUREMENT, lambda c, d: values.put_nowait(bytes(d)))
    await asyncio.wait_for(values.get(), 10)
    service.control(f"range {HEART_RATE} out")
    await asyncio.wait_for(lost.wait(), 15)
    assert seen == [client]
    assert not client.is_connected
    with pytest.raises(BleakError):
        await client.read_gatt_char(SENSOR_LOCATION)
    service.control(f"range {HEART_RATE} in")
    await client.disconnect()
