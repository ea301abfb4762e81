// The browser panel: the system web-browser control (IWebBrowser2) in a minimal OLE container of
// our own. The container gives the control its place (client site, in-place site and frame) and
// listens to its events for the about-to-open-a-new-window event.
#include "platform/windows/main_window_win32.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

namespace {

// Released on every path; the control's objects are reference counted.
template <typename Interface>
struct ComPointer {
  Interface* pointer = nullptr;
  ComPointer() = default;
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  ~ComPointer() { Reset(); }
  void Reset() {
    if (pointer != nullptr) pointer->Release();
    pointer = nullptr;
  }
  Interface* operator->() const { return pointer; }
  explicit operator bool() const { return pointer != nullptr; }
  void** Out() {
    Reset();
    return reinterpret_cast<void**>(&pointer);
  }
};

HWND host = nullptr;
ComPointer<IOleObject> browserObject;
ComPointer<IWebBrowser2> browser;
ComPointer<IOleInPlaceActiveObject> activeObject;
ComPointer<IConnectionPoint> eventSource;
DWORD eventCookie = 0;

RECT HostRect() {
  RECT rect{};
  GetClientRect(host, &rect);
  return rect;
}

// The frame: MainWindow as seen by the control. The container is static and lives as long as the
// process, so its reference counts are fixed.
struct Frame final : IOleInPlaceFrame {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IOleInPlaceUIWindow ||
        iid == IID_IOleInPlaceFrame) {
      *object = static_cast<IOleInPlaceFrame*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = MainWindowHandle();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
    return INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
};

Frame frame;

// The site: the control's place in the host window, and the sink of its events.
struct Site final : IOleClientSite, IOleInPlaceSite, DWebBrowserEvents2 {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
      *object = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
      *object = static_cast<IOleInPlaceSite*>(this);
    } else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
      *object = static_cast<DWebBrowserEvents2*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = host;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frameOut,
                                             IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frameOut = &frame;
    *document = nullptr;
    *position = HostRect();
    *clip = HostRect();
    info->fMDIApp = FALSE;
    info->hwndFrame = MainWindowHandle();
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // DWebBrowserEvents2, an IDispatch called by DISPID
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID event, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    switch (event) {
      // Raised for every new window on every version of the control (NewWindow3 follows it on
      // newer ones and would repeat it). Cancel stays false: the window is allowed and the
      // control opens it by its own means.
      case DISPID_NEWWINDOW2:
        if (Handlers().panelNewWindow) Handlers().panelNewWindow();
        break;
      case DISPID_DOCUMENTCOMPLETE: {
        // The middle of the five text sizes.
        VARIANT zoom;
        VariantInit(&zoom);
        zoom.vt = VT_I4;
        zoom.lVal = 2;
        browser->ExecWB(OLECMDID_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr);
        break;
      }
    }
    return S_OK;
  }
};

Site site;

}  // namespace

bool CreateBrowserPanel(HWND hostWindow, const wchar_t* address) {
  host = hostWindow;
  if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              browserObject.Out())) ||
      FAILED(browserObject->SetClientSite(static_cast<IOleClientSite*>(&site)))) {
    return false;
  }
  OleSetContainedObject(browserObject.pointer, TRUE);
  RECT rect = HostRect();
  if (FAILED(browserObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                                   static_cast<IOleClientSite*>(&site), 0, host, &rect)) ||
      FAILED(browserObject->QueryInterface(IID_IWebBrowser2, browser.Out()))) {
    return false;
  }
  browserObject->QueryInterface(IID_IOleInPlaceActiveObject, activeObject.Out());

  ComPointer<IConnectionPointContainer> events;
  if (SUCCEEDED(browser->QueryInterface(IID_IConnectionPointContainer, events.Out())) &&
      SUCCEEDED(events->FindConnectionPoint(
          DIID_DWebBrowserEvents2, reinterpret_cast<IConnectionPoint**>(eventSource.Out())))) {
    eventSource->Advise(static_cast<DWebBrowserEvents2*>(&site), &eventCookie);
  }

  // Online and not silent: the page loads from the network and may show the control's own dialogs.
  browser->put_Offline(VARIANT_FALSE);
  browser->put_Silent(VARIANT_FALSE);
  FitBrowserPanel();

  VARIANT none;
  VariantInit(&none);
  const BSTR url = SysAllocString(address);
  const HRESULT navigated = browser->Navigate(url, &none, &none, &none, &none);
  SysFreeString(url);
  return SUCCEEDED(navigated);
}

