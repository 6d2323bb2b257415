// bench_win: looks at the running meter from another Windows process, for run.py.
//
//   bench_win memory        the meter process's memory as Windows reports it
//   bench_win gdi N [R]     forces N repaints of the meter (a resize before every R-th,
//                           default 100, 0 for none) and prints its GDI and USER objects
//                           and memory before and after
//
// Prints "key value" lines. GetGuiResources is only believed when it counts objects this
// program makes itself; the GDI handle table the process's PEB points to is read as well,
// and checked the same way, because Wine's GetGuiResources may be a stub.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

const wchar_t kMeterTitle[] = L"\u30a2\u30f3\u30c6\u30ca";  // the meter's caption
const wchar_t kDialogClass[] = L"#32770";

// One slot of the GDI handle table, as Wine's win32u lays it out (and Windows' gdi32).
struct GdiEntry {
  std::uint64_t object;
  std::uint32_t owner;
  std::uint8_t ext_type;  // low 7 bits the type, the top bit marks stock objects
  std::uint8_t generation;
  std::uint8_t type;  // 0: a free slot
  std::uint8_t flags;
  std::uint64_t user;
};
static_assert(sizeof(GdiEntry) == 24, "the table's slots are 24 bytes");
constexpr std::size_t kGdiSlots = 0x10000;
// PEB.GdiSharedHandleTable; the helper is built for the meter's own architecture.
constexpr std::size_t kPebGdiTable = sizeof(void*) == 8 ? 0xF8 : 0x94;

struct GdiCount {
  bool ok = false;
  long total = 0, dc = 0, brush = 0, pen = 0, font = 0, bitmap = 0, region = 0, other = 0;
};

// Counts the live, non-stock objects in the GDI handle table of a process.
GdiCount CountGdiTable(HANDLE process) {
  GdiCount c;
  using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION pbi{};
  ULONG len = 0;
  if (!query || query(process, ProcessBasicInformation, &pbi, sizeof pbi, &len) != 0) return c;
  void* table = nullptr;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process,
                         static_cast<char*>(static_cast<void*>(pbi.PebBaseAddress)) + kPebGdiTable,
                         &table, sizeof table, &got) ||
      !table)
    return c;
  std::vector<GdiEntry> slots(kGdiSlots);
  if (!ReadProcessMemory(process, table, slots.data(), slots.size() * sizeof(GdiEntry), &got))
    return c;
  c.ok = true;
  for (const GdiEntry& e : slots) {
    if (!e.type || (e.ext_type & 0x80)) continue;
    ++c.total;
    switch (e.ext_type & 0x7f) {
      case 0x01:
      case 0x41:
        ++c.dc;
        break;
      case 0x10:
        ++c.brush;
        break;
      case 0x30:
      case 0x50:
        ++c.pen;
        break;
      case 0x0a:
        ++c.font;
        break;
      case 0x09:
      case 0x05:
        ++c.bitmap;
        break;
      case 0x04:
        ++c.region;
        break;
      default:
        ++c.other;
        break;
    }
  }
  return c;
}

struct Snapshot {
  GdiCount table;
  DWORD gui_gdi = 0, gui_user = 0;
  long windows = 0;
  PROCESS_MEMORY_COUNTERS_EX mem{};
};

DWORD g_pid;

BOOL CALLBACK CountChild(HWND, LPARAM n) {
  ++*reinterpret_cast<long*>(n);
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND h, LPARAM n) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == g_pid) {
    ++*reinterpret_cast<long*>(n);
    EnumChildWindows(h, CountChild, n);
  }
  return TRUE;
}

Snapshot Take(HANDLE process, DWORD pid) {
  Snapshot s;
  s.table = CountGdiTable(process);
  s.gui_gdi = GetGuiResources(process, GR_GDIOBJECTS);
  s.gui_user = GetGuiResources(process, GR_USEROBJECTS);
  g_pid = pid;
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&s.windows));
  s.mem.cb = sizeof s.mem;
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&s.mem), sizeof s.mem);
  return s;
}

// Objects of each kind this program makes to see which counters follow them.
struct Made {
  static constexpr int kEach = 8;
  HGDIOBJ brush[kEach], pen[kEach];
  HDC dc[kEach];
  HWND wnd[kEach];

  void Make() {
    for (int i = 0; i < kEach; ++i) {
      brush[i] = CreateSolidBrush(RGB(i, 1, 2));
      pen[i] = CreatePen(PS_SOLID, 0, RGB(i, 3, 4));
      dc[i] = CreateCompatibleDC(nullptr);
      wnd[i] =
          CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    }
  }
  void Free() {
    for (int i = 0; i < kEach; ++i) {
      DeleteObject(brush[i]);
      DeleteObject(pen[i]);
      DeleteDC(dc[i]);
      DestroyWindow(wnd[i]);
    }
  }
};

