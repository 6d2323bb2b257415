// window.h: windows in the manner of MFC, thin over Win32, for the window's thread.
//
// - Message maps: each class lists the messages it handles (ON_WM_PAINT() ...); the entry
//   decodes wParam/lParam once and calls a typed On handler. Unlisted messages, and
//   handlers that call Default(), get the window's usual processing.
// - CWnd borrows an HWND, subclassing it while attached; CDialog runs a dialog template
//   modally (DoModal ends by calling the window's own virtual DestroyWindow, as MFC does);
//   CMenu wraps a menu handle it does not own.
// - Texts are code page 932 and reach Windows through the W functions.
#pragma once

#include <windows.h>

#include "platform/afx/cstring.h"

namespace tovmir {

class CCmdTarget;

using MessageThunk = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry {
  UINT message;  // 0 ends the table
  UINT id;       // the command id, for WM_COMMAND entries
  MessageThunk thunk;
};

struct MessageMap {
  const MessageMap* base;
  const MessageMapEntry* entries;
};

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;
  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

  // Looks the message up in this object's maps, most derived first.
  const MessageMapEntry* FindEntry(UINT message, UINT id) const;
  // Runs the handler of command id, if any; true when there was one.
  bool OnCmdMsg(UINT id);
};

// Decoders from a message's parameters to a handler's, one per handler shape.
namespace msg {

template <class M>
struct ClassOf;
template <class C, class R, class... A>
struct ClassOf<R (C::*)(A...)> {
  using type = C;
};

template <auto F>
typename ClassOf<decltype(F)>::type* Self(CCmdTarget* t) {
  return static_cast<typename ClassOf<decltype(F)>::type*>(t);
}

template <auto F>
LRESULT Void(CCmdTarget* t, WPARAM, LPARAM) {
  (Self<F>(t)->*F)();
  return 0;
}
template <auto F>
LRESULT SysCommand(CCmdTarget* t, WPARAM w, LPARAM l) {
  (Self<F>(t)->*F)(static_cast<UINT>(w), l);
  return 0;
}
template <auto F>
LRESULT Size(CCmdTarget* t, WPARAM w, LPARAM l) {
  (Self<F>(t)->*F)(static_cast<UINT>(w), static_cast<short>(LOWORD(l)),
                   static_cast<short>(HIWORD(l)));
  return 0;
}
template <auto F>
LRESULT Timer(CCmdTarget* t, WPARAM w, LPARAM) {
  (Self<F>(t)->*F)(static_cast<UINT_PTR>(w));
  return 0;
}
template <auto F>
LRESULT Handle(CCmdTarget* t, WPARAM, LPARAM) {
  return reinterpret_cast<LRESULT>((Self<F>(t)->*F)());
}

}  // namespace msg

// The message-map macros open a table in one macro and close it in another, which a
// formatter cannot follow: they are laid out by hand.
// clang-format off
#define DECLARE_MESSAGE_MAP()                                                     \
 public:                                                                          \
  static const ::tovmir::MessageMap* GetThisMessageMap();                         \
  const ::tovmir::MessageMap* GetMessageMap() const override {                    \
    return GetThisMessageMap();                                                   \
  }

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                    \
  const ::tovmir::MessageMap* theClass::GetThisMessageMap() {                     \
    using ThisClass [[maybe_unused]] = theClass;                                  \
    using TheBaseClass = baseClass;                                               \
    static const ::tovmir::MessageMapEntry entries[] = {
#define END_MESSAGE_MAP()                                                         \
      {0, 0, nullptr}};                                                           \
    static const ::tovmir::MessageMap map = {TheBaseClass::GetThisMessageMap(),   \
                                             entries};                            \
    return &map;                                                                  \
  }

#define ON_COMMAND(id, memberFxn) {WM_COMMAND, (id), &::tovmir::msg::Void<memberFxn>},
#define ON_WM_PAINT() {WM_PAINT, 0, &::tovmir::msg::Void<&ThisClass::OnPaint>},
#define ON_WM_SYSCOMMAND()                                                        \
  {WM_SYSCOMMAND, 0, &::tovmir::msg::SysCommand<&ThisClass::OnSysCommand>},
#define ON_WM_QUERYDRAGICON()                                                     \
  {WM_QUERYDRAGICON, 0, &::tovmir::msg::Handle<&ThisClass::OnQueryDragIcon>},
#define ON_WM_SIZE() {WM_SIZE, 0, &::tovmir::msg::Size<&ThisClass::OnSize>},
#define ON_WM_TIMER() {WM_TIMER, 0, &::tovmir::msg::Timer<&ThisClass::OnTimer>},
// clang-format on

// A menu handle, borrowed.
class CMenu {
 public:
  // A wrapper for h valid until the next FromHandle call on this thread, or NULL for NULL.
  static CMenu* FromHandle(HMENU h);
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);
  HMENU m_hMenu = nullptr;
};

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  ~CWnd() override;

  HWND GetSafeHwnd() const { return m_hWnd; }
  static CWnd* FromHandlePermanent(HWND h);

  virtual BOOL DestroyWindow();
  // The usual processing of the message being handled.
  LRESULT Default();
  int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

  CMenu* GetSystemMenu(BOOL revert) const {
    return CMenu::FromHandle(::GetSystemMenu(m_hWnd, revert));
  }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  void GetClientRect(RECT* r) const { ::GetClientRect(m_hWnd, r); }
  LRESULT SendMessage(UINT m, WPARAM w = 0, LPARAM l = 0) const {
    return ::SendMessageW(m_hWnd, m, w, l);
  }
  HICON SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }

  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  // Default handlers: the usual processing.
  void OnPaint() { Default(); }
  void OnSysCommand(UINT, LPARAM) { Default(); }
  void OnSize(UINT, int, int) { Default(); }
  void OnTimer(UINT_PTR) { Default(); }

  HWND m_hWnd = nullptr;

 protected:
  friend class CDialog;
  // Routes a message through the message maps; everything else to Default().
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  void Attach(HWND h);  // subclasses h, so that its messages come to WindowProc
  void Detach();

 private:
  static LRESULT CALLBACK SubclassProc(HWND h, UINT m, WPARAM w, LPARAM l);
  static LRESULT CALLBACK CreationHook(int code, WPARAM w, LPARAM l);
  WNDPROC m_pfnSuper = nullptr;
  const MSG* m_pCurrent = nullptr;  // the message being handled, for Default()
};

class CDataExchange {};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr)
      : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

  // Makes the dialog from its template resource and runs it until EndDialog; returns the
  // result given to EndDialog, or -1 when the dialog could not be made.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange*) {}
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  DECLARE_MESSAGE_MAP()

 private:
  static INT_PTR CALLBACK DialogProc(HWND h, UINT m, WPARAM w, LPARAM l);

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  bool m_bEnded = false;
  int m_nModalResult = -1;
};

}  // namespace tovmir
