// Resource and control numbers that the skinned windows use. They are the
// numbers of the launcher's resource script; tests that link the script check
// that both agree.
#pragma once

namespace ui_ids {

constexpr int kSkinBitmap = 201;
constexpr int kAppIcon = 103;
constexpr int kHandCursor = 400;
constexpr int kAppTitleString = 57344;

constexpr int kSystemInfoTemplate = 105;
constexpr int kBindWeiboTemplate = 106;

// Icons of the two window buttons, in the order normal, hover, pressed, disabled.
constexpr int kMinimiseIcons[4] = {348, 349, 350, 351};
constexpr int kCloseIcons[4] = {352, 353, 354, 355};
constexpr int kCopyIcons[4] = {812, 813, 814, 815};
constexpr int kDismissIcons[4] = {816, 817, 818, 819};

constexpr int kTileIcon1 = 800;
constexpr int kTileIcon2 = 801;
constexpr int kFrameFirstIcon = 802;  // piece n is kFrameFirstIcon + n
constexpr int kSystemInfoTitleIcon = 811;

// Controls of the Weibo binding window.
constexpr int kWeiboMinimise = 1021;
constexpr int kWeiboClose = 1022;
constexpr int kWeiboBrowser = 1023;
constexpr int kWeiboFrame = 1024;
constexpr int kWeiboTile1 = 1025;
constexpr int kWeiboTile2 = 1026;

// Controls of the system information window.
constexpr int kSysInfoMinimise = 1027;
constexpr int kSysInfoClose = 1028;
constexpr int kSysInfoPanel = 1029;
constexpr int kSysInfoTile1 = 1030;
constexpr int kSysInfoTile2 = 1031;
constexpr int kSysInfoTitle = 1032;
constexpr int kSysInfoCopy = 1033;
constexpr int kSysInfoDismiss = 1034;
constexpr int kSysInfoReport = 1035;

}  // namespace ui_ids
