#!/usr/bin/env python3
"""Writes the raw blocks of the simulated drives that the shipped profiles serve
(profiles/drives/*.identify and *.smart): 512 bytes of ATA IDENTIFY DEVICE data and 512 bytes
of SMART READ DATA each, laid out as a drive sends them. Deterministic.

    python3 profiles/tools/gen_drives.py [OUTPUT_DIR]
"""
import os
import struct
import sys


def ascii_field(text, size):
    """An identify string: blank-padded, the two bytes of every word swapped."""
    raw = text.ljust(size).encode("ascii")[:size]
    return bytes(b for i in range(0, size, 2) for b in (raw[i + 1], raw[i]))


def identify(model, serial, firmware, rotation, sectors):
    words = [0] * 256
    words[0] = 0x0040
    words[49] = 0x0F00  # LBA and DMA
    words[80] = 0x01F0  # ATA8-ACS and earlier
    words[82] = 0x746B  # bit 0: SMART feature set
    words[83] = 0x7D01
    words[84] = 0x6123
    words[85] = 0x7469  # bit 0: SMART enabled
    words[100:104] = [(sectors >> (16 * i)) & 0xFFFF for i in range(4)]
    words[217] = rotation
    block = bytearray(struct.pack("<256H", *words))
    block[20:40] = ascii_field(serial, 20)
    block[46:54] = ascii_field(firmware, 8)
    block[54:94] = ascii_field(model, 40)
    return bytes(block)


def smart(attributes):
    """attributes: (id, flags, value, worst, raw bytes 0..5)."""
    block = bytearray(512)
    struct.pack_into("<H", block, 0, 0x0010)
    for i, (ident, flags, value, worst, raw) in enumerate(attributes):
        struct.pack_into("<BHBB6sB", block, 2 + 12 * i, ident, flags, value, worst, bytes(raw), 0)
    block[511] = (-sum(block[:511])) & 0xFF  # checksum
    return bytes(block)


DRIVES = {
    # A 7200 rpm hard disk: 194 (raw[4] its highest reading, 55) ahead of 190.
    "sim-hdd": (
        identify("SIMDRIVE HD-500G 7200", "SD7K0001", "HD12", 7200, 976773168),
        smart([
            (1, 0x000F, 117, 99, [0x60, 0x1A, 0x5B, 0x07, 0, 0]),
            (5, 0x0033, 100, 100, [0, 0, 0, 0, 0, 0]),
            (9, 0x0032, 92, 92, [0x1C, 0x1B, 0, 0, 0, 0]),
            (190, 0x0022, 66, 58, [34, 0, 17, 0, 42, 0]),
            (194, 0x0022, 36, 45, [36, 0, 18, 0, 55, 0]),
            (197, 0x0012, 100, 100, [0, 0, 0, 0, 0, 0]),
        ]),
    ),
    # A solid-state drive that reports its temperature in 190 only, raw[4] unused.
    "sim-ssd": (
        identify("SIMDRIVE SSD-256G", "SDSS0002", "SS21", 1, 500118192),
        smart([
            (5, 0x0033, 100, 100, [0, 0, 0, 0, 0, 0]),
            (9, 0x0032, 99, 99, [0x10, 0x05, 0, 0, 0, 0]),
            (177, 0x0013, 98, 98, [12, 0, 0, 0, 0, 0]),
            (190, 0x0032, 69, 55, [31, 0, 0, 0, 0, 0]),
            (241, 0x0032, 99, 99, [0x40, 0x1F, 0x03, 0, 0, 0]),
        ]),
    ),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "drives")
    os.makedirs(out, exist_ok=True)
    for name, (ident, data) in DRIVES.items():
        with open(os.path.join(out, name + ".identify"), "wb") as f:
            f.write(ident)
        with open(os.path.join(out, name + ".smart"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
