"""linkrelay.Client: one TCP session with the service, as asyncio calls.

The service answers requests with events that carry no request number, so the client
matches them by type and device address: it runs one request at a time per device (the
service runs one procedure at a time per device anyway) and keeps the events of devices
it does not own out of its waits. A wait ends with the awaited event, with Timeout, with
DeviceDisconnected when the device's link ends, or with Closed when the service ends the
session (which is also how it refuses a request).

Every object here belongs to the event loop that opened the client.
"""

import asyncio
import inspect
import os
from dataclasses import dataclass
from typing import Awaitable, Callable, Dict, List, Optional, Set, Union

from . import gobs
from .advertising import Advertisement, parse_advertisement
from .errors import (
    Closed,
    ConnectFailed,
    DeviceDisconnected,
    LinkrelayError,
    NotReady,
    ProtocolError,
    Timeout,
)
from .framing import FrameParser, encode_frame
from .text import UuidLike, address_to_wire, normalize_uuid

DEFAULT_HOST = "127.0.0.1"
DEFAULT_PORT = 9089
# Values kept for a subscription iterated by nobody; older ones are dropped beyond this.
SUBSCRIPTION_QUEUE_LIMIT = 1024
# Scan results kept for a scan iterated too slowly; older ones are dropped beyond this.
SCAN_QUEUE_LIMIT = 4096
_RECEIVE_CHUNK = 65536

ValueCallback = Callable[[bytes], Union[None, Awaitable[None]]]


def endpoint_from_environment(host: Optional[str], port: Optional[int]):
    """The service's host and port: the arguments, else LINKRELAY_HOST / LINKRELAY_PORT,
    else 127.0.0.1:9089."""
    host = host or os.environ.get("LINKRELAY_HOST") or DEFAULT_HOST
    if port is None:
        text = os.environ.get("LINKRELAY_PORT")
        try:
            port = int(text) if text else DEFAULT_PORT
        except ValueError:
            raise ValueError(f"LINKRELAY_PORT is not a port number: {text!r}") from None
    return host, port


@dataclass(frozen=True)
class ScanResult:
    """One advertisement or scan response, with its data decoded."""

    address: str
    rssi: int
    data: bytes
    flags: Optional[int]
    local_name: Optional[str]
    service_uuids: List[str]
    manufacturer_data: Dict[int, bytes]
    service_data: Dict[str, bytes]
    tx_power: Optional[int]

    @property
    def advertisement(self) -> Advertisement:
        return Advertisement(
            self.flags,
            self.local_name,
            list(self.service_uuids),
            dict(self.manufacturer_data),
            dict(self.service_data),
            self.tx_power,
        )


@dataclass(frozen=True)
class Service:
    index: int
    uuid: str


@dataclass(frozen=True)
class Characteristic:
    index: int  # the characteristic's number on this connection
    uuid: str  # the UUID it was looked up by


CharacteristicLike = Union[Characteristic, int, str, UuidLike]


# Coroutines started for async callbacks, kept until they end.
_callback_tasks: Set[asyncio.Future] = set()


def _call_back(callback, *arguments) -> None:
    result = callback(*arguments)
    if inspect.isawaitable(result):
        task = asyncio.ensure_future(result)
        _callback_tasks.add(task)
        task.add_done_callback(_callback_tasks.discard)


class _Wait:
    """Events that answer one request, and how it ended otherwise."""

    def __init__(self, match: Callable[[gobs.Event], bool]):
        self.match = match
        self.events: List[gobs.Event] = []
        self.arrived = asyncio.Event()
        self.error: Optional[Exception] = None

    def offer(self, event: gobs.Event) -> None:
        if self.error is None and self.match(event):
            self.events.append(event)
            self.arrived.set()

    def fail(self, error: Exception) -> None:
        if self.error is None:
            self.error = error
            self.arrived.set()


