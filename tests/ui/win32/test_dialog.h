// A bare skinned dialog for the tests: the system information template on
// the common skin, with nothing of that window's own set-up, and a log of the
// commands it receives.
#pragma once

#include <windows.h>

#include <vector>

#include "ui/win32/base_dialog.h"
#include "ui/win32/ui_ids.h"

class TestDialog : public CBaseDialog {
public:
    struct Command {
        int id;
        int code;
    };

    explicit TestDialog(UINT skin = ui_ids::kSkinBitmap, BOOL layered = FALSE)
        : CBaseDialog(ui_ids::kSystemInfoTemplate), m_skin(skin), m_layered(layered) {}

    using CBaseDialog::FilterSecondaryWindowMessage;
    using CBaseDialog::m_bLayered;
    using CBaseDialog::m_bmInfo;
    using CBaseDialog::m_nSkinID;

    BOOL m_initResult = FALSE;
    std::vector<Command> m_commands;

protected:
    BOOL OnInitDialog() override {
        m_nSkinID = m_skin;
        m_bLayered = m_layered;
        m_initResult = CBaseDialog::OnInitDialog();
        return TRUE;
    }
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_COMMAND:
                m_commands.push_back(Command{LOWORD(wParam), HIWORD(wParam)});
                return TRUE;
            case WM_NCHITTEST:
                return OnNcHitTest(lParam);
            default:
                return CBaseDialog::DialogProc(message, wParam, lParam);
        }
    }
    bool PreTranslateMessage(MSG* msg) override { return FilterSecondaryWindowMessage(*msg); }

private:
    UINT m_skin;
    BOOL m_layered;
};