void CheckCounters() {
  const HANDLE self = GetCurrentProcess();
  const DWORD pid = GetCurrentProcessId();
  Made made;
  // Once unmeasured: the first window and DC bring objects of their own that stay. The
  // thread's IME window lives while the thread has any window, so one is kept throughout.
  made.Make();
  made.Free();
  const HWND keeper =
      CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  const Snapshot before = Take(self, pid);
  made.Make();
  const Snapshot during = Take(self, pid);
  made.Free();
  const Snapshot after = Take(self, pid);
  DestroyWindow(keeper);

  auto verdict = [](const char* what, long b, long d, long a, long n) {
    const bool real = d - b == n && a == b;
    std::printf("check %s %s (before %ld, with %ld made %ld, after freeing %ld)\n", what,
                real ? "counts" : "does-not-count", b, n, d, a);
  };
  constexpr int k = Made::kEach;
  verdict("gdi_table", before.table.total, during.table.total, after.table.total, 3 * k);
  verdict("gdi_table_brushes", before.table.brush, during.table.brush, after.table.brush, k);
  verdict("gdi_table_pens", before.table.pen, during.table.pen, after.table.pen, k);
  verdict("gdi_table_dcs", before.table.dc, during.table.dc, after.table.dc, k);
  verdict("GetGuiResources_GDI", before.gui_gdi, during.gui_gdi, after.gui_gdi, 3 * k);
  verdict("GetGuiResources_USER", before.gui_user, during.gui_user, after.gui_user, k);
  verdict("windows", before.windows, during.windows, after.windows, k);
}

void Print(const char* phase, const Snapshot& s) {
  std::printf(
      "%s gdi_table %s total %ld dc %ld brush %ld pen %ld font %ld bitmap %ld region %ld "
      "other %ld\n",
      phase, s.table.ok ? "read" : "unreadable", s.table.total, s.table.dc, s.table.brush,
      s.table.pen, s.table.font, s.table.bitmap, s.table.region, s.table.other);
  std::printf("%s GetGuiResources_GDI %lu GetGuiResources_USER %lu windows %ld\n", phase, s.gui_gdi,
              s.gui_user, s.windows);
  std::printf("%s PrivateUsage %lu WorkingSetSize %lu PeakWorkingSetSize %lu PagefileUsage %lu\n",
              phase, static_cast<unsigned long>(s.mem.PrivateUsage),
              static_cast<unsigned long>(s.mem.WorkingSetSize),
              static_cast<unsigned long>(s.mem.PeakWorkingSetSize),
              static_cast<unsigned long>(s.mem.PagefileUsage));
}

bool Repaint(HWND h) {
  RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  // RDW_UPDATENOW has the window's thread paint before the call returns; an update region
  // left behind would mean it did not.
  RECT r;
  return !GetUpdateRect(h, &r, FALSE);
}

void Resize(HWND h, int cx, int cy) {
  SetWindowPos(h, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Gdi(HWND h, HANDLE process, DWORD pid, long n, long resize_every) {
  CheckCounters();
  RECT wr;
  GetWindowRect(h, &wr);
  const int cx = wr.right - wr.left, cy = wr.bottom - wr.top;
  auto run = [&](long count, long* painted, double* worst_ms) {
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    for (long i = 0; i < count; ++i) {
      if (resize_every && i % resize_every == resize_every - 1)
        Resize(h, cx + 40 * (1 + i / resize_every % 2), cy + 30);
      QueryPerformanceCounter(&t0);
      *painted += Repaint(h);
      QueryPerformanceCounter(&t1);
      const double ms = 1000.0 * (t1.QuadPart - t0.QuadPart) / f.QuadPart;
      if (ms > *worst_ms) *worst_ms = ms;
    }
    Resize(h, cx, cy);
  };
  // A first round lets whatever the painting keeps for later (caches) come into being.
  long painted = 0;
  double worst = 0;
  run(resize_every ? 2 * resize_every : 100, &painted, &worst);
  Repaint(h);
  const Snapshot before = Take(process, pid);
  painted = 0;
  worst = 0;
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  run(n, &painted, &worst);
  QueryPerformanceCounter(&t1);
  Repaint(h);
  const Snapshot after = Take(process, pid);
  Print("before", before);
  Print("after", after);
  std::printf("result repaints %ld confirmed %ld resizes %ld seconds %.3f worst_ms %.3f\n", n,
              painted, resize_every ? n / resize_every : 0,
              static_cast<double>(t1.QuadPart - t0.QuadPart) / f.QuadPart, worst);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_win memory | gdi N [RESIZE_EVERY]\n");
    return 2;
  }
  const HWND h = FindWindowW(kDialogClass, kMeterTitle);
  if (!h) {
    std::fprintf(stderr, "bench_win: no meter window\n");
    return 1;
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) {
    std::fprintf(stderr, "bench_win: cannot open the meter's process (%lu)\n", GetLastError());
    return 1;
  }
  std::printf("meter pid %lu\n", pid);
  const std::string_view what = argv[1];
  if (what == "memory") {
    Print("now", Take(process, pid));
    return 0;
  }
  if (what == "gdi" && argc >= 3)
    return Gdi(h, process, pid, std::atol(argv[2]), argc > 3 ? std::atol(argv[3]) : 100);
  std::fprintf(stderr, "bench_win: unknown command\n");
  return 2;
}
