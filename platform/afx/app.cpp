// The program's entry point and the application object's services.
#include "platform/afx/app.h"

#include <float.h>

#include <vector>

#include "platform/command_line.h"
#include "platform/text.h"

namespace tovmir {
namespace {

CWinApp* g_app = nullptr;

}  // namespace

void CCommandLineInfo::ParseParam(const char* param, BOOL flag, BOOL) {
  if (flag) {
    if (!lstrcmpiA(param, "p"))
      m_nShellCommand = FilePrint;
    else if (!lstrcmpiA(param, "pt"))
      m_nShellCommand = FilePrintTo;
    else if (!lstrcmpiA(param, "dde"))
      m_nShellCommand = FileDDE;
    else if (!lstrcmpiA(param, "Automation"))
      m_nShellCommand = AppAutomation;
    else if (!lstrcmpiA(param, "Embedding"))
      m_nShellCommand = AppEmbedding;
    return;
  }
  if (m_strFileName.IsEmpty()) {
    m_strFileName = param;
    if (m_nShellCommand == FileNew) m_nShellCommand = FileOpen;
  } else if (m_nShellCommand == FilePrintTo) {
    // After /pt: the printer, its driver and its port.
    CString* next = m_strPrinterName.IsEmpty()  ? &m_strPrinterName
                    : m_strDriverName.IsEmpty() ? &m_strDriverName
                    : m_strPortName.IsEmpty()   ? &m_strPortName
                                                : nullptr;
    if (next) *next = param;
  }
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
  const wchar_t* line = GetCommandLineW();
  const auto* line16 = reinterpret_cast<const char16_t*>(line);
  const std::vector<std::u16string> args = SplitCommandLine(line16);
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string a = Cp932FromUtf16(args[i]);
    const bool flag = !a.empty() && (a[0] == '/' || a[0] == '-');
    info.ParseParam(flag ? a.c_str() + 1 : a.c_str(), flag, i + 1 == args.size());
  }
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }
HINSTANCE AfxGetResourceHandle() { return GetModuleHandleW(nullptr); }

}  // namespace tovmir

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Double precision, as the Microsoft run-time library sets it: the figure's arithmetic
  // must come out the same as on every other build.
  _controlfp(_PC_53, _MCW_PC);
  tovmir::CWinApp* app = tovmir::AfxGetApp();
  if (!app) return 1;
  app->InitInstance();  // runs the program's window; its result only says "do not go on"
  return app->ExitInstance();
}
