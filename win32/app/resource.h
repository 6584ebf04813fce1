// Resource and control ids of Kestrane.exe, shared by the resource script
// (kestrane.rc), the application and the programs that drive it in tests.
#pragma once

// ---- Menu ----
#define IDR_MAINMENU 106
#define ID_FILE_OPEN 40004 // "&Open..."; "E&xit" is IDCLOSE (8)
#define ID_HELP_ABOUT 40005

// ---- String table ----
#define IDS_COPYRIGHT 4 // shown in the About box only
#define IDS_CAPTION 5   // "Kestrane"

// ---- Pictures and icon ----
#define IDB_BACKGROUND 40004 // resource type "PNG", 500x200
#define IDI_MAINICON 115

// ---- Port-selection dialog: IDOK, IDCANCEL and the list ----
#define IDD_SELECT_PORT 116
#define IDC_PORT_LIST 1031

// ---- Confirmation dialog: IDOK ("Update Now"), IDCANCEL ("Close") and the question ----
#define IDD_CONFIRM_UPDATE 119
#define IDC_CONFIRM_TEXT 1034

// ---- The main window's rows below the picture ----
#define IDC_PROGRESS_BAR 1035
#define IDC_STATUS_LINE 1036
#define IDC_SUMMARY_LINE 1037
