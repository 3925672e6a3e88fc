// The skinned window that shows the system information report and copies it
// to the clipboard for customer support. Created once, modeless and hidden;
// the facts are gathered and the report composed when it is created, and it
// is then shown and hidden without being rebuilt.
#pragma once

#include <functional>
#include <string>

#include "sysinfo/sys_info.h"
#include "ui/win32/base_dialog.h"
#include "ui/win32/x_button.h"
#include "ui/win32/x_static.h"

class CSystemInfoDlg : public CBaseDialog {
public:
    // Where the facts come from; by default the machine this program runs on.
    using FactsSource = std::function<SystemFacts()>;

    CSystemInfoDlg();
    explicit CSystemInfoDlg(FactsSource source);
    ~CSystemInfoDlg() override;

    // Gathers the facts and appends the report; run once from initialisation.
    void BuildReport();
    // Puts the report on the clipboard and says so.
    void OnCopyReport();

    [[nodiscard]] const std::string& Report() const { return m_strReport; }
    [[nodiscard]] const SystemFacts& Facts() const { return m_facts; }
    [[nodiscard]] const CXStatic& ReportLabel() const { return m_stcReport; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool PreTranslateMessage(MSG* msg) override;

private:
    INT_PTR OnCommand(int id);
    [[nodiscard]] bool PutReportOnClipboard() const;

    HICON m_hAppIcon = nullptr;
    CXStatic m_stcPanel;
    CXStatic m_stcReport;
    CXButton m_btnMinimise;
    CXButton m_btnClose;
    CXButton m_btnCopy;
    CXButton m_btnDismiss;
    CXStatic m_stcImage1;
    CXStatic m_stcImage2;
    CXStatic m_stcTitle;
    SystemFacts m_facts;
    std::string m_strReport;  // UTF-8, lines ended by "\r\n"
    FactsSource m_source;
};
