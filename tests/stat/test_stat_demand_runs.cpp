#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Two busy threads held to one processor want two: starved, and the one
// processor is the limit, however busy the rest of the machine is.
TEST(StatDemandRun, TwoBusyThreadsOnOneProcessorAreStarved)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    const ProgramResult result = RunProgram(
        "taskset", {"-c", "0", QUORVEX_STAT, "-o", folder.Path() + "/report", "--json", json, QUORVEX_SWITCH_LOAD,
                    "spinning", "2", "600"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    if (result.err.find("sampling /proc") != std::string::npos)
        GTEST_SKIP() << "the kernel refuses context-switch records here";
    const std::string report = ReadFile(json);
    EXPECT_NE(report.find("\"verdict\": {\"limit\": \"starved\", \"shape\": \"parallel\", \"text\": \"starved: its "
                          "threads waited for a processor "),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("more of them wanted one than its 1 processor: the limit"), std::string::npos) << report;
    EXPECT_EQ(Number(report, "usable_processors"), 1);
    EXPECT_GE(Number(report, "oversubscribed_percent"), 50) << report;
    EXPECT_EQ(ReadFile(folder.Path() + "/report").find("\n quorvex-stat for '"), 0u);
}

} // namespace