#ifdef PELVARO_E2E_HOOKS
// The end-to-end test's stand-in for a page that opens a new window, which Wine cannot show: the
// event as the control raises it, NewWindow2 with its two by-reference arguments, to every sink
// connected at the panel's connection point (to the sink advised there when the control cannot
// list its connections).
void FireBrowserPanelNewWindow() {
  if (!eventSource) return;
  const auto raise = [](IUnknown* sinkObject) {
    ComPointer<IDispatch> sink;
    if (FAILED(sinkObject->QueryInterface(IID_IDispatch, sink.Out()))) return;
    IDispatch* newWindow = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANTARG arguments[2];  // last argument first
    arguments[0].vt = VT_BYREF | VT_BOOL;
    arguments[0].pboolVal = &cancel;
    arguments[1].vt = VT_BYREF | VT_DISPATCH;
    arguments[1].ppdispVal = &newWindow;
    DISPPARAMS parameters{arguments, nullptr, 2, 0};
    sink->Invoke(DISPID_NEWWINDOW2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                 nullptr, nullptr, nullptr);
  };
  ComPointer<IEnumConnections> connections;
  if (FAILED(
          eventSource->EnumConnections(reinterpret_cast<IEnumConnections**>(connections.Out())))) {
    raise(static_cast<DWebBrowserEvents2*>(&site));
    return;
  }
  CONNECTDATA connection;
  while (connections->Next(1, &connection, nullptr) == S_OK) {
    raise(connection.pUnk);
    connection.pUnk->Release();
  }
}
#endif

void FitBrowserPanel() {
  if (!browserObject) return;
  ComPointer<IOleInPlaceObject> inPlace;
  if (FAILED(browserObject->QueryInterface(IID_IOleInPlaceObject, inPlace.Out()))) return;
  const RECT rect = HostRect();
  inPlace->SetObjectRects(&rect, &rect);
}

void FocusBrowserPanel() {
  // Once at a time: a control that hands the focus back to the host while it activates must not
  // start another activation.
  static bool activating = false;
  if (!browserObject || activating) return;
  activating = true;
  // UI activation gives the control's document the focus, as a click into the page does.
  RECT rect = HostRect();
  browserObject->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(&site), 0, host,
                        &rect);
  activating = false;
}

bool BrowserPanelTranslateKey(MSG& message) {
  if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  if (host == nullptr || (message.hwnd != host && !IsChild(host, message.hwnd))) return false;
  if (activeObject && activeObject->TranslateAccelerator(&message) == S_OK) return true;
  // A Tab the page does not take (past its last link, or no page at all) leaves the panel for
  // the next control, or the previous one with Shift. Its character is not typed anywhere.
  if (message.wParam != VK_TAB) return false;
  if (message.message == WM_KEYDOWN) {
    SendMessageW(MainWindowHandle(), WM_NEXTDLGCTL, (GetKeyState(VK_SHIFT) & 0x8000) != 0, 0);
  }
  return message.message == WM_KEYDOWN || message.message == WM_CHAR || message.message == WM_KEYUP;
}

void DestroyBrowserPanel() {
  if (eventSource) eventSource->Unadvise(eventCookie);
  eventSource.Reset();
  activeObject.Reset();
  browser.Reset();
  if (browserObject) {
    browserObject->Close(OLECLOSE_NOSAVE);
    browserObject->SetClientSite(nullptr);
  }
  browserObject.Reset();
  host = nullptr;
}
