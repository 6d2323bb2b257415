#include "app/about_dlg.h"

namespace tovmir {

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

}  // namespace tovmir
