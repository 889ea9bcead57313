/* Random formulas over random bars: the evaluator, bar by bar and a run of
** bars at a time, against a compact reference walk kept here. */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "eval_fixture.h"
#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "script/eval/block_plan.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"

namespace {

const int32_t kBars = 40;

/* ---- the reference walk ---------------------------------------------------------------- */

/* The walk as it stands in the language's definition, for the nodes the
** generator writes: numbers, texts, plain bar values, offsets, brackets and
** the operators.  It walks its own copy of the nodes. */
struct ReferenceWalk {
    const Bar *bars;
    int32_t count;
    int32_t last;
    double scale;
    bool shortCircuit;
    const std::vector<FormulaItem> *dataItems;
    const std::vector<double> *series; /* kBars values per Data item */

    static double Unary(uint32_t unary, double v)
    {
        return unary == UNARY_NEGATE ? -v : unary == UNARY_NOT ? (v == 0 ? 1.0 : 0.0)
                                                               : v;
    }

    bool BarValue(FormulaNode *node, int32_t back)
    {
        int64_t j = (int64_t)last - back;
        if (j < 0 || j >= count) return false;
        const Bar &bar = bars[j];
        double f = bar.split != 0 ? scale / bar.split : 1.0;
        auto scaled = [&](int64_t k) { return bars[k].split != 0 ? scale / bars[k].split : 1.0; };
        double v;
        uint32_t type = 1;
        switch (node->item) {
        case ITEM_OPEN: v = f * bar.open; break;
        case ITEM_HIGH: v = f * bar.high; break;
        case ITEM_LOW: v = f * bar.low; break;
        case ITEM_CLOSE: v = f * bar.close; break;
        case ITEM_VOLUME: v = bar.volume / f, type = 2; break;
        case ITEM_EXTRA: v = bar.extra, type = 0; break;
        case ITEM_BAR_NUM: v = (double)(j + 1), type = 0; break;
        case ITEM_BARS_LEFT: v = (double)(count - j - 1), type = 0; break;
        case ITEM_RANGE: v = f * (bar.high - bar.low); break;
        case ITEM_NEXT_OPEN:
            if (j + 1 >= count) return false;
            v = f * bars[j + 1].open;
            break;
        case ITEM_DATA_REF: {
            const FormulaItem &item = (*dataItems)[node->index];
            v = (*series)[node->index * kBars + j];
            type = item.formula.resultFormat;
            v = type == 1 ? v * f : type == 2 ? v / f
                                              : v;
            break;
        }
        case ITEM_TRUE_RANGE: {
            double high = bar.high * f, low = bar.low * f;
            double previous = j > 0 ? bars[j - 1].close * scaled(j - 1) : 0;
            v = j == 0 ? high - low : (previous > high ? previous : high) - (previous < low ? previous : low);
            break;
        }
        default: ADD_FAILURE() << "item " << node->item; return false;
        }
        node->value = v;
        node->dataType = type;
        return true;
    }

    bool Term(FormulaNode *node, int32_t back)
    {
        bool ok;
        if (node->category == CAT_CONSTANT || node->category == CAT_TEXT) {
            node->value = node->constant;
            ok = true;
        } else {
            ok = BarValue(node, back);
        }
        if (!ok || !std::isfinite(node->value)) return false;
        node->value = Unary(node->unary, node->value);
        return true;
    }

    static bool Numeric(const FormulaNode *n) { return n->category == CAT_CONSTANT; }

    static double Combine(uint32_t op, const FormulaNode *l, const FormulaNode *r, uint32_t *type)
    {
        double a = l->value, b = r->value;
        uint32_t ta = l->dataType, tb = r->dataType;
        int c;
        if ((l->textFlag || r->textFlag) && !Numeric(l) && !Numeric(r)) {
            c = CompareNoCase(l->textFlag ? l->text : "", r->textFlag ? r->text : "");
            c = c < 0 ? -1 : c > 0;
        } else {
            c = ta == 1 || tb == 1 ? CompareDoubleApprox(a, b) : CompareDouble(a, b);
        }
        double v = 0;
        *type = 0;
        switch (op) {
        case ITEM_POWER: v = b == 2.0 ? a * a : pow(a, b), *type = ta; break;
        case ITEM_TIMES:
            v = a * b, *type = ta && tb && ta != tb ? 0 : ta ? ta
                                                             : tb;
            break;
        case ITEM_DIVIDE: v = b == 0 ? 0.0 : a / b, *type = b == 0 || tb ? 0 : ta; break;
        case ITEM_MOD: v = b == 0 ? 0.0 : fmod(a, b); break;
        case ITEM_PLUS: v = a + b, *type = ta ? ta : tb; break;
        case ITEM_MINUS: v = a - b, *type = ta ? ta : tb; break;
        case ITEM_GREATER: v = c > 0; break;
        case ITEM_GREATER_EQUAL: v = c >= 0; break;
        case ITEM_LESS: v = c < 0; break;
        case ITEM_LESS_EQUAL: v = c <= 0; break;
        case ITEM_EQUAL: v = c == 0; break;
        case ITEM_NOT_EQUAL: v = c != 0; break;
        case ITEM_AND: v = a == 0 ? 0.0 : (b != 0 || std::isnan(b)); break;
        case ITEM_OR: v = std::isnan(a) || a != 0 || b != 0 || std::isnan(b); break;
        default: ADD_FAILURE() << "operator " << op;
        }
        return fabs(v) < 1.0e-13 ? 0.0 : v;
    }

