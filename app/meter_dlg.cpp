#include "app/meter_dlg.h"

#include "app/about_dlg.h"
#include "app/meter_app.h"
#include "app/meter_paint.h"
#include "meter/figure.h"
#include "platform/afx/gdi.h"
#include "platform/port_names.h"
#include "receiver/receiver.h"

namespace tovmir {
namespace {

constexpr UINT_PTR kWatchdogTimer = 1;

}  // namespace

BEGIN_MESSAGE_MAP(CMeterDlg, CDialog)
  ON_WM_SYSCOMMAND()
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_SIZE()
  ON_WM_TIMER()
END_MESSAGE_MAP()

CMeterDlg::CMeterDlg(CWnd* pParent)
    : CDialog(IDD_METER_DIALOG, pParent),
      m_hIcon(LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CMeterDlg::~CMeterDlg() { CloseSerialLink(m_link); }

BOOL CMeterDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
    CString strAboutMenu;
    strAboutMenu.LoadString(IDS_ABOUTBOX);
    if (!strAboutMenu.IsEmpty()) {
      pSysMenu->AppendMenu(MF_SEPARATOR);
      pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
    }
  }

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  m_hRedraw = m_hWnd;  // from now on the reader's bytes repaint the window
  const CString& name = static_cast<CMeterApp*>(AfxGetApp())->m_cmdInfo.m_strFileName;
  const CString port = name.IsEmpty() ? CString(DefaultPort().c_str()) : name;
  if (OpenSerialLink(m_link, port, *this))
    m_nTimerId = SetTimer(m_hWnd, kWatchdogTimer, kWatchdogMs, nullptr);
  return TRUE;
}

void CMeterDlg::LinkOpenFailed(const std::string& text, const std::string& caption,
                               const OsError&) {
  MessageBox(text.c_str(), caption.c_str(), MB_ICONINFORMATION);
}

void CMeterDlg::RequestRedraw() {
  if (HWND h = m_hRedraw.load())
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

BOOL CMeterDlg::DestroyWindow() {
  m_hRedraw = nullptr;
  if (m_nTimerId) {
    KillTimer(m_hWnd, m_nTimerId);
    m_nTimerId = 0;
  }
  return CDialog::DestroyWindow();
}

void CMeterDlg::OnSysCommand(UINT nID, LPARAM lParam) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  } else {
    CDialog::OnSysCommand(nID, lParam);
  }
}

void CMeterDlg::OnPaint() {
  CPaintDC dc(this);
  if (IsIconic()) {
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
  } else {
    PaintMeter(dc, m_cxClient, m_cyMeter, m_state);
  }
}

HCURSOR CMeterDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CMeterDlg::OnSize(UINT nType, int cx, int cy) {
  CDialog::OnSize(nType, cx, cy);
  m_cxClient = cx;
  m_cyMeter = MeterHeight(cy);
  RequestRedraw();
}

void CMeterDlg::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent == kWatchdogTimer) WatchdogTick(m_state, *this);
  CDialog::OnTimer(nIDEvent);
}

}  // namespace tovmir
