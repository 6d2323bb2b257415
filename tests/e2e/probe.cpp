// probe.exe: the end-to-end tests' hands and eyes inside the Wine prefix. It looks at the
// windows of another process (tovmir.exe), drives them with messages as a user would, and
// reads the resources compiled into an executable. Every command answers with one line of
// JSON in UTF-8, so that the Python side needs nothing but json.loads.
//
//   probe.exe COMMAND ARGS...   one command, exit status 0 unless it failed
//   probe.exe serve             commands from standard input, one a line, arguments
//                               separated by tabs, UTF-8; one answer line each
//
// Numbers (window handles, messages) are accepted in decimal or 0x hexadecimal.
// Wide resource type names (RT_DIALOG ...) and icon ids.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "meter/figure.h"

namespace {

using Args = std::vector<std::wstring>;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// A JSON string literal. Every UTF-16 unit below 0x20 is escaped; the rest goes as UTF-8.
std::string Quote(const std::wstring& w) {
  std::string out = "\"";
  std::wstring run;
  auto flush = [&] {
    out += Utf8(run);
    run.clear();
  };
  for (wchar_t c : w) {
    if (c == L'"' || c == L'\\' || c < 0x20) {
      flush();
      char buf[8];
      if (c == L'"')
        out += "\\\"";
      else if (c == L'\\')
        out += "\\\\";
      else {
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        out += buf;
      }
    } else {
      run += c;
    }
  }
  flush();
  return out + "\"";
}

std::string Num(long long v) { return std::to_string(v); }
std::string Bool(bool b) { return b ? "true" : "false"; }
std::string Handle(const void* h) {
  return Num(static_cast<long long>(reinterpret_cast<UINT_PTR>(h)));
}

// Builds one JSON object; values are JSON text already.
class Obj {
 public:
  Obj& Add(const char* key, const std::string& json) {
    s_ += first_ ? "" : ",";
    first_ = false;
    s_ += "\"";
    s_ += key;
    s_ += "\":" + json;
    return *this;
  }
  std::string Str() const { return s_ + "}"; }

 private:
  std::string s_ = "{";
  bool first_ = true;
};

std::string Array(const std::vector<std::string>& items) {
  std::string s = "[";
  for (size_t i = 0; i < items.size(); ++i) s += (i ? "," : "") + items[i];
  return s + "]";
}

struct Failure {
  std::string why;
};

[[noreturn]] void Fail(const std::string& why) { throw Failure{why}; }

unsigned long long Number(const std::wstring& s) {
  wchar_t* end = nullptr;
  const unsigned long long v = std::wcstoull(s.c_str(), &end, 0);
  if (s.empty() || *end) Fail("not a number: " + Utf8(s));
  return v;
}

long long Signed(const std::wstring& s) {
  wchar_t* end = nullptr;
  const long long v = std::wcstoll(s.c_str(), &end, 0);
  if (s.empty() || *end) Fail("not a number: " + Utf8(s));
  return v;
}

const std::wstring& Arg(const Args& a, size_t i, const char* what) {
  if (i >= a.size()) Fail(std::string("missing argument: ") + what);
  return a[i];
}

HWND Window(const Args& a, size_t i) {
  HWND h = reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(Arg(a, i, "HWND"))));
  if (!IsWindow(h)) Fail("no such window: " + Utf8(a[i]));
  return h;
}

std::string Hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", v);
  return buf;
}

// ---- windows

// The window's text as the window itself gives it (WM_GETTEXT is marshalled across
// processes); a hung window gives none rather than hanging the probe.
std::wstring WindowText(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) return {};
  std::wstring buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                           SMTO_ABORTIFHUNG, 2000, &got))
    return {};
  buf.resize(got);
  return buf;
}

std::string RectJson(const RECT& r) {
  return Array({Num(r.left), Num(r.top), Num(r.right), Num(r.bottom)});
}