class Subscription:
    """The values of one subscribed characteristic: passed to a callback when one was
    given, else kept for iteration (`async for value in subscription`). Iteration ends
    after unsubscribe, and raises DeviceDisconnected or Closed when the link or the
    session ends."""

    def __init__(self, device: "Device", characteristic: Characteristic, callback):
        self.device = device
        self.characteristic = characteristic
        self.dropped = 0  # values pushed out of a full queue
        self._callback = callback
        self._queue: asyncio.Queue = asyncio.Queue()
        self._ended = False

    def _value(self, value: bytes) -> None:
        if self._ended:
            return
        if self._callback is not None:
            _call_back(self._callback, value)
            return
        if self._queue.qsize() >= SUBSCRIPTION_QUEUE_LIMIT:
            self._queue.get_nowait()
            self.dropped += 1
        self._queue.put_nowait(value)

    def _end(self, error: Optional[Exception]) -> None:
        if not self._ended:
            self._ended = True
            self._queue.put_nowait(error)

    def __aiter__(self):
        return self

    async def __anext__(self) -> bytes:
        item = await self._queue.get()
        if isinstance(item, bytes):
            return item
        self._queue.put_nowait(item)  # later calls end the same way
        if item is None:
            raise StopAsyncIteration
        raise item

    async def unsubscribe(self, timeout: Optional[float] = None) -> None:
        await self.device.unsubscribe(self.characteristic, timeout=timeout)


