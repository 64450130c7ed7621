"""Writes quorvel.ico from the rendered PNGs: 16, 32 and 48 px with a 256-colour
palette, and 16, 24, 32, 48 and 128 px in 32-bit colour, each as a bitmap with
its AND mask, as Windows icon groups carry them."""
import struct
import sys

from PIL import Image

PALETTED = (16, 32, 48)
TRUE_COLOUR = (16, 24, 32, 48, 128)


def and_mask(rgba):
    size = rgba.width
    stride = ((size + 31) // 32) * 4
    rows = []
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if rgba.getpixel((x, y))[3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return b"".join(rows)


def header(size, bits, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)


def true_colour(rgba):
    size = rgba.width
    pixels = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = rgba.getpixel((x, y))
            pixels += bytes((b, g, r, a))
    return header(size, 32, 0) + bytes(pixels) + and_mask(rgba)


def paletted(rgba):
    size = rgba.width
    # Masked pixels are black, so that edges blend towards the mask.
    opaque = Image.new("RGB", rgba.size, (0, 0, 0))
    opaque.paste(rgba, mask=rgba.split()[3].point(lambda a: 255 if a >= 128 else 0))
    indexed = opaque.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = indexed.getpalette()[: 256 * 3]
    palette += [0] * (256 * 3 - len(palette))
    table = b"".join(bytes((palette[i + 2], palette[i + 1], palette[i], 0)) for i in range(0, 768, 3))
    stride = (size + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(size)):
        row = bytes(indexed.getpixel((x, y)) for x in range(size))
        pixels += row + bytes(stride - size)
    return header(size, 8, 256) + table + bytes(pixels) + and_mask(rgba)


def main(out):
    images = []
    for size in PALETTED:
        images.append((size, 256, 8, paletted(Image.open(f"quorvel-{size}.png").convert("RGBA"))))
    for size in TRUE_COLOUR:
        images.append((size, 0, 32, true_colour(Image.open(f"quorvel-{size}.png").convert("RGBA"))))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    data = b""
    for size, colours, bits, dib in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours % 256, 0, 1, bits,
                                 len(dib), offset + len(data))
        data += dib
    with open(out, "wb") as f:
        f.write(directory + data)


if __name__ == "__main__":
    main(sys.argv[1])
