/* online_import.cpp -- the online import: one block's symbols spread over up
** to 32 worker threads, each downloading, parsing and storing every n-th
** symbol through its own HTTP slot. */
#include "marketdata/import/online_import.h"

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/csv_import.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/web_parsers.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/events.h"
#include "script/compiler/formula.h"
#include "services/services.h"

/* clang-format off */
OnlineHost gOnlineHosts[ONLINE_HOST_COUNT] = {
    [HOST_NORGATE] = {.host = "127.0.0.1", .port = NORGATE_PORT, .flags = 0},
    [HOST_YAHOO_SITE] = {.host = "finance.yahoo.com", .port = 443, .flags = HTTP_FLAG_SECURE},
    [HOST_YAHOO_CHART] = {.host = "query1.finance.yahoo.com", .port = 443, .flags = HTTP_FLAG_SECURE},
    [HOST_TIINGO] = {.host = "api.tiingo.com", .port = 443, .flags = HTTP_FLAG_SECURE},
};
/* clang-format on */

std::atomic<int> gImportThreadCount;

enum {
    MAX_WORKERS = 32,
    REQUEST_SYMBOL_SIZE = 40,
    EXCHANGES_SIZE = 256,
    REQUEST_PATH_SIZE = 512, /* a request's path and query */
    FIELD_TEXT_MAX = 79,
    INDEX_SYMBOL_MAX = 39,
    INDUSTRY_LIST_SIZE = 5000,
    STATUS_INTERVAL_MS = 100,
    RETRY_PAUSE_MS = 1000,
    /* How long a throttled request waits at most when ImportTimeout sets no
    ** limit: the transport's own half minute of silence. */
    THROTTLE_WAIT_MAX_MS = 30000,
    WAIT_STEP_MS = 20,
    /* The failure lines the block's closing report quotes; the log and the
    ** console name every one as it happens. */
    REPORT_TEXT_SIZE = 900
};

static const char kMsgNoSymbols[] = "%s data import requires at least one symbol.";
static const char kMsgBlockFailed[] = "%s data import %s\r\n%s";
/* No answer at all: a time-out, a connection dropped or refused; the
** transport says which. */
static const char kMsgNoAnswer[] = "no answer to the %s data request after %d attempt%s";
static const char kLogConstituencyMissing[] = "*** Constituency: %s is not available ***\n";
static const char kMsgCut[] = "%s: the answer was cut short (%s)";
static const char kMsgOtherSymbol[] = "the answer is for %s";

static const char *const kAdjustmentNames[] = {"TotalReturn", "CapitalSpecial", "Capital", "None"};
static const char *const kPaddingNames[] = {"None", "AlignWithSymbol", "AllMarketDays", "AllWeekDays",
                                            "AllCalendarDays"};
static const char *const kFamilyCodes[] = {"$SPX", "$SP1500", "$XJO.au", "$XKO.au"};
static const char *const kClassificationNames[] = {"TRBC", "GICS"};

enum PaddingSetting { PADDING_ALIGN_WITH_SYMBOL = 1,
                      PADDING_ALL_MARKET_DAYS = 2 };

struct WorkerContext {
    ImportItem *row;
    int32_t index;
    std::atomic<int> running;
    std::atomic<int> error; /* 0 none, 1 stop or failure, above 1 a thread-creation code */
};

/* The state of one online import run that outlives a block: the industry
** indexes already added and the constituencies that answered. */
struct OnlineRun {
    char industryList[INDUSTRY_LIST_SIZE];
    int32_t industryLength;
    std::vector<uint8_t> answered; /* per constituency row: some symbol's history arrived */
};
static OnlineRun gOnline;
/* The failure texts of the block's workers, one line each, however many. */
static std::vector<std::string> gFailures;
static std::mutex gFailureLock;
/* The status bar shows what each slot fetches while its worker changes it. */
static std::mutex gSlotTextLock;
static WorkerContext gWorkers[MAX_WORKERS];

/* ---- the Tiingo CSV layout ---------------------------------------------------------- */

enum CsvFieldId {
    CSVF_DATE = 2,
    CSVF_OPEN = 4,
    CSVF_HIGH = 5,
    CSVF_LOW = 6,
    CSVF_CLOSE = 7,
    CSVF_VOLUME = 8,
    CSVF_REAL_CLOSE = 10,
    CSVF_SPLIT = 11,
    CSVF_DIVIDEND = 12
};

static void SetTiingoFieldMap(ImportItem *row)
{
    memset(row->csvFields, 0, sizeof row->csvFields);
    if (gImportState.KeepAdjusted) row->adjustment = ADJUST_TOTAL_RETURN;
    /* Without CSVFields anywhere the answer's header line names the columns. */
    if (gImportState.csvFieldSum == 0) return;
    int32_t *f = row->csvFields;
    f[0] = CSVF_DATE;
    if (row->adjustment == ADJUST_TOTAL_RETURN) {
        f[1] = CSVF_REAL_CLOSE, f[6] = CSVF_CLOSE, f[7] = CSVF_HIGH, f[8] = CSVF_LOW, f[9] = CSVF_OPEN,
        f[10] = CSVF_VOLUME;
    } else {
        f[1] = CSVF_CLOSE, f[2] = CSVF_HIGH, f[3] = CSVF_LOW, f[4] = CSVF_OPEN, f[5] = CSVF_VOLUME,
        f[11] = CSVF_DIVIDEND;
        /* The splitFactor column holds each day's ratio, read as a Split
        ** column is: a split on a line refused for its prices still
        ** divides the bars before it. */
        if (row->adjustment != ADJUST_NONE) f[12] = CSVF_SPLIT;
    }
}

/* ---- one worker ------------------------------------------------------------------------ */

