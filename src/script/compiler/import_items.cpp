/* import_items.cpp -- the Import section's lines: the item list, the import
** state, and the tables the lines are read against.
*/
#include "script/compiler/import_items.h"

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/definitions.h"
#include "script/compiler/ranges.h"
#include "script/compiler/script_parser.h"
#include "services/services.h"

GrowList gImportItems;
ImportState gImportState;
uint8_t *gConstituencyRequested = nullptr;

const char *const kDataSourceNames[DATA_SOURCE_COUNT] = {"Norgate", "Yahoo", "CSV", "CSIFutures",
                                                         "CSIStocks", "MetaStock", "Tiingo", "TiingoCrypto"};

const char *const kCsvFieldNames[CSV_FIELD_COUNT] = {"", "Symbol", "Date", "Time", "Open",
                                                     "High", "Low", "Close", "Volume", "AdjClose",
                                                     "RealClose", "Split", "Dividend", "Extra"};

/* Group titles sit in the rows with an empty name; row numbers are the field
** ids of the data file's fundamentals. */
/* clang-format off */
FundamentalField gFundamentalFields[FUNDAMENTAL_FIELD_ROWS + 1] = {
    {.group = 1, .requested = 0, .present = 0, .name = "", .description = "Security Information"},
    {.group = 1, .requested = 0, .present = 0, .name = "basetype", .description = "Base security type, such as equity or fund"},
    {.group = 1, .requested = 0, .present = 0, .name = "subtype1", .description = "First-level security subtype"},
    {.group = 1, .requested = 0, .present = 0, .name = "subtype2", .description = "Second-level security subtype"},
    {.group = 1, .requested = 0, .present = 0, .name = "subtype3", .description = "Third-level security subtype"},
    {.group = 1, .requested = 0, .present = 0, .name = "classification?schemename=TRBC&level=1", .description = "Business classification code, economic sector level"},
    {.group = 1, .requested = 0, .present = 0, .name = "classification?schemename=TRBC&level=2", .description = "Business classification code, business sector level"},
    {.group = 1, .requested = 0, .present = 0, .name = "classification?schemename=TRBC&level=3", .description = "Business classification code, industry group level"},
    {.group = 1, .requested = 0, .present = 0, .name = "classification?schemename=TRBC&level=4", .description = "Business classification code, industry level"},
    {.group = 1, .requested = 0, .present = 0, .name = "classification?schemename=TRBC&level=5", .description = "Business classification code, activity level"},
    {.group = 1, .requested = 0, .present = 0, .name = "Currency", .description = "Currency the security trades in"},
    {.group = 1, .requested = 0, .present = 0, .name = "Domicile", .description = "Country where the company is domiciled"},
    {.group = 1, .requested = 0, .present = 0, .name = "BusinessSummary", .description = "Short description of the company's business"},
    {.group = 1, .requested = 0, .present = 0, .name = "FinancialSummary", .description = "Short summary of the company's latest financial results"},
    {.group = 1, .requested = 0, .present = 0, .name = "Website", .description = "Company web site address"},
    {.group = 2, .requested = 0, .present = 0, .name = "", .description = "Current Fundamentals"},
    {.group = 2, .requested = 0, .present = 0, .name = "mktcap", .description = "Market capitalisation"},
    {.group = 2, .requested = 0, .present = 0, .name = "beta", .description = "Beta against the market index"},
    {.group = 2, .requested = 0, .present = 0, .name = "peexclxor", .description = "Price to earnings ratio, excluding extraordinary items"},
    {.group = 2, .requested = 0, .present = 0, .name = "ttmpr2rev", .description = "Price to revenue ratio, trailing 12 months"},
    {.group = 2, .requested = 0, .present = 0, .name = "pr2tanbk", .description = "Price to tangible book value ratio"},
    {.group = 2, .requested = 0, .present = 0, .name = "ttmprcfps", .description = "Price to cash flow per share, trailing 12 months"},
    {.group = 2, .requested = 0, .present = 0, .name = "ttmprfcfps", .description = "Price to free cash flow per share, trailing 12 months"},
    {.group = 2, .requested = 0, .present = 0, .name = "price2bk", .description = "Price to book value ratio"},
    {.group = 2, .requested = 0, .present = 0, .name = "pebexclxor", .description = "Price to earnings before extraordinary items ratio"},
    {.group = 2, .requested = 0, .present = 0, .name = "ttmpehigh", .description = "Highest price to earnings ratio, trailing 12 months"},
    {.group = 2, .requested = 0, .present = 0, .name = "ttmpelow", .description = "Lowest price to earnings ratio, trailing 12 months"},
    {.group = 2, .requested = 0, .present = 0, .name = "peinclxor", .description = "Price to earnings ratio, including extraordinary items"},
    {.group = 2, .requested = 0, .present = 0, .name = "divyield_curttm", .description = "Dividend yield, current price over trailing 12 month dividends"},
    {.group = 2, .requested = 0, .present = 0, .name = "ev2fcf_curttm", .description = "Enterprise value to free cash flow, trailing 12 months"},
    {.group = 2, .requested = 0, .present = 0, .name = "apeexclxor", .description = "Price to earnings excluding extraordinary items, last fiscal year"},
    {.group = 2, .requested = 0, .present = 0, .name = "apenorm", .description = "Price to normalised earnings, last fiscal year"},
    {.group = 2, .requested = 0, .present = 0, .name = "apr2rev", .description = "Price to revenue ratio, last fiscal year"},
    {.group = 2, .requested = 0, .present = 0, .name = "apr2tanbk", .description = "Price to tangible book value, last fiscal year"},
    {.group = 2, .requested = 0, .present = 0, .name = "aprfcfps", .description = "Price to free cash flow per share, last fiscal year"},
    {.group = 2, .requested = 0, .present = 0, .name = "aprice2bk", .description = "Price to book value, last fiscal year"},
    {.group = 2, .requested = 0, .present = 0, .name = "ev2fcf_cura", .description = "Enterprise value to free cash flow, last fiscal year"},
    {.group = 3, .requested = 0, .present = 0, .name = "", .description = "Trailing 12 month Fundamentals"},
    {.group = 3, .requested = 0, .present = 0, .name = "vdes_ttm", .description = "Diluted earnings per share excluding extraordinary items, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmepsxclx", .description = "Earnings per share excluding extraordinary items, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmbepsxcl", .description = "Basic earnings per share excluding extraordinary items, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmepsincx", .description = "Earnings per share including extraordinary items, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmrevps", .description = "Revenue per share, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmcfshr", .description = "Cash flow per share, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmdivshr", .description = "Dividends per share, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmdivshradj", .description = "Dividends per share adjusted for splits, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmebitd", .description = "Earnings before interest, taxes, depreciation and amortisation, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmebitdps", .description = "EBITDA per share, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmfcfshr", .description = "Free cash flow per share, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmpayrat", .description = "Dividend payout ratio, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmintcov", .description = "Interest coverage ratio, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmfcf", .description = "Free cash flow, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmrev", .description = "Revenue, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmebt", .description = "Earnings before taxes, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmniac", .description = "Net income available to common shareholders, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmgrosmgn", .description = "Gross margin percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmnpmgn", .description = "Net profit margin percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmopmgn", .description = "Operating margin percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmptmgn", .description = "Pretax margin percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "focf2rev_ttm", .description = "Free operating cash flow to revenue, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmroapct", .description = "Return on average assets percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmroepct", .description = "Return on average equity percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmroipct", .description = "Return on investment percent, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmastturn", .description = "Asset turnover, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttminvturn", .description = "Inventory turnover, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmniperem", .description = "Net income per employee, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmrecturn", .description = "Receivables turnover, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmrevpere", .description = "Revenue per employee, trailing 12 months"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmepschg", .description = "Earnings per share change percent, trailing 12 months over the year before"},
    {.group = 3, .requested = 0, .present = 0, .name = "ttmrevchg", .description = "Revenue change percent, trailing 12 months over the year before"},
    {.group = 3, .requested = 0, .present = 0, .name = "ebitda_ttmy5cagr", .description = "EBITDA growth rate, five-year compound annual, trailing 12 months"},
    {.group = 4, .requested = 0, .present = 0, .name = "", .description = "Most recent quarter/interim reporting period"},
    {.group = 4, .requested = 0, .present = 0, .name = "qbvps", .description = "Book value per share, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "qtanbvps", .description = "Tangible book value per share, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "qcshps", .description = "Cash per share, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "netdebt_i", .description = "Net debt, most recent interim period"},
    {.group = 4, .requested = 0, .present = 0, .name = "qcurratio", .description = "Current ratio, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "qquickrati", .description = "Quick ratio, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "qltd2eq", .description = "Long-term debt to equity, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "qtotd2eq", .description = "Total debt to equity, most recent quarter"},
    {.group = 4, .requested = 0, .present = 0, .name = "revchngyr", .description = "Revenue change percent, most recent quarter over the same quarter a year before"},
    {.group = 4, .requested = 0, .present = 0, .name = "epschngyr", .description = "Earnings per share change percent, most recent quarter over the same quarter a year before"},
    {.group = 5, .requested = 0, .present = 0, .name = "", .description = "Most recent fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "arevps", .description = "Revenue per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "abvps", .description = "Book value per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "atanbvps", .description = "Tangible book value per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "acshps", .description = "Cash per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "acfshr", .description = "Cash flow per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "adivshr", .description = "Dividends per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aepsxclxor", .description = "Earnings per share excluding extraordinary items, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aepsnorm", .description = "Normalised earnings per share, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "abepsxclxo", .description = "Basic earnings per share excluding extraordinary items, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aepsinclxo", .description = "Earnings per share including extraordinary items, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "netdebt_a", .description = "Net debt, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "acurratio", .description = "Current ratio, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aquickrati", .description = "Quick ratio, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "altd2eq", .description = "Long-term debt to equity, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "atotd2eq", .description = "Total debt to equity, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "apayratio", .description = "Dividend payout ratio, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aintcov", .description = "Interest coverage ratio, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "a1fcf", .description = "Free cash flow, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "arev", .description = "Revenue, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aebitd", .description = "EBITDA, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aebt", .description = "Earnings before taxes, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aniac", .description = "Net income available to common shareholders, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aebtnorm", .description = "Normalised earnings before taxes, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aniacnorm", .description = "Normalised net income available to common shareholders, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "agrosmgn", .description = "Gross margin percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "anpmgnpct", .description = "Net profit margin percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aopmgnpct", .description = "Operating margin percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aptmgnpct", .description = "Pretax margin percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aroapct", .description = "Return on average assets percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aroepct", .description = "Return on average equity percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aroipct", .description = "Return on investment percent, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aastturn", .description = "Asset turnover, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "ainvturn", .description = "Inventory turnover, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "aniperemp", .description = "Net income per employee, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "arecturn", .description = "Receivables turnover, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "arevperemp", .description = "Revenue per employee, last fiscal year"},
    {.group = 5, .requested = 0, .present = 0, .name = "revgrpct", .description = "Revenue growth rate, five-year compound annual"},
    {.group = 5, .requested = 0, .present = 0, .name = "divgrpct", .description = "Dividend growth rate, five-year compound annual"},
    {.group = 5, .requested = 0, .present = 0, .name = "adiv5yavg", .description = "Dividends per share, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "yld5yavg", .description = "Dividend yield, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "ebitda_ayr5cagr", .description = "EBITDA growth rate, five-year compound annual, fiscal years"},
    {.group = 5, .requested = 0, .present = 0, .name = "epsgrpct", .description = "Earnings per share growth rate, five-year compound annual"},
    {.group = 5, .requested = 0, .present = 0, .name = "opmgn5yr", .description = "Operating margin percent, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "ptmgn5yr", .description = "Pretax margin percent, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "focf2rev_aavg5", .description = "Free operating cash flow to revenue, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "grosmgn5yr", .description = "Gross margin percent, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "margin5yr", .description = "Net profit margin percent, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "aroa5yavg", .description = "Return on average assets percent, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "aroe5yavg", .description = "Return on average equity percent, five-year average"},
    {.group = 5, .requested = 0, .present = 0, .name = "revtrendgr", .description = "Revenue growth trend, five years"},
    {.group = 5, .requested = 0, .present = 0, .name = "epstrendgr", .description = "Earnings per share growth trend, five years"},
    {.group = 5, .requested = 0, .present = 0, .name = "revps5ygr", .description = "Revenue per share growth rate, five years"},
    {.group = 5, .requested = 0, .present = 0, .name = "bvtrendgr", .description = "Book value per share growth trend, five years"},
    {.group = 5, .requested = 0, .present = 0, .name = "tanbv_ayr5cagr", .description = "Tangible book value growth rate, five-year compound annual"},
    {.group = 5, .requested = 0, .present = 0, .name = "csptrendgr", .description = "Capital spending growth trend, five years"},
    {.group = 5, .requested = 0, .present = 0, .name = "focf_ayr5cagr", .description = "Free operating cash flow growth rate, five-year compound annual"},
    {.group = 5, .requested = 0, .present = 0, .name = "stld_ayr5cagr", .description = "Total debt growth rate, five-year compound annual"},
    {.group = 5, .requested = 0, .present = 0, .name = "npmtrendgr", .description = "Net profit margin growth trend, five years"},
    {.group = 6, .requested = 0, .present = 0, .name = "", .description = "Broker Consensus Forecasts/Projections"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsq", .description = "Mean earnings per share forecast, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsqh", .description = "Highest earnings per share forecast, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsql", .description = "Lowest earnings per share forecast, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsqnumofest", .description = "Number of earnings per share forecasts, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "epsactualq", .description = "Reported earnings per share, last quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "epspreviousq", .description = "Reported earnings per share, quarter before the last"},
    {.group = 6, .requested = 0, .present = 0, .name = "epssurpriseq", .description = "Earnings surprise against the mean forecast, last quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "epssurpriseqprc", .description = "Earnings surprise percent against the mean forecast, last quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesq", .description = "Mean revenue forecast, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesqh", .description = "Highest revenue forecast, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesql", .description = "Lowest revenue forecast, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesqnumofest", .description = "Number of revenue forecasts, current quarter"},
    {.group = 6, .requested = 0, .present = 0, .name = "targetprice", .description = "Mean target price"},
    {.group = 6, .requested = 0, .present = 0, .name = "projeps", .description = "Mean earnings per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsh", .description = "Highest earnings per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsl", .description = "Lowest earnings per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projepsnumofest", .description = "Number of earnings per share forecasts, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "epsactual", .description = "Reported earnings per share, last fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "epsprevious", .description = "Reported earnings per share, fiscal year before the last"},
    {.group = 6, .requested = 0, .present = 0, .name = "epssurprise", .description = "Earnings surprise against the mean forecast, last fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "epssurpriseprc", .description = "Earnings surprise percent against the mean forecast, last fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesps", .description = "Mean revenue per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesh", .description = "Highest revenue forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesl", .description = "Lowest revenue forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projsalesnumofest", .description = "Number of revenue forecasts, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "price2projsales", .description = "Price to forecast revenue per share"},
    {.group = 6, .requested = 0, .present = 0, .name = "projpe", .description = "Price to forecast earnings ratio, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projprofit", .description = "Mean pretax profit forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projprofith", .description = "Highest pretax profit forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projprofitl", .description = "Lowest pretax profit forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projprofitnumofest", .description = "Number of pretax profit forecasts, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projdps", .description = "Mean dividend per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projdpsh", .description = "Highest dividend per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projdpsl", .description = "Lowest dividend per share forecast, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projdpsnumofest", .description = "Number of dividend per share forecasts, current fiscal year"},
    {.group = 6, .requested = 0, .present = 0, .name = "projltgrowthrate", .description = "Mean long-term earnings growth rate forecast"},
    {.group = 0, .requested = 0, .present = 0, .name = "", .description = ""},
};
/* clang-format on */

namespace {

const char *const kTrueFalse[] = {"False", "True"};
const char *const kDateOrders[] = {"MDY", "DMY"};
const char *const kNumberFormats[] = {"Point", "Comma"};
const char *const kDelimiters[] = {"Comma", "Semicolon", "Tab"};
const char *const kAdjustments[] = {"TotalReturn", "CapitalSpecial", "Capital", "None"};
const char *const kPaddings[] = {"None", "AlignWithSymbol", "AllMarketDays", "AllWeekDays", "AllCalendarDays"};
const char *const kClassifications[] = {"TRBC", "GICS"};
const char *const kIndustryFamilies[] = {"$SPX", "$SP1500", "$XJO.au", "$XKO.au"};
const char *const kIndustryLevels[] = {"EconomicSector", "IndustryGroup", "SpecificIndustry", "SubIndustry"};

template <size_t N>
int WordOf(const std::string &value, const char *const (&words)[N])
{
    return FindKeyword(value.c_str(), words, (int)N);
}

bool IsLocalFileSource(int source) { return source >= SOURCE_CSV && source <= SOURCE_METASTOCK; }
bool IsLocalCsvSource(int source) { return source >= SOURCE_CSV && source <= SOURCE_CSI_STOCKS; }

ImportItem *LastItem()
{
    return gImportItems.count > 0 ? (ImportItem *)gImportItems.items + gImportItems.count - 1 : nullptr;
}

/* Separators of the Constituency and Fundamentals lists. */
bool IsListSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '(' || c == ')';
}

/* Calls visit(name, offset) for each name of a separated list; stops at the
** first visit that answers a code other than 0 and returns that code. */
template <typename Visit>
int ForEachListName(const std::string &value, Visit visit)
{
    size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && IsListSeparator(value[i])) i++;
        size_t start = i;
        while (i < value.size() && !IsListSeparator(value[i])) i++;
        if (i > start)
            if (int code = visit(value.substr(start, i - start), (int)start)) return code;
    }
    return 0;
}

int MarkConstituency(const std::string &name)
{
    for (int32_t i = 0; i < gConstituencyCount; i++) {
        if (CompareNoCase(gConstituency[i].scriptName, name.c_str()) != 0) continue;
        if (!gConstituencyRequested && !AllocMemory(&gConstituencyRequested, (uint64_t)gConstituencyCount)) return -1;
        if (TrackedBlockSize(gConstituencyRequested) < (uint64_t)gConstituencyCount &&
            !ReallocMemory(&gConstituencyRequested, (uint64_t)gConstituencyCount))
            return -1;
        gConstituencyRequested[i] = 1;
        return 1;
    }
    return 0;
}

/* A data file path of SaveAs or LogFile, resolved against the data folder. */
int StoreDataPath(char *target, const std::string &value)
{
    char path[PATH_SIZE];
    CopyString(path, sizeof path, value.c_str(), -1);
    if (!ExpandPathMacros(path, gDataFolder)) return ERR_PATH_TOO_LONG;
    CopyString(target, PATH_SIZE, path, -1);
    return 0;
}

/* ApplyImportItem's answer for a line that adds an item: 0 when it was
** added; 9 when its path cannot be resolved (too long once the scripts folder
** or a macro is put in), a fault of the line that the user is shown; -1 when
** memory ran out, which the low-memory state reports. */
int AddLineItem(int kind, const std::string &value, const char *name, int listFlag)
{
    if (AddImportItem(kind, value.c_str(), name, listFlag)) return 0;
    return gOutOfMemory.load() ? -1 : ERR_PATH_TOO_LONG;
}

} // namespace

int FindFundamentalField(const char *name)
{
    for (int i = 0; gFundamentalFields[i].group != 0; i++)
        if (gFundamentalFields[i].name[0] && CompareNoCase(gFundamentalFields[i].name, name) == 0) return i;
    return -1;
}

void ResetImportState()
{
    if (gImportItems.items) memset(gImportItems.items, 0, (size_t)gImportItems.capacity * sizeof(ImportItem));
    gImportItems.count = 0;
    gImportState = ImportState{};
    gImportState.csvDateOrder = gSettings.DateInputFormat;
    gImportState.CIIFamily = -1;
    if (gConstituencyRequested) memset(gConstituencyRequested, 0, TrackedBlockSize(gConstituencyRequested));
    for (FundamentalField &row : gFundamentalFields) row.requested = 0;
}

void ApplyCsvFormatToItem()
{
    ImportItem *item = LastItem();
    if (!item) return;
    memcpy(item->csvFields, gImportState.csvFields, sizeof item->csvFields);
    item->csvDateOrder = gImportState.csvDateOrder;
    item->csvNumberFormat = gImportState.csvNumberFormat;
    item->csvDelimiter = gImportState.csvDelimiter;
    /* A decimal comma cannot share the comma as the field delimiter. */
    if (item->csvNumberFormat == 1 && item->csvDelimiter == 0) item->csvDelimiter = 1;
}

void ApplyAdjustmentToSource()
{
    for (int32_t i = gImportItems.count - 1; i >= 0; i--) {
        ImportItem *item = (ImportItem *)gImportItems.items + i;
        if (item->kind == IMPKW_DATA_SOURCE) {
            item->adjustment = gImportState.adjustment;
            return;
        }
    }
}

int AddImportItem(int kind, const char *value, const char *name, int listFlag)
{
    if (!GrowListReserve(&gImportItems, gImportItems.count + 1, sizeof(ImportItem))) return 0;
    ImportItem *item = (ImportItem *)gImportItems.items + gImportItems.count;
    memset(item, 0, sizeof *item);
    CopyString(item->value, sizeof item->value, value, -1);
    CopyString(item->name, sizeof item->name, name ? name : "", IMPORT_NAME_SIZE - 1);
    /* A folder or a price file is a path however its folders are separated;
    ** a list value with '/' may be symbols (EUR/USD), so there only '\\'
    ** makes a path. */
    bool isPath = kind == IMPKW_SYM_INFO_FILE || kind == IMPKW_EVENT_LIST_FILE || strchr(item->value, '\\') ||
        ((kind == IMPKW_DATA_PATH || kind == IMPKW_CSV_FILE) && HasPathSeparator(item->value));
    if (isPath && !ExpandPathMacros(item->value, gScriptsFolder)) {
        memset(item, 0, sizeof *item);
        return 0;
    }
    item->dataSource = gImportState.currentSource;
    item->blockNumber = gImportState.sourceCount;
    item->kind = kind;
    item->listFlag = listFlag;
    gImportItems.count++;
    ApplyCsvFormatToItem();
    return 1;
}

int ApplyImportItem(int index, const char *value, int length, const char *nameSpace, int *outOffset, int *outLength)
{
    std::string raw(value, length > 0 ? strnlen(value, (size_t)length) : 0);
    std::string text = raw;
    char saved = 0;
    text.resize((size_t)GetSectionLineValue(text.data(), (int)text.size(), &saved));
    *outOffset = 0;
    *outLength = (int)text.size();
    ImportState &st = gImportState;

    if (index != IMPKW_DATA_SOURCE && st.sourceCount == 0) return ERR_SOURCE_FIRST;

    char name[IMPORT_NAME_SIZE] = "";
    int listFlag = 1;
    if (index == IMPKW_CSV_FILE || index == IMPKW_DATA_PATH || index == IMPKW_INCLUDE_LIST) {
        FormulaColumn hint = {};
        ParseFormatSpec(raw.c_str(), (int)raw.size(), &hint);
        if (hint.format == DISPLAY_DATE) listFlag = 0;
        if (hint.heading[0]) {
            if (nameSpace && nameSpace[0])
                FormatText(name, sizeof name, "%s.%s", nameSpace, hint.heading);
            else
                CopyString(name, sizeof name, hint.heading, -1);
        }
    }
    if (PathTooLong(text.c_str())) return ERR_LITERAL_TOO_LONG;

    int w = 0;
    switch (index) {
    case IMPKW_DATA_SOURCE:
        if ((w = WordOf(text, kDataSourceNames)) < 0) return ERR_DATA_SOURCE;
        st.sourceCount++;
        st.currentSource = w;
        if (!AddImportItem(index, kDataSourceNames[w], "", 1)) return -1;
        st.adjustment = ADJUST_CAPITAL;
        ApplyAdjustmentToSource();
        return 0;
    case IMPKW_CSV_FIELDS: {
        if (!IsLocalCsvSource(st.currentSource)) return ERR_NEEDS_LOCAL_CSV;
        memset(st.csvFields, 0, sizeof st.csvFields);
        st.csvFieldSum = 0;
        size_t start = 0;
        for (int column = 0; column < IMPORT_CSV_FIELDS && start <= text.size(); column++) {
            size_t comma = text.find(',', start);
            if (comma == std::string::npos) comma = text.size();
            size_t a = start, b = comma;
            start = comma + 1;
            while (a < b && (text[a] == ' ' || text[a] == '\t')) a++;
            while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t')) b--;
            std::string field = text.substr(a, b - a);
            int id = WordOf(field, kCsvFieldNames);
            int code = id < 0 ? ERR_CSV_FIELD : ERR_NONE;
            for (int k = 0; !code && id > 0 && k < column; k++)
                if (st.csvFields[k] == id) code = ERR_DUPLICATE_CSV_FIELD;
            if (code) {
                *outOffset = (int)a;
                *outLength = (int)(b - a);
                return code;
            }
            st.csvFields[column] = id;
            st.csvFieldSum += id;
        }
        ApplyCsvFormatToItem();
        return 0;
    }
    case IMPKW_CSV_FILE:
        if (st.currentSource != SOURCE_CSV) return ERR_NEEDS_LOCAL_CSV;
        return AddLineItem(index, text, name, listFlag);
    case IMPKW_CSV_DATE_FMT:
        if ((w = WordOf(text, kDateOrders)) < 0) return ERR_UNKNOWN_DATE_FORMAT;
        st.csvDateOrder = w;
        ApplyCsvFormatToItem();
        return 0;
    case IMPKW_CSV_NUM_FMT:
        if ((w = WordOf(text, kNumberFormats)) < 0) return ERR_NUMBER_FORMAT;
        st.csvNumberFormat = w;
        ApplyCsvFormatToItem();
        return 0;
    case IMPKW_CSV_DELIM:
        if ((w = WordOf(text, kDelimiters)) < 0) return ERR_DELIMITER;
        st.csvDelimiter = w;
        ApplyCsvFormatToItem();
        return 0;
    case IMPKW_DATA_PATH:
        if (!IsLocalFileSource(st.currentSource)) return ERR_NEEDS_LOCAL_FILE;
        return AddLineItem(index, text, name, listFlag);
    case IMPKW_SYM_INFO_FILE:
    case IMPKW_EVENT_LIST_FILE:
    case IMPKW_INCLUDE_LIST:
    case IMPKW_EXCLUDE_LIST:
        return AddLineItem(index, text, name, listFlag);
    case IMPKW_CONSTITUENCY:
        return ForEachListName(text, [&](const std::string &symbol, int offset) {
            int found = MarkConstituency(symbol);
            if (found < 0) return -1;
            if (found) return 0;
            *outOffset = offset;
            *outLength = (int)symbol.size();
            return (int)ERR_CONSTITUENCY_SYMBOL;
        });
    case IMPKW_FUNDAMENTALS:
        if (st.currentSource != SOURCE_NORGATE) return ERR_NEEDS_NORGATE;
        return ForEachListName(text, [&](const std::string &field, int offset) {
            int row = FindFundamentalField(field.c_str());
            if (row < 0) {
                *outOffset = offset;
                *outLength = (int)field.size();
                return (int)ERR_FUNDAMENTAL_NAME;
            }
            if (!gFundamentalFields[row].requested) {
                gFundamentalFields[row].requested = 1;
                st.fundamentalCount++;
            }
            return 0;
        });
    case IMPKW_ADJUSTMENT:
        if (IsLocalFileSource(st.currentSource)) return ERR_NOT_FOR_LOCAL_FILE;
        if ((w = WordOf(text, kAdjustments)) < 0) return ERR_ADJUSTMENT;
        st.adjustment = w;
        ApplyAdjustmentToSource();
        return 0;
    case IMPKW_KEEP_ADJUSTED:
        if ((w = WordOf(text, kTrueFalse)) < 0) return ERR_EXPECTED_TRUE_FALSE;
        st.KeepAdjusted = w;
        ApplyAdjustmentToSource();
        return 0;
    case IMPKW_KEEP_NON_INCLUDED:
    case IMPKW_KEEP_REDUNDANT:
    case IMPKW_REMOVE_LATEST:
    case IMPKW_NO_WEEKENDS: {
        if ((w = WordOf(text, kTrueFalse)) < 0) return ERR_EXPECTED_TRUE_FALSE;
        int32_t &target = index == IMPKW_KEEP_NON_INCLUDED ? st.KeepNonIncluded
            : index == IMPKW_KEEP_REDUNDANT                ? st.KeepRedundant
            : index == IMPKW_REMOVE_LATEST                 ? st.RemoveLatest
                                                           : st.NoWeekends;
        target = w;
        return 0;
    }
    case IMPKW_PADDING:
        if ((w = WordOf(text, kPaddings)) < 0) return ERR_PADDING;
        st.Padding = w;
        return 0;
    case IMPKW_PAD_ALIGN_SYM:
        CopyString(st.PadAlignSym, sizeof st.PadAlignSym, text.c_str(), (int)sizeof st.PadAlignSym - 1);
        return 0;
    case IMPKW_CLASSIFICATION:
    case IMPKW_CII_FAMILY:
    case IMPKW_CII_LEVEL:
    case IMPKW_UPDATE:
        if (st.currentSource != SOURCE_NORGATE) return ERR_NEEDS_NORGATE;
        if (index == IMPKW_CLASSIFICATION) {
            if ((w = WordOf(text, kClassifications)) < 0) return ERR_CLASSIFICATION_SCHEME;
            st.Classification = w;
        } else if (index == IMPKW_CII_FAMILY) {
            if ((w = WordOf(text, kIndustryFamilies)) < 0) return ERR_INDUSTRY_INDEX;
            st.CIIFamily = w;
        } else if (index == IMPKW_CII_LEVEL) {
            if ((w = WordOf(text, kIndustryLevels)) < 0) return ERR_INDUSTRY_LEVEL;
            st.CIILevel = w;
        } else {
            if ((w = WordOf(text, kTrueFalse)) < 0) return ERR_EXPECTED_TRUE_FALSE;
            st.Update = w;
        }
        return 0;
    case IMPKW_EXCLUDE_IF:
        return 0;
    case IMPKW_START_DATE:
    case IMPKW_END_DATE: {
        bool start = index == IMPKW_START_DATE;
        int32_t date = 0;
        if (CompareNoCase(text.c_str(), start ? "earliest" : "latest") != 0 && !(date = ParseDate(text.c_str())))
            return ERR_DATE_FORMAT;
        (start ? st.StartDate : st.EndDate) = date;
        return 0;
    }
    case IMPKW_SAVE_AS:
        if (text.size() < 4 || CompareNoCase(text.c_str() + text.size() - 4, ".kvd") != 0) return ERR_DATA_FILE_EXTENSION;
        return StoreDataPath(st.SaveAs, text);
    case IMPKW_LOG_FILE:
        return StoreDataPath(st.LogFile, text);
    default:
        return ERR_UNKNOWN_IMPORT_ITEM;
    }
}

/* ---- fundamentals present in the loaded data ------------------------------------------ */

void MarkFundamentalFieldPresent(uint32_t fieldId)
{
    if (fieldId != 0 && fieldId < FUNDAMENTAL_FIELD_ROWS) gFundamentalFields[fieldId].present = 1;
}

void ClearFundamentalFieldsPresent()
{
    for (int row = 0; row < FUNDAMENTAL_FIELD_ROWS; row++) gFundamentalFields[row].present = 0;
}

/* Loading and unloading data keep the marks (data_load.h). */
[[maybe_unused]] static const bool kFundamentalsLinked =
    (gScriptDataLinks.markFundamentalField = MarkFundamentalFieldPresent,
     gScriptDataLinks.clearFundamentalFields = ClearFundamentalFieldsPresent, true);
