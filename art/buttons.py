"""Button pictures: four looks per button (normal, hover, pressed, disabled).

The windows draw a pressed button one pixel right and down and count an
image as one pixel narrower and lower when its size is odd, so every picture
keeps its last two columns and rows clear of anything that must be seen.
"""
from PIL import Image, ImageChops, ImageDraw, ImageFilter

import artkit as ak
import glyphs
import layout as lay

SS = ak.SS

# Per look: rim gradient, plate gradient, caption colour, glyph colour, glow.
LOOKS = {
    "normal": dict(rim=[(0, (236, 198, 118)), (0.5, (150, 104, 44)), (1, (200, 154, 72))],
                   plate=[(0, (84, 46, 30)), (1, (38, 19, 14))], text=(242, 224, 186),
                   glyph=(230, 188, 104), glow=None, sheen=46, alpha=255),
    "hover": dict(rim=ak.BRIGHT_GOLD_STOPS, plate=[(0, (150, 72, 30)), (1, (70, 28, 14))],
                  text=(255, 246, 214), glyph=(255, 230, 156), glow=(255, 196, 90, 150),
                  sheen=64, alpha=255),
    "pressed": dict(rim=[(0, (150, 106, 46)), (0.5, (110, 74, 30)), (1, (190, 146, 70))],
                    plate=[(0, (22, 11, 8)), (1, (56, 28, 17))], text=(224, 186, 118),
                    glyph=(196, 150, 72), glow=None, sheen=0, alpha=255),
    "disabled": dict(rim=[(0, (118, 114, 108)), (0.5, (74, 72, 70)), (1, (100, 98, 94))],
                     plate=[(0, (58, 56, 54)), (1, (36, 35, 34))], text=(132, 129, 124),
                     glyph=(112, 110, 106), glow=None, sheen=12, alpha=215),
}

# style: (content box inside the picture, corner radius, caption font size, glyph size)
STYLES = {
    "nav": ((2, 2, 120, 34), 5, 14, 15),
    "wide": ((3, 3, 192, 45), 7, 19, 20),
    "panel": ((3, 3, 132, 41), 6, 16, 17),
    "sys": ((3, 3, 39, 33), 5, 0, 13),
}


def _box_ss(box):
    return tuple(v * SS for v in box)


def _plate(size, box, radius, look):
    """The rimmed plate of a button at SS times its size."""
    big = (size[0] * SS, size[1] * SS)
    x0, y0, x1, y1 = _box_ss(box)
    r = radius * SS
    img = Image.new("RGBA", big, (0, 0, 0, 0))
    outer = ak.mask_of(big, lambda d: d.rounded_rectangle((x0, y0, x1, y1), r, fill=255))
    if look["glow"] is not None:
        ak.layer(img, ak.shadow(outer, (0, 0), 2.2 * SS, look["glow"]))
    elif look is not LOOKS["pressed"]:
        ak.layer(img, ak.shadow(outer, (0, SS), 1.2 * SS, (0, 0, 0, 170)))
    ak.layer(img, ak.vgradient(big, look["rim"], y0, y1), outer)
    inset = int(1.5 * SS)
    inner = ak.mask_of(big, lambda d: d.rounded_rectangle((x0 + inset, y0 + inset, x1 - inset, y1 - inset),
                                                          max(r - inset, SS), fill=255))
    ak.layer(img, ak.vgradient(big, look["plate"], y0, y1), inner)
    if look["sheen"]:
        mid = (y0 + y1) // 2
        sheen = ak.vgradient(big, [(0, (255, 236, 200, look["sheen"])), (1, (255, 236, 200, 0))], y0, mid)
        top = ak.mask_of(big, lambda d: d.rectangle((0, 0, big[0], mid), fill=255))
        ak.layer(img, sheen, ImageChops.multiply(inner, top))
    if look is LOOKS["pressed"]:
        ak.layer(img, ak.shadow(ImageChops.invert(inner), (0, 2 * SS), 2 * SS, (0, 0, 0, 210)), inner)
    return img


