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
