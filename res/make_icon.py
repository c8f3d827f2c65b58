#!/usr/bin/env python3
"""Writes tessmere.ico: icon group 101 with a 32x32 and a 16x16 image of 16 colours.

Each picture below is drawn one character per pixel; the character is an index
into the standard 16-colour palette and '.' is transparent. Run it after
changing a picture and commit the .ico it writes.
"""
import os
import struct

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# A desktop (teal) with two overlapping windows above a grey taskbar.
DESKTOP = """
66666666666666666666666666666666
66666666666666666666666666666666
66000000000000000000066666666666
6604444444444444FF7F066666666666
66044444444444444444066666666666
660FFFFFFFFFFFFFFFFF066666666666
660FFFFFFFFFFFFFFFFF066666666666
660F88888888FFFFFFFF066666666666
660FFFFFFFFFFFFFFFFF066666666666
660F8888800000000000000000000666
660FFFFFF0CCCCCCCCCCCCCCFF7F0666
660F888880CCCCCCCCCCCCCCCCCC0666
660FFFFFF0FFFFFFFFFFFFFFFFFF0666
660FFFFFF0FBBBBBBBBBBBBBBBBF0666
66000000F0FB99BBBBBBBBBBBBBF0666
666666660FFB999BBBBBBBBBBBBF0666
666666660FFBBBB2BBBBBBBBBBBF0666
666666660FFBBB222BBBB22BBBBF0666
666666660FFBB22222BB2222BBBF0666
666666660FFB2222222222222BBF0666
666666660FFB2222222222222BBF0666
666666660FFBBBBBBBBBBBBBBBBF0666
666666660FFFFFFFFFFFFFFFFFFF0666
66666666000000000000000000000666
66666666666666666666666666666666
66666666666666666666666666666666
66666666666666666666666666666666
FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF
7777777777777777777777777777777F
7FFFFFFF7777777777777777F777777F
7F22228877777777777777778FFFFFF8
88888888888888888888888888888888
"""

# A bold blue "T" outlined in yellow.
GLYPH = """
................
.BBBBBBBBBBBBBB.
.BCCCCCCCCCCCCB.
.BCCCCCCCCCCCCB.
.BCCCCCCCCCCCCB.
.BBBBBCCCCBBBBB.
.....BCCCCB.....
.....BCCCCB.....
.....BCCCCB.....
.....BCCCCB.....
.....BCCCCB.....
.....BCCCCB.....
.....BCCCCB.....
.....BCCCCB.....
.....BBBBBB.....
................
"""


def rows_of(picture, size):
    rows = [line for line in picture.strip().splitlines()]
    assert len(rows) == size and all(len(row) == size for row in rows), "picture must be square"
    return rows


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def image(picture, size):
    rows = rows_of(picture, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up, as in every DIB
        line = bytearray(row_bytes(size * 4))
        bits = bytearray(row_bytes(size))
        for x, pixel in enumerate(row):
            index = 0 if pixel == "." else int(pixel, 16)
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if pixel == ".":
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    return header + palette + bytes(colour) + bytes(mask)


def main():
    images = [(32, image(DESKTOP, 32)), (16, image(GLYPH, 16))]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    data = b""
    for size, bits in images:
        directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(bits), offset + len(data))
        data += bits
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tessmere.ico")
    with open(target, "wb") as out:
        out.write(directory + data)


if __name__ == "__main__":
    main()
