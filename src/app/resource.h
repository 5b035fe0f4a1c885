#pragma once

// Resource and control ids of vornix.exe.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VORNIX_DIALOG 102
#define IDP_SOCKETS_INIT_FAILED 103
#define IDD_GANG_WINDOW 104
#define IDD_GANG_LOG 105
#define IDD_SERIAL_PROMPT 106
#define IDR_MAINFRAME 128
#define IDB_BANNER 130

#define IDC_LOG_LIST 1000
#define IDC_START 1001
#define IDC_MAC_WRITING 1002
#define IDC_BOOT_UPDATE 1003
#define IDC_FIRMWARE_UPDATE 1004
#define IDC_SCRATCH_LIST 1006
// The serial prompt's edit, and the gang window's scan field.
#define IDC_SERIAL_EDIT 1020
#define IDC_GANG_SCAN 1021
// The gang window: its summary line, and port K's tile, IDC_GANG_TILE + K;
// a tile's own controls carry the IDC_TILE_* ids.
#define IDC_GANG_SUMMARY 1010
#define IDC_GANG_TILE 2000
#define IDC_TILE_TITLE 1
#define IDC_TILE_STATE 2
#define IDC_TILE_MAC 3
#define IDC_TILE_ELAPSED 4
#define IDC_TILE_LINE 5
#define IDC_TILE_STAGE 6
#define IDC_TILE_SERIAL 7

// The About item of the system menu; 16 to 31 all open the box.
#define IDM_ABOUTBOX 0x0010
