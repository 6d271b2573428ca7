"""Small image toolkit for warukyara's artwork (python3 standard library only).

Reads rasterised SVGs as raw RGBA (through ImageMagick), maps them onto fixed
palettes and writes GIF, BMP and ICO files byte by byte, so that every header
field we care about (palette size, transparent index, disposal, background
index, frame offsets) is exactly what the game expects.
"""

import random
import struct
import subprocess

CONVERT = "/usr/bin/convert"


# --------------------------------------------------------------- reading

class Picture:
    """A w x h RGBA picture kept as a list of (r, g, b, a) tuples."""

    def __init__(self, w, h, px=None):
        self.w, self.h = w, h
        self.px = px if px is not None else [(0, 0, 0, 0)] * (w * h)

    def get(self, x, y):
        return self.px[y * self.w + x]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = c


def over(base, top):
    """Alpha-composite picture top over picture base (same size)."""
    if (base.w, base.h) != (top.w, top.h):
        raise ValueError("pictures differ in size")
    px = []
    for (br, bg, bb, ba), (tr, tg, tb, ta) in zip(base.px, top.px):
        if ta == 255 or ba == 0:
            px.append((tr, tg, tb, ta) if ta else (br, bg, bb, ba))
            continue
        if ta == 0:
            px.append((br, bg, bb, ba))
            continue
        a = ta + ba * (255 - ta) // 255
        mix = lambda t, b: (t * ta + b * ba * (255 - ta) // 255) // a
        px.append((mix(tr, br), mix(tg, bg), mix(tb, bb), a))
    return Picture(base.w, base.h, px)


def read_png(path):
    """Return a Picture from any file ImageMagick can read (first frame)."""
    dims = subprocess.run([CONVERT, path + "[0]", "-format", "%w %h", "info:"],
                          check=True, capture_output=True, text=True).stdout
    w, h = (int(v) for v in dims.split())
    raw = subprocess.run([CONVERT, path + "[0]", "-depth", "8", "rgba:-"],
                         check=True, capture_output=True).stdout
    if len(raw) != w * h * 4:
        raise ValueError("%s: expected %d bytes of RGBA, got %d" % (path, w * h * 4, len(raw)))
    px = [tuple(raw[i:i + 4]) for i in range(0, len(raw), 4)]
    return Picture(w, h, px)


# --------------------------------------------------------------- palettes

WEB_LEVELS = (0, 51, 102, 153, 204, 255)


def web_palette():
    """6x6x6 colour cube (red slowest) padded with black to 256 entries."""
    pal = [(r, g, b) for r in WEB_LEVELS for g in WEB_LEVELS for b in WEB_LEVELS]
    return pal + [(0, 0, 0)] * (256 - len(pal))


def nearest(pal, c, allowed=None):
    """Index of the palette entry closest to RGB c (weighted distance)."""
    best, best_d = None, None
    idxs = allowed if allowed is not None else range(len(pal))
    for i in idxs:
        p = pal[i]
        dr, dg, db = p[0] - c[0], p[1] - c[1], p[2] - c[2]
        d = 3 * dr * dr + 4 * dg * dg + 2 * db * db
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def map_to_palette(pic, pal, transparent, allowed=None, alpha_cut=128):
    """Indices for pic: transparent where alpha < alpha_cut, else nearest colour."""
    cache = {}
    out = []
    for (r, g, b, a) in pic.px:
        if a < alpha_cut:
            out.append(transparent)
            continue
        if a < 255:  # un-premultiply nothing; rsvg gives straight alpha
            pass
        key = (r, g, b)
        if key not in cache:
            cache[key] = nearest(pal, key, allowed)
        out.append(cache[key])
    return out


def median_cut(colours, n):
    """Reduce a list of RGB tuples (with repeats) to at most n colours."""
    boxes = [list(colours)]
    while len(boxes) < n:
        # split the box with the widest channel range
        best_i, best_ch, best_range = None, None, -1
        for i, box in enumerate(boxes):
            if len(set(box)) < 2:
                continue
            for ch in range(3):
                vals = [c[ch] for c in box]
                rng = max(vals) - min(vals)
                if rng > best_range:
                    best_i, best_ch, best_range = i, ch, rng
        if best_i is None:
            break
        box = sorted(boxes.pop(best_i), key=lambda c: c[best_ch])
        mid = len(box) // 2
        boxes += [box[:mid], box[mid:]]
    pal = []
    for box in boxes:
        k = len(box)
        pal.append(tuple((sum(c[ch] for c in box) + k // 2) // k for ch in range(3)))
    return sorted(set(pal))


# --------------------------------------------------------------- GIF

def _lzw(indices, min_size):
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    size = min_size + 1
    table = {(i,): i for i in range(clear)}
    nxt = eoi + 1
    acc, nbits, out = 0, 0, bytearray()

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    emit(clear)
    w = (indices[0],)
    for k in indices[1:]:
        wk = w + (k,)
        if wk in table:
            w = wk
            continue
        emit(table[w])
        table[wk] = nxt
        nxt += 1
        if nxt > (1 << size) and size < 12:
            size += 1
        if nxt == 4095:  # table full: start again
            emit(clear)
            table = {(i,): i for i in range(clear)}
            nxt = eoi + 1
            size = min_size + 1
        w = (k,)
    emit(table[w])
    emit(eoi)
    if nbits:
        out.append(acc & 0xFF)
    blocks = bytearray([min_size])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b"\x00")


def _interlace_rows(h):
    return (list(range(0, h, 8)) + list(range(4, h, 8)) +
            list(range(2, h, 4)) + list(range(1, h, 2)))


class Frame:
    def __init__(self, indices, w, h, left=0, top=0, delay=0, disposal=0,
                 transparent=None, interlace=False):
        self.indices, self.w, self.h = indices, w, h
        self.left, self.top = left, top
        self.delay, self.disposal = delay, disposal
        self.transparent, self.interlace = transparent, interlace


def write_gif(path, w, h, palette, frames, background=0, loop=None):
    n = len(palette)
    bits = max(1, (n - 1).bit_length())
    if 1 << bits != n:
        raise ValueError("palette must have a power-of-two size, got %d" % n)
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", w, h, 0x80 | ((bits - 1) << 4) | (bits - 1),
                       background, 0)
    for c in palette:
        out += bytes(c)
    if loop is not None:
        out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", loop) + b"\x00"
    for f in frames:
        if len(f.indices) != f.w * f.h:
            raise ValueError("frame has %d pixels, expected %d" % (len(f.indices), f.w * f.h))
        if max(f.indices) >= n:
            raise ValueError("index outside the palette")
        packed = (f.disposal << 2) | (1 if f.transparent is not None else 0)
        out += b"\x21\xF9\x04" + struct.pack("<BHB", packed, f.delay,
                                             f.transparent or 0) + b"\x00"
        out += b"\x2C" + struct.pack("<HHHHB", f.left, f.top, f.w, f.h,
                                     0x40 if f.interlace else 0)
        rows = _interlace_rows(f.h) if f.interlace else range(f.h)
        ordered = []
        for y in rows:
            ordered += f.indices[y * f.w:(y + 1) * f.w]
        out += _lzw(ordered, max(2, bits))
    out += b"\x3B"
    with open(path, "wb") as fh:
        fh.write(out)


# --------------------------------------------------------------- BMP

def write_bmp24(path, w, h, rgb_rows):
    """Uncompressed 24-bit bottom-up BMP; rgb_rows[y][x] = (r, g, b), y from top."""
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for (r, g, b) in rgb_rows[y]:
            row += bytes((b, g, r))
        row += b"\x00" * (stride - len(row))
        data += row
    header = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as fh:
        fh.write(header + info + data)


# --------------------------------------------------------------- PNG

def write_png_indexed(path, w, h, palette, rows):
    """Palette PNG at the fewest bits per pixel that hold the palette; no time or text
    chunks, so the same pixels always give the same bytes."""
    import zlib
    bits = next(b for b in (1, 2, 4, 8) if len(palette) <= 1 << b)
    per_byte = 8 // bits
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for x0 in range(0, w, per_byte):
            b = 0
            for k in range(per_byte):
                v = row[x0 + k] if x0 + k < w else 0
                b |= v << (8 - bits * (k + 1))
            raw.append(b)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, bits, 3, 0, 0, 0))
    out += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    out += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += chunk(b"IEND", b"")
    with open(path, "wb") as fh:
        fh.write(out)