std::string WindowJson(HWND h) {
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(h, &pid);
  wchar_t cls[256] = L"";
  GetClassNameW(h, cls, 256);
  RECT wr{}, cr{};
  GetWindowRect(h, &wr);
  GetClientRect(h, &cr);
  POINT origin = {0, 0};
  ClientToScreen(h, &origin);
  const LONG style = GetWindowLongW(h, GWL_STYLE);
  return Obj()
      .Add("hwnd", Handle(h))
      .Add("pid", Num(pid))
      .Add("tid", Num(tid))
      .Add("class", Quote(cls))
      .Add("text", Quote(WindowText(h)))
      .Add("id", Num((style & WS_CHILD) ? GetDlgCtrlID(h) : 0))
      .Add("style", Num(static_cast<DWORD>(style)))
      .Add("exstyle", Num(static_cast<DWORD>(GetWindowLongW(h, GWL_EXSTYLE))))
      .Add("rect", RectJson(wr))
      .Add("client", Array({Num(cr.right - cr.left), Num(cr.bottom - cr.top)}))
      .Add("origin", Array({Num(origin.x), Num(origin.y)}))
      .Add("owner", Handle(GetWindow(h, GW_OWNER)))
      .Add("parent", Handle(GetAncestor(h, GA_PARENT)))
      .Add("visible", Bool(IsWindowVisible(h)))
      .Add("iconic", Bool(IsIconic(h)))
      .Add("zoomed", Bool(IsZoomed(h)))
      .Add("enabled", Bool(IsWindowEnabled(h)))
      .Str();
}

BOOL CALLBACK Collect(HWND h, LPARAM l) {
  reinterpret_cast<std::vector<HWND>*>(l)->push_back(h);
  return TRUE;
}

std::vector<HWND> TopLevel() {
  std::vector<HWND> all;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

// Top-level windows with this caption (and class, and process, when given).
std::vector<HWND> Matching(const std::wstring& caption, const std::wstring& cls, DWORD pid) {
  std::vector<HWND> found;
  for (HWND h : TopLevel()) {
    wchar_t c[256] = L"";
    GetClassNameW(h, c, 256);
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    if (!cls.empty() && cls != c) continue;
    if (pid && p != pid) continue;
    if (WindowText(h) == caption) found.push_back(h);
  }
  return found;
}

std::string WindowsJson(const std::vector<HWND>& hs) {
  std::vector<std::string> items;
  for (HWND h : hs) items.push_back(WindowJson(h));
  return Array(items);
}

std::string CmdList(const Args& a) {
  const DWORD pid = a.size() > 1 ? static_cast<DWORD>(Number(a[1])) : 0;
  std::vector<HWND> hs;
  for (HWND h : TopLevel()) {
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    if (!pid || p == pid) hs.push_back(h);
  }
  return Obj().Add("windows", WindowsJson(hs)).Str();
}

// find CAPTION [CLASS [PID]]
std::string CmdFind(const Args& a) {
  const std::wstring cls = a.size() > 2 ? a[2] : L"";
  const DWORD pid = a.size() > 3 ? static_cast<DWORD>(Number(a[3])) : 0;
  return Obj().Add("windows", WindowsJson(Matching(Arg(a, 1, "CAPTION"), cls, pid))).Str();
}

// wait-window CAPTION TIMEOUT_MS [CLASS]: the first matching window, or a failure.
std::string CmdWaitWindow(const Args& a) {
  const std::wstring& caption = Arg(a, 1, "CAPTION");
  const DWORD timeout = static_cast<DWORD>(Number(Arg(a, 2, "TIMEOUT_MS")));
  const std::wstring cls = a.size() > 3 ? a[3] : L"";
  const DWORD start = GetTickCount();
  for (;;) {
    const std::vector<HWND> hs = Matching(caption, cls, 0);
    if (!hs.empty()) return WindowJson(hs.front());
    if (GetTickCount() - start > timeout) Fail("no window " + Utf8(caption));
    Sleep(20);
  }
}

std::string CmdWindow(const Args& a) {
  HWND h = reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(Arg(a, 1, "HWND"))));
  if (!IsWindow(h)) return Obj().Add("exists", "false").Str();
  return WindowJson(h);
}

std::string CmdChildren(const Args& a) {
  return Obj().Add("children", WindowsJson(Children(Window(a, 1)))).Str();
}

std::string CmdText(const Args& a) {
  return Obj().Add("text", Quote(WindowText(Window(a, 1)))).Str();
}

std::string Posted(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (!PostMessageW(h, msg, w, l)) Fail("PostMessage failed: " + Num(GetLastError()));
  return Obj().Add("posted", "true").Str();
}

// post HWND MSG [WPARAM [LPARAM]]
std::string CmdPost(const Args& a) {
  HWND h = Window(a, 1);
  return Posted(h, static_cast<UINT>(Number(Arg(a, 2, "MSG"))),
                a.size() > 3 ? static_cast<WPARAM>(Number(a[3])) : 0,
                a.size() > 4 ? static_cast<LPARAM>(Signed(a[4])) : 0);
}

