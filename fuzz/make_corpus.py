#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_frames: valid device frames as a device
sends them. Every file starts with the four bytes that seed the read sizes."""

import pathlib

HERE = pathlib.Path(__file__).resolve().parent
TAIL = bytes.fromhex("4C0D0A")


def frame(device_id, packet_type, data=b"", mac=None):
    payload = bytes.fromhex("000000000101") + device_id + bytes(4)
    payload += packet_type.to_bytes(2, "big") + data
    length = len(payload) + 1
    checksum = ((length >> 8) + (length & 0xFF) + sum(payload)) & 0xFF
    payload += bytes([checksum])
    flag = 0
    if mac is not None:
        payload = bytes(b ^ mac[i % len(mac)] for i, b in enumerate(payload))
        flag = 1
    return bytes.fromhex("4DD4") + bytes([flag]) + length.to_bytes(2, "big") + payload + TAIL


def event(device_id, packet_type, fields_hex):
    return frame(device_id, packet_type, b"\x00" + bytes.fromhex(fields_hex))


def main():
    device = bytes.fromhex("123456")
    mac = bytes.fromhex("A1B2C3D4E5F60718")
    seeds = {
        "worked_example": (b"\x00\x00\x00\x07", event(device, 0x0004, "180012341130010005")),
        "test_frame": (b"\x00\x00\x01\x00", frame(device, 0x0003)),
        "ack_and_nak": (b"\x12\x34\x56\x78", frame(device, 0x0001) + frame(device, 0x0002)),
        "mac_then_encrypted_event": (
            b"\x9a\xbc\xde\xf1",
            frame(device, 0x0090, mac)
            + frame(device, 0x0016, b"\x00" + bytes.fromhex("180012341130010A07"), mac),
        ),
        "longest_event": (b"\x00\x00\x00\x03", event(device, 0x0017, "18ABCDEF3401021007" + "5A" * 230)),
    }
    corpus = HERE / "corpus"
    corpus.mkdir(exist_ok=True)
    for name, (seed, stream) in seeds.items():
        (corpus / name).write_bytes(seed + stream)


if __name__ == "__main__":
    main()
