// meter_app.h: the application object. It keeps the parsed command line for the meter
// window, which takes the port name from it, and runs that window modally.
#pragma once

#include "platform/afx/app.h"

namespace tovmir {

class CMeterApp final : public CWinApp {
 public:
  CMeterApp() = default;  // no application name, as the framework's default
  ~CMeterApp() override = default;

  BOOL InitInstance() override;

  CCommandLineInfo m_cmdInfo;

  DECLARE_MESSAGE_MAP()
};

extern CMeterApp theApp;

}  // namespace tovmir