    static bool Stops(const FormulaNode *n, uint32_t stop)
    {
        return n->item == stop || n->item == ITEM_END || n->category == CAT_CLOSE || n->item == ITEM_COMMA;
    }

    bool Walk(FormulaNode **position, uint32_t minPrecedence, uint32_t stop, int32_t back)
    {
        FormulaNode *start = *position;
        if (start->constantFlag) {
            *position = start + 1;
            return true;
        }
        int32_t offset = 0;
        if (start->barsBackLink) {
            FormulaNode *inner = start + start->barsBackLink, *p = inner;
            if (!Walk(&p, 0, ITEM_CLOSE_BRACKET, back)) return false;
            double v = trunc(inner->value);
            if (std::isnan(v) || fabs(v) > 1e6) return false;
            offset = (int32_t)v;
        }
        FormulaNode *p = start;
        bool skipping = false;
        uint32_t skipPrecedence = 0;
        while (!Stops(p, stop)) {
            if (p->category != CAT_OPERATOR) {
                if (!skipping) {
                    if (p->item == ITEM_OPEN_PAREN) {
                        FormulaNode *q = p + 1;
                        if (!Walk(&q, 0, ITEM_CLOSE_PAREN, back + offset)) return false;
                        p->value = q->value = Unary(p->unary, p[1].value);
                        p->dataType = q->dataType = p[1].dataType;
                    } else if (!Term(p, back + offset)) {
                        return false;
                    }
                }
                offset = 0;
                p += p->width + 1;
                continue;
            }
            if (p->precedence <= minPrecedence) break;
            if (skipping && p->precedence > skipPrecedence) {
                p++;
                continue;
            }
            skipping = false;
            double left = start->value;
            bool zeroDecides = p->item == ITEM_POWER || p->item == ITEM_TIMES || p->item == ITEM_DIVIDE ||
                p->item == ITEM_MOD || p->item == ITEM_AND;
            if (shortCircuit && ((left == 0 && zeroDecides) || (p->item == ITEM_OR && (left != 0 || std::isnan(left))))) {
                start->dataType = 0;
                skipping = true;
                skipPrecedence = p->precedence;
                p++;
                continue;
            }
            FormulaNode *right = p + 1, *q = right;
            if (!Walk(&q, p->precedence, stop, back)) return false;
            uint32_t type;
            double v = Combine(p->item, start, right, &type);
            start->value = right->value = v;
            start->dataType = right->dataType = type;
            start->textFlag = right->textFlag = 0;
            p = q;
        }
        *position = p;
        return true;
    }