class Device:
    """A device connection owned by this client's session."""

    def __init__(self, client: "Client", address: str, on_disconnect):
        self.client = client
        self.address = address
        self.connected = False
        self.disconnect_reason: Optional[int] = None
        self._on_disconnect = on_disconnect
        self._lock = asyncio.Lock()
        self._wait: Optional[_Wait] = None
        self._characteristics: Dict[str, Characteristic] = {}
        self._subscriptions: Dict[int, Subscription] = {}
        self._cancelling = False  # a timed-out connect, cancelled; its events are ignored
        self._cancelled = asyncio.Event()  # set when the cancelled connect has ended
        self._disconnecting = False  # disconnect() was asked for

    # --- requests ---------------------------------------------------------------------

    async def services(self, timeout: Optional[float] = None) -> List[Service]:
        """The primary services. A device without any never answers: Timeout."""
        events = await self._request(
            gobs.find_services(self.address),
            lambda e: isinstance(e, gobs.ServiceFound),
            timeout,
            "the services",
            batch=True,
        )
        return sorted((Service(e.index, e.uuid) for e in events), key=lambda s: s.index)

    async def characteristics(
        self, uuids: List[UuidLike], timeout: Optional[float] = None
    ) -> List[Characteristic]:
        """Looks the characteristics with these UUIDs up; the found ones, by index. A UUID
        that the device lacks is left out; when none is found, nothing answers: Timeout."""
        wanted = [normalize_uuid(u) for u in uuids]
        events = await self._request(
            gobs.find_attributes(self.address, wanted),
            lambda e: isinstance(e, gobs.CharacteristicFound),
            timeout,
            "the characteristics " + ", ".join(wanted),
            batch=True,
        )
        found = sorted({Characteristic(e.index, e.uuid) for e in events}, key=lambda c: c.index)
        for characteristic in found:
            self._characteristics.setdefault(characteristic.uuid, characteristic)
        return found

    async def characteristic(self, uuid: UuidLike, timeout: Optional[float] = None) -> Characteristic:
        """The characteristic with this UUID, looked up on first use and then kept."""
        key = normalize_uuid(uuid)
        if key not in self._characteristics:
            await self.characteristics([key], timeout=timeout)
        if key not in self._characteristics:
            raise LinkrelayError(f"{self.address} has no characteristic {key}")
        return self._characteristics[key]

    async def read(self, characteristic: CharacteristicLike, timeout: Optional[float] = None) -> bytes:
        """The characteristic's value. A notification of the same characteristic that
        arrives first is taken as the answer: the two look alike on the wire."""
        index = await self._index(characteristic, timeout)
        events = await self._request(
            gobs.read(self.address, index),
            lambda e: isinstance(e, gobs.AttributeValue) and e.index == index,
            timeout,
            f"the value of characteristic {index}",
        )
        return events[0].value

    async def write(
        self,
        characteristic: CharacteristicLike,
        value: bytes,
        response: bool = True,
        timeout: Optional[float] = None,
    ) -> None:
        """Writes the value, of any length the frame holds; returns when the service
        reports it done (acknowledged, or for response=False handed to the dongle)."""
        index = await self._index(characteristic, timeout)
        await self._request_done(
            gobs.write(self.address, index, bytes(value), response), timeout, "the end of the write"
        )

    async def notify(
        self,
        characteristic: CharacteristicLike,
        callback: Optional[ValueCallback] = None,
        timeout: Optional[float] = None,
    ) -> Subscription:
        return await self._subscribe(gobs.notify, characteristic, callback, timeout)

    async def indicate(
        self,
        characteristic: CharacteristicLike,
        callback: Optional[ValueCallback] = None,
        timeout: Optional[float] = None,
    ) -> Subscription:
        return await self._subscribe(gobs.indicate, characteristic, callback, timeout)

    async def unsubscribe(self, characteristic: CharacteristicLike, timeout: Optional[float] = None) -> None:
        index = await self._index(characteristic, timeout)
        await self._request_done(
            gobs.unsubscribe(self.address, index), timeout, "the end of the unsubscription"
        )
        subscription = self._subscriptions.pop(index, None)
        if subscription is not None:
            subscription._end(None)

    async def rssi(self, timeout: Optional[float] = None) -> int:
        events = await self._request(
            gobs.get_rssi(self.address), lambda e: isinstance(e, gobs.Rssi), timeout, "the RSSI"
        )
        return events[0].rssi

    async def disconnect(self, timeout: Optional[float] = None) -> int:
        """Ends the link; the disconnection reason. Nothing is sent once it has ended."""
        if not self.connected:
            return self.disconnect_reason if self.disconnect_reason is not None else 0
        self._disconnecting = True
        events = await self._request(
            gobs.disconnect(self.address),
            lambda e: isinstance(e, gobs.Disconnected),
            timeout,
            "the disconnection",
            expect_disconnect=True,
        )
        return events[0].reason

    # --- internals --------------------------------------------------------------------

    async def _subscribe(self, encode, characteristic, callback, timeout) -> Subscription:
        index = await self._index(characteristic, timeout)
        found = self._known_by_index(index) or Characteristic(index, "")
        subscription = Subscription(self, found, callback)
        previous = self._subscriptions.get(index)
        self._subscriptions[index] = subscription
        try:
            await self._request_done(
                encode(self.address, index), timeout, "the end of the subscription"
            )
        except BaseException:
            self._subscriptions.pop(index, None)
            if previous is not None:
                self._subscriptions[index] = previous
            raise
        if previous is not None:
            previous._end(None)
        return subscription

    def _known_by_index(self, index: int) -> Optional[Characteristic]:
        for characteristic in self._characteristics.values():
            if characteristic.index == index:
                return characteristic
        return None

    async def _index(self, characteristic: CharacteristicLike, timeout) -> int:
        if isinstance(characteristic, Characteristic):
            return characteristic.index
        if isinstance(characteristic, int):
            return characteristic
        return (await self.characteristic(characteristic, timeout)).index

    async def _request_done(self, gob, timeout, awaited) -> None:
        """A request the service answers with WriteDone: writes, subscriptions and their
        ends."""
        await self._request(gob, lambda e: isinstance(e, gobs.WriteDone), timeout, awaited)

    async def _request(self, gob, match, timeout, awaited, batch=False, expect_disconnect=False):
        async with self._lock:
            if self.client._closed is not None:
                raise self.client._closed
            if not self.connected:
                raise DeviceDisconnected(self.address, self.disconnect_reason or 0)
            wait = _Wait(match)
            self._wait = wait
            try:
                await self.client._send(gob)
                await self.client._until(wait, timeout, f"{awaited} of {self.address}")
                if batch:
                    await self.client._settle(wait)
            finally:
                self._wait = None
            if wait.error is not None and not (expect_disconnect and wait.events):
                raise wait.error
            return wait.events

    def _event(self, event: gobs.Event) -> None:
        if self._cancelling:
            if isinstance(event, gobs.Disconnected):
                self._cancelling = False
                self._cancelled.set()
                self.client._forget(self)
            return
        if isinstance(event, gobs.Disconnected):
            # Every client hears of every disconnection: before this connection is made,
            # one for its address is about another client's link.
            if self.connected:
                self._lost(event.reason)
            return
        if isinstance(event, gobs.Connected):
            self.connected = True
        if self._wait is not None:
            self._wait.offer(event)
        if isinstance(event, gobs.AttributeValue):
            subscription = self._subscriptions.get(event.index)
            if subscription is not None:
                subscription._value(event.value)

    def _lost(self, reason: int) -> None:
        was_connected = self.connected
        self.connected = False
        self.disconnect_reason = reason
        self.client._forget(self)
        error = DeviceDisconnected(self.address, reason)
        if self._wait is not None:
            self._wait.offer(gobs.Disconnected(self.address, reason))
            self._wait.fail(error)
        self._end_all(error)
        if was_connected and not self._disconnecting and self._on_disconnect is not None:
            _call_back(self._on_disconnect, self)

    def _end_all(self, error: Exception) -> None:
        for subscription in self._subscriptions.values():
            subscription._end(error)
        self._subscriptions.clear()


