"""A bleak program run as a process of its own by the tests: connects through the
service named by LINKRELAY_HOST / LINKRELAY_PORT and takes
COUNT values of it, by notification (MODE notify) or by reading (MODE read, which
prints the first value).

    bleak_program.py ADDRESS UUID COUNT MODE
"""

import asyncio
import sys

from bleak import BleakClient

from linkrelay.bleak import BleakClientLinkrelay


async def main(address: str, uuid: str, count: int, mode: str) -> None:
    async with BleakClient(address, backend=BleakClientLinkrelay) as client:
        values = []
        if mode == "notify":
            received = asyncio.Queue()
            await client.start_notify(uuid, lambda c, data: received.put_nowait(data))
            for _ in range(count):
                values.append(await asyncio.wait_for(received.get(), 10))
            await client.stop_notify(uuid)
        else:
            print(f"read {(await client.read_gatt_char(uuid)).hex()}", flush=True)
            for _ in range(count):
                values.append(await client.read_gatt_char(uuid))
                await asyncio.sleep(0.3)
        print(f"values {len(values)}")


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]))
