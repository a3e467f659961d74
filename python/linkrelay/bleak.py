"""bleak backends that reach the BLE dongle through the linkrelay service.

    from bleak import BleakClient, BleakScanner
    from linkrelay.bleak import BleakClientLinkrelay, BleakScannerLinkrelay

    device = await BleakScanner.find_device_by_name("Pulse HR", backend=BleakScannerLinkrelay)
    async with BleakClient(device, backend=BleakClientLinkrelay) as client:
        ...

The service's host and port come from the keyword arguments `host` and `port` (given to
BleakScanner or BleakClient, which pass them on), else from LINKRELAY_HOST and
LINKRELAY_PORT, else 127.0.0.1:9089. Each scanner and each client has a TCP session of
its own; a device connection belongs to its session and ends with it.

What the protocol offers and these backends follow (python/README.md has the details):
- Characteristics are found by UUID only. A characteristic is looked up on first use
  and kept for the connection; `services` lists the primary services and the
  characteristics known so far. The protocol does not say which service a
  characteristic belongs to, so they are listed in the collection, not under a service.
- A characteristic's `handle` is its index on this connection (0 to 255), a service's
  handle its index among the services; they are not attribute handles. Integer
  specifiers, descriptors and pairing raise BleakError.
- The protocol reports no properties: `properties` is empty. start_notify subscribes to
  notifications unless the caller passes `indicate=True`.
- mtu_size is 23, the dongle's ATT MTU; writes of any length are split by the service.
"""

import asyncio
import logging
import uuid as uuid_module
from typing import Callable, Dict, List, Optional, Union

from bleak.backends.characteristic import BleakGATTCharacteristic
from bleak.backends.client import BaseBleakClient
from bleak.backends.device import BLEDevice
from bleak.backends.scanner import AdvertisementData, BaseBleakScanner
from bleak.backends.service import BleakGATTService, BleakGATTServiceCollection
from bleak.exc import BleakError

from .advertising import Advertisement
from .client import Client, Device, ScanResult, Service
from .errors import LinkrelayError, Timeout
from .text import normalize_uuid

logger = logging.getLogger(__name__)

ATT_MTU = 23
_WRITE_WITHOUT_RESPONSE_SIZE = ATT_MTU - 3

Specifier = Union[BleakGATTCharacteristic, int, str, uuid_module.UUID]


def _no_handles(what: str) -> BleakError:
    return BleakError(
        f"{what}: the linkrelay service finds characteristics by UUID and has no attribute "
        "handles; pass the UUID or the characteristic object"
    )


class LinkrelayGATTService(BleakGATTService):
    """A primary service; its handle is its index among the device's services."""

    def __init__(self, service: Service):
        super().__init__(service)

    @property
    def handle(self) -> int:
        return self.obj.index

    @property
    def uuid(self) -> str:
        return self.obj.uuid

    @property
    def characteristics(self) -> List[BleakGATTCharacteristic]:
        return []

    def add_characteristic(self, characteristic: BleakGATTCharacteristic):
        raise BleakError("the linkrelay service does not say which service a characteristic belongs to")


class LinkrelayGATTCharacteristic(BleakGATTCharacteristic):
    """A characteristic known by its UUID. Until it has been looked up on the device its
    handle is -1; then it is the characteristic's index on the connection."""

    def __init__(self, uuid: str):
        super().__init__(None, _WRITE_WITHOUT_RESPONSE_SIZE)
        self._uuid = uuid
        self._index: Optional[int] = None

    @property
    def service_uuid(self) -> str:
        return ""  # not known to the protocol

    @property
    def service_handle(self) -> int:
        return -1  # not known to the protocol

    @property
    def handle(self) -> int:
        return -1 if self._index is None else self._index

    @property
    def uuid(self) -> str:
        return self._uuid

    @property
    def properties(self) -> List[str]:
        return []  # not known to the protocol

    @property
    def descriptors(self) -> list:
        return []

    def get_descriptor(self, specifier):
        return None

    def add_descriptor(self, descriptor):
        raise BleakError("the linkrelay service cannot reach descriptors")


