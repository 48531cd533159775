/* Resource ids of Quillon, shared by the resource script (quillon.rc) and the
   program. Plain macros only: the resource compiler reads this file too. */
#ifndef QUILLON_RES_RESOURCE_H
#define QUILLON_RES_RESOURCE_H

/* Dialog templates */
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_PROGRESS 134

/* Icons */
#define IDI_ABOUT 154
#define IDI_MAIN 168

/* Strings (the tooltips are the strings under their control's id) */
#define IDS_ABOUT_MENU 101 /* the system menu's About entry; not in the table */
#define IDS_APP_TITLE 103

/* Controls without an id */
#define IDC_NONE (-1)

/* Main dialog */
#define IDC_FLASH_NOW 1
#define IDC_ABOUT 100
#define IDC_TYPE_LABEL 1004
#define IDC_PORT_LABEL 1005
#define IDC_BAUD_LABEL 1006
#define IDC_PARITY_LABEL 1007
#define IDC_STOP_LABEL 1008
#define IDC_DATA_BITS_LABEL 1009
#define IDC_DATA_FLOW_LABEL 1010
#define IDC_TYPE_LIST 1012
#define IDC_PORT_LIST 1013
#define IDC_BAUD_LIST 1014
#define IDC_PARITY_LIST 1015
#define IDC_STOP_LIST 1016
#define IDC_FILE_BOX 1017
#define IDC_DATA_BITS 1018
#define IDC_DATA_FLOW 1019
#define IDC_BROWSE 1020
#define IDC_EXIT 1030
#define IDC_SERIAL 1041
#define IDC_PARALLEL 1042
#define IDC_USB 1044

/* About dialog: its OK button closes it as Cancel does */
#define IDC_ABOUT_OK 2

/* Progress dialog */
#define IDC_PROGRESS_BAR 1021
#define IDC_PROGRESS_GROUP 1022
#define IDC_PROGRESS_CANCEL 1046

/* Version: the build makes quillon_version.h from project() in the top
   CMakeLists.txt; without a build (the resource compiler run by hand) it
   reads 0.0.0. */
#if defined(__has_include)
#if __has_include("quillon_version.h")
#include "quillon_version.h"
#endif
#endif
#ifndef QUILLON_VERSION_MAJOR
#define QUILLON_VERSION_MAJOR 0
#define QUILLON_VERSION_MINOR 0
#define QUILLON_VERSION_PATCH 0
#define QUILLON_VERSION_TEXT "0.0.0"
#endif

#endif /* QUILLON_RES_RESOURCE_H */
