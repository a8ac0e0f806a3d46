#pragma once
// Resource ids of the program's pictures.
#define IDI_QUILLON 1
#define IDI_REFRESH 101
#define IDI_SOCIAL 102
#define IDC_HANDPOINTER 103

// Control ids of the main window, in tab order (the order they are made);
// the end-to-end tests find the controls by them.
#define IDC_TEXT2 100
#define IDC_CHECK1 101
#define IDC_CHECK2 102
#define IDC_COMMAND1 103
#define IDC_TEXT1 104
#define IDC_LABEL1 105
#define IDC_LABEL2 106
#define IDC_LABEL3 107
#define IDC_LABEL4 108
#define IDC_IMAGE1 109
#define IDC_IMAGE2 110