class LinkrelayGATTServiceCollection(BleakGATTServiceCollection):
    """The primary services and the characteristics known so far. A characteristic
    asked for by UUID that is not known yet comes back as one still to be looked up, so
    that BleakClient.start_notify can pass it to the backend, which looks it up."""

    def __init__(self):
        super().__init__()
        self._known: Dict[int, LinkrelayGATTCharacteristic] = {}
        self._pending: Dict[str, LinkrelayGATTCharacteristic] = {}

    @property
    def characteristics(self) -> Dict[int, BleakGATTCharacteristic]:
        return self._known

    def add_characteristic(self, characteristic: BleakGATTCharacteristic):
        self._known[characteristic.handle] = characteristic
        self._pending.pop(characteristic.uuid, None)

    def get_characteristic(self, specifier) -> Optional[BleakGATTCharacteristic]:
        if isinstance(specifier, int):
            return self._known.get(specifier)
        try:
            uuid = normalize_uuid(specifier)
        except ValueError:
            return None
        known = [c for c in self._known.values() if c.uuid == uuid]
        if len(known) > 1:
            raise BleakError(f"more than one characteristic has the UUID {uuid}")
        if known:
            return known[0]
        return self._pending.setdefault(uuid, LinkrelayGATTCharacteristic(uuid))


class BleakClientLinkrelay(BaseBleakClient):
    """A bleak client backend over the linkrelay service. Keyword arguments beyond
    bleak's: `host`, `port` (the service), `settle` (see linkrelay.Client)."""

    def __init__(self, address_or_ble_device: Union[BLEDevice, str], **kwargs):
        super().__init__(address_or_ble_device, **kwargs)
        self._host = kwargs.get("host")
        self._port = kwargs.get("port")
        self._settle = kwargs.get("settle", 0.1)
        self._session: Optional[Client] = None
        self._device: Optional[Device] = None
        self._notify_callbacks: Dict[int, Callable] = {}

    @property
    def mtu_size(self) -> int:
        return ATT_MTU

    @property
    def is_connected(self) -> bool:
        return self._device is not None and self._device.connected

    async def connect(self, **kwargs) -> bool:
        timeout = kwargs.get("timeout", self._timeout)
        session = Client(self._host, self._port, timeout=timeout, settle=self._settle)
        try:
            await session.open()
            await session.wait_ready()
            self._device = await session.connect(self.address, on_disconnect=self._lost)
            self._session = session
            self.services = LinkrelayGATTServiceCollection()
            await self.get_services()
        except BaseException as error:
            # A connect that does not complete leaves nothing behind: closing the session
            # makes the service end the link, if there is one.
            self._session = None
            self._device = None
            await session.close()
            if isinstance(error, LinkrelayError):
                raise BleakError(f"could not connect to {self.address} through linkrelay: {error}") from error
            raise
        return True

    async def disconnect(self) -> bool:
        device, session = self._device, self._session
        if device is not None and device.connected:
            try:
                await device.disconnect()
            except LinkrelayError as error:
                logger.debug("disconnect of %s: %s", self.address, error)
        if session is not None:
            await session.close()
        self._session = None
        return True

    async def pair(self, *args, **kwargs) -> bool:
        raise BleakError("pairing is not part of the linkrelay protocol: the service cannot pair")

    async def unpair(self) -> bool:
        raise BleakError("pairing is not part of the linkrelay protocol: the service cannot unpair")

    async def get_services(self, **kwargs) -> BleakGATTServiceCollection:
        """The primary services (found once per connection) and the characteristics
        looked up so far."""
        collection = self.services
        device = self._connected_device()
        if not collection.services:
            try:
                found = await device.services()
            except Timeout:
                # No answer is all the protocol gives for a device without services.
                logger.warning("%s reported no primary services in time", self.address)
                found = []
            for service in found:
                collection.add_service(LinkrelayGATTService(service))
        return collection

    async def read_gatt_char(self, char_specifier: Specifier, **kwargs) -> bytearray:
        characteristic = await self._resolve(char_specifier, "read_gatt_char")
        return bytearray(await self._call(self._device.read(characteristic.handle)))

    async def read_gatt_descriptor(self, handle: int, **kwargs) -> bytearray:
        raise BleakError("the linkrelay service cannot read descriptors")

    async def write_gatt_char(
        self, char_specifier: Specifier, data: Union[bytes, bytearray, memoryview], response: bool = False
    ) -> None:
        characteristic = await self._resolve(char_specifier, "write_gatt_char")
        await self._call(self._device.write(characteristic.handle, bytes(data), response=response))

    async def write_gatt_descriptor(self, handle: int, data: Union[bytes, bytearray, memoryview]) -> None:
        raise BleakError("the linkrelay service cannot write descriptors")

    async def start_notify(self, characteristic: BleakGATTCharacteristic, callback: Callable, **kwargs) -> None:
        """Notifications, or indications with `indicate=True`: the protocol reports no
        properties from which to choose."""
        resolved = await self._resolve(characteristic, "start_notify")
        subscribe = self._device.indicate if kwargs.get("indicate") else self._device.notify
        await self._call(subscribe(resolved.handle, lambda value: callback(bytearray(value))))

    async def stop_notify(self, char_specifier: Specifier) -> None:
        characteristic = await self._resolve(char_specifier, "stop_notify")
        await self._call(self._device.unsubscribe(characteristic.handle))

    # --- internals --------------------------------------------------------------------

    def _connected_device(self) -> Device:
        if not self.is_connected:
            raise BleakError(f"{self.address} is not connected")
        return self._device

    async def _call(self, operation):
        try:
            return await operation
        except LinkrelayError as error:
            raise BleakError(str(error)) from error

    async def _resolve(self, specifier: Specifier, what: str) -> LinkrelayGATTCharacteristic:
        device = self._connected_device()
        if isinstance(specifier, int):
            raise _no_handles(what)
        if isinstance(specifier, LinkrelayGATTCharacteristic):
            characteristic = specifier
        elif isinstance(specifier, BleakGATTCharacteristic):
            raise BleakError(f"{what}: {specifier} is not a characteristic of a linkrelay connection")
        else:
            characteristic = self.services.get_characteristic(specifier)
            if characteristic is None:
                raise BleakError(f"{what}: {specifier!r} is not a UUID")
        if characteristic._index is None:
            found = await self._call(device.characteristic(characteristic.uuid))
            characteristic._index = found.index
            self.services.add_characteristic(characteristic)
        return characteristic

    def _lost(self, device: Device) -> None:
        if self._session is not None:
            asyncio.ensure_future(self._session.close())
            self._session = None
        if self._disconnected_callback is not None:
            self._disconnected_callback()


