#!/usr/bin/env python3
"""Regenerate Lumivox's images from the editable sources in Resources/src/.

    python3 Resources/generate.py

Writes, next to this script:
  proj.png, connect.png, disconnect.png   rendered with rsvg-convert (8-bit RGBA PNG)
  up.bmp, down.bmp, left.bmp, right.bmp   20x20 8-bit BMPs from the pixel-art .txt files
  lumivox.ico                             16x16 and 32x32 16-colour icon of proj.svg

Only the Python standard library and rsvg-convert are needed. The output depends only
on the sources (and the rsvg-convert version), so running it twice gives the same bytes.
"""

import os
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(HERE, "src")

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

# (source, output, size in pixels)
SVG_IMAGES = [
    ("proj.svg", "proj.png", 32),
    ("connect.svg", "connect.png", 256),
    ("disconnect.svg", "disconnect.png", 256),
]

CHEVRONS = ["up", "down", "left", "right"]
CHEVRON_SIZE = 20

ICON_SOURCE = "proj.svg"
ICON_SIZES = [16, 32]

# The 16 colours every Windows version has, in the usual order.
STANDARD_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def fail(message):
    sys.exit("generate.py: " + message)


# --- PNG -------------------------------------------------------------------------------


def png_chunks(data):
    if not data.startswith(PNG_SIGNATURE):
        fail("not a PNG file")
    pos = len(PNG_SIGNATURE)
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        yield kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def png_header(data):
    kind, body = next(png_chunks(data))
    if kind != b"IHDR":
        fail("PNG does not start with IHDR")
    # width, height, bit depth, colour type, compression, filter, interlace
    return struct.unpack(">IIBBBBB", body)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(raw, height, stride, bpp):
    rows = []
    previous = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((left + up) >> 1)) & 0xFF
            elif kind == 4:
                upleft = previous[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + paeth(left, up, upleft)) & 0xFF
            elif kind != 0:
                fail("bad PNG filter type %d" % kind)
        rows.append(line)
        previous = line
    return rows


def decode_png(data):
    """Return (width, height, rows) with each row a bytearray of RGBA bytes."""
    width, height, depth, colour, _, _, interlace = png_header(data)
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if channels is None or depth not in (8, 16) or interlace != 0:
        fail("unsupported PNG (colour type %d, depth %d, interlace %d)"
             % (colour, depth, interlace))
    raw = zlib.decompress(b"".join(body for kind, body in png_chunks(data) if kind == b"IDAT"))
    sample = depth // 8
    rows = unfilter(raw, height, width * channels * sample, channels * sample)
    result = []
    for line in rows:
        samples = line[::sample]  # high byte of 16-bit samples
        out = bytearray()
        for x in range(width):
            px = samples[x * channels:(x + 1) * channels]
            if colour == 0:
                out += bytes((px[0], px[0], px[0], 255))
            elif colour == 2:
                out += bytes((px[0], px[1], px[2], 255))
            elif colour == 4:
                out += bytes((px[0], px[0], px[0], px[1]))
            else:
                out += px
        result.append(out)
    return width, height, result


def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def encode_png(width, height, rows):
    """8-bit RGBA, not interlaced, no filtering: small images, simplicity wins."""
    raw = b"".join(b"\x00" + bytes(line) for line in rows)
    return (PNG_SIGNATURE
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def render_svg(name, size):
    path = os.path.join(SRC, name)
    try:
        data = subprocess.run(
            ["rsvg-convert", "--format=png", "--width=%d" % size, "--height=%d" % size, path],
            check=True, stdout=subprocess.PIPE).stdout
    except FileNotFoundError:
        fail("rsvg-convert not found (Debian package librsvg2-bin)")
    except subprocess.CalledProcessError as error:
        fail("rsvg-convert failed on %s (exit %d)" % (name, error.returncode))
    width, height, depth, colour, _, _, interlace = png_header(data)
    if (width, height) != (size, size):
        fail("%s rendered as %dx%d, expected %dx%d" % (name, width, height, size, size))
    if (depth, colour, interlace) != (8, 6, 0):
        # Other rsvg-convert builds may write a different pixel format; normalise it.
        data = encode_png(*decode_png(data))
    return data


# --- BMP -------------------------------------------------------------------------------


def read_pixel_art(name, size):
    """A size x size grid of 0 (black, '#') and 1 (white, '.'), top row first."""
    path = os.path.join(SRC, name)
    with open(path, encoding="ascii") as f:
        lines = f.read().splitlines()
    if len(lines) != size or any(len(line) != size for line in lines):
        fail("%s must be %d lines of %d characters" % (name, size, size))
    if any(ch not in "#." for line in lines for ch in line):
        fail("%s may only contain '#' and '.'" % name)
    return [[0 if ch == "#" else 1 for ch in line] for line in lines]


def encode_bmp8(grid):
    height = len(grid)
    width = len(grid[0])
    stride = (width + 3) & ~3
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0)) + bytes(4 * 254)  # BGRx: black, white
    pixels = b"".join(bytes(row) + bytes(stride - width) for row in reversed(grid))  # bottom-up
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII",
                       40, width, height, 1, 8, 0,  # size, w, h, planes, bpp, BI_RGB
                       len(pixels), 2835, 2835,      # image size, 72 dpi
                       256, 0)                       # colours used, important
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


# --- ICO -------------------------------------------------------------------------------


def nearest_standard_colour(r, g, b):
    if max(r, g, b) - min(r, g, b) < 64:
        # Near-neutral: stay on the grey ramp, or dark greys come out teal or navy.
        candidates = [0, 8, 7, 15]
    else:
        candidates = range(len(STANDARD_16))
    return min(candidates, key=lambda i: (r - STANDARD_16[i][0]) ** 2
               + (g - STANDARD_16[i][1]) ** 2 + (b - STANDARD_16[i][2]) ** 2)


def icon_image(size, rows):
    """BITMAPINFOHEADER + palette + 4-bit XOR bitmap + 1-bit AND mask, as in an .ico."""
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for line in reversed(rows):  # bottom-up
        indices, mask = [], []
        for x in range(size):
            r, g, b, a = line[4 * x:4 * x + 4]
            transparent = a < 128
            indices.append(0 if transparent else nearest_standard_colour(r, g, b))
            mask.append(1 if transparent else 0)
        packed = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        xor_rows.append(packed + bytes(xor_stride - len(packed)))
        bits = bytearray(and_stride)
        for x, bit in enumerate(mask):
            if bit:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(bits))
    xor_bits = b"".join(xor_rows)
    and_bits = b"".join(and_rows)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in STANDARD_16)
    # The height counts both bitmaps, the colour image and the mask under it.
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                       len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    return info + palette + xor_bits + and_bits


def encode_ico(images):
    """images: list of (size, image bytes)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4,
                               len(blob), offset)
        offset += len(blob)
        blobs += blob
    return directory + entries + blobs


# --- main ------------------------------------------------------------------------------


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (name, len(data)))


def main():
    for source, output, size in SVG_IMAGES:
        write(output, render_svg(source, size))
    for name in CHEVRONS:
        write(name + ".bmp", encode_bmp8(read_pixel_art(name + ".txt", CHEVRON_SIZE)))
    images = []
    for size in ICON_SIZES:
        width, height, rows = decode_png(render_svg(ICON_SOURCE, size))
        images.append((size, icon_image(size, rows)))
    write("lumivox.ico", encode_ico(images))


if __name__ == "__main__":
    main()
