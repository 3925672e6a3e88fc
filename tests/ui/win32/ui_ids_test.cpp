// The numbers the window code uses are the resource script's numbers.
#include "resource.h"
#include "ui/win32/ui_ids.h"

namespace {

static_assert(ui_ids::kSkinBitmap == IDB_SKIN);
static_assert(ui_ids::kAppIcon == IDI_APP);
static_assert(ui_ids::kHandCursor == IDCUR_HAND);
static_assert(ui_ids::kAppTitleString == IDS_APP_TITLE);
static_assert(ui_ids::kSystemInfoTemplate == IDD_SYSTEM_INFO);
static_assert(ui_ids::kBindWeiboTemplate == IDD_BIND_WEIBO);
static_assert(ui_ids::kMinimiseIcons[0] == IDI_MINIMISE_NORMAL && ui_ids::kMinimiseIcons[3] == IDI_MINIMISE_DISABLED);
static_assert(ui_ids::kCloseIcons[0] == IDI_CLOSE_NORMAL && ui_ids::kCloseIcons[3] == IDI_CLOSE_DISABLED);
static_assert(ui_ids::kCopyIcons[0] == IDI_COPY_NORMAL && ui_ids::kCopyIcons[3] == IDI_COPY_DISABLED);
static_assert(ui_ids::kDismissIcons[0] == IDI_DISMISS_NORMAL && ui_ids::kDismissIcons[3] == IDI_DISMISS_DISABLED);
static_assert(ui_ids::kTileIcon1 == IDI_TILE_HEALTH && ui_ids::kTileIcon2 == IDI_TILE_MODERATE);
static_assert(ui_ids::kFrameFirstIcon == IDI_FRAME_TOP_LEFT && ui_ids::kFrameFirstIcon + 8 == IDI_FRAME_BOTTOM_RIGHT);
static_assert(ui_ids::kSystemInfoTitleIcon == IDI_TITLE_SYSINFO);
static_assert(ui_ids::kWeiboMinimise == IDC_WEIBO_MINIMISE && ui_ids::kWeiboClose == IDC_WEIBO_CLOSE);
static_assert(ui_ids::kWeiboBrowser == IDC_WEIBO_BROWSER && ui_ids::kWeiboFrame == IDC_WEIBO_FRAME);
static_assert(ui_ids::kWeiboTile1 == IDC_WEIBO_IMAGE1 && ui_ids::kWeiboTile2 == IDC_WEIBO_IMAGE2);
static_assert(ui_ids::kSysInfoMinimise == IDC_SYSINFO_MINIMISE && ui_ids::kSysInfoClose == IDC_SYSINFO_CLOSE);
static_assert(ui_ids::kSysInfoPanel == IDC_SYSINFO_PANEL && ui_ids::kSysInfoReport == IDC_SYSINFO_REPORT);
static_assert(ui_ids::kSysInfoTile1 == IDC_SYSINFO_IMAGE1 && ui_ids::kSysInfoTile2 == IDC_SYSINFO_IMAGE2);
static_assert(ui_ids::kSysInfoTitle == IDC_SYSINFO_TITLE);
static_assert(ui_ids::kSysInfoCopy == IDC_SYSINFO_COPY && ui_ids::kSysInfoDismiss == IDC_SYSINFO_HIDE);

}  // namespace
