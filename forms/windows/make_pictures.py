#!/usr/bin/env python3
"""Writes the window pictures: background.gif (256 x 211, a pale gradient
with soft diagonal waves, light enough for black text on top) and
icon.ico (32 x 32, a green cross on a light rounded square), and the
same icon drawn at 64 x 64 as icon.png for the desktop menu entry of an
installed program.

Run from this directory; the build uses the files it writes."""
import math
import struct
import zlib

W, H = 256, 211
COLOURS = 64  # palette entries; a code size of 6 bits


def palette():
    # From a pale sky blue to a pale warm cream, all above 88 % brightness.
    top = (226, 238, 248)
    bottom = (250, 246, 232)
    out = []
    for i in range(COLOURS):
        t = i / (COLOURS - 1)
        out.append(tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    return out


def pixels():
    data = bytearray()
    for y in range(H):
        for x in range(W):
            base = y / (H - 1) * (COLOURS - 9)
            wave = 4 + 4 * math.sin((x + y * 1.3) / 23.0) * math.cos((x - y) / 41.0)
            data.append(max(0, min(COLOURS - 1, int(base + wave))))
    return bytes(data)


def lzw(indices, min_size):
    """GIF LZW: variable code width, clear code first, end code last."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code, width = end + 1, min_size + 1
    out, acc, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    emit(clear)
    cur = b""
    for b in indices:
        nxt = cur + bytes([b])
        if nxt in table:
            cur = nxt
            continue
        emit(table[cur])
        if next_code < 4096:
            table[nxt] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear)
            table = {bytes([i]): i for i in range(clear)}
            next_code, width = end + 1, min_size + 1
        cur = bytes([b])
    if cur:
        emit(table[cur])
    emit(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif():
    pal = palette()
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", W, H, 0xF0 | 5, 0, 0)  # global table of 64
    for r, g, b in pal:
        out += bytes((r, g, b))
    out += b"," + struct.pack("<HHHHB", 0, 0, W, H, 0)
    min_size = 6
    out.append(min_size)
    data = lzw(pixels(), min_size)
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += b"\x00;"
    return bytes(out)


def icon_rows(scale=1):
    """The icon's pixels, top row first, at 32 * scale pixels square."""
    n = 32 * scale
    rows = []
    for Y in range(n):
        row = []
        for X in range(n):
            # Measured on the 32-pixel grid, so every size draws one design.
            x = (X + 0.5) / scale - 0.5
            y = (Y + 0.5) / scale - 0.5
            # Rounded square with a 3-pixel margin, corner radius 6.
            cx = min(max(x, 9), 22)
            cy = min(max(y, 9), 22)
            inside = 2.5 <= x <= 28.5 and 2.5 <= y <= 28.5 and (x - cx) ** 2 + (y - cy) ** 2 <= 36
            cross = (11.5 <= x <= 19.5 and 6.5 <= y <= 24.5) or (6.5 <= x <= 24.5 and 11.5 <= y <= 19.5)
            if not inside:
                row.append((0, 0, 0, 0))
            elif cross:
                row.append((46, 139, 87, 255))     # sea green
            else:
                row.append((244, 250, 246, 255))   # near white
        rows.append(row)
    return rows


def png(scale):
    """The icon as an 8-bit RGBA PNG."""
    rows = icon_rows(scale)
    n = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for px in row:
            raw += bytes(px)
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
    out += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += chunk(b"IEND", b"")
    return out


def ico():
    n = 32
    rows = icon_rows()
    xor = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    andmask = bytearray()
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        andmask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    image = header + xor + andmask
    out = struct.pack("<HHH", 0, 1, 1)
    out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(image), 6 + 16)
    return out + image


if __name__ == "__main__":
    with open("background.gif", "wb") as f:
        f.write(gif())
    with open("icon.ico", "wb") as f:
        f.write(ico())
    with open("icon.png", "wb") as f:
        f.write(png(2))
