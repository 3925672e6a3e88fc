"""A sheet that shows the three windows as the program lays them out, and every picture.

The browser areas show a stand-in page and the report panel a sample report:
they are the operator's page and the player's machine in the real program.
"""
from PIL import Image, ImageDraw

import artkit as ak
import layout as lay

BG = (52, 58, 70)
LABEL = (226, 230, 238)


def _desktop(size):
    img = ak.vgradient(size, [(0, (40, 70, 110)), (1, (20, 30, 48))])
    d = ImageDraw.Draw(img)
    for x in range(0, size[0], 24):
        d.line((x, 0, x, size[1]), fill=(255, 255, 255, 18))
    for y in range(0, size[1], 24):
        d.line((0, y, size[0], y), fill=(255, 255, 255, 18))
    return img


def _window(skin, inside):
    """The skin over a desktop: key pixels show what lies beneath the window."""
    img = _desktop(skin.size)
    face = skin.convert("RGBA")
    img.paste(face, (0, 0), inside)
    return img


def _frame(img, pieces, origin, width, height):
    n = lay.FRAME_CORNER
    sizes = [(n, n), (width, n), (n, n), (n, height), (width, height), (n, height), (n, n), (width, n), (n, n)]
    x0, y0 = origin
    ws = [s[0] for s in sizes]
    hs = [s[1] for s in sizes]
    spots = [(x0, y0), (x0 + ws[0], y0), (x0 + ws[0] + ws[1], y0), (x0, y0 + hs[0]), (x0 + ws[3], y0 + hs[1]),
             (x0 + ws[3] + ws[4], y0 + hs[2]), (x0, y0 + hs[0] + hs[3]), (x0 + ws[6], y0 + hs[1] + hs[4]),
             (x0 + ws[6] + ws[7], y0 + hs[2] + hs[5])]
    for piece, size, spot in zip(pieces, sizes, spots):
        img.alpha_composite(piece.resize(size, Image.BILINEAR), spot)


def _page(size, title):
    """A stand-in for the operator's web page."""
    w, h = size
    img = ak.vgradient(size, [(0, (30, 24, 26)), (1, (16, 12, 14))])
    banner = ak.vgradient((w - 24, 150), [(0, (120, 40, 24)), (1, (40, 12, 10))])
    img.alpha_composite(banner, (12, 12))
    d = ImageDraw.Draw(img)
    d.text((32, 40), title, font=ak.font(30), fill=(255, 226, 160))
    d.text((34, 90), "新版本「余烬王座」现已开放  ·  限时活动进行中", font=ak.font(15), fill=(240, 220, 190))
    rows = [("[公告]", "服务器例行维护完成, 感谢各位玩家的耐心等待", "12-07"),
            ("[活动]", "冬季庆典: 登录即送坐骑「霜鬃战狼」", "12-05"),
            ("[更新]", "1.0.0.1 版本更新说明", "12-03"),
            ("[新闻]", "跨服竞技场第三赛季开启报名", "11-30")]
    y = 180
    for tag, text, date in rows:
        d.text((24, y), tag, font=ak.font(14), fill=(230, 170, 80))
        d.text((80, y), text, font=ak.font(14), fill=(220, 214, 204))
        d.text((w - 70, y), date, font=ak.font(14), fill=(150, 144, 136))
        d.line((24, y + 26, w - 24, y + 26), fill=(60, 48, 44))
        y += 40
    return img


def _place_buttons(img, images, placements, states=None):
    for name, pos in placements:
        state = (states or {}).get(name, "normal")
        img.alpha_composite(images[(name, state)], pos)


def main_window(skin, inside, images, pieces):
    img = _window(skin, inside)
    win = lay.MAIN_WINDOW
    x, y, w, h = win["browser"]
    _frame(img, pieces, *win["frame"])
    img.paste(_page((w, h), "VANTOREL 最新动态"), (x, y))
    # While a version step downloads, the update button is the pause button
    # and the game cannot start.
    buttons = [("pause" if name == "update" else name, pos) for name, pos in win["buttons"]]
    _place_buttons(img, images, buttons, {"sysinfo": "hover", "start": "disabled"})
    d = ImageDraw.Draw(img)
    d.text((340, 604), "正在下载 patch_1001.pak  (45%)", font=ak.font(12), fill=(255, 255, 255))
    d.text((340, 628), "当前版本 : 1.0.0.0   最新版本 : 1.0.0.1", font=ak.font(12), fill=(255, 255, 255))
    return img


