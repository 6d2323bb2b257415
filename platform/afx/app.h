// app.h: the application object and its start-up, in the manner of MFC.
//
// The program defines one global object derived from CWinApp; the program's entry point
// (platform/afx/app.cpp) finds it, calls InitInstance once on the main thread and ends the
// process with ExitInstance's result. There is no message loop of the framework's own: the
// program's InitInstance runs its window modally and returns FALSE, as a dialog-based MFC
// application does. AfxGetApp and AfxGetMainWnd reach the object and its main window from
// any code on that thread.
#pragma once

#include <windows.h>

#include "platform/afx/cstring.h"
#include "platform/afx/window.h"

namespace tovmir {

class CCommandLineInfo {
 public:
  enum ShellCommand {
    FileNew,
    FileOpen,
    FilePrint,
    FilePrintTo,
    FileDDE,
    AppAutomation,
    AppEmbedding
  };
  virtual ~CCommandLineInfo() = default;
  // One argument: a flag (after its / or -) or a plain argument.
  virtual void ParseParam(const char* param, BOOL flag, BOOL last);

  CString m_strFileName;  // the first argument that is not a flag
  CString m_strPrinterName, m_strDriverName, m_strPortName;  // after /pt
  ShellCommand m_nShellCommand = FileNew;
};

class CWinApp : public CCmdTarget {
 public:
  CWinApp();
  ~CWinApp() override;

  virtual BOOL InitInstance() { return FALSE; }
  virtual int ExitInstance() { return 0; }
  // Splits the process's command line as the C run-time library does and hands each
  // argument after the program's name to info.ParseParam.
  void ParseCommandLine(CCommandLineInfo& info);
  // The three-dimensional look is the system's own on every Windows this runs on.
  BOOL Enable3dControls() { return TRUE; }
  // The program ships no help file; F1 has nothing to open.
  void OnHelp() {}

  static const MessageMap* GetThisMessageMap() { return CCmdTarget::GetThisMessageMap(); }
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The module that holds the program's resources.
HINSTANCE AfxGetResourceHandle();

}  // namespace tovmir
