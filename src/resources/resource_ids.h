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

/* ---- trade plot and results graph windows ---- */
#define IDM_PLOT_CUMULATIVE       40085
#define IDM_PLOT_DOLLARS          40086
#define IDM_PLOT_PROFIT_DIST      40087
#define IDM_PLOT_EXCURSION_DIST   40088
#define IDM_PLOT_COUNT_BINS       40089
#define IDM_PLOT_BY_FORMULA       40093
#define IDM_PLOT_MC_PROFITS       40095
#define IDM_PLOT_MC_DRAWDOWNS     40097
#define IDM_PLOT_OPTIONS          40099
#define IDM_PLOT_TRADE_PERCENT    40100
#define IDM_PLOT_ALLOC_PERCENT    40101
#define IDM_PLOT_SCATTER          40102
#define IDM_PLOT_LOG_STATS        40103
#define IDM_PLOT_BY_TRADE         40105
#define IDM_PLOT_TREND            40107
#define IDM_PLOT_RANGE_BINS       40109
#define IDM_PLOT_CROSS_HAIR       40084
#define IDM_RESGRAPH_HEAT_MAP     40111
#define IDM_RESGRAPH_OPTIONS      40113
#define IDM_RESGRAPH_SORT         40115
#define IDM_RESGRAPH_REFRESH      40175
#define IDM_RESGRAPH_TREND        40212
#define IDC_RESGRAPH_TABS         999
#define IDD_PLOT_OPTIONS          219
#define IDD_RESGRAPH_OPTIONS      227
#define IDC_RG_BAR_CHART          1015
#define IDC_RG_HEAT_MAP           1065
#define IDC_RG_SORTED             1149
#define IDC_RG_TREND              1175
#define IDC_RG_X_VAR              1191
#define IDC_RG_Y_VAR              1193
#define IDC_RG_Y_GROUP            1240
#define IDC_PLOT_STRATEGY         1155
#define IDC_PLOT_SORT_BY          1189
#define IDC_PLOT_TRADE_VALUE      1190
#define IDC_PLOT_TYPE             1125
#define IDC_PLOT_MC_SAMPLES       1099
#define IDC_PLOT_MC_SHOW          1102
#define IDC_PLOT_CROSS_HAIR       1029
#define IDC_PLOT_TREND            1175
#define IDC_PLOT_LOG_STATS        1091
#define IDC_PLOT_USE_MAX          1202
#define IDC_PLOT_MAX              1203
#define IDC_PLOT_USE_MIN          1204
#define IDC_PLOT_MIN              1205
#define IDC_PLOT_DIST_BINS        1022
#define IDC_PLOT_COUNT_BINS       1021
#define IDC_PLOT_RANGE_INCR       1023
#define IDC_PLOT_FORMULA          1047
/* ---- the Optimizer dialog (213; controls 1049..1420 as the settings name them) ---- */
#define IDD_OPTIMIZER          213
#define IDC_OPT_MUTATE         1049
#define IDC_OPT_MUTATE_SPIN    1050
#define IDC_OPT_LENGTH         1069
#define IDC_OPT_LENGTH_SPIN    1070
#define IDC_OPT_INTERVAL       1071
#define IDC_OPT_INTERVAL_SPIN  1072
#define IDC_OPT_ITERATIONS     1073
#define IDC_OPT_ITERATIONS_SPIN 1074
#define IDC_OPT_KEEP_BY_DATE   1105
#define IDC_OPT_CLEAR_RESULTS  1107
#define IDC_OPT_KEEP_BEST      1109
#define IDC_OPT_KEEP_BEST_SPIN 1110
#define IDC_OPT_MODE_FIRST     1113 /* five radio buttons, OptimizeMode order */
#define IDC_OPT_MODE_SEQUENTIAL 1114
#define IDC_OPT_MODE_GENETIC   1115
#define IDC_OPT_MODE_RANDOM    1116
#define IDC_OPT_MODE_LAST      1117
#define IDC_OPT_SORT_RESULTS   1123
#define IDC_OPT_SCORE_COL      1135
#define IDC_OPT_UNIT_COUNT     1171
#define IDC_OPT_TEST_COUNT     1173
#define IDC_OPT_PARAMS         1179
#define IDC_OPT_WALK_FORWARD   1187
#define IDC_OPT_TIME_UNIT      1206
#define IDC_OPT_BY_SYMBOL      1207
#define IDC_OPT_KEEP_BY_SYMBOL 1208
#define IDC_OPT_ANCHOR         1212
#define IDC_OPT_SELECT_ALL     1213
#define IDC_OPT_CLEAR_ALL      1214
#define IDC_OPT_BY_STRATEGY    1401
#define IDC_OPT_SUMMARY_LOG    1407
#define IDC_OPT_MULTI_SAVE     1416
#define IDC_OPT_KEEP_NO_TRADES 1420

