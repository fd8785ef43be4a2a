#!/usr/bin/env python3
"""make-mpf.py MAIN.jpg OUT.jpg SECOND.jpg... [--trailer BYTES]

Writes OUT: MAIN with an MPF index (APP2 "MPF") after its leading APP0/APP1 segments that
lists the SECOND images, appended in order, then BYTES of a trailer (as a motion photo's video).
"""
import struct
import sys


def insert_at(jpeg: bytes) -> int:
    pos = 2
    while pos + 4 <= len(jpeg) and jpeg[pos] == 0xFF and jpeg[pos + 1] in (0xE0, 0xE1):
        pos += 2 + struct.unpack(">H", jpeg[pos + 2:pos + 4])[0]
    return pos


def main() -> None:
    args = sys.argv[1:]
    trailer = b""
    if "--trailer" in args:
        i = args.index("--trailer")
        trailer = bytes((i * 37) & 0xFF for i in range(int(args[i + 1])))
        del args[i:i + 2]
    main_path, out_path, others = args[0], args[1], args[2:]
    first = open(main_path, "rb").read()
    seconds = [open(p, "rb").read() for p in others]
    count = len(seconds) + 1
    entries_at = 8 + 2 + 3 * 12 + 4
    ifd = struct.pack(">H", 3)
    ifd += struct.pack(">HHI4s", 0xB000, 7, 4, b"0100")
    ifd += struct.pack(">HHII", 0xB001, 4, 1, count)
    ifd += struct.pack(">HHII", 0xB002, 7, 16 * count, entries_at)
    ifd += struct.pack(">I", 0)
    tiff_head = b"MM\x00\x2a" + struct.pack(">I", 8) + ifd
    length = 2 + 4 + len(tiff_head) + 16 * count
    at = insert_at(first)
    head = first[:at]
    origin = at + 4 + 4  # FF E2, length, "MPF\0"
    main_size = len(first) + length + 2
    entries = struct.pack(">IIIHH", 0x20030000, main_size, 0, 0, 0)
    offset = main_size - origin
    for image in seconds:
        entries += struct.pack(">IIIHH", 0x00000000, len(image), offset, 0, 0)
        offset += len(image)
    app2 = b"\xFF\xE2" + struct.pack(">H", length) + b"MPF\x00" + tiff_head + entries
    with open(out_path, "wb") as out:
        out.write(head + app2 + first[at:])
        for image in seconds:
            out.write(image)
        out.write(trailer)


if __name__ == "__main__":
    main()
