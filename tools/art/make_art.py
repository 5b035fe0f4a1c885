#!/usr/bin/env python3
"""Draws the program's icon (vornix.ico: 32x32 and 16x16, 16 colours) and its
banner (banner.bmp: 510x70, 24-bit) into src/app/res. Pure standard library;
run it again after changing a drawing and commit both files."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "app", "res")

# The 16 colours of the classic Windows palette, as (r, g, b).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
NAVY, TEAL, SILVER, GRAY, LIME, YELLOW, AQUA, WHITE = 4, 6, 7, 8, 10, 11, 14, 15

FONT = {  # 5x7 capitals, one string of five bits per row
    "A": "01110 10001 10001 11111 10001 10001 10001", "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01110 10001 10000 10000 10000 10001 01110", "D": "11110 10001 10001 10001 10001 10001 11110",
    "E": "11111 10000 10000 11110 10000 10000 11111", "F": "11111 10000 10000 11110 10000 10000 10000",
    "I": "01110 00100 00100 00100 00100 00100 01110", "M": "10001 11011 10101 10101 10001 10001 10001",
    "N": "10001 11001 10101 10011 10001 10001 10001", "O": "01110 10001 10001 10001 10001 10001 01110",
    "P": "11110 10001 10001 11110 10000 10000 10000", "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110", "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110", "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010", "X": "10001 10001 01010 00100 01010 10001 10001",
    "L": "10000 10000 10000 10000 10000 10000 11111",
    " ": "00000 00000 00000 00000 00000 00000 00000",
}


def router(size):
    """The icon picture: a router with two antennas and lit LEDs. None = transparent."""
    px = [[None] * size for _ in range(size)]
    s = size / 32.0

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                px[y][x] = c

    rect(7, 3, 9, 17, GRAY)      # antennas
    rect(23, 3, 25, 17, GRAY)
    rect(6, 2, 10, 4, AQUA)
    rect(22, 2, 26, 4, AQUA)
    rect(2, 16, 30, 28, SILVER)  # case
    rect(3, 17, 29, 27, NAVY)
    for x in (6, 11, 16):
        rect(x, 20, x + 3, 23, LIME)
    rect(21, 20, 24, 23, YELLOW)
    rect(4, 28, 8, 30, GRAY)     # feet
    rect(24, 28, 28, 30, GRAY)
    return px


def icon_image(size):
    px = router(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    xor, mask = b"", b""
    for y in reversed(range(size)):
        row = bytearray(xor_row)
        bits = bytearray(and_row)
        for x in range(size):
            c = px[y][x]
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                c = 0
            row[x // 2] |= c << (4 if x % 2 == 0 else 0)
        xor += bytes(row)
        mask += bytes(bits)
    return header + palette + xor + mask


def write_icon(path):
    images = [icon_image(32), icon_image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_banner(path, width=510, height=70):
    img = [[(0, 0, 0)] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            t = x / (width - 1)
            img[y][x] = (int(12 + 0 * t), int(36 + 64 * t), int(72 + 48 * t - y * 0.3))

    def text(s, x0, y0, scale, colour):
        for i, ch in enumerate(s):
            rows = FONT[ch].split()
            for ry, row in enumerate(rows):
                for rx, bit in enumerate(row):
                    if bit == "1":
                        for dy in range(scale):
                            for dx in range(scale):
                                img[y0 + ry * scale + dy][x0 + i * 6 * scale + rx * scale + dx] = colour

    pic = router(32)
    for y in range(64):
        for x in range(64):
            c = pic[y // 2][x // 2]
            if c is not None:
                img[3 + y][8 + x] = PALETTE[c]
    text("VORNIX", 84, 7, 5, (255, 255, 255))
    text("ROUTER LINE STATION", 86, 52, 2, (190, 220, 235))
    for i, label in enumerate(("MAC", "BOOT", "FIRMWARE")):
        y = 10 + i * 18
        for dy in range(10):
            for dx in range(10):
                img[y + dy][384 + dx] = (0, 230, 90)
        text(label, 400, y, 2, (255, 255, 255))

    row_bytes = (width * 3 + 3) // 4 * 4
    pixels = b""
    for y in reversed(range(height)):
        row = b"".join(struct.pack("BBB", b, g, r) for r, g, b in img[y])
        pixels += row + b"\0" * (row_bytes - width * 3)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    write_icon(os.path.join(OUT, "vornix.ico"))
    write_banner(os.path.join(OUT, "banner.bmp"))
