#!/usr/bin/env python3
"""Regenerates the picture files in data/.

    python3 scripts/make-data.py [OUTPUT_DIR]      (default: data/ beside scripts/)
    python3 scripts/make-data.py --icons OUTPUT_DIR

The first form writes the pictures the program reads at run time, the second
the icons that packaging needs (the build runs it; nothing of it is kept in
the tree).

Writes:
    bg.gif                    64x64 tile behind the phone control page
    gradt.png, gradb.png      600x24 colour bands at the top and bottom of the main window
    OrvantisLogo100px.png     100x100 logo on white (main window, About box)
    OrvantisLogoIconSmall.ICO 16x16 and 32x32 window icon (32-bit DIB entries with AND mask)

--icons writes:
    orvantis.ico              the program file's icon: 16, 24, 32 and 48 px as DIBs,
                              256 px as PNG (what Explorer shows at large sizes)
    orvantis-N.png            the icon at N = 16, 24, 32, 48, 64, 128, 256 px, for the
                              desktop's icon theme

Everything is drawn here with the Python standard library only: no fonts, no
external tools, no timestamps, so running it twice gives the same bytes.
"""

import math
import os
import struct
import sys
import zlib

# Brand colours: a deep teal running into a clear blue.
TEAL = (11, 122, 132)
BLUE = (33, 86, 190)
WHITE = (255, 255, 255)


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(lerp(a, b, t) for a, b in zip(c1, c2))


def clamp8(v):
    return 0 if v < 0 else 255 if v > 255 else int(v + 0.5)


# Bayer 4x4 ordered dither, centred on zero, in units of one 8-bit step.
BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def dither(x, y):
    return (BAYER4[y & 3][x & 3] + 0.5) / 16.0 - 0.5


# ---------------------------------------------------------------- PNG writer

def png_bytes(width, height, rows, alpha):
    """rows: list of rows, each a list of (r, g, b) or (r, g, b, a) tuples of ints."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none; zlib does well enough on these small images
        for px in row:
            raw.extend(px[:4] if alpha else px[:3])
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------- GIF writer

def lzw_encode(indices, min_code_size):
    """GIF flavour of LZW: variable code width up to 12 bits, LSB-first packing."""
    clear = 1 << min_code_size
    eoi = clear + 1
    out = bytearray()
    bitbuf = 0
    nbits = 0

    def emit(code, width):
        nonlocal bitbuf, nbits
        bitbuf |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bitbuf & 0xFF)
            bitbuf >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, eoi + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    prefix = (indices[0],)
    for idx in indices[1:]:
        cand = prefix + (idx,)
        if cand in table:
            prefix = cand
            continue
        emit(table[prefix], width)
        if next_code < 4096:
            table[cand] = next_code
            next_code += 1
            # The decoder grows its code width one code later than we add,
            # so switch when the code just assigned no longer fits.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        prefix = (idx,)
    emit(table[prefix], width)
    emit(eoi, width)
    if nbits:
        out.append(bitbuf & 0xFF)
    return bytes(out)


def lzw_decode(data, min_code_size, count):
    """Straight decoder, used to check the encoder's output round-trips."""
    clear = 1 << min_code_size
    eoi = clear + 1
    pos = 0
    bitbuf = 0
    nbits = 0
    width = min_code_size + 1
    table = [(i,) for i in range(clear)] + [None, None]
    prev = None
    out = []
    while True:
        while nbits < width:
            bitbuf |= data[pos] << nbits
            pos += 1
            nbits += 8
        code = bitbuf & ((1 << width) - 1)
        bitbuf >>= width
        nbits -= width
        if code == clear:
            table = [(i,) for i in range(clear)] + [None, None]
            width = min_code_size + 1
            prev = None
            continue
        if code == eoi:
            break
        if code < len(table):
            entry = table[code]
        elif code == len(table) and prev is not None:
            entry = prev + prev[:1]
        else:
            raise ValueError("bad LZW code %d" % code)
        out.extend(entry)
        if prev is not None and len(table) < 4096:
            table.append(prev + entry[:1])
            if len(table) == (1 << width) and width < 12:
                width += 1
        prev = entry
    if len(out) != count:
        raise ValueError("decoded %d pixels, expected %d" % (len(out), count))
    return out


