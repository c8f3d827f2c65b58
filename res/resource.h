/* Identifiers shared by tessmere.rc and the program's code. */
#ifndef TESSMERE_RESOURCE_H
#define TESSMERE_RESOURCE_H

#define IDI_APP                 101
#define IDR_TRAYMENU            102
#define IDD_SETTINGS            103

#define IDM_SETTINGS            40002
#define IDM_EXIT                40003
#define IDM_RESTORE             40004
#define IDM_CAPTURE             40005
#define IDM_STOP                40006
#define IDM_OPEN                40007

#define IDC_MINUTES             1000
#define IDC_SECONDS             1001
#define IDC_MINUTES_SPIN        1002
#define IDC_SECONDS_SPIN        1003
#define IDC_MODE_DESKTOP        1009
#define IDC_MODE_FILES          1010
#define IDC_MODE_WINDOW         1011
#define IDC_MODE_NEWWINDOW      1012

/* The names a screen reader gives the interval fields and their up-downs. */
#define IDS_MINUTES_NAME        1100
#define IDS_SECONDS_NAME        1101

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif

#endif
