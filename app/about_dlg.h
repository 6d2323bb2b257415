// about_dlg.h: the about box, shown modally from the meter window's system menu.
#pragma once

#include "platform/afx/window.h"
#include "res/resource.h"

namespace tovmir {

class CAboutDlg final : public CDialog {
 public:
  CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
  ~CAboutDlg() override = default;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { CDialog::DoDataExchange(pDX); }

  DECLARE_MESSAGE_MAP()
};

}  // namespace tovmir