class Scan:
    """A scan: an async iterator of ScanResult, and an async context manager.

    It starts at the first iteration (or on entering the context) and stops when its
    duration has passed, on leaving the context, or on stop(). The service scans while
    any of its clients wants it to; every scanning client sees every result.
    """

    def __init__(self, client: "Client", duration: Optional[float]):
        self.client = client
        self.duration = duration
        self.dropped = 0  # results pushed out of a full queue
        self._queue: asyncio.Queue = asyncio.Queue()
        self._deadline: Optional[float] = None
        self._running = False
        self._ended = False

    async def start(self) -> None:
        if self._running or self._ended:
            return
        self._running = True
        loop = asyncio.get_running_loop()
        if self.duration is not None:
            self._deadline = loop.time() + self.duration
        await self.client._scan_started(self)

    async def stop(self) -> None:
        if not self._running:
            return
        self._running = False
        self._ended = True
        while not self._queue.empty():
            self._queue.get_nowait()
        self._queue.put_nowait(None)
        await self.client._scan_stopped(self)

    def _result(self, result: ScanResult) -> None:
        if self._queue.qsize() >= SCAN_QUEUE_LIMIT:
            self._queue.get_nowait()
            self.dropped += 1
        self._queue.put_nowait(result)

    def _fail(self, error: Exception) -> None:
        self._running = False
        self._ended = True
        self._queue.put_nowait(error)

    async def __aenter__(self) -> "Scan":
        await self.start()
        return self

    async def __aexit__(self, *exc) -> None:
        await self.stop()

    def __aiter__(self):
        return self

    async def __anext__(self) -> ScanResult:
        await self.start()
        remaining = None
        if self._deadline is not None:
            remaining = max(0.0, self._deadline - asyncio.get_running_loop().time())
        try:
            item = await asyncio.wait_for(self._queue.get(), remaining)
        except asyncio.TimeoutError:
            await self.stop()
            raise StopAsyncIteration from None
        if isinstance(item, ScanResult):
            return item
        self._queue.put_nowait(item)  # later calls end the same way
        if item is None:
            raise StopAsyncIteration
        raise item


