// The owner-drawn image button of the skinned windows: four full-colour
// images (normal, mouse over, pressed, disabled) from icon resources, the
// piece of the skin under it as background, a hand cursor while the mouse is
// over it, and an optional link that a click opens in the user's browser.
// Every click still reaches the parent as an ordinary button click.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "platform/win32/win_handles.h"
#include "ui/button_layout.h"
#include "ui/win32/subclassed_control.h"

constexpr size_t kMaxLinkBytes = 260;

class CXButton : public CSubclassedControl {
public:
    CXButton();
    ~CXButton() override;

    // Loads the images for normal, hover, pressed and disabled (0 for none;
    // kHoverDarkened or kHoverGrey as hover derive it from the normal image).
    // 0 on success, 1 when the normal or hover image is unusable (then the
    // button has no images at all).
    int SetStateIcons(int normal, int hover, int pressed, int disabled);
    void SetHoverCursor(int resource);
    // Sizes the window to the normal image without moving it.
    void FitToImage();
    void SetBorder(bool border) { m_bBorder = border; }
    void SetTransparent(bool transparent);
    void SetTrackAlways(bool always) { m_bTrackAlways = always; }
    // Keeps at most kMaxLinkBytes - 1 bytes, never cutting a UTF-8 character.
    void SetLink(const std::string& link);
    void SetAlign(uint8_t align) { m_nAlign = align; }

    // What the button shows, for tests and callers that need to know.
    [[nodiscard]] bool IsHovered() const { return m_bHover; }
    [[nodiscard]] bool IsCheckBox() const { return m_bCheckBox; }
    [[nodiscard]] bool IsDefault() const { return m_bDefault; }
    [[nodiscard]] const std::string& GetLink() const { return m_szLink; }
    // The image slot drawn by the last paint, -1 before any or when none.
    [[nodiscard]] int GetLastDrawnImage() const { return m_nLastDrawnImage; }
    [[nodiscard]] SIZE GetImageSize(int slot) const;
    [[nodiscard]] HICON GetImage(int slot) const;

protected:
    void OnAttached() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    virtual void DrawBackground(HDC dc, RECT* area);
    virtual void DrawFrame(HDC dc, const RECT& area);
    virtual void DrawIconImage(HDC dc, const RECT& client, bool hasCaption, RECT* captionOut);
    virtual void DrawCaption(HDC dc, const RECT& area, const std::wstring& caption);

private:
    struct Slot {
        HICON icon = nullptr;
        int width = 0;
        int height = 0;
    };

    void DrawItem(const DRAWITEMSTRUCT& item);
    void OnMouseMove(WPARAM keys, LPARAM point);
    void CancelHover();
    void OnEnable(bool enabled);
    void OnClicked();
    void ResetColours();
    void DropImages();
    void DropBackground();
    void PaintSavedBackground(HDC dc, const RECT& client);
    void CaptureBackground(int width, int height);
    [[nodiscard]] HICON LoadStateIcon(int resource) const;
    [[nodiscard]] UniqueIcon DeriveIcon(HICON from, bool grey) const;

    bool m_bFlat = true;
    bool m_bHover = false;
    bool m_bTransparent = false;
    bool m_bPressed = false;
    bool m_bFocused = false;
    bool m_bDisabled = false;
    bool m_bSelected = false;
    bool m_bDefault = false;
    bool m_bCheckBox = false;
    uint8_t m_nAlign = kAlignLeft;
    bool m_bBorder = true;
    bool m_bFlatFocus = false;
    bool m_bTrackAlways = true;
    COLORREF m_crBackHover = 0, m_crTextHover = 0;
    COLORREF m_crBackNormal = 0, m_crTextNormal = 0;
    COLORREF m_crBackFocus = 0, m_crTextFocus = 0;
    UniqueCursor m_hHoverCursor;
    int m_nCheckState = 0;
    std::string m_szLink;
    std::array<Slot, kButtonImageCount> m_aImages{};
    std::vector<UniqueIcon> m_ownedIcons;  // each distinct image once
    // The piece of the parent under the button, captured at the first paint.
    MemoryDc m_dcBack;
    UniqueBitmap m_bmpBack;
    HGDIOBJ m_hOldBack = nullptr;
    int m_nMarginX = 3;
    int m_nMarginY = 3;
    int m_nPressedOffsetX = 1;
    int m_nPressedOffsetY = 1;
    int m_nLastDrawnImage = -1;
};

// The set-up every button of the skinned windows gets: its four images, the
// hand cursor, sized to its image, no border, the skin as background, hover
// tracked always.
void SetUpSkinButton(CXButton& button, const int (&icons)[4], int cursor);
