#include "Platform/X11Window.h"

#include <QByteArray>

#include <dlfcn.h>
#include <mutex>

namespace {

std::mutex GHookLock;
THideWindowHook GHook;

// The few Xlib types and calls used here, declared as Xlib does, so that no X11 headers are needed.
struct Display;
using Window = unsigned long;
using Atom = unsigned long;
using Status = int;
using Bool = int;
struct XErrorEvent;
using XErrorHandler = int (*)(Display*, XErrorEvent*);
struct XWindowAttributes {
    int x, y, width, height, border_width, depth;
    void* visual;
    Window root;
    int c_class, bit_gravity, win_gravity, backing_store;
    unsigned long backing_planes, backing_pixel;
    Bool save_under;
    unsigned long colormap;
    Bool map_installed;
    int map_state;
    long all_event_masks, your_event_mask, do_not_propagate_mask;
    Bool override_redirect;
    void* screen;
};
constexpr int IsViewable = 2;

struct TXlib {
    Display* (*OpenDisplay)(const char*) = nullptr;
    int (*CloseDisplay)(Display*) = nullptr;
    int (*DefaultScreen)(Display*) = nullptr;
    Window (*RootWindow)(Display*, int) = nullptr;
    Status (*QueryTree)(Display*, Window, Window*, Window*, Window**, unsigned int*) = nullptr;
    int (*Free)(void*) = nullptr;
    Atom (*InternAtom)(Display*, const char*, Bool) = nullptr;
    int (*GetWindowProperty)(Display*, Window, Atom, long, long, Bool, Atom, Atom*, int*, unsigned long*,
                             unsigned long*, unsigned char**) = nullptr;
    Status (*FetchName)(Display*, Window, char**) = nullptr;
    Status (*WithdrawWindow)(Display*, Window, int) = nullptr;
    int (*Sync)(Display*, Bool) = nullptr;
    XErrorHandler (*SetErrorHandler)(XErrorHandler) = nullptr;
    Status (*GetWindowAttributes)(Display*, Window, XWindowAttributes*) = nullptr;
    bool Loaded = false;
};

// Windows can vanish while we look at them; Xlib's default handler would end the whole process.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

template <typename F>
bool Resolve(void* lib, const char* name, F& fn) {
    fn = reinterpret_cast<F>(::dlsym(lib, name));
    return fn != nullptr;
}

const TXlib& Xlib() {
    static TXlib x;
    static std::once_flag once;
    std::call_once(once, [] {
        void* lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return;
        x.Loaded = Resolve(lib, "XOpenDisplay", x.OpenDisplay) && Resolve(lib, "XCloseDisplay", x.CloseDisplay) &&
                   Resolve(lib, "XDefaultScreen", x.DefaultScreen) && Resolve(lib, "XRootWindow", x.RootWindow) &&
                   Resolve(lib, "XQueryTree", x.QueryTree) && Resolve(lib, "XFree", x.Free) &&
                   Resolve(lib, "XInternAtom", x.InternAtom) &&
                   Resolve(lib, "XGetWindowProperty", x.GetWindowProperty) &&
                   Resolve(lib, "XFetchName", x.FetchName) && Resolve(lib, "XWithdrawWindow", x.WithdrawWindow) &&
                   Resolve(lib, "XSync", x.Sync) && Resolve(lib, "XSetErrorHandler", x.SetErrorHandler) &&
                   Resolve(lib, "XGetWindowAttributes", x.GetWindowAttributes);
        if (x.Loaded)
            x.SetErrorHandler(IgnoreXError);
        // The library stays loaded: other threads may be using it.
    });
    return x;
}

constexpr Atom AnyPropertyType = 0;
constexpr int Success = 0;
// Frames of a window manager sit between the root and the program's window.
constexpr int MaxDepth = 3;

class TWindowSearch {
public:
    TWindowSearch(const TXlib& x, Display* d, const QByteArray& title)
        : X(x), D(d), Title(title), NetWmName(x.InternAtom(d, "_NET_WM_NAME", 0)) {}

    Window Find(Window parent, int depth) {
        Window root = 0, up = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!X.QueryTree(D, parent, &root, &up, &children, &count))
            return 0;
        Window found = 0;
        // Top of the stacking order first: that is the window the user would see.
        for (unsigned int i = count; i-- > 0 && !found;)
            if (HasTitle(children[i]) && IsShown(children[i]))
                found = children[i];
        for (unsigned int i = count; depth < MaxDepth && i-- > 0 && !found;)
            found = Find(children[i], depth + 1);
        if (children)
            X.Free(children);
        return found;
    }

private:
    // A window that has its title but is not mapped yet would be mapped by its program right after a
    // withdraw; it counts as not there, so the caller looks again.
    bool IsShown(Window w) {
        XWindowAttributes attributes{};
        return X.GetWindowAttributes(D, w, &attributes) && attributes.map_state == IsViewable;
    }

    bool HasTitle(Window w) {
        if (NetWmName) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (X.GetWindowProperty(D, w, NetWmName, 0, 1024, 0, AnyPropertyType, &type, &format, &items, &after,
                                    &data) == Success &&
                data) {
                const bool same = format == 8 && QByteArray(reinterpret_cast<const char*>(data), qsizetype(items)) == Title;
                X.Free(data);
                if (type != 0)
                    return same;
            }
        }
        char* name = nullptr;
        if (!X.FetchName(D, w, &name) || !name)
            return false;
        const bool same = Title == name;
        X.Free(name);
        return same;
    }

    const TXlib& X;
    Display* D;
    QByteArray Title;
    Atom NetWmName;
};

} // namespace

THideWindowHook SetHideWindowHook(THideWindowHook Hook) {
    std::lock_guard<std::mutex> lock(GHookLock);
    std::swap(GHook, Hook);
    return Hook;
}

THideWindowResult PlatformHideWindowByTitle(const QString& Title) {
    THideWindowHook hook;
    {
        std::lock_guard<std::mutex> lock(GHookLock);
        hook = GHook;
    }
    if (hook)
        return hook(Title);
    const TXlib& x = Xlib();
    if (!x.Loaded || qEnvironmentVariableIsEmpty("DISPLAY"))
        return THideWindowResult::NoDisplay;
    Display* d = x.OpenDisplay(nullptr);
    if (!d)
        return THideWindowResult::NoDisplay;
    const int screen = x.DefaultScreen(d);
    TWindowSearch search(x, d, Title.toUtf8());
    const Window w = search.Find(x.RootWindow(d, screen), 0);
    if (w) {
        x.WithdrawWindow(d, w, screen);
        x.Sync(d, 0);
    }
    x.CloseDisplay(d);
    return w ? THideWindowResult::Hidden : THideWindowResult::NotFound;
}
