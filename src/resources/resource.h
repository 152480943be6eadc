// Resource identifiers of setup.exe.
#pragma once

// Icons.
#define IDI_SETUP 128
#define IDI_MAIL 149
#define IDI_RESULT 151

// String table.
#define IDS_DEFAULT_INSTALL_PATH 1
#define IDS_PRODUCT_KEY 2
#define IDS_INTERNET_PATH 3
#define IDS_APP_TITLE 57344

// Dialog templates.
#define IDD_WELCOME 131
#define IDD_SETTINGS_FIRST 132
#define IDD_PROGRESS 133
#define IDD_SETTINGS_UPDATE 135
#define IDD_MAIL_SCANNER 147
#define IDD_RESULT 150

// Dialog controls.
#define IDC_SOURCE_PATH 1000
#define IDC_PROGRESS_BAR 1001
#define IDC_INSTALL_PATH 1007
#define IDC_UPDATE_BANNER 1011
#define IDC_PROGRESS_SOURCE 1012
#define IDC_PROGRESS_TARGET 1014
#define IDC_PROGRESS_OPERATION 1015
#define IDC_RUN_MAILCONF 1038
#define IDC_DONT_SHOW_AGAIN 1039
#define IDC_RESULT_TEXT 1040
#define IDC_RESULT_SECOND_TEXT 1041

// "Please enter no more than %1 characters." (the edit fields' length limit).
#define IDS_TEXT_TOO_LONG 61716
