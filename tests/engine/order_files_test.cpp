#include <cstring>
#include <string>

#include "engine/orders.h"
#include "engine_fixture.h"
#include "foundation/file_helpers.h"
#include "script/compiler/settings_items.h"

namespace {

struct OrderFilesTest : EngineTest {
    void TearDown() override
    {
        ResetOrderState();
        EngineTest::TearDown();
    }
    std::string Read(const std::string &path)
    {
        char *text = nullptr;
        if (!LoadFile(path.c_str(), &text, nullptr)) return "<missing>";
        std::string s = text;
        FreeMemory(&text);
        return s;
    }
};

/* Within a strategy notes come first, then rolls, exits and entries, each in
** the order written; the file replaces the old one only when committed. */
TEST_F(OrderFilesTest, LinesAreSortedAndTheOldFileStaysUntilCommitted)
{
    std::string path = tmp.File("Output\\orders.txt");
    ASSERT_TRUE(SaveFile(path.c_str(), "previous\n", 9));
    for (int commit : {0, 1}) {
        OrderFile *file = CreateOrderFile(path.c_str());
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(AddOrderLine(file, 1, ORDER_LINE_ENTRY, "b-entry\n"));
        ASSERT_TRUE(AddOrderLine(file, 0, ORDER_LINE_ENTRY, "a-entry1\n"));
        ASSERT_TRUE(AddOrderLine(file, 0, ORDER_LINE_EXIT, "a-exit\n"));
        ASSERT_TRUE(AddOrderLine(file, 0, ORDER_LINE_ENTRY, "a-entry2\n"));
        ASSERT_TRUE(AddOrderLine(file, 0, ORDER_LINE_NOTE, "a-note\n"));
        ASSERT_TRUE(AddOrderLine(file, 0, ORDER_LINE_ROLL, "a-roll\n"));
        ASSERT_TRUE(AddOrderLine(file, -1, ORDER_LINE_ENTRY, "header\n"));
        EXPECT_TRUE(CloseOrderFile(file, commit));
        EXPECT_EQ(Read(path), commit ? "header\na-note\na-roll\na-exit\na-entry1\na-entry2\nb-entry\n" : "previous\n");
    }
}

TEST_F(OrderFilesTest, TemplateRowFollowsTheFieldRow)
{
    std::string path = Write("template.csv", "Action,Symbol,Qty\r\nact,SYM,qty,nocomma,Lmt,stp,id,parent,Broker X,TIF\r\n");
    CopyString(gScriptSettings.OrdersTemplate, sizeof gScriptSettings.OrdersTemplate, path.c_str(), -1);
    ASSERT_TRUE(LoadOrdersTemplate(-1));
    EXPECT_STREQ(gOrdersTemplate.header, "Action,Symbol,Qty\r\n");
    EXPECT_EQ(gOrdersTemplate.columnCount, 10);
    EXPECT_EQ(gOrdersTemplate.hasIdAndParent, 1);
    OrderInfo info{};
    CopyString(info.brokerSymbol, sizeof info.brokerSymbol, "IBM", -1);
    std::string out = tmp.File("Output\\orders.csv");
    OrderFile *file = CreateOrderFile(out.c_str());
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(WriteTemplateRow(file, &info, ORDER_LINE_EXIT, "SELL", "LMT", "DAY", "", "", "", "100", 0, 0, "12.5",
                                 nullptr, 7, 0, 1));
    ASSERT_TRUE(CloseOrderFile(file, 1));
    /* The nocomma column writes neither text nor separator of its own; empty values keep theirs. */
    EXPECT_EQ(Read(out), "SELL,IBM,100,12.5,,7,,Broker X,DAY\n");
}

TEST_F(OrderFilesTest, TemplateWithoutItsFieldRowIsRefused)
{
    std::string path = Write("short.csv", "Action,Symbol\r\n");
    CopyString(gScriptSettings.OrdersTemplate, sizeof gScriptSettings.OrdersTemplate, path.c_str(), -1);
    EXPECT_FALSE(LoadOrdersTemplate(-1));
    EXPECT_EQ(std::string(LastMessage()), "The two required rows were not found in OrdersTemplate file " + path);
}

TEST_F(OrderFilesTest, AccountValueFilesCheckTheCurrency)
{
    struct Case {
        const char *text;
        int ok;
        double amount;
    };
    /* clang-format off */
    const Case cases[] = {
        {"125000.5\n", 1, 125000.5},
        {"2500 usd\n", 1, 2500},
        {"2500 EUR\n", 0, 0},
    };
    /* clang-format on */
    CopyString(gSettings.Currency, sizeof gSettings.Currency, "USD", -1);
    std::string path = tmp.File("Output\\netliq.txt");
    for (const Case &c : cases) {
        ASSERT_TRUE(SaveFile(path.c_str(), c.text, (uint32_t)strlen(c.text)));
        double amount = -1;
        EXPECT_EQ(ReadAccountValueFile(path.c_str(), &amount, 0), c.ok) << c.text;
        EXPECT_EQ(amount, c.amount) << c.text;
    }
    EXPECT_STREQ(LastMessage(), "The OrdersNetLiq base currency is 'EUR' but the script specifies 'USD'.");
    double amount = -1;
    EXPECT_TRUE(ReadAccountValueFile("", &amount, 1));
    EXPECT_EQ(amount, 0);
}

/* An amount that is none is named and fails the order list, never read as 0
** (the test's equity taken instead) or as the number its text begins with. */
TEST_F(OrderFilesTest, AccountValuesThatAreNoAmountAreNamed)
{
    struct Case {
        const char *text;
        const char *fault; /* null: read */
        double amount;
    };
    /* clang-format off */
    const Case cases[] = {
        {"250000USD\n",       nullptr, 250000},
        {" -1500.25 usd\r\n", nullptr, -1500.25},
        {"1,250,000 USD\n",   nullptr, 1250000},
        {"1,250,000.5USD\n",  nullptr, 1250000.5},
        {"1,25 USD\n",        "gives the amount 1,25, which is not a number.", 0},
        {"12,50,000\n",       "gives the amount 12,50,000, which is not a number.", 0},
        {"abc\n",             "gives the amount abc, which is not a number.", 0},
        {"0x1A\n",            "gives the amount 0x1A, which is not a number.", 0},
        {"nan\n",             "gives the amount nan, which is not a finite number.", 0},
        {"1e400 USD\n",       "gives the amount 1e400, which is not a finite number.", 0},
        {" \r\n",             "gives no amount.", 0},
    };
    /* clang-format on */
    gSettings.Currency[0] = 0;
    std::string path = tmp.File("Output\\cash.txt");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(SaveFile(path.c_str(), c.text, (uint32_t)strlen(c.text)));
        double amount = -1;
        EXPECT_EQ(ReadAccountValueFile(path.c_str(), &amount, 1), c.fault ? 0 : 1);
        EXPECT_EQ(amount, c.amount);
        if (c.fault) {
            EXPECT_EQ(std::string(LastMessage()), "The OrdersFreeCash file " + path + " " + c.fault);
        }
    }
}

TEST_F(OrderFilesTest, BasketWeightsSumByExactName)
{
    EXPECT_EQ(AddBasketWeight("IBM", 0.25), 0);
    EXPECT_EQ(AddBasketWeight("MSFT", -0.1), 1);
    EXPECT_EQ(AddBasketWeight("IBM", -0.05), 0);
    EXPECT_EQ(AddBasketWeight("ibm", 0.5), 2);
    EXPECT_DOUBLE_EQ(gBasketWeights.rows[0].amount, 0.2);
    EXPECT_EQ(gBasketWeights.count, 3);
}

} // namespace
