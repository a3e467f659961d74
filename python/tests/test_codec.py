"""The package's framing and decoders on their own: frames cut anywhere, prefixes of
every size, advertising data of every kind the decoder knows."""

import pytest

from linkrelay import ProtocolError, parse_advertisement
from linkrelay.framing import FRAME_MAX_LENGTH, FrameParser, encode_frame
from linkrelay.text import address_from_wire, address_to_wire, normalize_uuid, uuid_to_wire


def test_frames_cut_into_single_bytes_come_out_whole():
    gobs = [b"\x80\x01\x00\x00", bytes(126), bytes(127), bytes(300), bytes(FRAME_MAX_LENGTH)]
    stream = b"".join(encode_frame(g) for g in gobs)
    parser = FrameParser()
    out = []
    for at in range(0, 1000):
        out += parser.feed(stream[at : at + 1])
    out += parser.feed(stream[1000:])
    assert out == gobs
    assert [encode_frame(g)[:4] for g in gobs[1:]] == [
        b"\x7e" + bytes(3),
        b"\x81\x7f" + bytes(2),
        b"\x82\x2c\x01\x00",
        b"\x83\x00\x00\x01",
    ]


def test_receivers_take_any_prefix_form_and_refuse_bad_ones():
    assert FrameParser().feed(b"\x84\x02\x00\x00\x00\x80\x01") == [b"\x80\x01"]
    for bad in (b"\x00", b"\x80", b"\x85\x01\x00\x00\x00\x00\x01", b"\x83\x01\x00\x01"):
        with pytest.raises(ProtocolError):
            FrameParser().feed(bad)
    with pytest.raises(ValueError):
        encode_frame(bytes(FRAME_MAX_LENGTH + 1))


def test_addresses_and_uuids_in_wire_order():
    assert address_to_wire("C4:7C:8D:6A:12:01") == bytes.fromhex("01126a8d7cc4")
    assert address_from_wire(bytes.fromhex("01126a8d7cc4")) == "C4:7C:8D:6A:12:01"
    with pytest.raises(ValueError):
        address_to_wire("C4:7C:8D:6A:12")
    assert uuid_to_wire("0x2A37") == b"\x2a\x37"
    assert uuid_to_wire("00002a37-0000-1000-8000-00805f9b34fb") == b"\x2a\x37"
    assert uuid_to_wire(0x12345678) == bytes.fromhex("123456780000100080000080" "5f9b34fb")
    assert uuid_to_wire("a5b1c001-1e7d-4b3a-9f2c-5d0e8b6a7c10").hex() == "a5b1c0011e7d4b3a9f2c5d0e8b6a7c10"
    with pytest.raises(ValueError):
        normalize_uuid("2a3")


def structure(kind: int, value: bytes) -> bytes:
    return bytes([len(value) + 1, kind]) + value


def test_advertising_data_of_every_kind():
    echo_service = bytes.fromhex("107c6a8b0e5d2c9f3a4b7d1e00c0b1a5")  # least significant first
    data = b"".join(
        [
            structure(0x01, b"\x06"),
            structure(0x03, bytes.fromhex("0d180f18")),
            structure(0x05, bytes.fromhex("78563412")),
            structure(0x07, echo_service),
            structure(0x08, b"Pul"),  # shortened name: the complete one wins
            structure(0x09, b"Pulse HR"),
            structure(0x0A, b"\xf4"),
            structure(0x16, bytes.fromhex("0d184801")),
            structure(0x21, echo_service + b"\x07"),
            structure(0xFF, bytes.fromhex("ffff0215ab")),
            structure(0x42, b"unknown kinds are passed over"),
            b"\x09\xff\x01",  # cut short: ends the decoding
        ]
    )
    advert = parse_advertisement(data)
    assert advert.flags == 0x06
    assert advert.service_uuids == [
        "0000180d-0000-1000-8000-00805f9b34fb",
        "0000180f-0000-1000-8000-00805f9b34fb",
        "12345678-0000-1000-8000-00805f9b34fb",
        "a5b1c000-1e7d-4b3a-9f2c-5d0e8b6a7c10",
    ]
    assert advert.local_name == "Pulse HR"
    assert advert.tx_power == -12
    assert advert.service_data == {
        "0000180d-0000-1000-8000-00805f9b34fb": b"\x48\x01",
        "a5b1c000-1e7d-4b3a-9f2c-5d0e8b6a7c10": b"\x07",
    }
    assert advert.manufacturer_data == {0xFFFF: b"\x02\x15\xab"}
