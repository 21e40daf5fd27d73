#include "Compare.h"
#include "Repeat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An older report: no lost_records, no processes, levels up to 2, repeated.
const char* const OLD_REPORT = R"({
  "command": ["./solver", "in.txt"],
  "exit_status": 0,
  "elapsed_ms": 1000.000,
  "cpu_percent": {"avg": 180.00, "min": 150.00, "max": 199.00},
  "parallel_time_percent": 80.00,
  "average_concurrency": 1.800,
  "concurrency": [{"level": 0, "percent": 0.00}, {"level": 1, "percent": 20.00}, {"level": 2, "percent": 80.00}],
  "threads": [{"tid": 1}, {"tid": 2}],
  "verdict": {"limit": "serial", "shape": "serial", "text": "serial: ..."},
  "repeat": {"runs": 3, "figures": {
    "elapsed_ms": {"mean": 1000.000, "stddev": 10.000, "min": 990.000, "max": 1010.000, "values": [990, 1000, 1010]},
    "parallel_time": {"mean": 80.000, "stddev": 1.000, "min": 79.000, "max": 81.000, "values": [79, 80, 81]}
  }}
}
)";

// A newer one: slower, less parallel, a level 3 the old one never reached.
const char* const NEW_REPORT = R"({
  "command": ["./solver", "in.txt"],
  "elapsed_ms": 1500.000,
  "cpu_percent": {"avg": 120.00, "min": 100.00, "max": 140.00},
  "parallel_time_percent": 30.00,
  "average_concurrency": 1.200,
  "concurrency": [{"level": 0, "percent": 10.00}, {"level": 1, "percent": 60.00}, {"level": 2, "percent": 25.00},
                  {"level": 3, "percent": 5.00}],
  "threads": [{"tid": 1}, {"tid": 2}, {"tid": 3}],
  "processes": 1,
  "lost_records": 0,
  "verdict": {"limit": "starved", "shape": "parallel", "text": "starved: ..."},
  "a_future_key": "ignored",
  "repeat": {"runs": 3, "figures": {
    "elapsed_ms": {"mean": 1500.000, "stddev": 500.000, "min": 1000.000, "max": 2000.000, "values": [1000, 1500, 2000]},
    "parallel_time": {"mean": 30.000, "stddev": 1.000, "min": 29.000, "max": 31.000, "values": [29, 30, 31]}
  }}
}
)";

TEST(Compare, SetsTheFiguresBothReportsHaveSideBySide)
{
    Compared before, after;
    std::string error;
    ASSERT_TRUE(ComparedFromJson(OLD_REPORT, before, error)) << error;
    ASSERT_TRUE(ComparedFromJson(NEW_REPORT, after, error)) << error;
    // elapsed: the ranges 990..1010 and 1000..2000 overlap, so not significant;
    // parallel time: 79..81 and 29..31 are apart. Figures without a range
    // count as one run: never significant.
    EXPECT_EQ(CompareText(before, after, "old.json"),
              " compared with old.json (3 runs) and this (3 runs):\n"
              " figure                        old          new       change\n"
              " elapsed_ms               1000.000     1500.000      +50.0 %\n"
              " cpu_avg                    180.00       120.00   -60.00 pts\n"
              " cpu_min                    150.00       100.00   -50.00 pts\n"
              " cpu_max                    199.00       140.00   -59.00 pts\n"
              " parallel_time               80.00        30.00   -50.00 pts  significant\n"
              " average_concurrency         1.800        1.200      -33.3 %\n"
              " threads                         2            3      +50.0 %\n"
              " level_0                      0.00        10.00   +10.00 pts\n"
              " level_1                     20.00        60.00   +40.00 pts\n"
              " level_2                     80.00        25.00   -55.00 pts\n"
              " level_3                      0.00         5.00    +5.00 pts\n"
              " verdict                    serial      starved      changed\n"
              " significant: both sides repeated (-r) and their ranges (min .. max) do not overlap\n");
}

TEST(Compare, RefusesWhatIsNotAReportInOneLine)
{
    for (const char* text : {"", "not json", "[1, 2]", "{\"elapsed_ms\": 1}", "{\"command\": \"x\", \"elapsed_ms\": 1}",
                             "{\"command\": [], \"elapsed_ms\": \"1\"}", "{\"command\": [], \"elapsed_ms\": 1"}) {
        Compared compared;
        std::string error;
        EXPECT_FALSE(ComparedFromJson(text, compared, error)) << text;
        EXPECT_EQ(error, "not a JSON report of quorvex-stat") << text;
    }
}

// A report of this version read back gives the figures it was written from.
TEST(Repeat, SpreadsReadBackAsTheFiguresTheyCameFrom)
{
    const std::vector<Figures> runs = {
        {{"elapsed_ms", 100, 100, 100, 1}, {"level_0", 50, 50, 50, 1}, {"level_1", 50, 50, 50, 1}},
        {{"elapsed_ms", 110, 110, 110, 1}, {"level_0", 100, 100, 100, 1}},
        {{"elapsed_ms", 120, 120, 120, 1}, {"level_0", 60, 60, 60, 1}, {"level_1", 40, 40, 40, 1}},
    };
    const std::vector<Spread> spreads = Aggregate(runs);
    // level_1 in the second run: missing, so 0; sample deviation of 100, 110, 120 is 10.
    EXPECT_EQ(RepeatText(spreads),
              " over 3 runs: mean ± standard deviation (min .. max)\n"
              " elapsed_ms                110.000 ± 10.000     (100.000 .. 120.000)\n"
              " level_0                    70.000 ± 26.458     (50.000 .. 100.000)\n"
              " level_1                    30.000 ± 26.458     (0.000 .. 50.000)\n");
    Compared read;
    std::string error;
    ASSERT_TRUE(ComparedFromJson("{\"command\": [], \"elapsed_ms\": 1,\n" + RepeatJson(spreads) + "  \"end\": 0}",
                                read, error))
        << error;
    ASSERT_EQ(read.figures.size(), 3u);
    const Figure& level1 = read.figures[2];
    EXPECT_EQ(level1.key, "level_1");
    EXPECT_EQ(level1.value, 30);
    EXPECT_EQ(level1.min, 0);
    EXPECT_EQ(level1.max, 50);
    EXPECT_EQ(level1.runs, 3u);
    EXPECT_EQ(read.limit, "");  // no verdict: none compared
}

} // namespace