def gif_bytes(width, height, palette, indices):
    bits = max(2, (len(palette) - 1).bit_length())
    size = 1 << bits
    pal = list(palette) + [(0, 0, 0)] * (size - len(palette))
    data = lzw_encode(indices, bits)
    if lzw_decode(data, bits, len(indices)) != list(indices):
        raise AssertionError("GIF LZW round trip failed")
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (bits - 1), 0, 0)
    for c in pal:
        out += bytes(c)
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    out.append(bits)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3b"
    return bytes(out)


# ---------------------------------------------------------------- ICO writer

def ico_bytes(images, png_from=256):
    """images: list of (size, rgba rows). Each becomes a 32-bit BGRA DIB with a
    1-bit AND mask, or a PNG from `png_from` px on (a 256 px DIB would be 256 KB)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    entries = bytearray()
    blobs = bytearray()
    offset = 6 + 16 * len(images)
    for size, rows in images:
        if size >= png_from:
            blob = png_bytes(size, size, rows, alpha=True)
            entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
            blobs += blob
            offset += len(blob)
            continue
        mask_stride = ((size + 31) // 32) * 4
        xor = bytearray()
        mask = bytearray()
        for row in reversed(rows):  # DIBs are stored bottom-up
            bits = bytearray(mask_stride)
            for x, (r, g, b, a) in enumerate(row):
                xor += bytes((b, g, r, a))
                if a == 0:
                    bits[x >> 3] |= 0x80 >> (x & 7)
            mask += bits
        bih = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                          len(xor) + len(mask), 0, 0, 0, 0)
        blob = bih + xor + mask
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return header + bytes(entries) + bytes(blobs)


# ---------------------------------------------------------------- the logo

def rounded_box_sd(px, py, cx, cy, hw, hh, r):
    """Signed distance to a rounded rectangle (negative inside)."""
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    ox = max(qx, 0.0)
    oy = max(qy, 0.0)
    return math.hypot(ox, oy) + min(max(qx, qy), 0.0) - r


def segment_dist(px, py, ax, ay, bx, by):
    ex, ey = bx - ax, by - ay
    wx, wy = px - ax, py - ay
    t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
    return math.hypot(wx - ex * t, wy - ey * t)


def triangle_sd(px, py, tri):
    """Signed distance to a triangle (negative inside)."""
    (ax, ay), (bx, by), (cx, cy) = tri
    d = min(segment_dist(px, py, ax, ay, bx, by),
            segment_dist(px, py, bx, by, cx, cy),
            segment_dist(px, py, cx, cy, ax, ay))

    def side(x1, y1, x2, y2):
        return (x2 - x1) * (py - y1) - (y2 - y1) * (px - x1)
    s1, s2, s3 = side(ax, ay, bx, by), side(bx, by, cx, cy), side(cx, cy, ax, ay)
    inside = (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
    return -d if inside else d


def shrink_triangle(tri, r):
    """Moves each corner towards the incentre so that the triangle grown by r
    (rounded corners) has the same straight edges as the original."""
    (ax, ay), (bx, by), (cx, cy) = tri
    la = math.hypot(bx - cx, by - cy)
    lb = math.hypot(ax - cx, ay - cy)
    lc = math.hypot(ax - bx, ay - by)
    per = la + lb + lc
    ix, iy = (la * ax + lb * bx + lc * cx) / per, (la * ay + lb * by + lc * cy) / per
    area = abs((bx - ax) * (cy - ay) - (cx - ax) * (by - ay)) / 2
    inr = 2 * area / per
    f = (inr - r) / inr
    return tuple((ix + (x - ix) * f, iy + (y - iy) * f) for x, y in tri)


class Logo:
    """A rounded tile in the brand gradient holding a white "O" with a play
    arrow that breaks out through its right side: the next slide.

    Coordinates are in tile units: (0, 0) top left, (1, 1) bottom right.
    `small` is the 16 px variant: at that size an arrow through the ring
    smears into a bar, so the ring stays closed around a smaller triangle.
    """

    def __init__(self, small=False, margin=0.04):
        half = 0.5 - margin
        self.half = half
        self.radius = half * 0.44
        P = self.params(small)
        # The large mark is laid out for a tile with a 4% margin and scales
        # with the tile; the 16 px one is laid out on its pixel grid as is.
        k = 1.0 if small else half / 0.46
        self.cx = 0.5 + P["ring_dx"] * k
        self.r_out = P["r_out"] * k
        self.r_in = self.r_out - P["ring"] * k
        self.halo = P["halo"] * k
        self.corner = P["corner"] * k
        tri = ((0.5 + P["tri_left"] * k, 0.5 - P["tri_h"] / 2 * k),
               (0.5 + P["tri_tip"] * k, 0.5),
               (0.5 + P["tri_left"] * k, 0.5 + P["tri_h"] / 2 * k))
        self.play = shrink_triangle(tri, self.corner)
        # The ring opens on the right where the arrow passes through it. The
        # opening is cut radially, just wide enough to keep `halo` of tile
        # colour between the ring's ends and the arrow.
        self.gap = 0.0
        while self.gap < math.pi / 2:
            a = self.gap
            clear = all(self.arrow_sd(self.cx + r * math.cos(a), 0.5 - r * math.sin(a)) >= self.halo
                        for r in (self.r_in + (self.r_out - self.r_in) * i / 8 for i in range(9)))
            if clear:
                break
            self.gap += math.radians(0.5)

    def arrow_sd(self, u, v):
        return triangle_sd(u, v, self.play) - self.corner

    @staticmethod
    def params(small):
        if small:
            px = 1 / 16
            return dict(ring_dx=0, r_out=6.5 * px, ring=1.6 * px, halo=1 * px, corner=0.1 * px,
                        tri_left=-2 * px, tri_tip=3.6 * px, tri_h=6 * px)
        return dict(ring_dx=-0.04, r_out=0.30, ring=0.08, halo=0.035, corner=0.02,
                    tri_left=-0.10, tri_tip=0.36, tri_h=0.28)

    def tile_colour(self, u, v):
        # Diagonal gradient, top left teal to bottom right blue, with a soft
        # light from the top so the tile doesn't look flat.
        t = (u + v) / 2
        t = t * t * (3 - 2 * t)
        c = mix(TEAL, BLUE, t)
        glow = max(0.0, 0.5 - v) * 0.16
        return mix(c, WHITE, glow)

    def mark(self, u, v):
        if self.arrow_sd(u, v) <= 0:
            return True
        dx, dy = u - self.cx, v - 0.5
        d = math.hypot(dx, dy)
        return self.r_in <= d <= self.r_out and abs(math.atan2(dy, dx)) >= self.gap

    def sample(self, u, v):
        """(r, g, b, a) with a in 0..1, colour not premultiplied."""
        if rounded_box_sd(u, v, 0.5, 0.5, self.half, self.half, self.radius) > 0:
            return (0.0, 0.0, 0.0, 0.0)
        if self.mark(u, v):
            return (255.0, 255.0, 255.0, 1.0)
        r, g, b = self.tile_colour(u, v)
        return (r, g, b, 1.0)

    def render(self, size, ss=8):
        """RGBA rows, each pixel the average of ss*ss samples."""
        rows = []
        n = ss * ss
        for y in range(size):
            row = []
            for x in range(size):
                ar = ag = ab = aa = 0.0
                for sy in range(ss):
                    v = (y + (sy + 0.5) / ss) / size
                    for sx in range(ss):
                        u = (x + (sx + 0.5) / ss) / size
                        r, g, b, a = self.sample(u, v)
                        ar += r * a
                        ag += g * a
                        ab += b * a
                        aa += a
                if aa == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append((clamp8(ar / aa), clamp8(ag / aa), clamp8(ab / aa), clamp8(aa / n * 255)))
            rows.append(row)
        return rows


def on_white(rows):
    out = []
    for row in rows:
        o = []
        for r, g, b, a in row:
            t = a / 255.0
            o.append((clamp8(lerp(255, r, t)), clamp8(lerp(255, g, t)), clamp8(lerp(255, b, t))))
        out.append(o)
    return out


# ---------------------------------------------------------------- bands

def band(width, height, left, right, fade_at_top):
    """Horizontal gradient from `left` to `right` that fades to white over
    the quarter of the band next to the window's content, so it blends in."""
    fade = max(1, height // 4)
    rows = []
    for y in range(height):
        inner = y if fade_at_top else height - 1 - y  # distance from the content side
        w = 1.0 if inner >= fade else (inner + 0.5) / fade
        w = w * w * (3 - 2 * w)
        # A faint highlight on the outer edge gives the band some depth.
        edge = height - 1 - y if fade_at_top else y
        lift = 0.10 * max(0.0, 1 - edge / (height * 0.5))
        row = []
        for x in range(width):
            t = x / (width - 1)
            t = t * t * (3 - 2 * t)
            c = mix(mix(left, right, t), WHITE, lift)
            c = mix(WHITE, c, w)
            d = dither(x, y)
            row.append(tuple(clamp8(ch + d) for ch in c))
        rows.append(row)
    return rows


# ---------------------------------------------------------------- background tile

def background_tile(size=64):
    """Light blue-grey with soft diagonal ribs and a little grain; seamless
    because the rib period divides the tile and the grain is per-pixel."""
    base = (236, 241, 246)
    rib = (226, 233, 241)
    palette = [mix(base, rib, i / 3) for i in range(4)]
    palette = [tuple(clamp8(c) for c in p) for p in palette]
    period = 16
    seed = 0x2F6E2B1
    indices = []
    for y in range(size):
        for x in range(size):
            p = ((x + y) % period) / period
            shade = 0.5 - 0.5 * math.cos(2 * math.pi * p)  # 0..1, smooth rib
            shade = shade ** 3
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            grain = ((seed >> 16) & 0xFF) / 255.0 - 0.5
            level = shade * 3 + grain * 0.9
            indices.append(max(0, min(3, int(level + 0.5))))
    return palette, indices


# ---------------------------------------------------------------- main

ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
ICO_SIZES = (16, 24, 32, 48, 256)


def icon_rows(size):
    """The icon at one size: the 16 px layout below 20 px, the full mark
    above; fewer samples per pixel at the large sizes keep this quick."""
    ss = 16 if size < 20 else 8 if size <= 64 else 6 if size <= 128 else 4
    return Logo(small=size < 20, margin=0.0).render(size, ss=ss)


def write_icons(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    rows = {size: icon_rows(size) for size in ICON_SIZES}
    for size in ICON_SIZES:
        with open(os.path.join(out_dir, "orvantis-%d.png" % size), "wb") as f:
            f.write(png_bytes(size, size, rows[size], alpha=True))
    with open(os.path.join(out_dir, "orvantis.ico"), "wb") as f:
        f.write(ico_bytes([(size, rows[size]) for size in ICO_SIZES]))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--icons":
        write_icons(sys.argv[2])
        return
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "data")
    out_dir = os.path.normpath(out_dir)
    os.makedirs(out_dir, exist_ok=True)

    def write(name, data):
        path = os.path.join(out_dir, name)
        with open(path, "wb") as f:
            f.write(data)
        print("%-28s %6d bytes" % (name, len(data)))

    palette, indices = background_tile(64)
    write("bg.gif", gif_bytes(64, 64, palette, indices))

    write("gradt.png", png_bytes(600, 24, band(600, 24, TEAL, BLUE, fade_at_top=False), alpha=False))
    light_teal = mix(TEAL, WHITE, 0.3)
    light_blue = mix(BLUE, WHITE, 0.3)
    write("gradb.png", png_bytes(600, 24, band(600, 24, light_blue, light_teal, fade_at_top=True), alpha=False))

    logo = Logo(small=False, margin=0.04).render(100, ss=8)
    write("OrvantisLogo100px.png", png_bytes(100, 100, on_white(logo), alpha=False))

    icons = [(16, Logo(small=True, margin=0.0).render(16, ss=16)),
             (32, Logo(small=False, margin=0.0).render(32, ss=12))]
    write("OrvantisLogoIconSmall.ICO", ico_bytes(icons))


if __name__ == "__main__":
    main()
