/* resource_ids.h -- ids shared by kestovar.rc and the window code: menus,
** commands, dialogs and their controls, icons, bitmaps and strings.
** Plain #defines, since the resource compiler reads this file too. */
#pragma once

/* ---- icons (class icons and tab icons) ---- */
#define IDI_FRAME    101
#define IDI_CHART    103
#define IDI_GRAPH    105
#define IDI_LOG      107
#define IDI_PLOT     109
#define IDI_RESGRAPH 111
#define IDI_RESULTS  113
#define IDI_SCAN     115
#define IDI_COMPARE  116
#define IDI_SCRIPT   117
#define IDI_TRADES   119

/* ---- bitmaps ---- */
#define IDB_LOGO       180
#define IDB_SORT_FIRST 2000 /* 2000 blank, 2001..2004 ascending keys, 2005..2008 descending */

/* ---- menus of the window kinds ---- */
#define IDR_MENU_CHART    10001
#define IDR_MENU_COMPARE  10002
#define IDR_MENU_GRAPH    10003
#define IDR_MENU_LIST     10004
#define IDR_MENU_LOG      10005
#define IDR_MENU_FRAME    10006
#define IDR_MENU_PLOT     10007
#define IDR_MENU_RESGRAPH 10008
#define IDR_MENU_RESULTS  10009
#define IDR_MENU_SCAN     10010
#define IDR_MENU_SCRIPT   10011
#define IDR_MENU_TRADES   10012

#define IDR_ACCELERATORS 150

/* ---- dialogs ---- */
#define IDD_ABOUT          201
#define IDD_DEBUG_PANEL    205
#define IDD_LOG_OPTIONS    211
#define IDD_SETTINGS_PANEL 215
#define IDD_WINDOW_LIST    250

/* ---- dialog controls ---- */
#define IDC_ABOUT_LOGO      1001
#define IDC_ABOUT_VERSION   1181
#define IDC_PANEL_DATA_FILE 1031
#define IDC_EDIT_SCRIPT     1037
#define IDC_LOG_FONT        1045
#define IDC_LOG_TAB         1161
#define IDC_LOG_ZOOM        1162
#define IDC_LOG_TAB_SPIN    1163
#define IDC_LOG_ZOOM_SPIN   1164
#define IDC_WL_ACTIVATE     1316
#define IDC_WL_CLOSE        1318
#define IDC_WL_LIST         1319

/* ---- commands ---- */
#define IDM_WINDOW_LIST       1009
#define IDM_RECENT_FIRST      5000
#define IDM_RECENT_LAST       5008
#define IDM_LOAD_DATA         40021
#define IDM_SELECT_DATA       40023
#define IDM_LOG_DATA_INFO     40024
#define IDM_UNLOAD_DATA       40025
#define IDM_SHOW_CHART        40029
#define IDM_COPY              40031
#define IDM_CUT               40033
#define IDM_DELETE            40035
#define IDM_FIND              40037
#define IDM_FIND_NEXT         40039
#define IDM_FIND_IN_FILES     40040
#define IDM_PASTE             40041
#define IDM_REDO              40043
#define IDM_REPLACE           40045
#define IDM_SELECT_ALL        40047
#define IDM_UNDO              40049
#define IDM_EXIT              40051
#define IDM_NEW_LOG           40053
#define IDM_NEW_RESULTS       40055
#define IDM_NEW_SCRIPT        40057
#define IDM_OPEN              40059
#define IDM_OPEN_UNDER_CURSOR 40060
#define IDM_SAVE              40061
#define IDM_SAVE_ALL          40063
#define IDM_SAVE_AS           40065
#define IDM_ABOUT             40076
#define IDM_HELP_TOPICS       40077
#define IDM_LIST_CHART        40078
#define IDM_COPY_LIST         40081
#define IDM_SAVE_LIST_CSV     40082
#define IDM_LOG_OPTIONS       40083
#define IDM_RESULTS_GRAPHS    40131
#define IDM_RESULTS_PLOTS     40133
#define IDM_RESULTS_OPTGRAPH  40135
#define IDM_RESULTS_REPORT    40139
#define IDM_RESULTS_TRADES    40141
#define IDM_RUN_APPLY         40143
#define IDM_COMMENT           40145
#define IDM_UNCOMMENT         40149
#define IDM_RUN_TEST          40150
#define IDM_RUN_OPTIMIZE      40151
#define IDM_RUN_IMPORT        40152
#define IDM_RUN_SCAN          40153
#define IDM_RUN_ORDERS        40154
#define IDM_STOP              40155
#define IDM_DEBUG_PANEL       40160
#define IDM_SETTINGS_PANEL    40161
#define IDM_STATUS_BAR        40162
#define IDM_TOOL_BAR          40163
#define IDM_WINDOW_TABS       40164
#define IDM_CASCADE           40170
#define IDM_CLOSE_ALL_KIND    40171
#define IDM_TILE              40172
#define IDM_TILE_ALL_KIND     40173
#define IDM_CHART_FORMULAS    40174
#define IDM_CHART_REFRESH     40175
#define IDM_COPY_IMAGE        40193
#define IDM_SAVE_IMAGE        40195
#define IDM_PROGRAM_OPTIONS   40207
#define IDM_REPORT_OPTIONS    40208
#define IDM_CHECK_UPDATES     40214
#define IDM_RELEASE_NOTES     40215
#define IDM_COPY_ROW          40216
#define IDM_RENAME_TEST       40129
#define IDM_SWALLOWED_KEY     65535

/* ---- script windows (script editor) ---- */
#define IDM_SUGGEST_CHOICES   40148

/* ---- strings beside the command texts ---- */
#define IDS_READY 1

/* ---- results, trade list, scan and compare windows: commands, dialogs, controls ---- */
#define IDM_RESULTS_COMPARE   40116
#define IDM_DELETE_TEST       40117
#define IDM_DELETE_ALL_TESTS  40119
#define IDM_LOG_TEST_SETTINGS 40125
#define IDM_UNIQUE_SYMBOLS    40127
#define IDM_SHOW_TEST_SCRIPT  40137
#define IDM_SAVE_STATS_CSV    40205
#define IDM_SAVE_TRADES_CSV   40206
#define IDM_LOG_OPT_SUMMARY   40213
#define IDM_SAVE_ALL_CHARTS   40079
#define IDM_DEBUG_ROW         40080
#define IDM_COMPARE_SETTINGS  40209
#define IDM_FIND_LEFT_TRADE   40210
#define IDM_FIND_RIGHT_TRADE  40211
#define IDD_RENAME_TEST       221
#define IDD_COMPARE_TRADES    253
#define IDC_RENAME_TEXT       1101
#define IDC_CMP_TEST1         1167
#define IDC_CMP_TEST2         1168
#define IDC_CMP_STRAT1        1155
#define IDC_CMP_STRAT2        1156
#define IDC_CMP_MIN_DOLLARS   1370
#define IDC_CMP_MIN_PERCENT   1371
#define IDC_CMP_STRATEGY      1374
#define IDC_CMP_DATE_IN       1376
#define IDC_CMP_DATE_OUT      1377
#define IDC_CMP_MATCHES       1378
#define IDC_CMP_NON_MATCHES   1379
#define IDC_CMP_ACCOUNT_PCT   1380
