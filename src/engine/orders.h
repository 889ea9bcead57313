/* orders.h -- the order list for the next trading day: order lines and
** files, the CSV order template, the account-value side files and the
** basket weights of rebalancing lists.
**
** Owns:       gOrdersTemplate (the global template), the per-strategy
**             templates (gStrategyTemplates, one per strategy record) and
**             gBasketWeights.  ResetOrderState frees them.
** Files:      an order file is written under a temporary name beside its
**             target; CloseOrderFile with commit renames it over the target
**             only when the caller says the whole list succeeded, so a failed
**             or stopped generation leaves the previous files untouched.
** Errors:     routines return 1, or 0 after reporting.
** Threads:    UI thread only (inside an Orders run).
*/
#pragma once
#include <cstdint>

#include "foundation/file_helpers.h"

struct EvalContext;
struct StrategyRecord;
struct DateList;
struct SymbolRecord;
struct Bar;
struct ContractSpec;
struct PositionRecord;

enum {
    ORDER_TEXT_SIZE = 80,
    ORDER_LINE_SIZE = 1024,
    ORDER_TEMPLATE_COLUMNS = 128,
    ORDER_LINES_GROWTH = 10,
    ORDER_EXTRA_TEXTS = 9
};

/* Kinds of order lines; within a strategy higher kinds come first. */
enum OrderLineKind {
    ORDER_LINE_ENTRY = 0,
    ORDER_LINE_EXIT = 1,
    ORDER_LINE_ROLL = 2,
    ORDER_LINE_NOTE = 3
};

/* Field codes of template columns; ORDER_FIELD_LITERAL writes the column's own text. */
enum OrderField {
    ORDER_FIELD_DATE = 1,
    ORDER_FIELD_SYM,
    ORDER_FIELD_EXPIRY,
    ORDER_FIELD_PTVAL,
    ORDER_FIELD_ACT,
    ORDER_FIELD_EXCH,
    ORDER_FIELD_PRIMARY,
    ORDER_FIELD_CURR,
    ORDER_FIELD_SECTYPE,
    ORDER_FIELD_TYPE,
    ORDER_FIELD_QTY,
    ORDER_FIELD_QTY0,
    ORDER_FIELD_DLR,
    ORDER_FIELD_FRAC,
    ORDER_FIELD_LMT,
    ORDER_FIELD_STP,
    ORDER_FIELD_TIF,
    ORDER_FIELD_GAT,
    ORDER_FIELD_GTD,
    ORDER_FIELD_OCA,
    ORDER_FIELD_ID,
    ORDER_FIELD_PARENT,
    ORDER_FIELD_STRAT,
    ORDER_FIELD_SIDE,
    ORDER_FIELD_MAXENT,
    ORDER_FIELD_EXIT,
    ORDER_FIELD_RTSYM,
    ORDER_FIELD_DOMI,
    ORDER_FIELD_SECTOR,
    ORDER_FIELD_INDU,
    ORDER_FIELD_TRADEID,
    ORDER_FIELD_ALLHOURS,
    ORDER_FIELD_UNIQUEID,
    ORDER_FIELD_NOTE,
    ORDER_FIELD_EXTRA1,
    ORDER_FIELD_EXTRA9 = ORDER_FIELD_EXTRA1 + 8,
    ORDER_FIELD_NOCOMMA,
    ORDER_FIELD_LITERAL,
    ORDER_FIELD_COUNT = ORDER_FIELD_NOCOMMA /* named fields */
};

struct OrderTemplateColumn {
    char literal[ORDER_TEXT_SIZE];
    uint32_t code;
};

struct OrderTemplate {
    char header[ORDER_LINE_SIZE]; /* as read, end of line included */
    OrderTemplateColumn columns[ORDER_TEMPLATE_COLUMNS];
    int32_t columnCount;
    int32_t hasIdAndParent;
};

