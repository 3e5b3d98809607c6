"""Tiny GIF and PNG writers, enough for small flat-coloured pictures.

No imaging library is needed: the demo site and the benchmark generator
only want small, valid files that a browser or an editor can open.
"""

import struct
import zlib


def _lzw(pixels, min_code):
    """GIF-flavoured LZW: (code, width) pairs, table reset before 12 bits run out."""
    clear = 1 << min_code
    base = clear + 2
    out = [(clear, min_code + 1)]
    table = {}
    nxt = base
    fresh = True  # the next code is the first after a clear: the decoder adds no entry for it

    def width(size):
        return max(min_code + 1, (size - 1).bit_length())

    prefix = pixels[0]
    for p in pixels[1:]:
        key = (prefix << 8) | p
        code = table.get(key)
        if code is not None:
            prefix = code
            continue
        out.append((prefix, width(nxt)))
        fresh = False
        table[key] = nxt
        nxt += 1
        if nxt == 4000:
            out.append((clear, width(nxt)))
            table = {}
            nxt = base
            fresh = True
        prefix = p
    out.append((prefix, width(nxt)))
    out.append((clear + 1, width(nxt if fresh else nxt + 1)))
    return out


def gif(width, height, palette, pixels):
    """palette: list of (r, g, b), at most 256; pixels: row-major indices."""
    if len(pixels) != width * height or not pixels:
        raise ValueError("pixel count does not match the size")
    bits = max(1, (len(palette) - 1).bit_length())
    table = list(palette) + [(0, 0, 0)] * ((1 << bits) - len(palette))
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | (bits - 1), 0, 0)
    for r, g, b in table:
        out += bytes((r, g, b))
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code = max(2, bits)
    acc = 0
    nbits = 0
    data = bytearray()
    for code, w in _lzw(pixels, min_code):
        acc |= code << nbits
        nbits += w
        while nbits >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        data.append(acc & 0xFF)
    out.append(min_code)
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += b"\x00\x3b"
    return bytes(out)


def _png_chunk(kind, body):
    crc = zlib.crc32(kind + body) & 0xFFFFFFFF
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)


def png(width, height, rgb_rows):
    """rgb_rows: height rows, each a list of width (r, g, b) tuples."""
    raw = bytearray()
    for row in rgb_rows:
        raw.append(0)
        for r, g, b in row:
            raw += bytes((r, g, b))
    return (b"\x89PNG\r\n\x1a\n"
            + _png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + _png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _png_chunk(b"IEND", b""))


def bands_gif(width, height, colours, vertical=False):
    """Equal stripes of the given colours (bars, buttons, nav strips)."""
    n = len(colours)
    pixels = []
    for y in range(height):
        for x in range(width):
            pos = y * n // height if vertical else x * n // width
            pixels.append(pos)
    return gif(width, height, colours, pixels)


def gradient_png(width, height, top, bottom):
    rows = []
    for y in range(height):
        t = y / max(1, height - 1)
        c = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        rows.append([c] * width)
    return png(width, height, rows)
