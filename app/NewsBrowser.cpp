#include "app/NewsBrowser.h"

#include "platform/win32/LateBound.h"
#include "platform/win32/ScopedOwner.h"
#include "widgets/GuiErrors.h"
#include "widgets/WideText.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

namespace {

// Both objects live exactly as long as their browser host: the counts only answer the control.
class TBrowserSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public IDispatch {
public:
    HWND Window = nullptr;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
            *object = static_cast<IOleInPlaceSite*>(this);
        } else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow) {
            *object = static_cast<IOleInPlaceFrame*>(this);
        } else if (riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override { return --count_; }

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

    // IOleWindow (shared by the in-place site and the frame)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = Window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        GetClientRect(Window, position);
        GetClientRect(Window, clip);
        info->fMDIApp = FALSE;
        info->hwndFrame = GetAncestor(Window, GA_ROOT);
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

    // IOleInPlaceUIWindow / IOleInPlaceFrame: the host has no menus or toolbars to share.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the control asks its site for ambient properties; every one keeps its default.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    ULONG count_ = 1;
};

class TBrowserEvents : public IDispatch {
public:
    std::function<void()>* OnNavigateComplete2 = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override { return --count_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == DISPID_NAVIGATECOMPLETE2 && OnNavigateComplete2 && *OnNavigateComplete2) (*OnNavigateComplete2)();
        return S_OK;
    }

private:
    ULONG count_ = 1;
};

} // namespace

namespace {
using platform::win32::ComPtr;
using platform::win32::ScopedOwner;

// The control in place in its host: closed and let go of its site before it is released.
struct ActiveObjectTraits {
    static std::nullptr_t InvalidValue() { return nullptr; }
    static bool Free(IOleObject* object) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object->Release();
        return true;
    }
};

// The event sink's connection: undone with the connection point it was made at.
struct AdviseTraits {
    IConnectionPoint* Point = nullptr;
    static DWORD InvalidValue() { return 0; }
    bool Free(DWORD cookie) const { return SUCCEEDED(Point->Unadvise(cookie)); }
};

// A string for automation calls.
struct BstrTraits {
    static BSTR InvalidValue() { return nullptr; }
    static bool Free(BSTR text) {
        LATE_BOUND(L"oleaut32.dll", SysFreeString)(text);
        return true;
    }
};
} // namespace

// The control's interfaces, released in the reverse order of declaration: the event connection
// first, the control itself last.
struct TBrowserControl {
    ScopedOwner<IOleObject*, ActiveObjectTraits> object;
    ComPtr<IWebBrowser2> browser;
    ComPtr<IConnectionPoint> connection;
    ScopedOwner<DWORD, AdviseTraits> advice;
};

struct TNewsBrowser::Impl {
    TBrowserSite site;
    TBrowserEvents events;
    TBrowserControl control; // released before the site and the sink it calls
};

TNewsBrowser::TNewsBrowser() : impl_(std::make_unique<Impl>()) {
    impl_->events.OnNavigateComplete2 = &OnNavigateComplete2;
}

TNewsBrowser::~TNewsBrowser() = default;

IDispatch* TNewsBrowser::EventSink() const { return &impl_->events; }

// Any step the control refuses means the launcher has no news page: what was made is released.
bool TNewsBrowser::Create(HWND parent, int width, int height) {
    Impl& d = *impl_;
    d.site.Window = parent;
    TBrowserControl made;
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IOleObject, reinterpret_cast<void**>(made.object.Put()))))
        return false;
    RECT place{0, 0, width, height};
    if (FAILED(made.object->SetClientSite(&d.site)) ||
        FAILED(made.object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &d.site, 0, parent, &place)) ||
        FAILED(made.object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(made.browser.Put()))))
        return false;
    if (FAILED(made.browser->put_Left(0)) || FAILED(made.browser->put_Top(0)) ||
        FAILED(made.browser->put_Width(width)) || FAILED(made.browser->put_Height(height)) ||
        FAILED(made.browser->put_Silent(VARIANT_TRUE))) // no script-error dialogs over the launcher
        return false;

    ComPtr<IConnectionPointContainer> container;
    if (FAILED(made.browser->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(container.Put()))) ||
        FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, made.connection.Put())))
        return false;
    DWORD cookie = 0;
    if (FAILED(made.connection->Advise(&d.events, &cookie))) return false;
    made.advice = ScopedOwner<DWORD, AdviseTraits>(cookie, AdviseTraits{made.connection.Get()});
    d.control = std::move(made);
    return true;
}

void TNewsBrowser::Navigate(const std::string& url) {
    if (!impl_->control.browser) return;
    ScopedOwner<BSTR, BstrTraits> text(LATE_BOUND(L"oleaut32.dll", SysAllocString)(AnsiToWide(url).c_str()));
    VARIANT address;
    LATE_BOUND(L"oleaut32.dll", VariantInit)(&address);
    address.vt = VT_BSTR;
    address.bstrVal = text.Get();
    VARIANT empty;
    LATE_BOUND(L"oleaut32.dll", VariantInit)(&empty);
    OleCheck(impl_->control.browser->Navigate2(&address, &empty, &empty, &empty, &empty));
}
