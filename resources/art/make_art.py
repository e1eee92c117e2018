#!/usr/bin/env python3
"""Writes tesmora.ico (icon 155) and tesmora.bmp (picture 157): a shield
with a white T on dark red, drawn here so the files carry no outside art."""
import struct, zlib, sys, os

def shield(x, y, w, h):
    # Unit coordinates; True inside the shield outline.
    u, v = x / w, y / h
    if v < 0.08 or v > 0.95: return False
    half = 0.42 if v < 0.55 else 0.42 * max(0.0, (0.95 - v) / 0.40) ** 0.7
    return abs(u - 0.5) <= half

def letter(x, y, w, h):
    u, v = x / w, y / h
    bar = 0.22 <= v <= 0.34 and 0.26 <= u <= 0.74
    stem = 0.22 <= v <= 0.78 and 0.44 <= u <= 0.56
    return bar or stem

def pixel(x, y, w, h, background):
    if letter(x, y, w, h): return (255, 255, 255, 255)
    if shield(x, y, w, h):
        edge = not shield(x - 2, y, w, h) or not shield(x + 2, y, w, h) or not shield(x, y - 2, w, h) or not shield(x, y + 2, w, h)
        return (80, 80, 80, 255) if edge else (180, 0, 0, 255)
    return background

def dib(w, h, background, with_mask):
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = b''
        for x in range(w):
            r, g, b, a = pixel(x, y, w, h, background)
            row += bytes((b, g, r, a)) if with_mask else bytes((b, g, r))
        if not with_mask:
            row += b'\0' * ((4 - len(row) % 4) % 4)
        rows.append(row)
    bits = b''.join(rows)
    bpp = 32 if with_mask else 24
    header = struct.pack('<IiiHHIIiiII', 40, w, h * (2 if with_mask else 1), 1, bpp, 0, 0, 0, 0, 0, 0)
    if with_mask:
        mask_row = ((w + 31) // 32) * 4
        bits += b'\0' * (mask_row * h)  # alpha carries the shape
    return header + bits

def icon():
    images = [dib(s, s, (0, 0, 0, 0), True) for s in (32, 16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)

def picture(w=120, h=218):
    body = dib(w, h, (212, 208, 200, 255), False)
    return struct.pack('<2sIHHI', b'BM', 14 + len(body), 0, 0, 54) + body

here = os.path.dirname(os.path.abspath(__file__))
open(os.path.join(here, 'tesmora.ico'), 'wb').write(icon())
open(os.path.join(here, 'tesmora.bmp'), 'wb').write(picture())
