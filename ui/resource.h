// Control ids of the progress dialog and the icon's resource id, shared by the resource script and the code.
// Each dialog template's id is its language's row in ui/languages.h.
#pragma once

#define IDC_CANCEL_BUTTON 1000
#define IDC_STATUS_LINE 1001
#define IDC_ITEM_BAR 1002
#define IDC_TOTAL_BAR 1003
#define IDI_APPLICATION_ICON 1
