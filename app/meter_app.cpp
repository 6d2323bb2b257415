#include "app/meter_app.h"

#include "app/meter_dlg.h"
#include "res/resource.h"

namespace tovmir {

CMeterApp theApp;

BEGIN_MESSAGE_MAP(CMeterApp, CWinApp)
  ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL CMeterApp::InitInstance() {
  Enable3dControls();
  ParseCommandLine(m_cmdInfo);
  {
    CMeterDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
  }              // the window object goes, and with it the serial link
  return FALSE;  // no message loop of our own: the program ends
}

}  // namespace tovmir
