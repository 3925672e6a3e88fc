"""Drawing helpers and file writers shared by the artwork scripts.

Everything here is deterministic: no clock, no unseeded randomness, and the
file writers lay out every byte themselves, so the same fonts and the same
Pillow give the same files on every run.
"""
import struct

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
SERIF_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf"

# Supersampling factor for shapes; text is drawn at 1x so that it stays crisp.
SS = 4

KEY = (255, 0, 255)
STATUS_FILL = (18, 7, 5)  # the fill colour of the main window's text lines

GOLD_STOPS = [(0.0, (255, 240, 186)), (0.35, (230, 186, 96)),
              (0.55, (160, 108, 40)), (0.8, (214, 166, 80)), (1.0, (250, 222, 150))]
DARK_GOLD_STOPS = [(0.0, (196, 152, 80)), (0.5, (120, 80, 32)), (1.0, (170, 124, 56))]
GREY_STOPS = [(0.0, (150, 146, 140)), (0.5, (92, 89, 86)), (1.0, (128, 124, 120))]
BRIGHT_GOLD_STOPS = [(0.0, (255, 250, 214)), (0.35, (255, 214, 120)),
                     (0.55, (196, 140, 52)), (0.8, (246, 200, 104)), (1.0, (255, 240, 180))]

_font_cache = {}


def font(size, path=CJK_FONT, index=0):
    key = (path, size, index)
    if key not in _font_cache:
        _font_cache[key] = ImageFont.truetype(path, size, index=index)
    return _font_cache[key]


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def interp(stops, t):
    t = min(max(t, 0.0), 1.0)
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return lerp(c0, c1, 0.0 if p1 == p0 else (t - p0) / (p1 - p0))
    return stops[-1][1]


def vgradient(size, stops, top=None, bottom=None):
    """A vertical gradient image; top/bottom limit the ramp to a band of rows."""
    w, h = size
    top = 0 if top is None else top
    bottom = h - 1 if bottom is None else bottom
    col = Image.new("RGBA", (1, h))
    px = col.load()
    span = max(bottom - top, 1)
    for y in range(h):
        c = interp(stops, (y - top) / span)
        px[0, y] = c + (255,) if len(c) == 3 else c
    return col.resize((w, h), Image.NEAREST)