    /* The formula's value at bar last (NaN: none) and its first node's data type. */
    double Evaluate(FormulaNode *nodes, uint32_t *type)
    {
        scale = bars[last].split;
        if (nodes[0].constantFlag && nodes[1].item == ITEM_END) {
            *type = nodes[0].dataType;
            return nodes[0].value;
        }
        for (FormulaNode *n = nodes; n->item != ITEM_END; n++) {
            n->dataType = 0;
            n->textFlag = n->text[0] != 0;
        }
        FormulaNode *p = nodes;
        double v = Walk(&p, 0, ITEM_END, 0) ? nodes[0].value : NAN;
        *type = nodes[0].dataType;
        return std::isinf(v) ? NAN : v;
    }
};

/* ---- random formulas ------------------------------------------------------------------- */

struct Random {
    uint32_t state;
    uint32_t Next(uint32_t n)
    {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    }
};

const char *const kBarItems[] = {"O", "H", "L", "C", "V", "Extra", "BarNum",
                                 "BarsLeft", "Range", "TrueRange", "NextOpen", "DPrice", "DVolume", "DPlain"};
const uint32_t kBarItemCount = sizeof kBarItems / sizeof kBarItems[0];
const char *const kNumbers[] = {"0", "1", "2", "0.5", "3", "100", "0.00000000000001", "nan", "(nan)"};
const char *const kTexts[] = {"\"ab\"", "\"AB\"", "\"b\"", "\"\""};
const char *const kOperators[] = {" ^ ", " * ", " / ", " MOD ", " + ", " - ", " > ", " >= ",
                                  " < ", " <= ", " = ", " <> ", " AND ", " OR "};
const char *const kOffsets[] = {"[1]", "[2]", "[5]", "[0]", "[-1]", "[1 + 1]", "[nan]", "[BarNum - 30]"};

std::string Term(Random &r, int depth);

std::string Expression(Random &r, int depth)
{
    std::string text = Term(r, depth);
    int operators = (int)r.Next(depth > 2 ? 2 : 4);
    for (int k = 0; k < operators; k++) text += kOperators[r.Next(14)] + Term(r, depth);
    return text;
}

std::string Term(Random &r, int depth)
{
    std::string text;
    uint32_t unary = r.Next(8);
    if (unary == 0)
        text = "-";
    else if (unary == 1)
        text = "NOT ";
    uint32_t kind = r.Next(depth > 2 ? 9 : 12);
    if (kind < 5)
        text += kBarItems[r.Next(kBarItemCount)];
    else if (kind < 8)
        text += kNumbers[r.Next(9)];
    else if (kind < 9)
        text += kTexts[r.Next(4)];
    else
        text += "(" + Expression(r, depth + 1) + ")";
    if (kind < 5 || kind >= 9) {
        if (r.Next(3) == 0) text += kOffsets[r.Next(8)];
    }
    return text;
}

/* ---- the test -------------------------------------------------------------------------- */

struct EvalDifferential : EvalTest {
    std::vector<double> series;
    int32_t offsets[3] = {0, kBars, 2 * kBars};

    /* kBars random bars for AAA: prices near 50 with zeros, equal neighbours,
    ** a NaN close and a 3:1 split; three Data items of price, volume and no
    ** format with random values, one of them NaN. */
    void SetUp() override
    {
        EvalTest::SetUp();
        SymbolRecord &record = gStore.symbols[0];
        FreeMemory(&record.bars[BAR_DAILY]);
        ASSERT_TRUE(AllocMemory(&record.bars[BAR_DAILY], (kBars + 1) * sizeof(Bar)));
        Random r{777};
        for (int32_t i = 0; i < kBars; i++) {
            Bar &bar = record.bars[BAR_DAILY][i];
            bar = Bar{};
            bar.date = 20240101 + i;
            double price = 40 + r.Next(20) + r.Next(4) * 0.25;
            bar.open = r.Next(10) == 0 ? 0.0 : price + r.Next(3) - 1.0;
            bar.close = i == 17 ? NAN : price;
            bar.high = price + r.Next(3);
            bar.low = price - r.Next(3);
            bar.volume = r.Next(6) == 0 ? 0.0 : 1000.0 * r.Next(5);
            bar.extra = r.Next(3) - 1.0;
            bar.split = i < 12 ? 3.0 : 1.0;
        }
        record.barCounts[BAR_DAILY] = kBars;
        dataItems.assign(3, FormulaItem{});
        const char *const names[] = {"DPrice", "DVolume", "DPlain"};
        for (uint32_t k = 0; k < 3; k++) {
            CopyString(dataItems[k].formula.name, 64, names[k], -1);
            dataItems[k].barSize = -1;
            dataItems[k].formula.resultFormat = k == 0 ? 1 : k == 1 ? 2
                                                                    : 0;
        }
        InstallItems(SECTION_DATA, dataItems.data(), 3);
        series.resize(3 * kBars);
        for (size_t k = 0; k < series.size(); k++) series[k] = k == 50 ? NAN : r.Next(100) * 0.5 - 10;
        record.dataValues[0] = series.data();
        record.dataOffsets[0] = offsets;
    }

