#pragma once
// Ownership of GDI objects: a pen, brush or font is deleted when its owner goes, and an object
// selected into a device context is put back out before that.
#include <windows.h>

#include <memory>
#include <type_traits>

template <typename Handle>
struct GdiObjectDeleter {
    void operator()(Handle handle) const { DeleteObject(handle); }
};

template <typename Handle>
using unique_gdi = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter<Handle>>;

// Keeps |object| selected into |dc| for the lifetime of this value, then restores the previous
// object. Declare it after the owner of the object so that it is restored before being deleted.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;
    ~ScopedSelection() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) SelectObject(m_dc, m_previous);
    }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};
