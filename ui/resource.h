// Resource and control ids of the progress dialog, shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS_JAPANESE 102
#define IDD_PROGRESS_ENGLISH 103
#define IDC_CANCEL_BUTTON 1000
#define IDC_STATUS_LINE 1001
#define IDC_ITEM_BAR 1002
#define IDC_TOTAL_BAR 1003
#define IDI_APPLICATION_ICON 1