def _glyph_layer(size, name, centre, gsize, colour):
    big = (size[0] * SS, size[1] * SS)
    m = ak.mask_of(big, lambda d: glyphs.GLYPHS[name](d, centre[0] * SS, centre[1] * SS, gsize * SS))
    m = ak.down(m)
    img = Image.new("RGBA", size, (0, 0, 0, 0))
    ak.layer(img, ak.shadow(m, (0, 1), 0.8, (0, 0, 0, 200)))
    ak.layer(img, ak.solid(size, colour), m)
    return img


def _caption(img, centre, text, size_px, colour, bold=False):
    fnt = ak.font(size_px)
    m = ak.text_mask(img.size, centre, text, fnt, stroke=1 if bold else 0)
    ak.layer(img, ak.shadow(m, (0, 1), 0.7, (0, 0, 0, 230)))
    ak.layer(img, ak.solid(img.size, colour), m)


def _fade(img, alpha):
    """Applies the look's opacity and clears the last column and row (see above)."""
    a = img.getchannel("A")
    if alpha < 255:
        a = a.point(lambda v: v * alpha // 255)
    w, h = img.size
    a.paste(0, (w - 1, 0, w, h))
    a.paste(0, (0, h - 1, w, h))
    img.putalpha(a)
    return img


def plate_button(style, state, caption, glyph):
    size = lay.STYLE_SIZES[style]
    box, radius, font_px, gsize = STYLES[style]
    look = LOOKS[state]
    if style == "sys" and glyph == "cross" and state in ("hover", "pressed"):
        look = dict(look, plate=[(0, (176, 40, 26)), (1, (86, 14, 10))] if state == "hover"
                    else [(0, (60, 10, 8)), (1, (110, 22, 14))])
    img = ak.down(_plate(size, box, radius, look))
    cx, cy = (box[0] + box[2]) / 2, (box[1] + box[3]) / 2
    if not caption:
        ak.layer(img, _glyph_layer(size, glyph, (cx, cy), gsize, look["glyph"]))
        return _fade(img, look["alpha"])
    fnt = ak.font(font_px)
    tw = ImageDraw.Draw(img).textlength(caption, font=fnt)
    gap = 7 if style != "nav" else 5
    total = gsize + gap + tw
    gx = cx - total / 2 + gsize / 2
    ak.layer(img, _glyph_layer(size, glyph, (gx, cy), gsize, look["glyph"]))
    _caption(img, (gx + gsize / 2 + gap + tw / 2, cy), caption, font_px, look["text"])
    return _fade(img, look["alpha"])


# ---------------------------------------------------------------- start button

HERO_LOOKS = {
    "normal": dict(rim=ak.GOLD_STOPS, core=(206, 70, 24), edge=(82, 14, 9), glow=(255, 140, 50, 90),
                   text=ak.GOLD_STOPS, sub=(236, 200, 130), alpha=255),
    "hover": dict(rim=ak.BRIGHT_GOLD_STOPS, core=(250, 120, 40), edge=(128, 28, 12),
                  glow=(255, 180, 80, 200), text=ak.BRIGHT_GOLD_STOPS, sub=(255, 232, 170), alpha=255),
    "pressed": dict(rim=ak.DARK_GOLD_STOPS, core=(150, 44, 16), edge=(54, 10, 6), glow=None,
                    text=ak.DARK_GOLD_STOPS, sub=(196, 150, 86), alpha=255),
    "disabled": dict(rim=ak.GREY_STOPS, core=(92, 88, 84), edge=(40, 38, 36), glow=None,
                     text=[(0, (170, 166, 160)), (1, (110, 107, 103))], sub=(128, 124, 118), alpha=220),
}
HERO_BOX = (6, 6, 164, 122)


def _hero_shape(d, box, k, inset):
    x0, y0, x1, y1 = (v * k for v in box)
    i, c = inset * k, 14 * k
    d.polygon([(x0 + c + i, y0 + i), (x1 - c - i, y0 + i), (x1 - i, y0 + c + i), (x1 - i, y1 - c - i),
               (x1 - c - i, y1 - i), (x0 + c + i, y1 - i), (x0 + i, y1 - c - i), (x0 + i, y0 + c + i)],
              fill=255)


def hero_button(state):
    size = lay.STYLE_SIZES["hero"]
    big = (size[0] * SS, size[1] * SS)
    look = HERO_LOOKS[state]
    img = Image.new("RGBA", big, (0, 0, 0, 0))
    outer = ak.mask_of(big, lambda d: _hero_shape(d, HERO_BOX, SS, 0))
    if look["glow"] is not None:
        ak.layer(img, ak.shadow(outer, (0, 0), 4 * SS, look["glow"]))
    ak.layer(img, ak.shadow(outer, (0, 2 * SS), 2 * SS, (0, 0, 0, 200)))
    y0, y1 = HERO_BOX[1] * SS, HERO_BOX[3] * SS
    ak.layer(img, ak.vgradient(big, look["rim"], y0, y1), outer)
    gap = ak.mask_of(big, lambda d: _hero_shape(d, HERO_BOX, SS, 3))
    ak.layer(img, ak.solid(big, (24, 10, 6)), gap)
    inner_rim = ak.mask_of(big, lambda d: _hero_shape(d, HERO_BOX, SS, 4))
    ak.layer(img, ak.vgradient(big, ak.DARK_GOLD_STOPS, y0, y1), inner_rim)
    core = ak.mask_of(big, lambda d: _hero_shape(d, HERO_BOX, SS, 5))
    centre = ((HERO_BOX[0] + HERO_BOX[2]) / 2 * SS, (HERO_BOX[1] + HERO_BOX[3]) * 0.42 * SS)
    ak.layer(img, ak.radial(big, centre, 92 * SS, look["core"] + (255,), look["edge"] + (255,)), core)
    _rays(img, core, centre, state)
    if state == "pressed":
        ak.layer(img, ak.shadow(ImageChops.invert(core), (0, 3 * SS), 4 * SS, (0, 0, 0, 220)), core)
    else:
        sheen = ak.vgradient(big, [(0, (255, 230, 190, 70)), (1, (255, 230, 190, 0))], y0, (y0 + y1) // 2)
        ak.layer(img, sheen, core)
    _studs(img, state)
    img = ak.down(img)
    cx = (HERO_BOX[0] + HERO_BOX[2]) / 2
    ak.styled_text(img, (cx, 56), "开始游戏", ak.font(27), look["text"], outline=(30, 8, 4, 255),
                   glow=(3, (0, 0, 0, 160)), bold=True)
    sub = ak.text_mask(img.size, (cx, 86), "START GAME", ak.font(10, ak.SERIF_BOLD), spacing=2)
    ak.layer(img, ak.shadow(sub, (0, 1), 0.6, (0, 0, 0, 220)))
    ak.layer(img, ak.solid(img.size, look["sub"]), sub)
    d = ImageDraw.Draw(img)
    for sx in (-1, 1):
        d.line((cx + sx * 44, 86, cx + sx * 60, 86), fill=look["sub"])
    return _fade(img, look["alpha"])


def _rays(img, core, centre, state):
    if state == "disabled":
        return
    big = img.size
    m = Image.new("L", big, 0)
    d = ImageDraw.Draw(m)
    import math
    for i in range(24):
        a0 = math.pi * 2 * i / 24
        a1 = a0 + math.pi / 48
        r = 200 * SS
        d.polygon([centre, (centre[0] + r * math.cos(a0), centre[1] + r * math.sin(a0)),
                   (centre[0] + r * math.cos(a1), centre[1] + r * math.sin(a1))], fill=28)
    m = m.filter(ImageFilter.GaussianBlur(SS))
    ak.layer(img, ak.solid(big, (255, 200, 120)), ImageChops.multiply(m, core))


def _studs(img, state):
    d = ImageDraw.Draw(img)
    colour = (140, 136, 130, 255) if state == "disabled" else (255, 226, 150, 255)
    cx = (HERO_BOX[0] + HERO_BOX[2]) / 2 * SS
    for y in (HERO_BOX[1], HERO_BOX[3]):
        r = 4 * SS
        d.polygon([(cx, y * SS - r), (cx + r, y * SS), (cx, y * SS + r), (cx - r, y * SS)], fill=colour)


def draw_button(name, state):
    first_id, style, caption, glyph = lay.BUTTONS[name]
    if style == "hero":
        return hero_button(state)
    return plate_button(style, state, caption, glyph)
