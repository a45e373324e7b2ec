// Owners of GDI handles (bitmaps, brushes, fonts, pens, regions, memory device contexts): each is
// released in the scope that made it.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace gdi {

struct ObjectDeleter {
    void operator()(void* object) const { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
template <typename H> using Owned = std::unique_ptr<std::remove_pointer_t<H>, ObjectDeleter>;
using Bitmap = Owned<HBITMAP>;
using Brush = Owned<HBRUSH>;
using Font = Owned<HFONT>;
using Pen = Owned<HPEN>;
using Region = Owned<HRGN>;

// A memory device context compatible with another, with one bitmap selected into it for its lifetime.
class MemoryDC {
public:
    explicit MemoryDC(HDC like, HBITMAP selected = nullptr) : dc_(CreateCompatibleDC(like)) {
        if (selected) old_ = SelectObject(dc_, selected);
    }
    ~MemoryDC() {
        if (old_) SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC Get() const { return dc_; }

private:
    HDC dc_;
    HGDIOBJ old_ = nullptr;
};

// Selects an object into a device context and puts the previous one back at the end of the scope.
class Selected {
public:
    Selected(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~Selected() { SelectObject(dc_, old_); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A 32-bit top-down bitmap of the given size whose pixels the program can read (0x00RRGGBB).
Bitmap CreateDib(int width, int height, uint32_t** pixels);

} // namespace gdi

// UTF-16 for the wide APIs. Texts are UTF-8 (the launcher's own) or ANSI bytes (names from files):
// every valid UTF-8 sequence is decoded, every other byte is taken in the ANSI code page.
std::wstring ToWide(const std::string& text);
