#include "platform/afx/window.h"

#include "platform/afx/app.h"
#include "platform/afx/gdi.h"

namespace tovmir {
namespace {

const wchar_t kWndProp[] = L"tovmir.CWnd";

// The dialog DoModal is making: attached when its window is created, so that its message
// map sees the messages of creation (the first WM_SIZE among them).
CWnd* g_creating = nullptr;

}  // namespace

LRESULT CALLBACK CWnd::CreationHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && g_creating) {
    CWnd* wnd = g_creating;
    g_creating = nullptr;  // the dialog's controls are not ours
    wnd->Attach(reinterpret_cast<HWND>(wParam));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- message maps

const MessageMap* CCmdTarget::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {{0, 0, nullptr}};
  static const MessageMap map = {nullptr, entries};
  return &map;
}

const MessageMapEntry* CCmdTarget::FindEntry(UINT message, UINT id) const {
  for (const MessageMap* m = GetMessageMap(); m; m = m->base)
    for (const MessageMapEntry* e = m->entries; e->message; ++e)
      if (e->message == message && (message != WM_COMMAND || e->id == id)) return e;
  return nullptr;
}

bool CCmdTarget::OnCmdMsg(UINT id) {
  const MessageMapEntry* e = FindEntry(WM_COMMAND, id);
  if (!e) return false;
  e->thunk(this, 0, 0);
  return true;
}

// ---- CMenu

CMenu* CMenu::FromHandle(HMENU h) {
  if (!h) return nullptr;
  static CMenu temporary;  // window's thread only, like every menu call
  temporary.m_hMenu = h;
  return &temporary;
}

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text) {
  if (!text || (flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)))
    return AppendMenuW(m_hMenu, flags, id, nullptr);
  const std::wstring w = WideFrom(text);
  return AppendMenuW(m_hMenu, flags, id, w.c_str());
}

// ---- CWnd

const MessageMap* CWnd::GetThisMessageMap() { return CCmdTarget::GetThisMessageMap(); }

CWnd::~CWnd() { Detach(); }

CWnd* CWnd::FromHandlePermanent(HWND h) {
  return h ? static_cast<CWnd*>(GetPropW(h, kWndProp)) : nullptr;
}

void CWnd::Attach(HWND h) {
  m_hWnd = h;
  SetPropW(h, kWndProp, this);
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
}

void CWnd::Detach() {
  if (!m_hWnd) return;
  if (IsWindow(m_hWnd)) {
    SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    RemovePropW(m_hWnd, kWndProp);
  }
  m_hWnd = nullptr;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  CWnd* wnd = FromHandlePermanent(h);
  if (!wnd) return DefWindowProcW(h, m, w, l);
  const MSG current = {h, m, w, l, 0, {0, 0}};
  const MSG* outer = wnd->m_pCurrent;  // messages nest: a handler may send another one
  wnd->m_pCurrent = &current;
  const WNDPROC super = wnd->m_pfnSuper;
  LRESULT r = wnd->WindowProc(m, w, l);
  wnd->m_pCurrent = outer;
  if (m == WM_NCDESTROY) {
    // The window is gone; the object may live on (a modal dialog's caller still holds it).
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
    RemovePropW(h, kWndProp);
    wnd->m_hWnd = nullptr;
  }
  return r;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
  if (const MessageMapEntry* e = FindEntry(message, id)) return e->thunk(this, wParam, lParam);
  // Commands a window does not handle go on to the application, as in MFC.
  if (message == WM_COMMAND && HIWORD(wParam) <= 1 && AfxGetApp() && AfxGetApp()->OnCmdMsg(id))
    return 0;
  return Default();
}

LRESULT CWnd::Default() {
  const MSG* m = m_pCurrent;
  if (!m || !m_pfnSuper) return 0;
  return CallWindowProcW(m_pfnSuper, m->hwnd, m->message, m->wParam, m->lParam);
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
  const std::wstring t = WideFrom(text), c = WideFrom(caption ? caption : "");
  return MessageBoxW(m_hWnd, t.c_str(), caption ? c.c_str() : nullptr, type);
}

// ---- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_COMMAND(IDOK, &CDialog::OnOK)
  ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CALLBACK CDialog::DialogProc(HWND h, UINT m, WPARAM, LPARAM l) {
  if (m != WM_INITDIALOG) return FALSE;  // the subclass has seen every message already
  auto* dlg = reinterpret_cast<CDialog*>(l);
  if (!dlg->m_hWnd) dlg->Attach(h);
  const MSG current = {h, m, 0, l, 0, {0, 0}};
  dlg->m_pCurrent = &current;
  const BOOL r = dlg->OnInitDialog();
  dlg->m_pCurrent = nullptr;
  return r;
}

BOOL CDialog::OnInitDialog() {
  CDataExchange dx;
  DoDataExchange(&dx);
  return TRUE;
}

INT_PTR CDialog::DoModal() {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(m_nIDTemplate), MAKEINTRESOURCEW(5));
  HGLOBAL data = res ? LoadResource(module, res) : nullptr;
  const auto* tmpl = static_cast<const DLGTEMPLATE*>(data ? LockResource(data) : nullptr);
  if (!tmpl) return -1;

  // Without a parent of its own a modal box belongs to the main window, as in MFC.
  HWND parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
  if (!parent && AfxGetMainWnd() && AfxGetMainWnd() != this)
    parent = AfxGetMainWnd()->GetSafeHwnd();
  const bool disabled_parent = parent && IsWindowEnabled(parent);
  if (disabled_parent) EnableWindow(parent, FALSE);

  m_bEnded = false;
  m_nModalResult = -1;
  g_creating = this;
  HHOOK hook = SetWindowsHookExW(WH_CBT, &CWnd::CreationHook, nullptr, GetCurrentThreadId());
  HWND h = CreateDialogIndirectParamW(module, tmpl, parent, &CDialog::DialogProc,
                                      reinterpret_cast<LPARAM>(this));
  if (hook) UnhookWindowsHookEx(hook);
  g_creating = nullptr;
  if (h) {
    if (!IsWindowVisible(h)) ShowWindow(h, SW_SHOWNORMAL);
    MSG msg;
    while (!m_bEnded && IsWindow(h)) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // let the outer loop see it too
        break;
      }
      if (got < 0) break;
      if (!IsDialogMessageW(h, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    // Give activation back before the window goes, so that the parent comes to the front.
    if (IsWindow(h))
      SetWindowPos(h, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  }
  if (disabled_parent) {
    EnableWindow(parent, TRUE);
    SetActiveWindow(parent);
  }
  if (m_hWnd) DestroyWindow();
  return m_nModalResult;
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_bEnded = true;
  PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the modal loop
}

}  // namespace tovmir
