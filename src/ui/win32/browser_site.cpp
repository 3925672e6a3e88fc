#include "ui/win32/browser_site.h"

namespace {

// {8856F961-340A-11D0-A96B-00C04FD705A2}
const CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

template <typename T>
void ReleaseAndClear(T** p) {
    if (*p != nullptr) {
        (*p)->Release();
        *p = nullptr;
    }
}

}  // namespace

BrowserSite::BrowserSite(HWND host) : m_hwndHost(host), m_hwndParent(::GetParent(host)) {
    ::GetWindowRect(host, &m_rcPos);
    ::MapWindowPoints(nullptr, m_hwndParent, reinterpret_cast<POINT*>(&m_rcPos), 2);
}

BrowserSite::~BrowserSite() {
    ReleaseBrowser();
}

bool BrowserSite::Start() {
    const HRESULT init = ::OleInitialize(nullptr);
    m_bOleStarted = SUCCEEDED(init);
    HRESULT hr = ::CoCreateInstance(kClsidWebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                    reinterpret_cast<void**>(&m_pObject));
    if (FAILED(hr) || m_pObject == nullptr) {
        m_pObject = nullptr;
        return false;
    }
    hr = m_pObject->SetClientSite(static_cast<IOleClientSite*>(this));
    if (SUCCEEDED(hr)) {
        hr = m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0,
                               m_hwndParent, &m_rcPos);
    }
    if (SUCCEEDED(hr)) {
        hr = m_pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&m_pInPlace));
    }
    if (SUCCEEDED(hr)) {
        hr = m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pDispatch));
    }
    if (FAILED(hr)) {
        ReleaseBrowser();
        return false;
    }
    m_pInPlace->GetWindow(&m_hwndBrowser);
    // The browser's own window now fills the area; the placeholder steps back.
    ::ShowWindow(m_hwndHost, SW_HIDE);
    return true;
}

void BrowserSite::Stop() {
    ReleaseBrowser();
    if (m_bOleStarted) {
        ::OleUninitialize();
        m_bOleStarted = false;
    }
}

void BrowserSite::ReleaseBrowser() {
    if (m_pInPlace != nullptr) {
        m_pInPlace->InPlaceDeactivate();
    }
    if (m_pObject != nullptr) {
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
    }
    ReleaseAndClear(&m_pDispatch);
    ReleaseAndClear(&m_pInPlace);
    ReleaseAndClear(&m_pObject);
    m_hwndBrowser = nullptr;
}

void BrowserSite::SetPlacement(const RECT& rect) {
    m_rcPos = rect;
    ::MoveWindow(m_hwndHost, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    if (m_pInPlace != nullptr) {
        m_pInPlace->SetObjectRects(&m_rcPos, &m_rcPos);
    }
}

HRESULT BrowserSite::InvokeBrowser(DISPID id, WORD flags, DISPPARAMS* params) {
    if (m_pDispatch == nullptr) {
        return E_NOINTERFACE;
    }
    EXCEPINFO exception{};
    UINT badArgument = 0;
    const HRESULT hr =
        m_pDispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, nullptr, &exception, &badArgument);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return hr;
}

STDMETHODIMP BrowserSite::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
        *ppv = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
        *ppv = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
        *ppv = static_cast<IOleInPlaceFrame*>(this);
    } else if (riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) BrowserSite::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_nRef));
}

STDMETHODIMP_(ULONG) BrowserSite::Release() {
    const LONG left = ::InterlockedDecrement(&m_nRef);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

STDMETHODIMP BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    if (ppmk != nullptr) {
        *ppmk = nullptr;
    }
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetContainer(IOleContainer** ppContainer) {
    if (ppContainer != nullptr) {
        *ppContainer = nullptr;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP BrowserSite::GetWindow(HWND* phwnd) {
    if (phwnd == nullptr) {
        return E_POINTER;
    }
    *phwnd = m_hwndParent;
    return S_OK;
}

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                           LPRECT lprcPosRect, LPRECT lprcClipRect,
                                           LPOLEINPLACEFRAMEINFO lpFrameInfo) {
    if (ppFrame == nullptr || ppDoc == nullptr || lprcPosRect == nullptr || lprcClipRect == nullptr) {
        return E_POINTER;
    }
    *ppFrame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *ppDoc = nullptr;
    *lprcPosRect = m_rcPos;
    *lprcClipRect = m_rcPos;
    if (lpFrameInfo != nullptr) {
        lpFrameInfo->fMDIApp = FALSE;
        lpFrameInfo->hwndFrame = m_hwndParent;
        lpFrameInfo->haccel = nullptr;
        lpFrameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP BrowserSite::OnPosRectChange(LPCRECT lprcPosRect) {
    if (lprcPosRect == nullptr) {
        return E_POINTER;
    }
    SetPlacement(*lprcPosRect);
    return S_OK;
}

STDMETHODIMP BrowserSite::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    *pctinfo = 0;
    return S_OK;
}
