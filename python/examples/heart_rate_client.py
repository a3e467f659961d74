"""Heart-rate monitor printout with linkrelay.Client, the protocol as asyncio calls.

    python3 examples/heart_rate_client.py [NAME] [COUNT]
"""

import asyncio
import sys

import linkrelay

HEART_RATE_MEASUREMENT = "2a37"
BODY_SENSOR_LOCATION = "2a38"
LOCATIONS = {0: "other", 1: "chest", 2: "wrist", 3: "finger", 4: "hand", 5: "ear lobe", 6: "foot"}


def beats_per_minute(data: bytes) -> int:
    if data[0] & 0x01:  # 16-bit value
        return int.from_bytes(data[1:3], "little")
    return data[1]


async def find(client: linkrelay.Client, name: str) -> str:
    async for result in client.scan(duration=10):
        if result.local_name == name:
            return result.address
    sys.exit(f"no device named {name!r} found")


async def main(name: str, count: int) -> None:
    async with linkrelay.Client() as client:  # LINKRELAY_HOST / LINKRELAY_PORT, else 127.0.0.1:9089
        await client.wait_ready()
        address = await find(client, name)
        print(f"found {name} at {address}")
        device = await client.connect(address)
        for service in await device.services():
            print(f"service {linkrelay.short_uuid(service.uuid)}")
        location = await device.read(BODY_SENSOR_LOCATION)
        print(f"sensor location: {LOCATIONS.get(location[0], location[0])}")
        measurements = await device.notify(HEART_RATE_MEASUREMENT)
        async for data in measurements:
            print(f"heart rate: {beats_per_minute(data)} bpm")
            count -= 1
            if count == 0:
                break
        await device.unsubscribe(HEART_RATE_MEASUREMENT)
        print(f"rssi: {await device.rssi()} dBm")
        await device.disconnect()
    print("disconnected")


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1] if len(sys.argv) > 1 else "Pulse HR",
                     int(sys.argv[2]) if len(sys.argv) > 2 else 5))
