// The paint's device context: borrowed from the window for one WM_PAINT.
#include "platform/afx/gdi.h"

#include "platform/afx/window.h"

namespace tovmir {

CPaintDC::CPaintDC(CWnd* wnd) : CDC(nullptr), m_hWnd(wnd->GetSafeHwnd()) {
  m_hDC = BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { EndPaint(m_hWnd, &m_ps); }

}  // namespace tovmir