/* One order being written. */
struct OrderInfo {
    StrategyRecord *strategy;
    SymbolRecord *symbol;
    const Bar *bar;
    int32_t orderDate;
    int32_t isExit;
    int32_t hasOpeningAuction, hasMarketOnClose, hasLimitOnClose, allHours;
    int32_t tradeId;
    char brokerSymbol[ORDER_TEXT_SIZE];
    char localSymbol[ORDER_TEXT_SIZE];
    double expiry, secondContract;
    char secType[4];
    char routingExchange[ORDER_TEXT_SIZE];
    char primaryExchange[ORDER_TEXT_SIZE];
    char lastOpenTime[ORDER_TEXT_SIZE];
    char lastMocTime[ORDER_TEXT_SIZE];
    char nearCloseTime[ORDER_TEXT_SIZE];
    char lateLocTime[ORDER_TEXT_SIZE];
    char mktAsLmtPrice[ORDER_TEXT_SIZE];
    char mktAsLmtWords[ORDER_TEXT_SIZE];
    char note[ORDER_TEXT_SIZE];
    char extra[ORDER_EXTRA_TEXTS][ORDER_TEXT_SIZE];
};

struct OrderLine {
    char text[ORDER_LINE_SIZE];
    uint32_t length;
    uint32_t sequence;     /* 1-based order of creation */
    int32_t strategyIndex; /* -1 none */
    uint32_t kind;         /* OrderLineKind */
};

struct OrderFile {
    ReplaceFile file; /* the temporary file beside the target */
    OrderLine *lines; /* tracked */
    int32_t capacity;
    int32_t count;
};

struct BasketWeight {
    char name[ORDER_TEXT_SIZE];
    double amount;
};

struct BasketWeightList {
    BasketWeight *rows; /* tracked */
    int32_t capacity;
    int32_t count;
};

extern OrderTemplate gOrdersTemplate;
extern OrderTemplate *gStrategyTemplates; /* tracked; one per strategy record, or null */
extern BasketWeightList gBasketWeights;

/* Frees the templates and the basket weights. */
void ResetOrderState();

/* Adds amount to the row named name (exact case), appending it when absent;
** the row index, -1 when memory fails. */
int32_t AddBasketWeight(const char *name, double amount);
/* Reads an OrdersNetLiq (isFreeCash 0) or OrdersFreeCash (1) file; an empty
** path gives 0. */
int ReadAccountValueFile(const char *path, double *amount, int isFreeCash);
/* The file an OrdersNetLiq or OrdersFreeCash setting names, its macros
** expanded from the output folder, into full; 0 when it is too long. */
int AccountValuePath(const char *path, char full[PATH_SIZE]);
/* Loads strategy's OrdersTemplate (the record at strategyIndex), or the global
** one for index -1. */
int LoadOrdersTemplate(int32_t strategyIndex);
/* The template that applies to the strategy (its own, else the global one). */
const OrderTemplate *OrdersTemplateFor(int32_t strategyIndex);
/* An OrdersTemplate setting as the file it is read from (relative names are in
** the scripts folder); 0 when the path is too long. */
int OrdersTemplatePath(const char *setting, char full[PATH_SIZE]);