    void TearDown() override
    {
        gStore.symbols[0].dataValues[0] = nullptr;
        gStore.symbols[0].dataOffsets[0] = nullptr;
        EvalTest::TearDown();
    }
};

bool SameNumber(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(EvalDifferential, RandomFormulasGiveTheReferenceWalksValuesAndDataTypes)
{
    Random r{2024};
    const Bar *bars = gStore.symbols[0].bars[BAR_DAILY];
    int compiled = 0, planned = 0;
    /* A few corners first: a NaN left of OR, a negative zero left of AND, a
    ** short circuit that skips a missing bar, offsets beyond the data. */
    const char *const corners[] = {"(nan) OR C", "(0 - 1) ^ 0.5 OR C", "-Extra AND C", "0 * C[100]",
                                   "C[1] - C", "NextOpen - O", "(C + O)[2] / 0", "C[-1] > C OR V"};
    const int cornerCount = (int)(sizeof corners / sizeof corners[0]);
    for (int f = 0; f < 1500; f++) {
        std::string text = f < cornerCount ? corners[f] : Expression(r, 0);
        FormulaSlot *slot = MakeSlot(text);
        if (!CompileFormula(slot, 0, -1)) {
            EXPECT_GE(f, cornerCount) << text;
            continue;
        }
        compiled++;
        bool plain = text.find('"') == std::string::npos;
        planned += plain;
        for (int shortCircuit = 0; shortCircuit <= 1; shortCircuit++) {
            gSettings.UseShortCircuit = shortCircuit;
            double block[kBars];
            uint32_t blockTypes[kBars];
            EvalFormulaBars(slot->nodes[0], &ctx, 0, kBars, block, blockTypes);
            for (int32_t i = 0; i < kBars; i++) {
                ReferenceWalk walk{bars, kBars, i, 0, shortCircuit != 0, &dataItems, &series};
                uint32_t wantType;
                double want = walk.Evaluate(slot->nodes[1], &wantType);
                AtBar(5);
                ctx.barIndex = ctx.lastBar = i;
                ctx.date = bars[i].date;
                double single = EvalFormula(slot->nodes[2], &ctx);
                SCOPED_TRACE(text + " at bar " + std::to_string(i) + " short circuit " + std::to_string(shortCircuit));
                EXPECT_TRUE(SameNumber(want, single)) << want << " walk " << single;
                EXPECT_TRUE(SameNumber(want, block[i])) << want << " block " << block[i];
                EXPECT_EQ(wantType, slot->nodes[2][0].dataType);
                EXPECT_EQ(wantType, blockTypes[i]);
            }
        }
    }
    gSettings.UseShortCircuit = 1;
    /* The generator must keep producing formulas the compiler takes, most of
    ** them fit for the block path. */
    EXPECT_GT(compiled, 1200);
    EXPECT_GT(planned, 800);
}

/* A failed evaluation once erased the quoted text of the first node, and
** every later bar then compared its length instead of the text. */
TEST_F(EvalDifferential, AFailedBarLeavesTheFormulasOwnTextAlone)
{
    FormulaSlot *slot = MakeSlot("\"b\" > \"AB\" AND BarNum[30] > 0");
    ASSERT_EQ(1, CompileFormula(slot, 0, -1));
    double value = 0;
    const int32_t bars[] = {35, 10, 35};
    const int results[] = {1, 0, 1};
    const double values[] = {1, 0, 1};
    for (int k = 0; k < 3; k++) {
        ctx.barIndex = ctx.lastBar = bars[k];
        EXPECT_EQ(results[k], EvalFormulaSlot(slot, &ctx, &value)) << "bar " << bars[k];
        EXPECT_EQ(values[k], value) << "bar " << bars[k];
    }
}

/* A trial bar stands in for one bar of the symbol for the evaluation only:
** a run of bars over it is walked, as EvalFormula reads it, never planned
** from the stored bar. */
TEST_F(EvalDifferential, ARunOverATrialBarReadsTheTrialBar)
{
    FormulaSlot *slot = MakeSlot("C + 0");
    ASSERT_EQ(1, CompileFormula(slot, 0, -1));
    Bar trial = gStore.symbols[0].bars[BAR_DAILY][20];
    trial.close += 7;
    ctx.trialBar = &trial;
    ctx.trialSymbol = &gStore.symbols[0];
    ctx.trialIndex = 20;
    ctx.trialBarSize = BAR_DAILY;
    double block[30], planned[30];
    EvalFormulaBars(slot->nodes[0], &ctx, 0, 30, block, nullptr);
    EXPECT_EQ(0, EvalFormulaPlanned(slot->nodes[0], &ctx, 0, 30, planned));
    EXPECT_EQ(trial.close, block[20]);
    ctx.trialBar = nullptr;
}

} // namespace
