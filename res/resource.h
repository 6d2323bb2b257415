// resource.h: ids of the program's resources and its one menu command. Shared by the
// resource script and the code.
#pragma once

#define IDM_ABOUTBOX 0x0010  // system-menu command: the about box
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_METER_DIALOG 102
#define IDR_MAINFRAME 128

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
