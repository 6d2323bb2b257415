// gdi.h: thin owners of GDI objects and device contexts, on the window's thread.
//
// CPen and CBrush own their object and delete it when they go. CDC borrows a device
// context; CPaintDC owns one paint: BeginPaint when made, EndPaint when it goes. Text is
// code page 932 and is drawn through DrawTextW.
#pragma once

#include <windows.h>

#include "platform/afx/cstring.h"

namespace tovmir {

class CWnd;

class CGdiObject {
 public:
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  ~CGdiObject() {
    if (m_hObject) DeleteObject(m_hObject);
  }
  HGDIOBJ GetSafeHandle() const { return m_hObject; }

 protected:
  explicit CGdiObject(HGDIOBJ h) : m_hObject(h) {}
  HGDIOBJ m_hObject;
};

class CPen : public CGdiObject {
 public:
  CPen(int style, int width, COLORREF colour) : CGdiObject(CreatePen(style, width, colour)) {}
};

class CBrush : public CGdiObject {
 public:
  explicit CBrush(COLORREF colour) : CGdiObject(CreateSolidBrush(colour)) {}
};

class CDC {
 public:
  explicit CDC(HDC dc) : m_hDC(dc) {}
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC GetSafeHdc() const { return m_hDC; }
  // Returns the object it replaces, to be put back before the paint ends.
  HGDIOBJ SelectObject(const CGdiObject& o) { return ::SelectObject(m_hDC, o.GetSafeHandle()); }
  HGDIOBJ SelectObject(HGDIOBJ h) { return ::SelectObject(m_hDC, h); }
  COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
  COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
  int DrawText(const CString& text, RECT* r, UINT format) {
    const std::wstring w = text.Wide();
    return ::DrawTextW(m_hDC, w.c_str(), static_cast<int>(w.size()), r, format);
  }
  BOOL Polygon(const POINT* points, int count) { return ::Polygon(m_hDC, points, count); }
  BOOL Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }

 protected:
  HDC m_hDC;
};

class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC();
  PAINTSTRUCT m_ps{};

 private:
  HWND m_hWnd;
};

}  // namespace tovmir