# --------------------------------------------------------------- ICO

VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
         (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
         (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
         (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
MONO = [(0, 0, 0), (255, 255, 255)]


def _pack_rows(values, w, h, bpp):
    """Bottom-up rows of bpp-bit values, each padded to 32 bits."""
    per_byte = 8 // bpp
    stride = ((w * bpp + 31) // 32) * 4
    out = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x0 in range(0, w, per_byte):
            b = 0
            for k in range(per_byte):
                x = x0 + k
                v = values[y * w + x] if x < w else 0
                b |= v << (8 - bpp * (k + 1))
            row.append(b)
        row += b"\x00" * (stride - len(row))
        out += row
    return bytes(out)


def write_ico(path, images):
    """images: list of (w, h, palette, indices, mask) with mask[i] = 1 for transparent."""
    dib = []
    for (w, h, pal, idx, mask) in images:
        bpp = {2: 1, 16: 4}[len(pal)]
        xor = _pack_rows(idx, w, h, bpp)
        andm = _pack_rows(mask, w, h, 1)
        info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bpp, 0,
                           len(xor) + len(andm), 0, 0, len(pal), 0)
        table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in pal)
        dib.append((w, h, len(pal), bpp, info + table + xor + andm))
    out = bytearray(struct.pack("<HHH", 0, 1, len(dib)))
    offset = 6 + 16 * len(dib)
    for (w, h, ncol, bpp, blob) in dib:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, ncol % 256, 0, 1, bpp,
                           len(blob), offset)
        offset += len(blob)
    for d in dib:
        out += d[4]
    with open(path, "wb") as fh:
        fh.write(out)


def rng(seed):
    return random.Random(seed)