struct Worker {
    WorkerContext *context;
    int k;
    ImportItem *row;
    HttpSlot *slot;
    SymbolRecord record;
    char requestSymbol[REQUEST_SYMBOL_SIZE];
    char ticker[IMPORT_SYMBOL_SIZE]; /* the symbol as the price request names it */
    char familyCode[REQUEST_SYMBOL_SIZE];
    const char *paddingName;
    char pendingIndex[INDEX_SYMBOL_MAX + 1];
    uint32_t priceBytes; /* length of the price answer in the second body buffer */
    int32_t priceStatus; /* its HTTP status */
    int failureNoted;    /* the worker's failure text is in gFailures */
    const char *symbol;  /* the work item's symbol, as reports name it */
    int fieldRefused;    /* a field of the symbol was answered with an error: it is passed over */
};

/* Adds one worker's failure text (a line of its own) to the block's report,
** and names it at once in the import log and on the console: an import that
** ends by several failures names each, not only the first that fits. */
static void NoteFailure(Worker *w, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
static void NoteFailure(Worker *w, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    w->failureNoted = 1;
    /* Under the lock, so that the lines of two workers never mix. */
    std::lock_guard<std::mutex> hold(gFailureLock);
    for (const std::string &noted : gFailures)
        if (noted == text) return;
    gFailures.push_back(text);
    LogImportMessage("%s\n", text);
    if (gConsoleEcho) gConsoleEcho(2, (std::string(text) + "\n").c_str());
}

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }

/* GET of a formatted path into the first body buffer; 1/0. */
static int Ask(Worker *w, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
static int Ask(Worker *w, const char *format, ...)
{
    char path[REQUEST_PATH_SIZE];
    va_list args;
    va_start(args, format);
    FormatTextV(path, sizeof path, format, args);
    va_end(args);
    return HttpGet(w->k, path, 0, HTTP_BODY_FIRST);
}

static const char *Answer(const Worker *w) { return w->slot->received ? w->slot->body[0] : nullptr; }

static int IsSuccess(int status) { return status >= 200 && status <= 299; }

/* The start of the slot's answer as a reason quotes it: ": " and its first
** line when that is short text, else "". */
static const char *QuotedAnswer(const Worker *w, char *out, int size)
{
    char line[80];
    const int room = size - 2 < (int)sizeof line ? size - 2 : (int)sizeof line; /* ": " comes first */
    HttpAnswerLine(*w->slot, line, room);
    FormatText(out, (size_t)size, "%s%s", line[0] ? ": " : "", line);
    return out;
}

/* Passes the worker's symbol over because the request for what (a field,
** a series) was answered with an error status: named with the status and
** the answer's text. */
static void RefuseForField(Worker *w, const char *what)
{
    char text[72];
    ReportRefusedFile(w->symbol, "the server answered its %s request with status %d%s", what, (int)w->slot->status,
                      QuotedAnswer(w, text, sizeof text));
    w->fieldRefused = 1;
}

/* Asks one field of the symbol's security (its path after the request
** symbol and '/', formatted) into the first body buffer.  1 answered; 0
** when the request failed (the thread ends) or was answered with an error
** status, which is no value of the field: the symbol is then passed over,
** named (fieldRefused). */
static int AskField(Worker *w, const char *kind, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
static int AskField(Worker *w, const char *kind, const char *format, ...)
{
    char field[REQUEST_PATH_SIZE / 2];
    va_list args;
    va_start(args, format);
    FormatTextV(field, sizeof field, format, args);
    va_end(args);
    if (!Ask(w, "/api/v1/%s/%s/%s", kind, w->requestSymbol, field)) return 0;
    if (IsSuccess(w->slot->status)) return 1;
    RefuseForField(w, field);
    return 0;
}

/* Asks a security or fundamental text field; 0 as AskField. */
static int AskText(Worker *w, const char *kind, const char *field, char *out, int size)
{
    if (!AskField(w, kind, "%s", field)) return 0;
    if (Answer(w)) CopyString(out, size, Answer(w), size - 1 < FIELD_TEXT_MAX ? size - 1 : FIELD_TEXT_MAX);
    return 1;
}

static int AskNumber(Worker *w, const char *kind, const char *field, double *out)
{
    if (!AskField(w, kind, "%s", field)) return 0;
    if (Answer(w)) *out = atof(Answer(w));
    return 1;
}

static int StartsWith(const char *text, const char *prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

/* The membership series of one constituency for the record (Norgate); 1/0. */
static int ImportConstituency(Worker *w, int32_t row)
{
    const ConstituencyRecord &c = gConstituency[row];
    SymbolRecord &r = w->record;
    int32_t a = r.firstDate, b = r.lastDate;
    char path[REQUEST_PATH_SIZE];
    const char *range = "start_date=%d-%d-%d&end_date=%d-%d-%d&padding_setting=%s";
    char query[160];
    FormatText(query, sizeof query, range, DateYear(a), DateMonth(a), DateDay(a), DateYear(b), DateMonth(b), DateDay(b),
               w->paddingName);
    char indexName[REQUEST_SYMBOL_SIZE * 3];
    UrlEncode(c.label, indexName, sizeof indexName);
    if (strcmp(c.label, "$MEL") == 0)
        FormatText(path, sizeof path, "/api/v1/majorexchangelisted/%s?%s", w->requestSymbol, query);
    else if (strcmp(c.label, "$BCC") == 0)
        FormatText(path, sizeof path, "/api/v1/blankcheckcompany/%s?%s", w->requestSymbol, query);
    else
        FormatText(path, sizeof path, "/api/v1/indexconstituent/%s?indexname=%s&%s", w->requestSymbol, indexName, query);
    if (!HttpGet(w->k, path, 1, HTTP_BODY_FIRST)) return 0;
    /* An error answer says nothing of the membership: the symbol is not
    ** stored as if it had never been a member. */
    if (!IsSuccess(w->slot->status)) {
        char what[sizeof c.label + 16];
        FormatText(what, sizeof what, "%s membership", c.label);
        RefuseForField(w, what);
        return 0;
    }
    if (!w->slot->received) {
        LogImportMessage(kLogConstituencyMissing, c.label);
        return 1;
    }
    const char *count = strstr(w->slot->headers ? w->slot->headers : "", "Record-Count: ");
    int64_t records = count && count[14] >= '0' && count[14] <= '9' ? atoll(count + 14) : -1;
    if (records < 1) {
        /* A series whose length is not told cannot be told from one cut
        ** short: it is a damaged answer. */
        NoteFailure(w, "%s: the %s series cannot be read: it has %s", w->symbol, c.label,
                    records < 0 ? "no Record-Count header" : "a Record-Count of 0 and data");
        return 0;
    }
    if (records > w->slot->received / 12) {
        /* Fewer records than the answer announces: cut short, and a series
        ** read in part would end the membership early. */
        char why[PARSE_WHY_SIZE];
        FormatText(why, sizeof why, "the %s series holds %lld of the %lld records its Record-Count announces", c.label,
                   (long long)(w->slot->received / 12), (long long)records);
        NoteFailure(w, kMsgCut, w->symbol, why);
        return 0;
    }
    char counter[sizeof c.label + 40];
    FormatText(counter, sizeof counter, "the Record-Count of its %s series", c.label);
    NoteBytesPastCount(w->symbol, w->slot->received, (uint64_t)records * 12, records, counter);
    const unsigned char *p = (const unsigned char *)w->slot->body[0];
    int32_t kind = -(int32_t)(c.id + 1);
    int stored = 0;
    int32_t previous = 0;
    for (int64_t j = 0; j < records; j++, p += 12) {
        uint64_t bits = 0;
        for (int i = 7; i >= 0; i--) bits = bits << 8 | p[i];
        double ole;
        memcpy(&ole, &bits, 8);
        int32_t date = OleDateToDate(ole);
        int32_t value = (int32_t)((uint32_t)p[8] | (uint32_t)p[9] << 8 | (uint32_t)p[10] << 16 | (uint32_t)p[11] << 24);
        if (date >= a && date <= b && (!stored || value != previous)) {
            if (!SetEventItem(&r, date, 0, kind, value)) return 0;
            stored = 1;
            previous = value;
        }
        if (date < 19000101 || date >= b) break;
    }
    std::unique_lock<std::mutex> guard(gImport.lock, std::defer_lock);
    if (gImport.useLock) guard.lock();
    if ((size_t)row < gOnline.answered.size()) gOnline.answered[(size_t)row] = 1;
    return 1;
}

/* The security sequence of one Norgate symbol: 1 stored or passed over,
** 0 failure (the thread ends), with *skip set when passed over. */
static int BuildNorgateSymbol(Worker *w, ImportWorkItem *item, int *skip)
{
    SymbolRecord &r = w->record;
    SymbolInfo &info = r.info;
    ImportItem *row = w->row;
    /* An error answer is the updater's word that it has no prices for the
    ** symbol (an unknown symbol is answered 404): the symbol is passed over,
    ** not the import ended, and none of its fields is asked for.  A
    ** successful answer without the series' headers was retried as one cut
    ** short and never reaches here. */
    if (!IsSuccess(w->priceStatus)) {
        ReportRefusedFile(item->symbol, "the server answered with status %d", (int)w->priceStatus);
        *skip = 1;
        return 1;
    }
    ApplySymbolInfo(item->symbol, &r, SOURCE_NORGATE);
    char base[FIELD_TEXT_MAX + 1] = "", sub[FIELD_TEXT_MAX + 1] = "";
    if (!AskText(w, "security", "basetype", base, sizeof base)) return 0;
    if (base[0]) {
        if (!AskText(w, "security", "subtype1", sub, sizeof sub)) return 0;
        if (sub[0])
            FormatText(info.Type, sizeof info.Type, "%s/%s", base, sub);
        else
            CopyString(info.Type, sizeof info.Type, base, -1);
    }
    int futures = StartsWith(info.Type, "Fut");
    if (futures) {
        r.securityType = SECURITY_FUTURES;
        if (!AskNumber(w, "security", "pointvalue", &info.PointValue) ||
            !AskNumber(w, "security", "ticksize", &info.TickSize) ||
            !AskText(w, "security", "name", info.Name, sizeof info.Name))
            return 0;
    } else {
        r.securityType = StartsWith(info.Type, "For") || StartsWith(info.Type, "FX") ? SECURITY_FOREX : SECURITY_STOCK;
        info.PointValue = 1.0;
        info.TickSize = 0.01;
    }
    /* The price answer's own length, kept before the field requests reused the slot. */
    char why[PARSE_WHY_SIZE];
    int parsed = ParseNorgatePrices(w->slot->headers ? w->slot->headers : "", w->slot->body[1], w->priceBytes, &r,
                                    item->flags, why);
    if (parsed < 0) {
        if (why[0])
            NoteFailure(w, "%s: the price answer cannot be read: %s", item->symbol, why);
        else
            NoteFailure(w, "Out of memory reading the %s data of %s.", kDataSourceNames[SOURCE_NORGATE], item->symbol);
    }
    if (parsed <= 0) {
        *skip = 1;
        return parsed == 0;
    }
    CopyString(info.Symbol, sizeof info.Symbol, item->saveAs, -1);
    MakeIdentifier(info.Symbol);
    info.PriceMult = 1.0;
    if (!row->filterNeedsSecurity && !row->filterNeedsEvents && LogSymbolFiltered(&r, w->k) == 1) {
        *skip = 1;
        return 1;
    }
    double assetId = info.AssetId;
    char listed[FIELD_TEXT_MAX + 1] = "";
    if (!AskNumber(w, "security", "assetid", &assetId)) return 0;
    info.AssetId = (int32_t)assetId;
    if (!futures && !AskText(w, "security", "name", info.Name, sizeof info.Name)) return 0;
    if (!AskText(w, "security", "listingtype", info.ListingType, sizeof info.ListingType) ||
        !AskText(w, "security", "equitytype", info.EquityType, sizeof info.EquityType) ||
        !AskText(w, "security", "exchange", info.Exchange, sizeof info.Exchange) ||
        !AskText(w, "security", "domicile", info.Domicile, sizeof info.Domicile) ||
        !AskText(w, "security", "currency", info.Currency, sizeof info.Currency) ||
        !AskText(w, "security", "reportingcurrency", info.ReportingCurrency, sizeof info.ReportingCurrency) ||
        !AskText(w, "security", "LastQuotedDate", listed, sizeof listed))
        return 0;
    if (listed[0]) info.DelistDate = ParseDate(listed);
    if (gStore.fundamentalsCount > 0 && gImportState.fundamentalCount > 0 && !r.fundamentals)
        if (!AllocMemory(&r.fundamentals, (uint64_t)gStore.fundamentalsCount * sizeof(FundamentalItem))) return 0;
    if (StartsWith(info.Type, "Stock")) {
        char *levels[] = {info.EconSect, info.Sector, info.IndGroup, info.Industry};
        static const int kLevelSizes[] = {sizeof info.EconSect, sizeof info.Sector, sizeof info.IndGroup,
                                          sizeof info.Industry};
        for (int level = 1; level <= 4; level++) {
            if (!AskField(w, "security", "classification?schemename=%s&level=%d",
                          kClassificationNames[gImportState.Classification & 1], level))
                return 0;
            if (Answer(w)) CopyString(levels[level - 1], kLevelSizes[level - 1], Answer(w), FIELD_TEXT_MAX);
        }
        if (w->familyCode[0]) {
            if (!AskField(w, "security", "correspondingindustryindex?indexfamilycode=%s&level=%d", w->familyCode,
                          gImportState.CIILevel + 1))
                return 0;
            if (Answer(w)) {
                CopyString(info.InduIndex, sizeof info.InduIndex, Answer(w), INDEX_SYMBOL_MAX);
                CopyString(w->pendingIndex, sizeof w->pendingIndex, info.InduIndex, -1);
                const char *suffix = strstr(w->familyCode, "%2Eau") ? ".au" : strstr(w->familyCode, "%2Eca") ? ".ca"
                                                                                                             : nullptr;
                if (suffix) {
                    /* Whether the updater knows the index as it stands: a
                    ** name, or not (nothing, or 404); another error status
                    ** tells neither. */
                    char encoded[REQUEST_SYMBOL_SIZE];
                    UrlEncode(w->pendingIndex, encoded, sizeof encoded);
                    if (!Ask(w, "/api/v1/security/%s/name", encoded)) return 0;
                    int status = w->slot->status;
                    if (status != 404 && !IsSuccess(status)) {
                        char what[REQUEST_SYMBOL_SIZE + 16];
                        FormatText(what, sizeof what, "%s name", w->pendingIndex);
                        w->pendingIndex[0] = 0;
                        RefuseForField(w, what);
                        return 0;
                    }
                    if (status == 404 || !Answer(w)) {
                        size_t n = strlen(w->pendingIndex);
                        if (n + 3 <= INDEX_SYMBOL_MAX) {
                            FormatText(w->pendingIndex + n, sizeof w->pendingIndex - n, "%s", suffix);
                            CopyString(info.InduIndex, sizeof info.InduIndex, w->pendingIndex, -1);
                        }
                    }
                }
            }
        }
        if (!AskNumber(w, "security", "classification?schemename=TRBC&classificationresulttype=ClassificationId", &info.TRBC) ||
            !AskNumber(w, "security", "classification?schemename=GICS&classificationresulttype=ClassificationId", &info.GICS) ||
            !AskNumber(w, "fundamental", "sharesoutstanding", &info.Shares) ||
            !AskNumber(w, "fundamental", "sharesfloat", &info.Float))
            return 0;
        int32_t next = 0;
        for (int32_t f = 0; r.fundamentals && f < FUNDAMENTAL_FIELD_ROWS && gFundamentalFields[f].group; f++) {
            FundamentalField &field = gFundamentalFields[f];
            if (!field.requested || !field.name || !field.name[0]) continue;
            if (!AskField(w, "fundamental", "%s", field.name)) return 0;
            const char *comma = Answer(w) ? strchr(Answer(w), ',') : nullptr;
            if (!comma || next >= gStore.fundamentalsCount) continue;
            FundamentalItem &fi = r.fundamentals[next++];
            fi.fieldId = (uint32_t)f;
            fi.intValue = (uint32_t)ParseDate(comma + 1);
            fi.value = atof(Answer(w));
            field.present = 1;
        }
    } else if (futures) {
        if (!AskNumber(w, "security", "margin", &info.Margin) ||
            !AskText(w, "security", "classification?schemename=NorgateDataFuturesClassification", info.Sector,
                     sizeof info.Sector))
            return 0;
    }
    ApplySymbolInfo(item->saveAs, &r, SOURCE_NORGATE);
    if (row->filterNeedsSecurity && !row->filterNeedsEvents && LogSymbolFiltered(&r, w->k) == 1) {
        *skip = 1;
        return 1;
    }
    for (int32_t c = 0; gConstituencyRequested && c < gConstituencyCount; c++)
        if (gConstituencyRequested[c] && !ImportConstituency(w, c)) return 0;
    if (row->filterNeedsEvents && LogSymbolFiltered(&r, w->k) == 1) {
        *skip = 1;
        return 1;
    }
    return FinishSymbol(&r, item) >= 0;
}

/* Adds the pending industry index to the run's list; 1 when it is new, 0
** when already there, -1 when the list is full. */
static int TakeIndustryIndex(const char *index)
{
    char entry[INDEX_SYMBOL_MAX + 2];
    int n = FormatText(entry, sizeof entry, "%s,", index);
    std::unique_lock<std::mutex> guard(gImport.lock, std::defer_lock);
    if (gImport.useLock) guard.lock();
    /* Entries are matched whole: each follows the list's start or a ','. */
    for (const char *p = gOnline.industryList; (p = strstr(p, entry)) != nullptr; p++)
        if (p == gOnline.industryList || p[-1] == ',') return 0;
    if (gOnline.industryLength + n >= INDUSTRY_LIST_SIZE) return -1;
    memcpy(gOnline.industryList + gOnline.industryLength, entry, (size_t)n + 1);
    gOnline.industryLength += n;
    return 1;
}

/* Connects the worker's slot for the row's source; 1/0. */
static int ConnectWorker(Worker *w)
{
    int k = w->k;
    const OnlineHost *h = gOnlineHosts;
    switch (w->row->dataSource) {
    case SOURCE_NORGATE: return CheckNorgateApi(k);
    case SOURCE_YAHOO:
        if (!HttpConnect(k, h[HOST_YAHOO_SITE].host, h[HOST_YAHOO_SITE].port, h[HOST_YAHOO_SITE].flags, "Yahoo"))
            return 0;
        return HttpConnect(k, h[HOST_YAHOO_CHART].host, h[HOST_YAHOO_CHART].port, h[HOST_YAHOO_CHART].flags, "Yahoo");
    default: return HttpConnect(k, h[HOST_TIINGO].host, h[HOST_TIINGO].port, h[HOST_TIINGO].flags, "Tiingo");
    }
}

/* The request path of the item's price answer. */
static void PricePath(Worker *w, const ImportWorkItem *item, char *path, int size)
{
    const char *symbol = item->symbol;
    char exchanges[EXCHANGES_SIZE] = "";
    const char *ticker = symbol;
    int source = w->row->dataSource;
    if (source == SOURCE_TIINGO_CRYPTO) {
        const char *dot = strchr(symbol, '.');
        if (dot) {
            char exchange[IMPORT_SYMBOL_SIZE];
            CopyString(exchange, sizeof exchange, symbol, (int)(dot - symbol));
            int n = FormatText(exchanges, sizeof exchanges, "&exchanges=");
            UrlEncode(exchange, exchanges + n, 245);
            ticker = dot + 1;
        } else if (gSettings.TiingoExchanges[0]) {
            FormatText(exchanges, sizeof exchanges, "&exchanges=%s", gSettings.TiingoExchanges);
        }
    }
    {
        std::lock_guard<std::mutex> hold(gSlotTextLock);
        CopyString(w->slot->text, sizeof w->slot->text, ticker, -1);
    }
    CopyString(w->ticker, sizeof w->ticker, ticker, -1);
    UrlEncode(ticker, w->requestSymbol, sizeof w->requestSymbol);
    int32_t s = gImport.startDate, e = gImport.endDate;
    int sy = DateYear(s), sm = DateMonth(s), sd = DateDay(s), ey = DateYear(e), em = DateMonth(e), ed = DateDay(e);
    const char *key = gSettings.TiingoApiKey;
    switch (source) {
    case SOURCE_NORGATE:
        FormatText(path, size,
                   "/api/v1/prices/%s?start_date=%.4d-%.2d-%.2d&end_date=%.4d-%.2d-%.2d&stock_price_adjustment_setting=%s"
                   "&padding_setting=%s&forceZeroVolumeOnSuspendedBars=true",
                   w->requestSymbol, sy, sm, sd, ey, em, ed, kAdjustmentNames[w->row->adjustment & 3], w->paddingName);
        break;
    case SOURCE_YAHOO:
        FormatText(path, size, "/v8/finance/chart/%s?period1=%lld&period2=%lld&interval=1d&events=div,split,capitalGains",
                   w->requestSymbol, (long long)DateTimeToUnix(s, 0), (long long)DateTimeToUnix(gImport.referenceDate, 23));
        break;
    case SOURCE_TIINGO:
        FormatText(path, size, "/tiingo/daily/%s/prices?token=%s&startDate=%d-%d-%d&endDate=%d-%d-%d&format=csv",
                   w->requestSymbol, key, sy, sm, sd, ey, em, ed);
        break;
    default:
        FormatText(path, size,
                   "/tiingo/crypto/prices?token=%s%s&tickers=%s&resampleFreq=1day&startDate=%d-%d-%d&endDate=%d-%d-%d",
                   key, exchanges, w->requestSymbol, sy, sm, sd, ey, em, ed);
        break;
    }
}

/* How long a 429 or 503 answer asks to be left alone: its "Retry-After: "
** seconds (a date, or no header, waits the usual pause), no longer than
** ImportTimeout. */
static uint32_t ThrottleWaitMs(const char *headers)
{
    uint32_t limit = gSettings.ImportTimeout > 0 ? (uint32_t)gSettings.ImportTimeout * 1000u : (uint32_t)THROTTLE_WAIT_MAX_MS;
    uint32_t wait = RETRY_PAUSE_MS;
    for (const char *p = headers ? headers : ""; (p = FindTextNoCase(p, "Retry-After:")) != nullptr; p++) {
        if (p != headers && p[-1] != '\n') continue;
        const char *v = p + 12;
        while (*v == ' ' || *v == '\t') v++;
        if (*v < '0' || *v > '9') break;
        uint64_t seconds = 0;
        while (*v >= '0' && *v <= '9' && seconds < 1000000) seconds = seconds * 10 + (uint64_t)(*v++ - '0');
        wait = seconds * 1000 < limit ? (uint32_t)(seconds * 1000) : limit;
        break;
    }
    return wait < limit ? wait : limit;
}

/* Sleeps ms in short steps; 0 when a stop or the worker's error ends the wait. */
static int WaitMs(Worker *w, uint32_t ms)
{
    for (uint32_t waited = 0; waited < ms; waited += WAIT_STEP_MS) {
        if (w->context->error.load() || StopRequested()) return 0;
        PlatSleep(ms - waited < (uint32_t)WAIT_STEP_MS ? ms - waited : (uint32_t)WAIT_STEP_MS);
    }
    return !w->context->error.load() && !StopRequested();
}

/* The symbol a price answer names as its own (the chart's meta, the crypto
** answer's ticker) when it names one other than the ticker asked for, into
** named[80]; 0 when it names none or the one asked for. */
static int NamesAnotherSymbol(const Worker *w, const char *body, char *named)
{
    int source = w->row->dataSource;
    if (source != SOURCE_YAHOO && source != SOURCE_TIINGO_CRYPTO) return 0;
    if (!GetJsonText(body, source == SOURCE_YAHOO ? "symbol" : "ticker", named)) return 0;
    return CompareNoCase(named, w->ticker) != 0;
}

enum DownloadResult { DOWNLOAD_FAILED = 0,
                      DOWNLOAD_READ = 1, /* an answer to read is in the second body buffer */
                      DOWNLOAD_PASSED = 2 /* the symbol was passed over with its reason */ };

/* Downloads the price answer with retries into the second body buffer.  A
** failed transfer, an answer cut short and an answer for another symbol are
** asked again (a new connection for the last), a 429 or 503 after the wait
** it asks for; the last attempt's answer is what counts. */
static int DownloadPrices(Worker *w, const ImportWorkItem *item, const char *path)
{
    int source = w->row->dataSource;
    char cut[PARSE_WHY_SIZE] = "";
    char named[80] = "";
    uint32_t wait = RETRY_PAUSE_MS;
    for (int t = 0; t <= gSettings.ImportRetries; t++) {
        if (w->context->error.load()) return DOWNLOAD_FAILED;
        if (t == 0 && gSettings.ImportPause != 0 && source != SOURCE_NORGATE)
            PlatSleep((uint32_t)gSettings.ImportPause);
        if (t > 0 && !WaitMs(w, wait)) return DOWNLOAD_FAILED;
        wait = RETRY_PAUSE_MS;
        cut[0] = named[0] = 0;
        if (!HttpGet(w->k, path, 1, HTTP_BODY_SECOND)) continue;
        w->priceBytes = w->slot->received;
        w->priceStatus = w->slot->status;
        int last = t == gSettings.ImportRetries;
        int status = w->priceStatus;
        if (status == 429 || status == 503) {
            /* Asked to come back later; after the last attempt the answer
            ** is judged as any error answer is. */
            if (last) return DOWNLOAD_READ;
            wait = ThrottleWaitMs(w->slot->headers);
            continue;
        }
        if (status < 200 || status > 299) return DOWNLOAD_READ;
        if (FindCutAnswer(source, w->slot->headers, w->slot->body[1], w->priceBytes, cut)) continue;
        if (NamesAnotherSymbol(w, w->slot->body[1], named)) {
            /* Most likely an answer left on a kept connection: asked again
            ** on a new one. */
            HttpClose(w->k);
            if (!last && !ConnectWorker(w)) break;
            continue;
        }
        return DOWNLOAD_READ;
    }
    if (cut[0]) {
        NoteFailure(w, kMsgCut, item->symbol, cut);
        return DOWNLOAD_FAILED;
    }
    if (named[0]) {
        if (!w->slot->connection && !ConnectWorker(w)) {
            NoteFailure(w, "%s: %s", item->symbol, w->slot->error[0] ? w->slot->error : gImportErrorText);
            return DOWNLOAD_FAILED;
        }
        ReportRefusedFile(item->symbol, kMsgOtherSymbol, named);
        return DOWNLOAD_PASSED;
    }
    char failed[sizeof kMsgNoAnswer + REQUEST_SYMBOL_SIZE + 16];
    int attempts = gSettings.ImportRetries < 0 ? 0 : gSettings.ImportRetries + 1;
    FormatText(failed, sizeof failed, kMsgNoAnswer, w->requestSymbol, attempts, attempts == 1 ? "" : "s");
    const char *error = w->slot->error;
    NoteFailure(w, "%s: %s%s%s%s", item->symbol, failed, error[0] ? " (" : "", error, error[0] ? ")" : "");
    return DOWNLOAD_FAILED;
}

/* Builds and stores one symbol; 1 stored or passed over, 0 failure. */
static int ImportOneSymbol(Worker *w, ImportWorkItem *item)
{
    char path[REQUEST_PATH_SIZE];
    PricePath(w, item, path, sizeof path);
    int download = DownloadPrices(w, item, path);
    if (download != DOWNLOAD_READ) return download == DOWNLOAD_PASSED;
    if (w->priceBytes == 0) {
        ReportRefusedFile(item->symbol, "the answer is empty (status %d)", (int)w->priceStatus);
        return 1;
    }
    SymbolRecord &r = w->record;
    CopyString(r.info.Symbol, sizeof r.info.Symbol, item->symbol, -1);
    r.info.listNumber = item->list;
    memcpy(r.info.includeLists, item->lists, sizeof r.info.includeLists);
    const char *body = w->slot->body[1];
    int source = w->row->dataSource;
    if (source == SOURCE_NORGATE) {
        int skip = 0;
        w->symbol = item->symbol;
        w->fieldRefused = 0;
        /* A field answered with an error passed the symbol over, named. */
        return BuildNorgateSymbol(w, item, &skip) || w->fieldRefused;
    }
    if ((source == SOURCE_TIINGO || source == SOURCE_TIINGO_CRYPTO) && StartsWith(body, "Error:")) {
        /* The service's own words, with the status it gave them. */
        char line[IMPORT_ERROR_TEXT_SIZE];
        CopyString(line, sizeof line, body, (int)strcspn(body, "\r\n"));
        ReportRefusedFile(item->symbol, "the server answered with status %d: %s", (int)w->priceStatus, line);
        return 1;
    }
    /* An error answer (an unknown or delisted symbol, too many requests, a
    ** server in trouble) is that symbol's answer, never read as its prices
    ** whatever it holds: it is passed over with the reason, and the other
    ** symbols go on. */
    if (!IsSuccess(w->priceStatus)) {
        char description[80] = "";
        GetJsonText(body, "description", description);
        ReportRefusedFile(item->symbol, "the server answered with status %d%s%s", (int)w->priceStatus,
                          description[0] ? ": " : "", description);
        return 1;
    }
    int parsed = 0;
    char why[PARSE_WHY_SIZE] = "";
    if (source == SOURCE_YAHOO) {
        parsed = ParseYahooChart(w->row, body, item->saveAs, &r, item->flags, why);
    } else if (source == SOURCE_TIINGO) {
        /* The header line maps the columns of each answer afresh, so each
        ** symbol reads with a copy of the row's layout. */
        ImportItem layout = *w->row;
        parsed = ParseHeaderCsv(&layout, body, item->saveAs, &r, item->flags);
        if (parsed > 0) {
            if (Ask(w, "/tiingo/daily/%s?token=%s", w->requestSymbol, gSettings.TiingoApiKey) &&
                IsSuccess(w->slot->status) && Answer(w)) {
                GetJsonText(Answer(w), "name", r.info.Name);
                GetJsonText(Answer(w), "exchangeCode", r.info.Exchange);
            }
        }
    } else {
        parsed = ParseTiingoCrypto(w->row, body, item->saveAs, &r, item->flags, why);
    }
    if (parsed < 0) {
        NoteFailure(w, "Out of memory reading the %s data of %s.", kDataSourceNames[source], item->symbol);
        return 0;
    }
    if (parsed == 0) {
        /* A success that holds no prices (a page of the site, a damaged
        ** answer) is named with what it lacks; an answer whose bars all lie
        ** outside the import's dates is only passed over. */
        if (why[0]) ReportRefusedFile(item->symbol, "%s", why);
        return 1;
    }
    SortBars(&r);
    if (LogSymbolFiltered(&r, w->k) == 1) return 1;
    return FinishSymbol(&r, item) >= 0;
}

static void CleanRecord(Worker *w)
{
    FreeMemory(&w->record.bars[BAR_DAILY]);
    FreeMemory(&w->record.fundamentals);
    FreeMemory(&w->record.events);
    memset((void *)&w->record, 0, sizeof w->record);
    std::lock_guard<std::mutex> hold(gSlotTextLock);
    w->slot->text[0] = 0;
}

static void RunWorker(Worker *w)
{
    ImportItem *row = w->row;
    if (row->dataSource == SOURCE_NORGATE) {
        if (gImportState.CIIFamily >= 0 && gImportState.CIIFamily < 4)
            UrlEncode(kFamilyCodes[gImportState.CIIFamily], w->familyCode, sizeof w->familyCode);
        int padding = gImportState.Padding;
        w->paddingName = kPaddingNames[padding == PADDING_ALIGN_WITH_SYMBOL ? PADDING_ALL_MARKET_DAYS : (padding & 7) % 5];
    }
    if (!ConnectWorker(w)) {
        NoteFailure(w, "%s", row->dataSource == SOURCE_NORGATE ? gImportErrorText : w->slot->error);
        w->context->error.store(1);
        return;
    }
    int32_t i = w->k;
    ImportWorkItem *previous = nullptr;
    for (;;) {
        int n = gImportThreadCount.load();
        if (n < 1) n = 1;
        if (w->context->error.load() || StopRequested()) break;
        ImportWorkItem indexItem;
        ImportWorkItem *item = nullptr;
        if (w->pendingIndex[0]) {
            int isNew = TakeIndustryIndex(w->pendingIndex);
            if (isNew < 0) {
                NoteFailure(w, "The list of industry indexes is full.");
                w->context->error.store(1);
                break;
            }
            if (isNew && previous) {
                /* The index is imported under its own item, so the symbol
                ** that named it keeps its place in the misses report. */
                indexItem = *previous;
                CopyString(indexItem.symbol, sizeof indexItem.symbol, w->pendingIndex, -1);
                CopyString(indexItem.saveAs, sizeof indexItem.saveAs, w->pendingIndex, -1);
                indexItem.list = REUSED_INDUSTRY_ITEM;
                indexItem.imported = 0;
                item = &indexItem;
            }
            w->pendingIndex[0] = 0;
        }
        int ownItem = item == nullptr;
        if (ownItem) {
            if (i >= gImport.workCount) break;
            item = &gImport.work[i];
        }
        int failed = 0;
        if (item->block == (uint32_t)row->blockNumber && !IsInIncludeList(item->saveAs, (int)item->list)) {
            __atomic_fetch_add(&gImport.processedCount, 1, __ATOMIC_RELAXED);
            if (!IsSymbolExcluded(item->symbol, (int)item->block)) failed = !ImportOneSymbol(w, item);
        }
        CleanRecord(w);
        if (failed && !w->failureNoted && !StopRequested())
            NoteFailure(w, "%s: %s", item->symbol, w->slot->error[0] ? w->slot->error : "the symbol could not be stored.");
        if (failed) {
            w->context->error.store(1);
            break;
        }
        if (ownItem) {
            previous = item;
            i += n;
        }
    }
}

void ImportWorkerThread(void *context)
{
    WorkerContext *c = (WorkerContext *)context;
    Worker *w = nullptr;
    /* The worker's record is large; it lives on the heap, not the thread's stack. */
    if (AllocMemory(&w, sizeof(Worker))) {
        memset((void *)w, 0, sizeof *w);
        w->context = c;
        w->k = c->index;
        w->row = c->row;
        w->slot = &gHttpSlots[c->index];
        RunWorker(w);
        CleanRecord(w);
        FreeMemory(&w);
    } else {
        SetImportErrorText("Out of memory starting an import thread.");
        c->error.store(1);
    }
    c->running.store(0);
}

/* Rewrites the data file's constituency ids with those that answered for
** some symbol of the run, in table order. */
static void CollectConstituencyIds()
{
    int32_t ids = 0;
    for (size_t row = 0; row < gOnline.answered.size() && (int32_t)row < gConstituencyCount; row++)
        if (gOnline.answered[row] && ids < MAX_CONSTITUENCY_IDS) gStore.constituencyIds[ids++] = gConstituency[row].id;
    for (int32_t k = ids; k < MAX_CONSTITUENCY_IDS; k++) gStore.constituencyIds[k] = 0;
}

int ImportOnlineSymbols(ImportItem *row)
{
    const char *source = kDataSourceNames[row->dataSource];
    if (gImport.workCount < 1) {
        ReportError(kMsgNoSymbols, source);
        return 0;
    }
    if (gImport.processedCount == 0) {
        /* The first online block of the run: nothing is carried from an earlier import. */
        gOnline.industryList[0] = 0;
        gOnline.industryLength = 0;
        gOnline.answered.assign((size_t)(gConstituencyCount > 0 ? gConstituencyCount : 0), 0);
    }
    if (row->dataSource == SOURCE_TIINGO)
        SetTiingoFieldMap(row);
    else
        memset(row->csvFields, 0, sizeof row->csvFields);
    int workers = ComputeWorkerCount(gSettings.CalcThreads, PlatProcessorCount());
    int n = workers < gImport.workCount ? workers : gImport.workCount;
    if (row->dataSource != SOURCE_NORGATE && gSettings.ImportThreads >= 1 && n > gSettings.ImportThreads)
        n = gSettings.ImportThreads;
    if (n < 1) n = 1;
    if (n > MAX_WORKERS) n = MAX_WORKERS;
    gImportThreadCount.store(n);
    gImport.useLock = n > 1;
    SetStatusText(0, "Importing %d Symbol%s From %s Using %d Thread%s", gImport.workCount,
                  gImport.workCount == 1 ? "" : "s", source, n, n == 1 ? "" : "s");
    SetImportErrorText(nullptr);
    {
        std::lock_guard<std::mutex> hold(gFailureLock);
        gFailures.clear();
    }
    for (int k = 0; k < n; k++) {
        WorkerContext &c = gWorkers[k];
        c.row = row;
        c.index = k;
        c.running.store(1);
        c.error.store(0);
        try {
            std::thread(ImportWorkerThread, (void *)&c).detach();
        } catch (...) {
            c.running.store(0);
            c.error.store(PlatLastError() > 1 ? PlatLastError() : 1);
        }
    }
    uint64_t shown = 0;
    for (;;) {
        int running = 0;
        for (int k = 0; k < n; k++) running |= gWorkers[k].running.load();
        if (!running) break;
        PumpMessages();
        if (gRun.lowMemory.load() || StopRequested())
            for (int k = 0; k < n; k++)
                if (!gWorkers[k].error.load()) gWorkers[k].error.store(1);
        uint64_t now = PlatTickCount64();
        if (now - shown > STATUS_INTERVAL_MS) {
            shown = now;
            gImport.progressTotal = gImport.workCount;
            gImport.progressDone = __atomic_load_n(&gImport.processedCount, __ATOMIC_RELAXED);
            {
                std::lock_guard<std::mutex> hold(gSlotTextLock);
                CopyString(gImport.progressName, sizeof gImport.progressName, gHttpSlots[0].text, IMPORT_SYMBOL_SIZE - 1);
            }
            SetStatusText(1, "Kept %d of %d", __atomic_load_n(&gImport.keptCount, __ATOMIC_RELAXED), __atomic_load_n(&gImport.processedCount, __ATOMIC_RELAXED));
            for (int k = 0; k < n && k < gSettings.StatusBarFields; k++) {
                char text[HTTP_SLOT_TEXT_SIZE];
                {
                    std::lock_guard<std::mutex> hold(gSlotTextLock);
                    CopyString(text, sizeof text, gHttpSlots[k].text, HTTP_SLOT_TEXT_SIZE - 1);
                }
                SetStatusText(k + 2, "%s", text);
            }
        }
        PlatSleep(5);
    }
    for (int part = 2; part <= gSettings.StatusBarFields + 1; part++) SetStatusText(part, nullptr);
    gImport.useLock = 0;
    gImportThreadCount.store(0);
    if (row->dataSource == SOURCE_NORGATE && gConstituencyRequested) CollectConstituencyIds();
    int failed = 0, code = 0;
    for (int k = 0; k < n; k++) {
        int e = gWorkers[k].error.load();
        if (e) failed = 1;
        if (e > 1 && !code) code = e;
    }
    if (!failed) return 1;
    /* The report quotes the failure lines whole while they fit and counts
    ** the rest, which the log and the console have named one by one. */
    char report[REPORT_TEXT_SIZE] = "";
    size_t used = 0, quoted = 0;
    for (const std::string &line : gFailures) {
        size_t need = line.size() + (used ? 2 : 0);
        if (used + need + 64 >= sizeof report) break;
        used += (size_t)FormatText(report + used, sizeof report - used, "%s%s", used ? "\r\n" : "", line.c_str());
        quoted++;
    }
    if (quoted < gFailures.size())
        FormatText(report + used, sizeof report - used, "%sand %d more failure%s.", used ? "\r\n" : "",
                   (int)(gFailures.size() - quoted), gFailures.size() - quoted == 1 ? "" : "s");
    if (!gFailures.empty()) SetImportErrorText("%s", gFailures[0].c_str());
    if (code) {
        char text[IMPORT_ERROR_TEXT_SIZE];
        PlatErrorText(code, text, sizeof text);
        SetImportErrorText("%s", text);
    }
    if (StopRequested()) {
        SetImportErrorText(nullptr);
        ReportError(kMsgBlockFailed, source, "was stopped.", "");
    } else {
        if (code || !report[0]) CopyString(report, sizeof report, gImportErrorText, -1);
        ReportError(kMsgBlockFailed, source, "encountered an error.", report);
    }
    return 0;
}