// send HWND MSG [WPARAM [LPARAM]]: waits for the answer (at most 5 s).
std::string CmdSend(const Args& a) {
  HWND h = Window(a, 1);
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(h, static_cast<UINT>(Number(Arg(a, 2, "MSG"))),
                           a.size() > 3 ? static_cast<WPARAM>(Number(a[3])) : 0,
                           a.size() > 4 ? static_cast<LPARAM>(Signed(a[4])) : 0, SMTO_NORMAL, 5000,
                           &r))
    Fail("SendMessageTimeout failed: error " + Num(GetLastError()) + ", result " +
         Num(static_cast<long long>(r)));
  return Obj().Add("result", Num(static_cast<long long>(r))).Str();
}

std::string CmdSyscommand(const Args& a) {
  return Posted(Window(a, 1), WM_SYSCOMMAND, static_cast<WPARAM>(Number(Arg(a, 2, "ID"))), 0);
}

std::string CmdClose(const Args& a) { return Posted(Window(a, 1), WM_CLOSE, 0, 0); }

// resize HWND CLIENT_W CLIENT_H: the outer size for that client area, from the window's
// own styles; answers with the window as it is afterwards.
std::string CmdResize(const Args& a) {
  HWND h = Window(a, 1);
  RECT r = {0, 0, static_cast<LONG>(Signed(Arg(a, 2, "W"))),
            static_cast<LONG>(Signed(Arg(a, 3, "H")))};
  AdjustWindowRectEx(&r, GetWindowLongW(h, GWL_STYLE), FALSE, GetWindowLongW(h, GWL_EXSTYLE));
  if (!SetWindowPos(h, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                    SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
    Fail("SetWindowPos failed: " + Num(GetLastError()));
  return WindowJson(h);
}

// move HWND X Y (screen coordinates of the outer top-left corner)
std::string CmdMove(const Args& a) {
  HWND h = Window(a, 1);
  if (!SetWindowPos(h, nullptr, static_cast<int>(Signed(Arg(a, 2, "X"))),
                    static_cast<int>(Signed(Arg(a, 3, "Y"))), 0, 0,
                    SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
    Fail("SetWindowPos failed: " + Num(GetLastError()));
  return WindowJson(h);
}

// click HWND ID: the dialog's button with that control id, clicked.
std::string CmdClick(const Args& a) {
  HWND dlg = Window(a, 1);
  const int id = static_cast<int>(Signed(Arg(a, 2, "ID")));
  HWND button = GetDlgItem(dlg, id);
  if (!button) Fail("no control " + Num(id));
  return Posted(button, BM_CLICK, 0, 0);
}

// ---- what the tests compare screenshots with

std::string PointsJson(const tovmir::Point* p, int n, POINT o) {
  std::vector<std::string> items;
  for (int i = 0; i < n; ++i) items.push_back(Array({Num(p[i].x + o.x), Num(p[i].y + o.y)}));
  return Array(items);
}

std::string FigureRectJson(const tovmir::Rect& r, POINT o) {
  return Array({Num(r.left + o.x), Num(r.top + o.y), Num(r.right + o.x), Num(r.bottom + o.y)});
}

// figure HWND: the figure for the window's client size right now, in screen coordinates.
std::string CmdFigure(const Args& a) {
  HWND h = Window(a, 1);
  RECT cr{};
  GetClientRect(h, &cr);
  POINT o = {0, 0};
  ClientToScreen(h, &o);
  const int height = tovmir::MeterHeight(cr.bottom);
  const tovmir::MeterFigure f = tovmir::ComputeFigure(cr.right, height, 0, false);
  std::vector<std::string> bars;
  for (const tovmir::Rect& r : f.bars) bars.push_back(FigureRectJson(r, o));
  Obj out;
  out.Add("client", Array({Num(cr.right), Num(cr.bottom)}))
      .Add("origin", Array({Num(o.x), Num(o.y)}))
      .Add("meter_height", Num(height))
      .Add("antenna", PointsJson(f.antenna, 6, o))
      .Add("cutouts", Bool(f.cutouts));
  if (f.cutouts)
    out.Add("left_cutout", PointsJson(f.left_cutout, 3, o))
        .Add("right_cutout", PointsJson(f.right_cutout, 3, o));
  return out.Add("bars", Array(bars)).Add("status", FigureRectJson(f.status, o)).Str();
}

// A bitmap like the screen's, selected into a memory DC and filled with one colour; read
// back as 32-bit pixels.
class Canvas {
 public:
  Canvas(int w, int h, COLORREF fill) : w_(w), h_(h) {
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096) Fail("bad canvas size");
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bmp_ = CreateCompatibleBitmap(screen, w, h);
    ReleaseDC(nullptr, screen);
    if (!dc_ || !bmp_) Fail("cannot make a bitmap");
    old_ = SelectObject(dc_, bmp_);
    HBRUSH b = CreateSolidBrush(fill);
    RECT r = {0, 0, w, h};
    FillRect(dc_, &r, b);
    DeleteObject(b);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bmp_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  // Rows top first, each pixel RRGGBB.
  std::string RowsJson() {
    GdiFlush();
    SelectObject(dc_, old_);  // GetDIBits wants the bitmap out of any DC
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w_;
    bi.bmiHeader.biHeight = -h_;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> bits(static_cast<size_t>(w_) * h_);
    const int got = GetDIBits(dc_, bmp_, 0, h_, bits.data(), &bi, DIB_RGB_COLORS);
    old_ = SelectObject(dc_, bmp_);
    if (got != h_) Fail("cannot read the bitmap back");
    std::vector<std::string> rows;
    for (int y = 0; y < h_; ++y) {
      std::string row;
      for (int x = 0; x < w_; ++x) row += Hex(bits[y * w_ + x] & 0xFFFFFF);
      rows.push_back("\"" + row + "\"");
    }
    return Array(rows);
  }

 private:
  int w_, h_;
  HDC dc_ = nullptr;
  HBITMAP bmp_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// render-text TEXT W H: TEXT drawn as the meter draws its status line (the DC's own font,
// black on an opaque button face, single line, bottom-aligned in a W x H rectangle).
std::string CmdRenderText(const Args& a) {
  const std::wstring& text = Arg(a, 1, "TEXT");
  const int w = static_cast<int>(Signed(Arg(a, 2, "W")));
  const int h = static_cast<int>(Signed(Arg(a, 3, "H")));
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  Canvas c(w, h, face);
  SetBkColor(c.dc(), face);
  SetTextColor(c.dc(), RGB(0, 0, 0));
  RECT r = {0, 0, w, h};
  DrawTextW(c.dc(), text.c_str(), static_cast<int>(text.size()), &r,
            DT_SINGLELINE | DT_BOTTOM | DT_NOCLIP);
  SIZE extent{};
  GetTextExtentPoint32W(c.dc(), text.c_str(), static_cast<int>(text.size()), &extent);
  return Obj()
      .Add("extent", Array({Num(extent.cx), Num(extent.cy)}))
      .Add("rows", c.RowsJson())
      .Str();
}

// icon-ref NAME BG: one of the system's icons (application, information, warning, error,
// question) drawn at its normal size on a background of colour BG (0xRRGGBB).
std::string CmdIconRef(const Args& a) {
  const std::wstring& name = Arg(a, 1, "NAME");
  const unsigned bg = static_cast<unsigned>(Number(Arg(a, 2, "BG")));
  LPCWSTR id = name == L"application"   ? IDI_APPLICATION
               : name == L"information" ? IDI_INFORMATION
               : name == L"warning"     ? IDI_WARNING
               : name == L"error"       ? IDI_ERROR
               : name == L"question"    ? IDI_QUESTION
                                        : nullptr;
  if (!id) Fail("no such icon: " + Utf8(name));
  HICON icon = LoadIconW(nullptr, id);
  if (!icon) Fail("LoadIcon failed");
  const int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
  Canvas c(w, h, RGB(bg >> 16, (bg >> 8) & 0xFF, bg & 0xFF));
  DrawIconEx(c.dc(), 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
  return Obj().Add("size", Array({Num(w), Num(h)})).Add("rows", c.RowsJson()).Str();
}

std::string CmdInfo(const Args&) {
  const COLORREF f = GetSysColor(COLOR_BTNFACE);
  return Obj()
      .Add("btnface", Array({Num(GetRValue(f)), Num(GetGValue(f)), Num(GetBValue(f))}))
      .Add("screen",
           Array({Num(GetSystemMetrics(SM_CXSCREEN)), Num(GetSystemMetrics(SM_CYSCREEN))}))
      .Add("icon", Array({Num(GetSystemMetrics(SM_CXICON)), Num(GetSystemMetrics(SM_CYICON))}))
      .Add("small_icon",
           Array({Num(GetSystemMetrics(SM_CXSMICON)), Num(GetSystemMetrics(SM_CYSMICON))}))
      .Add("min_track",
           Array({Num(GetSystemMetrics(SM_CXMINTRACK)), Num(GetSystemMetrics(SM_CYMINTRACK))}))
      .Add("minimized",
           Array({Num(GetSystemMetrics(SM_CXMINIMIZED)), Num(GetSystemMetrics(SM_CYMINIMIZED))}))
      .Add("caption", Num(GetSystemMetrics(SM_CYCAPTION)))
      .Add("acp", Num(GetACP()))
      .Str();
}

// sysmenu HWND: the window's system menu as this process can see it.
std::string CmdSysmenu(const Args& a) {
  HWND h = Window(a, 1);
  HMENU m = GetSystemMenu(h, FALSE);
  if (!m) Fail("GetSystemMenu gave no menu (error " + Num(GetLastError()) + ")");
  const int n = GetMenuItemCount(m);
  if (n < 0) Fail("GetMenuItemCount failed (error " + Num(GetLastError()) + ")");
  std::vector<std::string> items;
  for (int i = 0; i < n; ++i) {
    wchar_t text[256] = L"";
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof mi;
    mi.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    mi.dwTypeData = text;
    mi.cch = 255;
    if (!GetMenuItemInfoW(m, i, TRUE, &mi)) Fail("GetMenuItemInfo failed at " + Num(i));
    items.push_back(Obj()
                        .Add("id", Num(mi.wID))
                        .Add("type", Num(mi.fType))
                        .Add("state", Num(mi.fState))
                        .Add("text", Quote(text))
                        .Str());
  }
  return Obj().Add("menu", Handle(m)).Add("items", Array(items)).Str();
}

// ---- resources

class Reader {
 public:
  Reader(const BYTE* base, size_t size) : base_(base), p_(base), end_(base + size) {}
  const BYTE* Need(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) Fail("resource data ends early");
    const BYTE* at = p_;
    p_ += n;
    return at;
  }
  WORD Word() {
    const BYTE* b = Need(2);
    return static_cast<WORD>(b[0] | b[1] << 8);
  }
  DWORD Dword() {
    const DWORD lo = Word();
    return lo | static_cast<DWORD>(Word()) << 16;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() { return *Need(1); }
  std::wstring Sz() {
    std::wstring s;
    for (WORD c; (c = Word()) != 0;) s += static_cast<wchar_t>(c);
    return s;
  }
  // A name or an ordinal, as dialog templates hold them: JSON null, a number or a string.
  std::string SzOrOrd() {
    const WORD first = Word();
    if (first == 0) return "null";
    if (first == 0xFFFF) return Num(Word());
    std::wstring s(1, static_cast<wchar_t>(first));
    s += Sz();
    return Quote(s);
  }
  void Align(size_t n) {
    while ((p_ - base_) % n) Need(1);
  }
  size_t Offset() const { return p_ - base_; }
  void Seek(size_t off) {
    if (off > static_cast<size_t>(end_ - base_)) Fail("resource offset out of range");
    p_ = base_ + off;
  }
  const BYTE* Here() const { return p_; }

 private:
  const BYTE* base_;
  const BYTE* p_;
  const BYTE* end_;
};

struct Resource {
  const BYTE* data = nullptr;
  DWORD size = 0;
};

Resource Find(HMODULE m, LPCWSTR type, LPCWSTR name) {
  HRSRC r = FindResourceW(m, name, type);
  if (!r) return {};
  HGLOBAL g = LoadResource(m, r);
  return {static_cast<const BYTE*>(LockResource(g)), SizeofResource(m, r)};
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR l) {
  reinterpret_cast<std::vector<std::string>*>(l)->push_back(Num(lang));
  return TRUE;
}

std::string Languages(HMODULE m, LPCWSTR type, LPCWSTR name) {
  std::vector<std::string> langs;
  EnumResourceLanguagesW(m, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&langs));
  return Array(langs);
}

std::string DialogJson(HMODULE m, int id) {
  const Resource res = Find(m, RT_DIALOG, MAKEINTRESOURCEW(id));
  if (!res.data) return "null";
  Reader r(res.data, res.size);
  Obj d;
  d.Add("languages", Languages(m, RT_DIALOG, MAKEINTRESOURCEW(id)));
  const bool ex = res.size >= 4 && r.Word() == 1 && r.Word() == 0xFFFF;
  DWORD style = 0;
  int count = 0;
  if (ex) {
    d.Add("ex", "true").Add("help_id", Num(r.Dword()));
    const DWORD exstyle = r.Dword();
    style = r.Dword();
    d.Add("style", Num(style)).Add("exstyle", Num(exstyle));
  } else {
    r.Seek(0);
    style = r.Dword();
    d.Add("ex", "false").Add("style", Num(style)).Add("exstyle", Num(r.Dword()));
  }
  count = r.Word();
  const int x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
  d.Add("x", Num(x)).Add("y", Num(y)).Add("cx", Num(cx)).Add("cy", Num(cy));
  d.Add("menu", r.SzOrOrd()).Add("class", r.SzOrOrd()).Add("caption", Quote(r.Sz()));
  if (style & (DS_SETFONT | DS_SHELLFONT)) {
    Obj font;
    font.Add("size", Num(r.Word()));
    if (ex) {
      font.Add("weight", Num(r.Word()));
      font.Add("italic", Num(r.Byte()));
      font.Add("charset", Num(r.Byte()));
    }
    font.Add("face", Quote(r.Sz()));
    d.Add("font", font.Str());
  }
  std::vector<std::string> controls;
  for (int i = 0; i < count; ++i) {
    r.Align(4);
    Obj c;
    DWORD cstyle, cexstyle;
    if (ex) {
      c.Add("help_id", Num(r.Dword()));
      cexstyle = r.Dword();
      cstyle = r.Dword();
    } else {
      cstyle = r.Dword();
      cexstyle = r.Dword();
    }
    c.Add("style", Num(cstyle)).Add("exstyle", Num(cexstyle));
    const int ix = r.Short(), iy = r.Short(), icx = r.Short(), icy = r.Short();
    c.Add("x", Num(ix)).Add("y", Num(iy)).Add("cx", Num(icx)).Add("cy", Num(icy));
    c.Add("id", Num(ex ? static_cast<long long>(r.Dword()) : r.Word()));
    c.Add("class", r.SzOrOrd()).Add("text", r.SzOrOrd());
    const WORD extra = r.Word();
    r.Need(extra);
    c.Add("extra", Num(extra));
    controls.push_back(c.Str());
  }
  d.Add("count", Num(count)).Add("controls", Array(controls));
  return d.Str();
}

std::string StringJson(HMODULE m, int id) {
  LPCWSTR block = MAKEINTRESOURCEW(id / 16 + 1);
  const Resource res = Find(m, RT_STRING, block);
  if (!res.data) return "null";
  Reader r(res.data, res.size);
  std::wstring text;
  for (int i = 0; i <= id % 16; ++i) {
    const WORD len = r.Word();
    std::wstring s;
    for (WORD k = 0; k < len; ++k) s += static_cast<wchar_t>(r.Word());
    text = s;
  }
  return Obj().Add("languages", Languages(m, RT_STRING, block)).Add("text", Quote(text)).Str();
}

// One icon image: header fields, every pixel's colour and the AND mask, rows top first.
std::string IconImageJson(const Resource& res) {
  Reader r(res.data, res.size);
  if (res.size >= 8 && std::memcmp(res.data, "\x89PNG", 4) == 0)
    return Obj().Add("png", "true").Str();
  const DWORD header = r.Dword();
  const int w = static_cast<int>(r.Dword());
  const int h2 = static_cast<int>(r.Dword());
  const WORD planes = r.Word(), bits = r.Word();
  const DWORD compression = r.Dword();
  r.Dword();  // image size
  r.Dword();
  r.Dword();
  DWORD used = r.Dword();
  r.Seek(header);
  const int h = h2 / 2;
  if (compression != BI_RGB || w <= 0 || h <= 0 || w > 256 || h > 256)
    Fail("an icon image this probe does not read");
  if (bits <= 8 && used == 0) used = 1u << bits;
  if (bits > 8) used = 0;
  std::vector<DWORD> palette;
  for (DWORD i = 0; i < used; ++i) palette.push_back(r.Dword() & 0xFFFFFF);
  const size_t xor_stride = ((w * bits + 31) / 32) * 4;
  const size_t and_stride = ((w + 31) / 32) * 4;
  const BYTE* xor_bits = r.Need(xor_stride * h);
  const BYTE* and_bits = r.Need(and_stride * h);
  std::vector<std::string> pixels, mask;
  for (int y = 0; y < h; ++y) {  // the bitmap is stored bottom row first
    const BYTE* row = xor_bits + (h - 1 - y) * xor_stride;
    const BYTE* arow = and_bits + (h - 1 - y) * and_stride;
    std::string p, k;
    for (int x = 0; x < w; ++x) {
      DWORD c = 0;
      if (bits == 4)
        c = palette.at((row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF);
      else if (bits == 8)
        c = palette.at(row[x]);
      else if (bits == 1)
        c = palette.at((row[x / 8] >> (7 - x % 8)) & 1);
      else if (bits == 24)
        c = row[x * 3] | row[x * 3 + 1] << 8 | row[x * 3 + 2] << 16;
      else if (bits == 32)
        c = (row[x * 4] | row[x * 4 + 1] << 8 | row[x * 4 + 2] << 16);
      else
        Fail("icon depth " + Num(bits));
      // RGBQUAD order is blue, green, red: RRGGBB wanted.
      const unsigned rgb = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
      p += Hex(rgb);
      k += ((arow[x / 8] >> (7 - x % 8)) & 1) ? '1' : '0';
    }
    pixels.push_back("\"" + p + "\"");
    mask.push_back("\"" + k + "\"");
  }
  std::vector<std::string> pal;
  for (DWORD c : palette)
    pal.push_back("\"" + Hex(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF)) + "\"");
  return Obj()
      .Add("width", Num(w))
      .Add("height", Num(h))
      .Add("planes", Num(planes))
      .Add("bits", Num(bits))
      .Add("palette", Array(pal))
      .Add("pixels", Array(pixels))
      .Add("mask", Array(mask))
      .Str();
}

std::string IconGroupJson(HMODULE m, int id) {
  const Resource res = Find(m, RT_GROUP_ICON, MAKEINTRESOURCEW(id));
  if (!res.data) return "null";
  Reader r(res.data, res.size);
  const WORD reserved = r.Word(), type = r.Word(), count = r.Word();
  std::vector<std::string> entries;
  for (int i = 0; i < count; ++i) {
    const int w = r.Byte(), h = r.Byte(), colours = r.Byte();
    r.Byte();
    const WORD planes = r.Word(), bits = r.Word();
    const DWORD bytes = r.Dword();
    const WORD icon_id = r.Word();
    const Resource image = Find(m, RT_ICON, MAKEINTRESOURCEW(icon_id));
    entries.push_back(Obj()
                          .Add("width", Num(w))
                          .Add("height", Num(h))
                          .Add("colors", Num(colours))
                          .Add("planes", Num(planes))
                          .Add("bits", Num(bits))
                          .Add("bytes", Num(bytes))
                          .Add("id", Num(icon_id))
                          .Add("image", image.data ? IconImageJson(image) : "null")
                          .Str());
  }
  return Obj()
      .Add("languages", Languages(m, RT_GROUP_ICON, MAKEINTRESOURCEW(id)))
      .Add("reserved", Num(reserved))
      .Add("type", Num(type))
      .Add("entries", Array(entries))
      .Str();
}

// The version block, read by hand: each node is length, value length, type, key, value,
// children, with DWORD alignment from the start of the block.
struct VersionNode {
  std::wstring key;
  WORD type = 0;
  const BYTE* value = nullptr;
  size_t value_bytes = 0;
  std::vector<VersionNode> children;
};

VersionNode ReadNode(Reader& r, size_t end_limit) {
  const size_t start = r.Offset();
  const WORD len = r.Word();
  const WORD vlen = r.Word();
  VersionNode n;
  n.type = r.Word();
  n.key = r.Sz();
  r.Align(4);
  const size_t end = start + len;
  if (len < 6 || end > end_limit) Fail("bad version node");
  n.value_bytes = n.type == 1 ? vlen * 2u : vlen;
  if (r.Offset() + n.value_bytes > end) n.value_bytes = end - r.Offset();
  n.value = r.Need(n.value_bytes);
  if (r.Offset() < end) r.Align(4);
  while (r.Offset() + 6 <= end) {
    n.children.push_back(ReadNode(r, end));
    if (r.Offset() < end) r.Align(4);
  }
  r.Seek(end);
  return n;
}

std::wstring TextValue(const VersionNode& n) {
  std::wstring s(reinterpret_cast<const wchar_t*>(n.value), n.value_bytes / 2);
  while (!s.empty() && s.back() == L'\0') s.pop_back();
  return s;
}

std::string Version4(DWORD ms, DWORD ls) {
  return Quote(std::to_wstring(HIWORD(ms)) + L"." + std::to_wstring(LOWORD(ms)) + L"." +
               std::to_wstring(HIWORD(ls)) + L"." + std::to_wstring(LOWORD(ls)));
}

std::string VersionJson(HMODULE m) {
  const Resource res = Find(m, RT_VERSION, MAKEINTRESOURCEW(1));
  if (!res.data) return "null";
  Reader r(res.data, res.size);
  const VersionNode root = ReadNode(r, res.size);
  Obj v;
  v.Add("languages", Languages(m, RT_VERSION, MAKEINTRESOURCEW(1))).Add("key", Quote(root.key));
  if (root.value_bytes >= sizeof(VS_FIXEDFILEINFO)) {
    VS_FIXEDFILEINFO fi;
    std::memcpy(&fi, root.value, sizeof fi);
    v.Add("fixed",
          Obj()
              .Add("signature", Num(fi.dwSignature))
              .Add("file_version", Version4(fi.dwFileVersionMS, fi.dwFileVersionLS))
              .Add("product_version", Version4(fi.dwProductVersionMS, fi.dwProductVersionLS))
              .Add("flags_mask", Num(fi.dwFileFlagsMask))
              .Add("flags", Num(fi.dwFileFlags))
              .Add("os", Num(fi.dwFileOS))
              .Add("type", Num(fi.dwFileType))
              .Add("subtype", Num(fi.dwFileSubtype))
              .Str());
  }
  Obj tables;
  std::vector<std::string> translation;
  for (const VersionNode& c : root.children) {
    if (c.key == L"StringFileInfo") {
      for (const VersionNode& t : c.children) {
        Obj strings;
        for (const VersionNode& s : t.children)
          strings.Add(Utf8(s.key).c_str(), Quote(TextValue(s)));
        tables.Add(Utf8(t.key).c_str(), strings.Str());
      }
    } else if (c.key == L"VarFileInfo") {
      for (const VersionNode& var : c.children) {
        if (var.key != L"Translation") continue;
        for (size_t i = 0; i + 4 <= var.value_bytes; i += 4) {
          const BYTE* b = var.value + i;
          translation.push_back(Array({Num(b[0] | b[1] << 8), Num(b[2] | b[3] << 8)}));
        }
      }
    }
  }
  return v.Add("strings", tables.Str()).Add("translation", Array(translation)).Str();
}

std::string CmdResources(const Args& a) {
  const std::wstring& path = Arg(a, 1, "EXE");
  HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) Fail("cannot load " + Utf8(path) + " (error " + Num(GetLastError()) + ")");
  std::string out;
  try {
    out = Obj()
              .Add("meter_dialog", DialogJson(m, 102))
              .Add("about_dialog", DialogJson(m, 100))
              .Add("about_string", StringJson(m, 101))
              .Add("icon", IconGroupJson(m, 128))
              .Add("version", VersionJson(m))
              .Str();
  } catch (...) {
    FreeLibrary(m);
    throw;
  }
  FreeLibrary(m);
  return out;
}

// ---- dispatch

struct Command {
  const wchar_t* name;
  std::string (*run)(const Args&);
};

const Command kCommands[] = {
    {L"list", CmdList},           {L"find", CmdFind},         {L"wait-window", CmdWaitWindow},
    {L"window", CmdWindow},       {L"children", CmdChildren}, {L"text", CmdText},
    {L"post", CmdPost},           {L"send", CmdSend},         {L"syscommand", CmdSyscommand},
    {L"close", CmdClose},         {L"resize", CmdResize},     {L"move", CmdMove},
    {L"click", CmdClick},         {L"figure", CmdFigure},     {L"render-text", CmdRenderText},
    {L"icon-ref", CmdIconRef},    {L"info", CmdInfo},         {L"sysmenu", CmdSysmenu},
    {L"resources", CmdResources},
};

// One answer line; false when the command failed.
bool Run(const Args& a) {
  std::string line;
  bool ok = true;
  try {
    if (a.empty()) Fail("no command");
    const Command* c = nullptr;
    for (const Command& k : kCommands)
      if (a[0] == k.name) c = &k;
    if (!c) Fail("unknown command: " + Utf8(a[0]));
    line = c->run(a);
  } catch (const Failure& f) {
    line = Obj().Add("error", Quote(Wide(f.why))).Str();
    ok = false;
  }
  line += "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  return ok;
}

int Serve() {
  std::string line;
  for (int ch; (ch = std::fgetc(stdin)) != EOF;) {
    if (ch != '\n') {
      line += static_cast<char>(ch);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Args a;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      a.push_back(
          Wide(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    line.clear();
    if (a.size() == 1 && a[0] == L"quit") break;
    Run(a);
  }
  return 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Args a;
  for (int i = 1; i < argc; ++i) a.push_back(argv[i]);
  LocalFree(argv);
  if (a.size() == 1 && a[0] == L"serve") return Serve();
  return Run(a) ? 0 : 1;
}