/* ---- script windows (script editor) ---- */
#define IDM_SUGGEST_CHOICES   40148
#define IDD_FIND_IN_FILES     232
#define IDC_FIF_WHAT          1242
#define IDC_FIF_TYPES         1243
#define IDC_FIF_FOLDER        1244
#define IDC_FIF_BROWSE        1245
#define IDC_FIF_SUBFOLDERS    1246
#define IDC_FIF_WHOLE_WORD    1247
#define IDC_FIF_MATCH_CASE    1248
#define IDC_FIF_TREE          1249
#define IDC_FIF_LABEL         1250
#define IDC_FIF_FIND_ALL      1395
#define IDM_SCRIPT_OPTIONS    40147
#define IDD_SCRIPT_OPTIONS    223
#define IDC_SO_AUTOCOMP       1007
#define IDC_SO_AUTOCDESC      1009
#define IDC_SO_HIGHLIGHT      1010
#define IDC_SO_BACKGROUND     1011
#define IDC_SO_CALLTIPS       1025
#define IDC_SO_FONT           1045
#define IDC_SO_PREVIEW        1131
#define IDC_SO_TAB            1161
#define IDC_SO_ZOOM           1162
#define IDC_SO_TAB_SPIN       1163
#define IDC_SO_ZOOM_SPIN      1164
#define IDC_SO_BACKUPS        1165
#define IDC_SO_MARGIN_CLICK   1361
#define IDC_SO_DYNAMIC_TABS   1398
#define IDC_SO_CARET          1402

/* ---- chart window commands ---- */
#define IDM_CHART_CANDLES         40001
#define IDM_CHART_BLACK           40002
#define IDM_CHART_CURSOR          40003
#define IDM_CHART_INDICATOR_PANE  40005
#define IDM_CHART_VOLUME_PANE     40006
#define IDM_CHART_JUMP            40007
#define IDM_CHART_INFO            40008
#define IDM_CHART_LOG             40009
#define IDM_CHART_NEXT            40011
#define IDM_CHART_OPTIONS         40013
#define IDM_CHART_PREVIOUS        40015
#define IDM_CHART_SPLIT           40017
#define IDM_CHART_DATA            40018
#define IDM_CHART_CROSS_HAIR      40019
#define IDM_CHART_ALL_BARS        40020
#define IDM_CHART_DAILY           40200
#define IDM_CHART_WEEKLY          40201
#define IDM_CHART_MONTHLY         40202
#define IDM_CHART_QUARTERLY       40203
#define IDM_CHART_YEARLY          40204

/* ---- statistics graph window commands ---- */
#define IDM_GRAPH_DATA            40067
#define IDM_GRAPH_OPTIONS         40069
#define IDM_GRAPH_CURSOR          40070
#define IDM_GRAPH_SORT            40071
#define IDM_GRAPH_LOG             40072
#define IDM_GRAPH_MOVING_AVERAGE  40073
#define IDM_GRAPH_FULL_RANGE      40074
#define IDM_GRAPH_AREA            40191
#define IDM_GRAPH_FIXED_HEIGHT    40192
#define IDM_GRAPH_TAB_FIRST       5100
#define IDM_GRAPH_TAB_LAST        5199

