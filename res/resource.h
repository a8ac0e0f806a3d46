#pragma once
// Resource ids of the program's pictures.
#define IDI_QUILLON 1
#define IDI_REFRESH 101
#define IDI_SOCIAL 102
#define IDC_HANDPOINTER 103
