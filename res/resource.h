// Resource IDs of torvane.exe, shared by res/torvane.rc and the dialog code.
#pragma once

// Dialogs.
#define IDD_ABOUTBOX 100
#define IDD_TORVANE_DIALOG 102

// Strings.
#define IDS_ABOUTBOX 101

// The application icon and the logo shown in both dialogs.
#define IDR_MAINFRAME 128
#define IDB_LOGO 129

// Controls of the main dialog.
#define IDC_LOGO 1001
#define IDC_DEVICES_LABEL 1002
#define IDC_DEVICES 1003
#define IDC_PATH_STATUS 1004
#define IDC_VERSION 1005
#define IDC_SCAN 1006
#define IDC_UPDATE 1007

// The "About" command added to the system menu. System menu commands must stay below 0xF000,
// and the low four bits are the system's own, so the value is a multiple of 16.
#define IDM_ABOUTBOX 0x0010
// "Save report log…", the entry after it.
#define IDM_SAVELOG 0x0020

// Labels that the code never addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