SAMPLE_REPORT = ("OS : Windows 10 Professional (Build 19045)\n\nCPU : Intel(R) Core(TM) i5-8400 CPU 2.80 GHz\n\n"
                 "CPU Count : 6\n\nCPU Producer : GenuineIntel \tCPU Identifier : x86 Family 6 Model 158\n\n"
                 "Physical Memory : 16313 \tVirtual Memory : 2047\n\nSound Card : Realtek High Definition Audio\n\n"
                 "IE Version : 11.0.19041.1\n\nVidep Card : NVIDIA GeForce GTX 1060 6GB \n\n"
                 "NetWork Card : Intel(R) Ethernet Connection I219-V")


def sysinfo_window(skin, inside, images, pieces, statics):
    img = _window(skin, inside)
    win = lay.SYSINFO_WINDOW
    _frame(img, pieces, *win["frame"])
    name, pos = win["title"]
    img.alpha_composite(statics[name], pos)
    x, y, w, h = win["report"]
    d = ImageDraw.Draw(img)
    d.multiline_text((x, y), SAMPLE_REPORT.replace("\t", "    "), font=ak.font(13), fill=(236, 228, 214),
                     spacing=3)
    _place_buttons(img, images, win["buttons"], {"close": "hover"})
    return img


def weibo_window(skin, inside, images, pieces):
    img = _window(skin, inside)
    win = lay.WEIBO_WINDOW
    x, y, w, h = win["browser"]
    _frame(img, pieces, *win["frame"])
    img.paste(_page((w, h), "微博账号绑定"), (x, y))
    _place_buttons(img, images, win["buttons"])
    return img


def _button_sheet(images):
    names = list(lay.BUTTONS)
    row_h = [lay.STYLE_SIZES[lay.BUTTONS[n][1]][1] + 16 for n in names]
    col_w = 210
    sheet = Image.new("RGBA", (130 + 4 * col_w, 40 + sum(row_h)), (26, 14, 11, 255))
    d = ImageDraw.Draw(sheet)
    for i, state in enumerate(lay.STATES):
        d.text((130 + i * col_w, 10), state, font=ak.font(14), fill=LABEL)
    y = 40
    for name, rh in zip(names, row_h):
        first = lay.BUTTONS[name][0]
        d.text((10, y + 4), f"{name} {first}-{first + 3}", font=ak.font(13), fill=LABEL)
        for i, state in enumerate(lay.STATES):
            sheet.alpha_composite(images[(name, state)], (130 + i * col_w, y))
        y += rh
    return sheet


def _misc_sheet(pieces, statics, app_icons, cursor):
    sheet = Image.new("RGBA", (820, 330), (26, 14, 11, 255))
    d = ImageDraw.Draw(sheet)
    d.text((10, 8), "frame 802-810, each x3", font=ak.font(13), fill=LABEL)
    for i, piece in enumerate(pieces):
        sheet.alpha_composite(piece.resize((60, 60), Image.NEAREST), (10 + (i % 3) * 64, 30 + (i // 3) * 64))
    x = 230
    for name, (rid, size) in lay.STATICS.items():
        d.text((x, 8), f"{name} {rid}", font=ak.font(13), fill=LABEL)
        sheet.alpha_composite(statics[name], (x, 30))
        x += size[0] + 24
    x = 230
    d.text((x, 120), "app icon 103", font=ak.font(13), fill=LABEL)
    for icon in app_icons:
        shown = icon if icon.width <= 64 else icon.resize((128, 128), Image.LANCZOS)
        sheet.alpha_composite(shown, (x, 142))
        x += shown.width + 12
    d.text((x + 20, 120), "cursor 400, x4, hot spot red", font=ak.font(13), fill=LABEL)
    img, hot = cursor
    sheet.alpha_composite(img.resize((128, 128), Image.NEAREST), (x + 20, 142))
    d.rectangle((x + 20 + hot[0] * 4, 142 + hot[1] * 4, x + 23 + hot[0] * 4, 145 + hot[1] * 4),
                fill=(255, 0, 0, 255))
    return sheet


def build_preview(skin, inside, images, pieces, statics, app_icons, cursor):
    pad = 20
    wins = [main_window(skin, inside, images, pieces), sysinfo_window(skin, inside, images, pieces, statics),
            weibo_window(skin, inside, images, pieces)]
    buttons = _button_sheet(images)
    misc = _misc_sheet(pieces, statics, app_icons, cursor)
    right = max(820, buttons.width)
    row2 = max(670 + pad + misc.height, buttons.height)
    sheet = Image.new("RGBA", (3 * pad + 820 + right, 3 * pad + 670 + row2), BG + (255,))
    sheet.alpha_composite(wins[0], (pad, pad))
    sheet.alpha_composite(wins[1], (2 * pad + 820, pad))
    sheet.alpha_composite(wins[2], (pad, 2 * pad + 670))
    sheet.alpha_composite(misc, (pad, 3 * pad + 2 * 670))
    sheet.alpha_composite(buttons, (2 * pad + 820, 2 * pad + 670))
    return sheet.convert("RGB")
