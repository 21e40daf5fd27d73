#include "Gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "key op limit" as read, or "error: ...".
std::string Parsed(const std::string& text)
{
    Condition condition;
    std::string error;
    if (!ParseCondition(text, condition, error))
        return "error: " + error;
    static const char* const NAMES[] = {"<", "<=", ">", ">=", "==", "!="};
    return condition.key + " " + NAMES[static_cast<int>(condition.op)] + " " + std::to_string(condition.limit);
}

TEST(FailIf, ReadsKeyOperatorNumber)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"parallel_time<40", "parallel_time < 40.000000"},
        {"average_concurrency<=1.5", "average_concurrency <= 1.500000"},
        {"cpu_avg>180", "cpu_avg > 180.000000"},
        {"elapsed_ms>=5e3", "elapsed_ms >= 5000.000000"},
        {"level_0==0", "level_0 == 0.000000"},
        {"lost_records!=0", "lost_records != 0.000000"},
        {" level_12 < -1 ", "level_12 < -1.000000"},
        {"threads>2000", "threads > 2000.000000"},
        {"parallel_time", "error: invalid condition 'parallel_time': expected KEY OP NUMBER, OP one of < <= > >= == !="},
        {"cpu_avg=180", "error: invalid condition 'cpu_avg=180': expected KEY OP NUMBER, OP one of < <= > >= == !="},
        {"cpu_avg=>180", "error: invalid condition 'cpu_avg=>180': expected KEY OP NUMBER, OP one of < <= > >= == !="},
        {"cpu_avg!180", "error: invalid condition 'cpu_avg!180': expected KEY OP NUMBER, OP one of < <= > >= == !="},
        {"cpu<180", "error: invalid condition 'cpu<180': unknown figure 'cpu'"},
        {"<180", "error: invalid condition '<180': unknown figure ''"},
        {"level_<1", "error: invalid condition 'level_<1': unknown figure 'level_'"},
        {"level_x<1", "error: invalid condition 'level_x<1': unknown figure 'level_x'"},
        {"cpu_avg<", "error: invalid condition 'cpu_avg<': '' is not a number"},
        {"cpu_avg<<1", "error: invalid condition 'cpu_avg<<1': '<1' is not a number"},
        {"cpu_avg<1 %", "error: invalid condition 'cpu_avg<1 %': '1 %' is not a number"},
        {"cpu_avg<nan", "error: invalid condition 'cpu_avg<nan': 'nan' is not a number"},
        {"cpu_avg<inf", "error: invalid condition 'cpu_avg<inf': 'inf' is not a number"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Parsed(text), expected) << text;
}

// Each operator at, just below and just above its limit; a missing level is 0.
TEST(FailIf, HoldsOnTheFiguresAsItsOperatorSays)
{
    const Figures figures = {{"parallel_time", 40, 40, 40, 1}, {"level_0", 60, 60, 60, 1}};
    const std::vector<std::pair<std::string, std::string>> cases = {
        // condition, whether it holds at 39.99 / 40 / 40.01 (as 'y' or '.')
        {"parallel_time<40", "y.."},  {"parallel_time<=40", "yy."}, {"parallel_time>40", "..y"},
        {"parallel_time>=40", ".yy"}, {"parallel_time==40", ".y."}, {"parallel_time!=40", "y.y"},
    };
    for (const auto& [text, expected] : cases) {
        std::string held;
        for (const double value : {39.99, 40.0, 40.01}) {
            Figures shifted = figures;
            shifted[0].value = value;
            std::vector<Condition> conditions(1);
            std::string error;
            ASSERT_TRUE(ParseCondition(text, conditions[0], error)) << error;
            held += HeldConditions(conditions, shifted).empty() ? '.' : 'y';
        }
        EXPECT_EQ(held, expected) << text;
    }
    std::vector<Condition> conditions(2);
    std::string error;
    ASSERT_TRUE(ParseCondition("level_3>0", conditions[0], error));
    ASSERT_TRUE(ParseCondition("level_3==0", conditions[1], error));
    const std::vector<HeldCondition> held = HeldConditions(conditions, figures);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(HeldText(held), " --fail-if 'level_3==0' holds: level_3 is 0\n");
}

} // namespace
