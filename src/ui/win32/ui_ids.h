// Typed names for the resource and control numbers that the skinned windows
// use. The numbers themselves are defined once, in the launcher's resource
// header; this only gives them C++ names and groups the four looks of a button.
#pragma once

#include "resource.h"

namespace ui_ids {

constexpr int kSkinBitmap = IDB_SKIN;
constexpr int kAppIcon = IDI_APP;
constexpr int kHandCursor = IDCUR_HAND;
constexpr int kAppTitleString = IDS_APP_TITLE;

constexpr int kSystemInfoTemplate = IDD_SYSTEM_INFO;
constexpr int kBindWeiboTemplate = IDD_BIND_WEIBO;

// Icons of the window buttons, in the order normal, hover, pressed, disabled.
constexpr int kMinimiseIcons[4] = {IDI_MINIMISE_NORMAL, IDI_MINIMISE_HOVER, IDI_MINIMISE_PRESSED,
                                   IDI_MINIMISE_DISABLED};
constexpr int kCloseIcons[4] = {IDI_CLOSE_NORMAL, IDI_CLOSE_HOVER, IDI_CLOSE_PRESSED, IDI_CLOSE_DISABLED};
constexpr int kCopyIcons[4] = {IDI_COPY_NORMAL, IDI_COPY_HOVER, IDI_COPY_PRESSED, IDI_COPY_DISABLED};
constexpr int kDismissIcons[4] = {IDI_DISMISS_NORMAL, IDI_DISMISS_HOVER, IDI_DISMISS_PRESSED,
                                  IDI_DISMISS_DISABLED};

constexpr int kTileIcon1 = IDI_TILE_HEALTH;
constexpr int kTileIcon2 = IDI_TILE_MODERATE;
constexpr int kFrameFirstIcon = IDI_FRAME_TOP_LEFT;  // piece n is kFrameFirstIcon + n
constexpr int kSystemInfoTitleIcon = IDI_TITLE_SYSINFO;

// Controls of the Weibo binding window.
constexpr int kWeiboMinimise = IDC_WEIBO_MINIMISE;
constexpr int kWeiboClose = IDC_WEIBO_CLOSE;
constexpr int kWeiboBrowser = IDC_WEIBO_BROWSER;
constexpr int kWeiboFrame = IDC_WEIBO_FRAME;
constexpr int kWeiboTile1 = IDC_WEIBO_IMAGE1;
constexpr int kWeiboTile2 = IDC_WEIBO_IMAGE2;

// Controls of the system information window.
constexpr int kSysInfoMinimise = IDC_SYSINFO_MINIMISE;
constexpr int kSysInfoClose = IDC_SYSINFO_CLOSE;
constexpr int kSysInfoPanel = IDC_SYSINFO_PANEL;
constexpr int kSysInfoTile1 = IDC_SYSINFO_IMAGE1;
constexpr int kSysInfoTile2 = IDC_SYSINFO_IMAGE2;
constexpr int kSysInfoTitle = IDC_SYSINFO_TITLE;
constexpr int kSysInfoCopy = IDC_SYSINFO_COPY;
constexpr int kSysInfoDismiss = IDC_SYSINFO_HIDE;
constexpr int kSysInfoReport = IDC_SYSINFO_REPORT;

}  // namespace ui_ids