def _advertisement_data(advert: Advertisement, result: ScanResult) -> AdvertisementData:
    return AdvertisementData(
        local_name=advert.local_name,
        manufacturer_data=dict(advert.manufacturer_data),
        service_data=dict(advert.service_data),
        service_uuids=list(advert.service_uuids),
        tx_power=advert.tx_power,
        rssi=result.rssi,
        platform_data=(result,),
    )


class BleakScannerLinkrelay(BaseBleakScanner):
    """A bleak scanner backend over the linkrelay service. The advertisement and the scan
    response of a device are merged, as operating systems do. `scanning_mode` is
    accepted and ignored: the service's dongle always scans the same way. Keyword
    arguments beyond bleak's: `host`, `port`."""

    def __init__(
        self,
        detection_callback,
        service_uuids: Optional[List[str]],
        scanning_mode: str = "active",
        **kwargs,
    ):
        super().__init__(detection_callback, service_uuids)
        self._host = kwargs.get("host")
        self._port = kwargs.get("port")
        self._session: Optional[Client] = None
        self._receiver: Optional[asyncio.Task] = None
        self._adverts: Dict[str, Advertisement] = {}

    async def start(self) -> None:
        self.seen_devices = {}
        self._adverts = {}
        session = Client(self._host, self._port)
        try:
            await session.open()
            await session.wait_ready()
            scan = session.scan()
            await scan.start()
        except LinkrelayError as error:
            await session.close()
            raise BleakError(f"could not scan through linkrelay: {error}") from error
        self._session = session
        self._receiver = asyncio.ensure_future(self._receive(scan))

    async def stop(self) -> None:
        if self._receiver is not None:
            self._receiver.cancel()
            self._receiver = None
        if self._session is not None:
            await self._session.close()
            self._session = None

    def set_scanning_filter(self, **kwargs) -> None:
        """Takes `service_uuids`, as the constructor does."""
        uuids = kwargs.get("service_uuids")
        self._service_uuids = None if uuids is None else [normalize_uuid(u) for u in uuids]

    async def _receive(self, scan) -> None:
        try:
            async for result in scan:
                self._detected(result)
        except LinkrelayError as error:
            logger.warning("linkrelay scan ended: %s", error)

    def _detected(self, result: ScanResult) -> None:
        advert = self._adverts.setdefault(result.address, Advertisement())
        advert.merge(result.advertisement)
        if self._service_uuids and not set(self._service_uuids) & set(advert.service_uuids):
            return
        data = _advertisement_data(advert, result)
        device = self.create_or_update_device(result.address, advert.local_name, result, data)
        report = getattr(self, "call_detection_callbacks", None)
        if report is not None:
            report(device, data)
        elif self._callback is not None:
            self._callback(device, data)
