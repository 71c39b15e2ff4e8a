#pragma once
// CDC: a device context the framework hands to views (screen paint, printer, print preview).
// Does not own the HDC unless created through one of the owning helpers of its users.
#include <windows.h>

#include <functional>
#include <string>

class CDC {
 public:
  CDC() = default;
  explicit CDC(HDC dc) : m_hDC(dc), m_hAttribDC(dc) {}
  virtual ~CDC() = default;
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC m_hDC = nullptr;        // where output goes
  HDC m_hAttribDC = nullptr;  // where attributes (device caps) are read; the printer in a preview
  BOOL m_bPrinting = FALSE;   // printer or preview

  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }
  BOOL IsPrinting() const { return m_bPrinting; }

  // DrawTextA on this context. Every call is reported to the DrawText observer first.
  int DrawText(const char* text, int count, RECT* rect, UINT format);
  int DrawText(const std::string& text, RECT* rect, UINT format) {
    return DrawText(text.c_str(), static_cast<int>(text.size()), rect, format);
  }
  BOOL TextOut(int x, int y, const std::string& text) {
    return ::TextOutA(m_hDC, x, y, text.c_str(), static_cast<int>(text.size()));
  }
  int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hAttribDC ? m_hAttribDC : m_hDC, index); }
  int SetMapMode(int mode) { return ::SetMapMode(m_hDC, mode); }
  HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
};

namespace fw {
// Observes every CDC::DrawText call (the exact text with its count, rectangle and flags) before
// it reaches the device context. Empty (the default) observes nothing.
using DrawTextObserver =
    std::function<void(HDC dc, const char* text, int count, const RECT& rect, UINT format)>;
void SetDrawTextObserver(DrawTextObserver observer);
}  // namespace fw
