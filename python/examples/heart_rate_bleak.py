"""Heart-rate monitor printout with bleak. The only linkrelay part is the backend=
arguments: without them this is the same program on the computer's own Bluetooth.

    python3 examples/heart_rate_bleak.py [NAME] [COUNT]
"""

import asyncio
import sys

from bleak import BleakClient, BleakScanner

from linkrelay.bleak import BleakClientLinkrelay, BleakScannerLinkrelay

HEART_RATE_MEASUREMENT = "00002a37-0000-1000-8000-00805f9b34fb"
BODY_SENSOR_LOCATION = "00002a38-0000-1000-8000-00805f9b34fb"
LOCATIONS = {0: "other", 1: "chest", 2: "wrist", 3: "finger", 4: "hand", 5: "ear lobe", 6: "foot"}


def beats_per_minute(data: bytearray) -> int:
    if data[0] & 0x01:  # 16-bit value
        return int.from_bytes(data[1:3], "little")
    return data[1]


async def main(name: str, count: int) -> None:
    device = await BleakScanner.find_device_by_name(name, timeout=10, backend=BleakScannerLinkrelay)
    if device is None:
        sys.exit(f"no device named {name!r} found")
    print(f"found {device.name} at {device.address}")
    received = asyncio.Queue()

    def on_measurement(characteristic, data: bytearray) -> None:
        received.put_nowait(beats_per_minute(data))

    async with BleakClient(device, backend=BleakClientLinkrelay) as client:
        for service in client.services:
            print(f"service {service.uuid}")
        location = await client.read_gatt_char(BODY_SENSOR_LOCATION)
        print(f"sensor location: {LOCATIONS.get(location[0], location[0])}")
        await client.start_notify(HEART_RATE_MEASUREMENT, on_measurement)
        for _ in range(count):
            print(f"heart rate: {await received.get()} bpm")
        await client.stop_notify(HEART_RATE_MEASUREMENT)
    print("disconnected")


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1] if len(sys.argv) > 1 else "Pulse HR",
                     int(sys.argv[2]) if len(sys.argv) > 2 else 5))
