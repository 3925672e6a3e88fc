// The Weibo account-binding window: a skinned window with its own browser
// showing the operator's binding page inside a nine-piece frame, two image
// tiles, and minimise and close buttons.
#pragma once

#include <string>

#include "ui/win32/base_dialog.h"
#include "ui/win32/web_browser2.h"
#include "ui/win32/x_button.h"
#include "ui/win32/x_static.h"

// The operator's web host, used when none is given.
constexpr const char kBindWeiboDefaultHost[] = "www.vantorel.com";
constexpr const char kBindWeiboPath[] = "/2599000.asp";

class CBindWeiBoDlg : public CBaseDialog {
public:
    // `host` is the operator's web host; `pageOverride`, when not empty, is
    // loaded instead of the binding page.
    explicit CBindWeiBoDlg(std::string host = kBindWeiboDefaultHost, std::string pageOverride = {});
    ~CBindWeiBoDlg() override;

    // The address that the browser is sent to.
    [[nodiscard]] std::string PageAddress() const;

    [[nodiscard]] CWebBrowser2& Browser() { return m_browser; }
    [[nodiscard]] CXStatic& Frame() { return m_stcFrame; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool PreTranslateMessage(MSG* msg) override;

private:
    INT_PTR OnCommand(int id);

    HICON m_hAppIcon = nullptr;
    CXStatic m_stcFrame;
    CWebBrowser2 m_browser;
    CXButton m_btnMinimise;
    CXButton m_btnClose;
    CXStatic m_stcImage1;
    CXStatic m_stcImage2;
    std::string m_strHost;
    std::string m_strPageOverride;
};