/* Starts an order file under a temporary name beside path; null when it
** cannot be created (nothing reported: the caller names the file). */
OrderFile *CreateOrderFile(const char *path);
/* A new empty line, or null when memory fails. */
OrderLine *NewOrderLine(OrderFile *file, int32_t strategyIndex, uint32_t kind);
/* A new line with printf-style text. */
int AddOrderLine(OrderFile *file, int32_t strategyIndex, uint32_t kind, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;
/* Appends printf-style text, cut at the line's size. */
void AppendOrderText(OrderLine *line, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Sorts the lines (strategy ascending, kind descending, sequence ascending),
** writes them and, with commit, renames the file over its target; without
** commit the target stays as it was.  Frees the file; 0 when writing or the
** rename failed (reported). */
int CloseOrderFile(OrderFile *file, int commit);
/* One CSV row by the strategy's template. */
int WriteTemplateRow(OrderFile *file, const OrderInfo *info, uint32_t kind, const char *action, const char *type,
                     const char *tif, const char *gtd, const char *gat, const char *oca, const char *qty, double dlr,
                     double frac, const char *lmt, const char *stp, int32_t id, int32_t parent, int32_t maxent);

/* The bar the context's orders are written from: the context date's bar of
** its symbol, else, when the strategy allows a missing bar, its last bar on
** or before the date; null when none. */
const Bar *GetOrderBar(EvalContext *context);
/* The bar dates of strategy r's bar size: its own calendar's, else the
** program's. */
const DateList *StrategyBarDates(const StrategyRecord *r);
/* The last date of the period after the one that holds date, in strategy r's
** bar size: how long an order of a longer bar size stays good. */
int32_t NextPeriodEnd(const StrategyRecord *r, int32_t date);
/* The exchange map row of symbol (file order: a Match pattern or the
** symbol's own exchange qualifies it, Market narrows it); *dotFlag tells
** whether the matching pattern holds a '.'.  Null when no row fits. */
const ContractSpec *FindContractSpec(const SymbolRecord *symbol, int *dotFlag);
/* Fills info afresh for the context's symbol, strategy and position. */
void FillOrderInfo(EvalContext *context, const Bar *bar, OrderInfo *info, int isExit);
/* The broker and local symbols and the expiry of a futures contract, with
** date the reference date of a continuous series' contract events. */
void FormatFuturesOrderSymbol(EvalContext *context, int32_t date, OrderInfo *info);
/* Counts one more UniqueOrderId and evaluates OrderNote and OrderExtra1..9
** as texts into info. */
void EvalOrderTexts(EvalContext *context, OrderInfo *info);
/* The quantity of the context position's exit order by the strategy's slot
** (ExitQty, ExitLimitQty or ExitStopQty), clamped to the position converted
** by factor and rounded to its quantity step; the number as text into out
** (at least 64 bytes). */
double ComputeExitQuantity(EvalContext *context, uint32_t slot, double factor, char *out);
/* 1 when the strategy's exit rule will certainly fire at the next order: at
** the next close when it gives a text now (kept as the position's label), at
** this close when it is a non-zero constant and the data are not live. */
int IsExitRuleCertain(EvalContext *context);

/* Where the exit orders of one position go and what they count. */
struct ExitOrderOutput {
    OrderFile *text;    /* the text order list, or none */
    OrderFile *csv;     /* the CSV, or none */
    int32_t *orderId;   /* the running order number: parent of child orders, group text */
    int32_t *exitCount; /* counts every exit order written, or none */
    int32_t *rollCount; /* counts every roll order written, or none */
    int32_t child;      /* the exits belong to the entry just written */
    int32_t group;      /* fill in the one-cancels-all group */
    int32_t sync;       /* the position is missing from the companion tool's list */
    int32_t roll;       /* the exit of a futures roll */
    int32_t noRule;     /* no exit by the exit rule: a longer bar size's period has not ended */
    int32_t rest;       /* what a partial exit at the open leaves: only its limit and stop, later in the day */
    int32_t periodBar;  /* inside a longer bar size's period: the orders stand on its last complete bar */
};

/* Writes tomorrow's exit orders of position (an open position of the
** context's strategy): a market exit by the exit rule, a limit and a stop
** exit.  Exits certain at the next open are applied to the simulation at
** once.  Sets the context's symbol and position. */
void WriteExitOrders(EvalContext *context, PositionRecord *position, const ExitOrderOutput *output);

/* Generates the order list of every strategy for the order date; failures
** are reported and end the generation.  While it runs, the bars after the
** context's date are set aside (a run with an EndDate orders as the data cut
** at it) and every symbol has a provisional bar on the order date in the
** split terms of its last one; both are undone before it returns. */
void GenerateOrderList(EvalContext *context);
/* 1, with the file error reported, when a path to the companion tool's files
** that the compile made whole was too long to hold: its cut text names
** another file, which an orders run neither reads nor writes. */
int RefuseCutOrdersPath();
/* A run that ends before its data do (an EndDate) works out its order date,
** period ends and their dates as the data cut at lastDay do, from the
** calendar beyond it and never from a later session: the program's and the
** strategies' own date lists (and the store's last date) end at lastDay,
** each longer list with the period that lastDay ends in the cut data, until
** RestoreDateLists.  Nothing changes for data that end at lastDay. */
void CutDateListsAt(int32_t lastDay);
void RestoreDateLists();
/* Keeps each open position's previous exit limit and stop as they stand
** before the last day's intraday check of an orders run: inside a longer bar
** size's period the orders stand on the period's last bar, whose prices the
** check of a last day that ends the data (a bar of its own) replaces. */
void KeepExitPricesForOrders();
/* The order lists that could not be written since the program started: a
** batch tells an orders run that did not do its work from one that did and
** then failed to write another file. */
int32_t CountFailedOrderLists();
