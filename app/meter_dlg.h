// meter_dlg.h: the meter window. It owns what the meter knows (MeterState) and the serial
// link, routes the window's messages to the receiver logic and the painter, and offers the
// about box from its system menu.
//
// Threads (receiver.h says what every front end keeps to): every handler runs on the
// window's thread, the watchdog's WM_TIMER included. The reader thread decodes each byte
// itself, without a lock (LinkByte), and through the decoder calls RequestRedraw, which
// has the window repainted on the window's thread before it returns (RDW_UPDATENOW), and
// does nothing once the window is going away. The painter reads the state's fields whole.
#pragma once

#include <atomic>

#include "platform/afx/window.h"
#include "receiver/receiver.h"
#include "res/resource.h"
#include "serial/serial_link.h"

namespace tovmir {

class CMeterDlg final : public CDialog, public LinkOwner, public RedrawSink {
 public:
  explicit CMeterDlg(CWnd* pParent = nullptr);
  ~CMeterDlg() override;

  BOOL DestroyWindow() override;
  void RequestRedraw() override;

  void LinkByte(std::uint8_t b) override { ReceiveByte(m_state, b, *this); }
  void LinkOpenFailed(const std::string& text, const std::string& caption,
                      const OsError& why) override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { CDialog::DoDataExchange(pDX); }
  BOOL OnInitDialog() override;

  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnSize(UINT nType, int cx, int cy);
  void OnTimer(UINT_PTR nIDEvent);

  DECLARE_MESSAGE_MAP()

 private:
  HICON m_hIcon;
  SerialLink m_link;  // m_hComm, m_hReader, m_dwReaderId
  int m_cxClient = 0;
  int m_cyMeter = 1;
  MeterState m_state;
  UINT_PTR m_nTimerId = 0;
  // The window RequestRedraw repaints; empty before it exists and once it is going away.
  std::atomic<HWND> m_hRedraw{nullptr};
};

}  // namespace tovmir
