"""Resource numbers, image sizes and control positions of the three windows.

These are the numbers the window code and res/launcher.rc use; the drawing
script takes file names and sizes from here, and the preview places every
picture where the windows put it.
"""

SKIN_SIZE = (820, 670)
# The main window's two text lines sit at (340, 604) and (340, 628) and fill
# their rectangles; the skin under them has exactly that fill colour.
STATUS_PANEL = (330, 596, 622, 654)   # left, top, right, bottom (exclusive)
WORDMARK_CENTER_X = 178

STATES = ("normal", "hover", "pressed", "disabled")

# Button picture sizes by style.
STYLE_SIZES = {
    "nav": (123, 37),
    "wide": (196, 48),
    "hero": (172, 131),
    "panel": (136, 44),
    "sys": (43, 37),
}

# name: (first icon id, style, caption, glyph); the four state icons follow
# the first id in the order normal, hover, pressed, disabled.
BUTTONS = {
    "home": (300, "nav", "官网", "home"),
    "support": (304, "nav", "客服", "headset"),
    "weibo": (308, "nav", "微博", "weibo"),
    "shop": (312, "wide", "商城", "bag"),
    "start": (320, "hero", "开始游戏", None),
    "settings": (324, "nav", "游戏设置", "gear"),
    "sysinfo": (328, "nav", "系统信息", "monitor"),
    "update": (332, "wide", "更新", "download"),
    # The update button while a version step runs, and after it was paused
    # (or at a start that finds its downloads kept).
    "pause": (336, "wide", "暂停", "pause"),
    "continue": (340, "wide", "继续", "play"),
    # The update button while damaged files wait for their repair.
    "repair": (344, "wide", "修复", "wrench"),
    "minimise": (348, "sys", "", "minus"),
    "close": (352, "sys", "", "cross"),
    "copy": (812, "panel", "复制信息", "copy"),
    "dismiss": (816, "panel", "关闭", "cross"),
}

# Frame pieces in index order (row by row), icons 802 to 810, each 20 x 20.
FRAME_PIECES = ("top_left", "top", "top_right", "left", "centre", "right",
                "bottom_left", "bottom", "bottom_right")
FRAME_FIRST_ID = 802
FRAME_CORNER = 20

# Single-image statics: name: (icon id, size).
STATICS = {
    "tile_health": (800, (140, 60)),
    "tile_moderate": (801, (140, 60)),
    "title_sysinfo": (811, (240, 36)),
}

# Where the windows put their pictures, for the preview.
MAIN_WINDOW = {
    "buttons": [("settings", (140, 38)), ("sysinfo", (267, 38)), ("support", (398, 38)),
                ("home", (528, 38)), ("minimise", (679, 35)), ("close", (720, 35)),
                ("shop", (47, 521)), ("update", (272, 521)), ("start", (624, 507))],
    "frame": ((51, 81), 678, 370),
    "browser": (54, 85, 712, 402),
}
SYSINFO_WINDOW = {
    "buttons": [("minimise", (679, 35)), ("close", (720, 35)), ("copy", (328, 540)),
                ("dismiss", (554, 540))],
    "frame": ((47, 81), 688, 370),
    "title": ("title_sysinfo", (23, 40)),
    "report": (65, 105, 684, 495),
}
WEIBO_WINDOW = {
    "buttons": [("minimise", (699, 25)), ("close", (740, 25))],
    "frame": ((33, 91), 688, 370),
    "browser": (37, 95, 720, 402),
}
