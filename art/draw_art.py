#!/usr/bin/python3
"""Draws every picture of the launcher's resources into res/ and a preview sheet.

Run with Debian's Python (it needs python3-pil, fonts-wqy-zenhei and
fonts-dejavu-core):

    /usr/bin/python3 art/draw_art.py           # write res/ and art/preview.png
    /usr/bin/python3 art/draw_art.py --check   # redraw in memory, compare with the files

The output is the same, byte for byte, on every run.
"""
import io
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep art/ free of caches

import artkit as ak  # noqa: E402
import buttons  # noqa: E402
import checks  # noqa: E402
import layout as lay  # noqa: E402
import pieces  # noqa: E402
import preview  # noqa: E402
import skin as skin_mod  # noqa: E402

ROOT = os.path.dirname(HERE)
RES = os.path.join(ROOT, "res")
ICONS = os.path.join(RES, "icons")
APP_ICON_SIZES = (16, 24, 32, 48, 256)
CURSOR_SIZES = (32, 48)


def draw_all():
    """Returns {relative path: bytes} for every output and the preview sheet."""
    out = {}
    skin, inside = skin_mod.draw_skin()
    checks.check_skin(skin, inside)
    out["res/skin.bmp"] = ak.bmp24_bytes(skin)

    images = {}
    for name, (first_id, style, _caption, _glyph) in lay.BUTTONS.items():
        for state in lay.STATES:
            img = buttons.draw_button(name, state)
            images[(name, state)] = img
            out[f"res/icons/{name}_{state}.ico"] = ak.icon_bytes([img])
        checks.check_button(name, [images[(name, s)] for s in lay.STATES], lay.STYLE_SIZES[style])

    frame = [pieces.frame_piece(name) for name in lay.FRAME_PIECES]
    for name, img in zip(lay.FRAME_PIECES, frame):
        out[f"res/icons/frame_{name}.ico"] = ak.icon_bytes([img])
    checks.check_frame(frame)

    statics = {}
    for name in lay.STATICS:
        img = pieces.title_image() if name == "title_sysinfo" else pieces.tile(name)
        statics[name] = img
        out[f"res/icons/{name}.ico"] = ak.icon_bytes([img])

    app_icons = [pieces.app_icon(px) for px in APP_ICON_SIZES]
    out["res/app.ico"] = ak.icon_bytes(app_icons)
    cursors = [pieces.hand_cursor(px) for px in CURSOR_SIZES]
    checks.check_cursor(cursors)
    out["res/hand.cur"] = ak.icon_bytes([c[0] for c in cursors], hotspots=[c[1] for c in cursors])

    sheet = preview.build_preview(skin, inside, images, frame, statics, app_icons, cursors[0])
    buf = io.BytesIO()
    sheet.save(buf, format="PNG", optimize=False, compress_level=9)
    out["art/preview.png"] = buf.getvalue()
    return out


def main(argv):
    outputs = draw_all()
    if "--check" in argv:
        stale = [p for p, data in outputs.items()
                 if not os.path.exists(os.path.join(ROOT, p)) or open(os.path.join(ROOT, p), "rb").read() != data]
        for p in stale:
            print(f"differs from a fresh drawing: {p}")
        return 1 if stale else 0
    os.makedirs(ICONS, exist_ok=True)
    for path, data in sorted(outputs.items()):
        with open(os.path.join(ROOT, path), "wb") as f:
            f.write(data)
    print(f"wrote {len(outputs)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
