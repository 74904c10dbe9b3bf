#pragma once
// Identifiers shared by the resource script and the code. Plain #defines: windres reads them too.

#define IDD_MAIN_WINDOW 101
#define IDI_APP_ICON 121

#define IDC_PROGRESS_BAR 1001
#define IDC_STATUS_TEXT 1002
#define IDC_CANCEL_BUTTON 1004