def radial(size, center, radius, inner, outer):
    """Radial ramp from colour inner (RGBA) at center to outer at radius."""
    w, h = size
    r = max(1, int(radius))
    # Pillow's gradient reaches 181 at the middle of each edge: stretch it to 255 there.
    disc = Image.radial_gradient("L").point(lambda v: min(255, v * 255 // 181))
    disc = disc.resize((2 * r, 2 * r), Image.BILINEAR)
    ramp = Image.new("L", (w, h), 255)
    ramp.paste(disc, (int(center[0]) - r, int(center[1]) - r))
    return Image.composite(Image.new("RGBA", (w, h), outer), Image.new("RGBA", (w, h), inner), ramp)


def layer(dst, src, mask=None):
    """Composites src over dst (both RGBA), limited by an optional 'L' mask."""
    if mask is not None:
        src = src.copy()
        src.putalpha(ImageChops.multiply(src.getchannel("A"), mask))
    dst.alpha_composite(src)


def solid(size, colour):
    c = colour if len(colour) == 4 else colour + (255,)
    return Image.new("RGBA", size, c)


def mask_of(size, draw_fn):
    m = Image.new("L", size, 0)
    draw_fn(ImageDraw.Draw(m))
    return m


def erode(mask, px):
    """Shrinks a mask by px pixels.

    Square and cross-shaped steps alternate, so that slanted and round edges
    move inward by about the same distance as straight ones.
    """
    for i in range(px):
        if i % 2 == 0:
            mask = mask.filter(ImageFilter.MinFilter(3))
            continue
        m = mask
        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            m = ImageChops.darker(m, ImageChops.offset(mask, dx, dy))
        mask = m
    return mask


def shadow(mask, offset, blur, colour):
    """A soft shadow layer of a mask, moved by offset."""
    w, h = mask.size
    m = Image.new("L", (w, h), 0)
    m.paste(mask, offset)
    m = m.filter(ImageFilter.GaussianBlur(blur))
    s = solid((w, h), colour[:3])
    s.putalpha(ImageChops.multiply(m, Image.new("L", (w, h), colour[3])))
    return s


def down(img, factor=SS):
    return img.resize((img.width // factor, img.height // factor), Image.BOX)


def text_mask(size, xy, text, fnt, anchor="mm", spacing=0, stroke=0):
    """A mask of a line of text; spacing adds pixels between characters."""
    m = Image.new("L", size, 0)
    d = ImageDraw.Draw(m)
    if spacing == 0:
        d.text(xy, text, font=fnt, fill=255, anchor=anchor, stroke_width=stroke, stroke_fill=255)
        return m
    widths = [d.textlength(ch, font=fnt) for ch in text]
    total = sum(widths) + spacing * (len(text) - 1)
    x = xy[0] - total / 2 if anchor[0] == "m" else xy[0]
    for ch, cw in zip(text, widths):
        d.text((x, xy[1]), ch, font=fnt, fill=255, anchor="l" + anchor[1],
               stroke_width=stroke, stroke_fill=255)
        x += cw + spacing
    return m


def styled_text(img, xy, text, fnt, stops, outline=None, glow=None, spacing=0, bold=False, anchor="mm"):
    """Draws text filled with a vertical gradient, with optional outline and glow."""
    size = img.size
    m = text_mask(size, xy, text, fnt, anchor=anchor, spacing=spacing, stroke=1 if bold else 0)
    box = m.getbbox()
    if box is None:
        return
    if glow is not None:
        layer(img, shadow(m, (0, 0), glow[0], glow[1]))
    if outline is not None:
        ring = m.filter(ImageFilter.MaxFilter(3))
        layer(img, solid(size, outline[:3]), ImageChops.multiply(ring, Image.new("L", size, outline[3])))
    fill = Image.new("RGBA", size, (0, 0, 0, 0))
    fill.paste(vgradient((size[0], box[3] - box[1]), stops), (0, box[1]))
    layer(img, fill, m)


# ---------------------------------------------------------------- file writers

def _dib_entry(img):
    """BITMAPINFOHEADER, BGRA rows bottom-up and the AND mask of one icon image."""
    w, h = img.size
    rgba = img.convert("RGBA")
    px = rgba.load()
    xor = bytearray()
    mask_stride = ((w + 31) // 32) * 4
    andm = bytearray()
    for y in range(h - 1, -1, -1):
        row_mask = bytearray(mask_stride)
        for x in range(w):
            r, g, b, a = px[x, y]
            if a == 0:
                r = g = b = 0
                row_mask[x // 8] |= 0x80 >> (x % 8)
            xor += bytes((b, g, r, a))
        andm += row_mask
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor) + len(andm), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(andm)


def _png_entry(img):
    import io
    buf = io.BytesIO()
    img.convert("RGBA").save(buf, format="PNG", optimize=False, compress_level=9)
    return buf.getvalue()


def icon_bytes(images, hotspots=None):
    """An .ico (or, with hotspots, a .cur) file of 32-bit images; 256 px ones as PNG."""
    kind = 1 if hotspots is None else 2
    blobs = [(_png_entry(im) if im.width >= 256 else _dib_entry(im)) for im in images]
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    for i, (im, blob) in enumerate(zip(images, blobs)):
        w = 0 if im.width >= 256 else im.width
        h = 0 if im.height >= 256 else im.height
        if hotspots is None:
            planes, bits = 1, 32
        else:
            planes, bits = hotspots[i]
        out += struct.pack("<BBBBHHII", w, h, 0, 0, planes, bits, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def bmp24_bytes(img):
    """A bottom-up 24-bit BMP with a BITMAPINFOHEADER and no colour table."""
    rgb = img.convert("RGB")
    w, h = rgb.size
    stride = (w * 3 + 3) & ~3
    raw = rgb.transpose(Image.FLIP_TOP_BOTTOM).tobytes("raw", "BGR", stride, 1)
    if len(raw) != stride * h:  # Pillow pads rows itself when stride is given
        raise ValueError("unexpected row layout")
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(raw), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(raw), 0, 0, 14 + len(info))
    return head + info + raw