/* ---- chart and graph option dialogs ---- */
#define IDD_CHART_OPTIONS         203
#define IDD_GRAPH_OPTIONS         209
#define IDD_SHOW_CHART            225
#define IDC_VIEW_SYMBOL_LIST      1083
#define IDC_VIEW_SYMBOL_EDIT      1157
#define IDC_VIEW_RADIO_ENTRY      1003
#define IDC_VIEW_RADIO_EXIT       1005
#define IDC_VIEW_EXTRA_SPIN       1013
#define IDC_VIEW_CANDLES          1027
#define IDC_VIEW_CROSS_HAIR       1029
#define IDC_VIEW_EXTRA            1041
#define IDC_VIEW_LABEL_FONT       1045
#define IDC_VIEW_IND_PANE         1067
#define IDC_VIEW_VOL_PANE         1068
#define IDC_VIEW_LOG              1089
#define IDC_VIEW_BAR_SIZE         1094
#define IDC_VIEW_WHEEL            1095
#define IDC_VIEW_MA_LENGTH        1095
#define IDC_VIEW_MA_SPIN          1097
#define IDC_VIEW_COLOR_LIST       1131
#define IDC_VIEW_SHOW_MA          1147
#define IDC_VIEW_SORT             1149
#define IDC_VIEW_SPLIT            1151
#define IDC_VIEW_VISIBLE_SPIN     1183
#define IDC_VIEW_VISIBLE          1185
#define IDC_VIEW_BLACK            1195
#define IDC_VIEW_ENTRY_EXIT       1201
#define IDC_VIEW_LINE_WIDTH       1211
#define IDC_VIEW_LINE_WIDTH_SPIN  1220
#define IDC_VIEW_IND_PCT          1222
#define IDC_VIEW_VOL_PCT          1223
#define IDC_VIEW_IND_PCT_SPIN     1224
#define IDC_VIEW_VOL_PCT_SPIN     1225
#define IDC_VIEW_LOG_SCALE        1239
#define IDC_VIEW_AREA             1258
#define IDC_VIEW_STRATEGY_LIST    1340
#define IDC_VIEW_UP_BAR           1403
#define IDC_VIEW_DOWN_BAR         1404
#define IDC_VIEW_OTHER_TRADES     1405
#define IDC_VIEW_FIXED_HEIGHT     1415

/* ---- strings beside the command texts ---- */
#define IDS_READY 1

/* ---- settings panel, debug panel and the option dialogs ---- */
#define IDD_PROGRAM_OPTIONS 229
#define IDD_REPORT_OPTIONS  252
/* settings panel (215) */
#define IDC_SP_BAR_COUNT     1017
#define IDC_SP_BAR_SPIN      1019
#define IDC_SP_EARLIEST      1035
#define IDC_SP_FIRST_DATE    1043
#define IDC_SP_LAST_DATE     1079
#define IDC_SP_LATEST        1081
#define IDC_SP_LOAD          1085
#define IDC_SP_BAR_SIZE      1094
#define IDC_SP_DATA_SELECT   1103
#define IDC_SP_SCRIPT        1137
#define IDC_SP_SCRIPT_SELECT 1139
#define IDC_SP_ADD_GRAPH     1145
#define IDC_SP_ACCOUNT       1153
#define IDC_SP_TEST_NAME     1169
#define IDC_SP_ADD_REPORT    1278
#define IDC_SP_ADD_TRADES    1279
#define IDC_SP_ADD_SCAN      1280
#define IDC_SP_ADD_DEBUG     1281
#define IDC_SP_ADD_LOG       1301
#define IDC_SP_KEEP_TRADES   1303
#define IDC_SP_KEEP_SKIPPED  1314
#define IDC_SP_KEEP_BENCH    1315
/* debug panel (205) */
#define IDC_DP_BARS       1017
#define IDC_DP_BARS_SPIN  1019
#define IDC_DP_DATE       1033
#define IDC_DP_EVALUATE   1039
#define IDC_DP_FORMULA    1047
#define IDC_DP_DATA       1087
#define IDC_DP_STATS      1091
#define IDC_DP_CHART      1141
#define IDC_DP_SHOW_EVAL  1143
#define IDC_DP_GRAPH      1145
#define IDC_DP_STRATEGY   1155
#define IDC_DP_SYMBOL     1157
#define IDC_DP_TEST       1167
#define IDC_DP_POSITIONS  1268
/* Program Options (229): the settings' own controls, then the dialog's others */
#define IDC_PO_THREADS          1230
#define IDC_PO_MEMORY           1234
#define IDC_PO_SCRIPT_PATH      1334
#define IDC_PO_DATA_PATH        1336
#define IDC_PO_OUTPUT_PATH      1338
#define IDC_PO_DATE_FORMAT      1357
#define IDC_PO_SCRIPT_SELECT    1601
#define IDC_PO_DATA_SELECT      1602
#define IDC_PO_OUTPUT_SELECT    1603
#define IDC_PO_THREADS_SPIN     1604
#define IDC_PO_MEMORY_SPIN      1605
#define IDC_PO_CORES            1606
#define IDC_PO_MEMORY_TEXT      1607
#define IDC_PO_DATE_EXAMPLE     1608
#define IDC_PO_SETTINGS_COLOUR  1609
#define IDC_PO_DEBUG_COLOUR     1610
/* Report Options (252) */
#define IDC_RO_REFRESH_INDEX 1353
#define IDC_RO_OPEN_FOLDER   1355