class Client:
    """A session with the service.

        async with Client() as client:               # 127.0.0.1:9089 by default
            async for result in client.scan(duration=3):
                print(result.address, result.local_name)
            device = await client.connect("C4:7C:8D:6A:12:01")
            print(await device.read("2a38"))

    `timeout` (seconds) is the default of every wait; `settle` is how long a wait for a
    group of events (services, characteristics) waits for one more after the last: the
    service sends such a group at once and marks no end.
    """

    def __init__(
        self,
        host: Optional[str] = None,
        port: Optional[int] = None,
        *,
        timeout: float = 10.0,
        settle: float = 0.1,
    ):
        self.host, self.port = endpoint_from_environment(host, port)
        self.timeout = timeout
        self.settle = settle
        self.status: Optional[gobs.Status] = None
        self.skipped_gobs = 0  # received gobs that did not decode as events
        self._reader: Optional[asyncio.StreamReader] = None
        self._writer: Optional[asyncio.StreamWriter] = None
        self._receiver: Optional[asyncio.Task] = None
        self._closed: Optional[Exception] = None
        self._status_changed: Optional[asyncio.Event] = None  # made by open, in its loop
        self._devices: Dict[str, Device] = {}
        self._scans: Set[Scan] = set()

    # --- session ----------------------------------------------------------------------

    async def open(self) -> None:
        """Opens the session and waits for the service's first status."""
        try:
            self._reader, self._writer = await asyncio.wait_for(
                asyncio.open_connection(self.host, self.port), self.timeout
            )
        except asyncio.TimeoutError:
            raise Timeout(f"no connection to {self.host}:{self.port} within {self.timeout} s") from None
        except OSError as error:
            raise ConnectFailed(f"cannot reach the service at {self.host}:{self.port}: {error}") from None
        self._status_changed = asyncio.Event()
        self._receiver = asyncio.ensure_future(self._receive())
        await self._wait_status(lambda status: True, self.timeout, "the first status")

    async def close(self) -> None:
        """Ends the session; the service then disconnects the devices it owned."""
        if self._receiver is not None:
            self._receiver.cancel()
            try:
                await self._receiver
            except BaseException:
                pass
            self._receiver = None
        if self._writer is not None:
            self._writer.close()
            try:
                await self._writer.wait_closed()
            except OSError:
                pass
            self._writer = None
        self._end_session(Closed("the client closed the session"))

    async def __aenter__(self) -> "Client":
        await self.open()
        return self

    async def __aexit__(self, *exc) -> None:
        await self.close()

    @property
    def closed(self) -> bool:
        return self._closed is not None

    async def wait_ready(self, timeout: Optional[float] = None) -> gobs.Status:
        """Waits until the dongle is ready (status state 0)."""
        return await self._wait_status(lambda status: status.ready, timeout, "a ready dongle")

    # --- requests ---------------------------------------------------------------------

    def scan(self, duration: Optional[float] = None) -> Scan:
        return Scan(self, duration)

    async def connect(
        self,
        address: str,
        *,
        timeout: Optional[float] = None,
        interval_min: int = 24,
        interval_max: int = 40,
        supervision_timeout: int = 200,
        latency: int = 0,
        on_disconnect: Optional[Callable[[Device], Union[None, Awaitable[None]]]] = None,
    ) -> Device:
        """Connects to the device; the connection belongs to this session and ends with
        it. Intervals in 1.25 ms units, the supervision time-out in 10 ms units.
        `on_disconnect(device)` is called when the link ends other than by disconnect()."""
        address_to_wire(address)
        key = address.upper()
        earlier = self._devices.get(key)
        if earlier is not None and earlier._cancelling:
            # A connect that timed out is still being withdrawn: wait for its end.
            limit = self.timeout if timeout is None else timeout
            try:
                await asyncio.wait_for(earlier._cancelled.wait(), limit)
            except asyncio.TimeoutError:
                raise Timeout(f"the earlier connect to {key} was not withdrawn within {limit} s") from None
        if key in self._devices:
            raise LinkrelayError(f"{key} is connected or connecting on this session already")
        device = Device(self, key, on_disconnect)
        wait = _Wait(lambda e: isinstance(e, gobs.Connected))
        device._wait = wait
        self._devices[key] = device
        try:
            await self._send(
                gobs.connect(key, interval_min, interval_max, supervision_timeout, latency)
            )
            await self._until(wait, timeout, f"a connection to {key}")
        except Timeout:
            device.connected = False
            device._cancelling = True
            if not self.closed:
                await self._send(gobs.disconnect(key))
            raise
        except BaseException:
            self._forget(device)
            raise
        finally:
            device._wait = None
        if wait.error is not None:
            self._forget(device)
            raise wait.error
        return device

    # --- internals --------------------------------------------------------------------

    def _check_ready(self) -> None:
        if self._closed is not None:
            raise self._closed
        if self.status is not None and not self.status.ready:
            state = {gobs.STATE_FAILED: "failed", gobs.STATE_NOT_READY: "not ready"}
            raise NotReady(f"the dongle is {state.get(self.status.state, self.status.state)}")

    async def _send(self, gob: bytes, check_ready: bool = True) -> None:
        if self._writer is None:
            raise LinkrelayError("the client is not open")
        if check_ready:
            self._check_ready()
        elif self._closed is not None:
            raise self._closed
        self._writer.write(encode_frame(gob))
        try:
            await self._writer.drain()
        except (ConnectionError, OSError) as error:
            raise Closed(f"the service closed the session: {error}") from None

    async def _until(self, wait: _Wait, timeout: Optional[float], awaited: str) -> None:
        if self._closed is not None:
            wait.fail(self._closed)
        limit = self.timeout if timeout is None else timeout
        try:
            await asyncio.wait_for(wait.arrived.wait(), limit)
        except asyncio.TimeoutError:
            raise Timeout(f"timed out after {limit} s waiting for {awaited}") from None

    async def _settle(self, wait: _Wait) -> None:
        while wait.error is None:
            wait.arrived.clear()
            try:
                await asyncio.wait_for(wait.arrived.wait(), self.settle)
            except asyncio.TimeoutError:
                return

    async def _wait_status(self, accept, timeout, awaited) -> gobs.Status:
        if self._status_changed is None:
            raise LinkrelayError("the client is not open")
        limit = self.timeout if timeout is None else timeout
        deadline = asyncio.get_running_loop().time() + limit
        while self.status is None or not accept(self.status):
            if self._closed is not None:
                raise self._closed
            self._status_changed.clear()
            remaining = deadline - asyncio.get_running_loop().time()
            try:
                await asyncio.wait_for(self._status_changed.wait(), max(0.0, remaining))
            except asyncio.TimeoutError:
                raise Timeout(f"timed out after {limit} s waiting for {awaited}") from None
        return self.status

    async def _scan_started(self, scan: Scan) -> None:
        first = not self._scans
        self._scans.add(scan)
        if first:
            try:
                await self._send(gobs.start_scan())
            except BaseException:
                self._scans.discard(scan)
                raise

    async def _scan_stopped(self, scan: Scan) -> None:
        self._scans.discard(scan)
        if not self._scans and self._closed is None and self._writer is not None:
            await self._send(gobs.stop_scan(), check_ready=False)

    def _forget(self, device: Device) -> None:
        if self._devices.get(device.address) is device and not device._cancelling:
            del self._devices[device.address]

    async def _receive(self) -> None:
        parser = FrameParser()
        error: Exception = Closed("the service closed the session")
        try:
            while True:
                data = await self._reader.read(_RECEIVE_CHUNK)
                if not data:
                    break
                for gob in parser.feed(data):
                    self._take(gob)
        except (ConnectionError, OSError) as failure:
            error = Closed(f"the session failed: {failure}")
        except LinkrelayError as failure:
            error = failure
        self._end_session(error)

    def _take(self, gob: bytes) -> None:
        try:
            event = gobs.decode_event(gob)
        except ProtocolError:
            self.skipped_gobs += 1  # a gob that is not an event of this protocol version
            return
        self._dispatch(event)

    def _dispatch(self, event: gobs.Event) -> None:
        if isinstance(event, gobs.Status):
            self.status = event
            self._status_changed.set()
            return
        if isinstance(event, gobs.ScanResultGob):
            result = _scan_result(event)
            for scan in list(self._scans):
                scan._result(result)
            return
        device = self._devices.get(event.address)
        if device is not None:
            device._event(event)

    def _end_session(self, error: Exception) -> None:
        if self._closed is not None:
            return
        self._closed = error
        if self._status_changed is not None:
            self._status_changed.set()
        for device in list(self._devices.values()):
            device.connected = False
            if device._wait is not None:
                device._wait.fail(error)
            device._end_all(error)
        self._devices.clear()
        for scan in list(self._scans):
            scan._fail(error)
        self._scans.clear()


def _scan_result(event: gobs.ScanResultGob) -> ScanResult:
    advert = parse_advertisement(event.data)
    return ScanResult(
        event.address,
        event.rssi,
        event.data,
        advert.flags,
        advert.local_name,
        advert.service_uuids,
        advert.manufacturer_data,
        advert.service_data,
        advert.tx_power,
    )
