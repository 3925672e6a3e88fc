// Resource and control numbers of the launcher's windows.
//
// Included by launcher.rc and by the window code. Plain macros only, so that
// the resource compiler and C++ both read it.
//
// Pictures (drawn by art/draw_art.py):
//  - the skin is 820 x 670 pixels, 24 bits; magenta (255, 0, 255) pixels are
//    cut out of the window, including the hole in the crest at the top;
//  - button icons are 32-bit with alpha, one image per icon: 123 x 37 for the
//    header buttons, 196 x 48 for shop and update (and its pause, continue
//    and repair looks), 172 x 131 for start, 43 x 37 for minimise and close,
//    136 x 44 for the two buttons of the system information window. Their
//    last column and row are transparent;
//  - the frame pieces are 20 x 20; the edges and the centre are opaque so that
//    they can be loaded stretched (678 or 688 wide, 370 high);
//  - the image tiles are 140 x 60, the system information title 240 x 36.
//
// The templates use "宋体" 9 pt, so that one dialog unit is about 1.5 pixels;
// the windows move every control to its pixel position, and only the text
// lines, tiles and frames keep the template's size.
#pragma once

// ---- dialog templates
#define IDD_LAUNCHER 102
#define IDD_SYSTEM_INFO 105
#define IDD_BIND_WEIBO 106

// ---- application icon, skin, cursor, strings
#define IDI_APP 103
#define IDB_SKIN 201
#define IDCUR_HAND 400  // not IDC_HAND: <windows.h> uses that name for the system's hand
#define IDS_QUIT_QUESTION 500
#define IDS_APP_TITLE 57344
// The operator's public keys (generated at build time), in the launcher and patchkit.
#define IDR_TRUST_KEYS 600

// ---- button icons: four looks each, in the order normal, hover, pressed, disabled
#define IDI_HOME_NORMAL 300
#define IDI_HOME_HOVER 301
#define IDI_HOME_PRESSED 302
#define IDI_HOME_DISABLED 303
#define IDI_SUPPORT_NORMAL 304
#define IDI_SUPPORT_HOVER 305
#define IDI_SUPPORT_PRESSED 306
#define IDI_SUPPORT_DISABLED 307
#define IDI_WEIBO_NORMAL 308
#define IDI_WEIBO_HOVER 309
#define IDI_WEIBO_PRESSED 310
#define IDI_WEIBO_DISABLED 311
#define IDI_SHOP_NORMAL 312
#define IDI_SHOP_HOVER 313
#define IDI_SHOP_PRESSED 314
#define IDI_SHOP_DISABLED 315
#define IDI_START_NORMAL 320
#define IDI_START_HOVER 321
#define IDI_START_PRESSED 322
#define IDI_START_DISABLED 323
#define IDI_SETTINGS_NORMAL 324
#define IDI_SETTINGS_HOVER 325
#define IDI_SETTINGS_PRESSED 326
#define IDI_SETTINGS_DISABLED 327
#define IDI_SYSINFO_NORMAL 328
#define IDI_SYSINFO_HOVER 329
#define IDI_SYSINFO_PRESSED 330
#define IDI_SYSINFO_DISABLED 331
#define IDI_UPDATE_NORMAL 332
#define IDI_UPDATE_HOVER 333
#define IDI_UPDATE_PRESSED 334
#define IDI_UPDATE_DISABLED 335
// the update button while a step runs ("暂停"), and for a step to go on ("继续")
#define IDI_PAUSE_NORMAL 336
#define IDI_PAUSE_HOVER 337
#define IDI_PAUSE_PRESSED 338
#define IDI_PAUSE_DISABLED 339
#define IDI_CONTINUE_NORMAL 340
#define IDI_CONTINUE_HOVER 341
#define IDI_CONTINUE_PRESSED 342
#define IDI_CONTINUE_DISABLED 343
#define IDI_REPAIR_NORMAL 344
#define IDI_REPAIR_HOVER 345
#define IDI_REPAIR_PRESSED 346
#define IDI_REPAIR_DISABLED 347
#define IDI_MINIMISE_NORMAL 348
#define IDI_MINIMISE_HOVER 349
#define IDI_MINIMISE_PRESSED 350
#define IDI_MINIMISE_DISABLED 351
#define IDI_CLOSE_NORMAL 352
#define IDI_CLOSE_HOVER 353
#define IDI_CLOSE_PRESSED 354
#define IDI_CLOSE_DISABLED 355
// the captioned buttons of the system information window: copy and close ("关闭")
#define IDI_COPY_NORMAL 812
#define IDI_COPY_HOVER 813
#define IDI_COPY_PRESSED 814
#define IDI_COPY_DISABLED 815
#define IDI_DISMISS_NORMAL 816
#define IDI_DISMISS_HOVER 817
#define IDI_DISMISS_PRESSED 818
#define IDI_DISMISS_DISABLED 819

// ---- static pictures
#define IDI_TILE_HEALTH 800
#define IDI_TILE_MODERATE 801
// nine frame pieces, row by row: piece n is IDI_FRAME_TOP_LEFT + n
#define IDI_FRAME_TOP_LEFT 802
#define IDI_FRAME_TOP 803
#define IDI_FRAME_TOP_RIGHT 804
#define IDI_FRAME_LEFT 805
#define IDI_FRAME_CENTRE 806
#define IDI_FRAME_RIGHT 807
#define IDI_FRAME_BOTTOM_LEFT 808
#define IDI_FRAME_BOTTOM 809
#define IDI_FRAME_BOTTOM_RIGHT 810
#define IDI_TITLE_SYSINFO 811

// ---- the web-browser control. The templates name its class identifier as the
// control's window class. A plain dialog cannot create an ActiveX control from
// that name, so the window code registers a window class of exactly this name
// before it creates a dialog from these templates; that window hosts the
// browser and is sized and moved like any other control.
#define VANTOREL_BROWSER_CLASS "{8856F961-340A-11D0-A96B-00C04FD705A2}"

// ---- controls of the main window (template 102)
#define IDC_BTN_HOME 1000
#define IDC_BTN_SUPPORT 1001
#define IDC_BTN_WEIBO 1002
#define IDC_BTN_SHOP 1003
#define IDC_BTN_START 1005
#define IDC_BTN_SETTINGS 1006
#define IDC_BTN_SYSINFO 1007
#define IDC_BTN_UPDATE 1008
#define IDC_BTN_MINIMISE 1012
#define IDC_BTN_CLOSE 1013
#define IDC_BROWSER 1015
#define IDC_IMAGE1 1016
#define IDC_IMAGE2 1017
#define IDC_VERSION_LINE 1018
#define IDC_STATUS_LINE 1019
#define IDC_BROWSER_FRAME 1020
#define IDC_PROGRESS_BAR 1040

// ---- controls of the Weibo binding window (template 106)
#define IDC_WEIBO_MINIMISE 1021
#define IDC_WEIBO_CLOSE 1022
#define IDC_WEIBO_BROWSER 1023
#define IDC_WEIBO_FRAME 1024
#define IDC_WEIBO_IMAGE1 1025
#define IDC_WEIBO_IMAGE2 1026

// ---- controls of the system information window (template 105)
#define IDC_SYSINFO_MINIMISE 1027
#define IDC_SYSINFO_CLOSE 1028
#define IDC_SYSINFO_PANEL 1029
#define IDC_SYSINFO_IMAGE1 1030
#define IDC_SYSINFO_IMAGE2 1031
#define IDC_SYSINFO_TITLE 1032
#define IDC_SYSINFO_COPY 1033
#define IDC_SYSINFO_HIDE 1034
#define IDC_SYSINFO_REPORT 1035
