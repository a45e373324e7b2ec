// Owners of GDI handles (bitmaps, brushes, fonts, pens, regions, device contexts, selections): each
// is released in the scope that made it. All are uses of the one scoped owner (ScopedOwner.h).
#pragma once

#include "platform/win32/ScopedOwner.h"

#include <windows.h>

#include <cstdint>

namespace gdi {

using platform::win32::ScopedOwner;

// A bitmap, brush, font, pen or region: deleted with DeleteObject.
template <typename H> struct ObjectTraits {
    static H InvalidValue() { return nullptr; }
    static bool Free(H object) { return DeleteObject(object) != FALSE; }
};
template <typename H> using Owned = ScopedOwner<H, ObjectTraits<H>>;
using Bitmap = Owned<HBITMAP>;
using Brush = Owned<HBRUSH>;
using Font = Owned<HFONT>;
using Pen = Owned<HPEN>;
using Region = Owned<HRGN>;

// A device context the program created (CreateCompatibleDC).
struct CreatedDcTraits {
    static HDC InvalidValue() { return nullptr; }
    static bool Free(HDC dc) { return DeleteDC(dc) != FALSE; }
};
using CreatedDC = ScopedOwner<HDC, CreatedDcTraits>;

// A device context borrowed from a window (GetDC): given back to that window.
struct WindowDcTraits {
    HWND Window = nullptr;
    static HDC InvalidValue() { return nullptr; }
    bool Free(HDC dc) const { return ReleaseDC(Window, dc) != 0; }
};
using WindowDC = ScopedOwner<HDC, WindowDcTraits>;
// The device context of a window's client area (null: the screen's).
inline WindowDC ClientDC(HWND window) { return WindowDC(GetDC(window), WindowDcTraits{window}); }

// What a device context had selected before: put back at the end of the scope.
struct SelectionTraits {
    HDC Dc = nullptr;
    static HGDIOBJ InvalidValue() { return nullptr; }
    bool Free(HGDIOBJ previous) const { return SelectObject(Dc, previous) != nullptr; }
};

// Selects an object into a device context and puts the previous one back at the end of the scope.
// Selections are undone in reverse order, so one is never assigned over another.
class Selected : public ScopedOwner<HGDIOBJ, SelectionTraits> {
public:
    Selected() = default;
    Selected(HDC dc, HGDIOBJ object) : ScopedOwner(SelectObject(dc, object), SelectionTraits{dc}) {}
    Selected(Selected&&) = default;
    Selected& operator=(Selected&&) = delete;
};

// A memory device context compatible with another, with one bitmap selected into it for its lifetime.
class MemoryDC {
public:
    explicit MemoryDC(HDC like, HBITMAP selected = nullptr)
        : dc_(CreateCompatibleDC(like)), selection_(selected ? Selected(dc_.Get(), selected) : Selected()) {}
    HDC Get() const { return dc_.Get(); }

private:
    CreatedDC dc_;
    Selected selection_; // undone before the context is deleted
};

// A 32-bit top-down bitmap of the given size whose pixels the program can read (0x00RRGGBB).
Bitmap CreateDib(int width, int height, uint32_t** pixels);

} // namespace gdi
