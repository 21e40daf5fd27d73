#include "StatOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The outcome as "error: ..." or the options that differ from the defaults.
std::string Parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "quorvex-stat");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const ParsedCommandLine parsed = ParseStatCommandLine(static_cast<int>(words.size()), argv.data());
    switch (parsed.action) {
    case ParsedCommandLine::Action::Fail: return "error: " + parsed.error;
    case ParsedCommandLine::Action::Help: return "help";
    case ParsedCommandLine::Action::Version: return "version";
    case ParsedCommandLine::Action::Check: return "check";
    case ParsedCommandLine::Action::Measure: break;
    }
    const StatOptions& o = parsed.options;
    std::string text;
    if (!o.followChildren)
        text += "own-process ";
    if (o.timeoutSeconds)
        text += "timeout " + std::to_string(o.timeoutSeconds) + " ";
    text += "interval " + std::to_string(o.intervalMs) + " ";
    for (const auto& [name, file] : {std::pair{"output", o.outputFile}, {"json", o.jsonFile}, {"csv", o.csvFile},
                                     {"svg", o.svgFile}})
        if (!file.empty())
            text += std::string(name) + " " + file + " ";
    if (o.attachPid)
        text += "pid " + std::to_string(o.attachPid) + " ";
    if (o.stretches != 5)
        text += "stretches " + std::to_string(o.stretches) + " ";
    text += "|";
    for (const std::string& word : o.command)
        text += " " + word;
    return text;
}

TEST(StatCommandLine, ReadsOptionsUpToTheCommand)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"xz", "-T2", "-c", "f"}, "interval 100 | xz -T2 -c f"},
        {{"-c", "-i", "10", "-t", "2.5", "make", "-j2"}, "timeout 2.500000 interval 10 | make -j2"},
        {{"--no-inherit", "--interval=250", "--timeout", "1", "--", "-weird"},
         "own-process timeout 1.000000 interval 250 | -weird"},
        {{"--no-inherit", "-c", "make"}, "interval 100 | make"},
        {{"-t", "1e10", "make"}, "timeout 10000000000.000000 interval 100 | make"},
        {{"-t", "1e30", "make"}, "error: invalid timeout '1e30': seconds greater than 0, at most 1e10"},
        {{"-t", "inf", "make"}, "error: invalid timeout 'inf': seconds greater than 0, at most 1e10"},
        {{"-t", "nan", "make"}, "error: invalid timeout 'nan': seconds greater than 0, at most 1e10"},
        {{"-o", "r.txt", "--json", "r.json", "--csv=r.csv", "--svg", "r.svg", "true"},
         "interval 100 output r.txt json r.json csv r.csv svg r.svg | true"},
        {{"-p", "1234"}, "interval 100 pid 1234 |"},
        {{"--help", "xz"}, "help"},
        {{"-V"}, "version"},
        {{}, "error: no command given"},
        {{"-p", "12", "xz"}, "error: give either a command or -p PID, not both"},
        {{"-i", "0", "xz"}, "error: invalid interval '0': milliseconds from 1 to 3600000"},
        {{"-i", "10x", "xz"}, "error: invalid interval '10x': milliseconds from 1 to 3600000"},
        {{"-t", "-1", "xz"}, "error: invalid timeout '-1': seconds greater than 0, at most 1e10"},
        {{"-p", "abc"}, "error: invalid process id 'abc'"},
        {{"--check"}, "check"},
        {{"-r", "0", "xz"}, "error: invalid repeat count '0': from 1 to 10000"},
        {{"--repeat=10001", "xz"}, "error: invalid repeat count '10001': from 1 to 10000"},
        {{"-r", "2", "-p", "12"}, "error: -r repeats a command; it cannot repeat -p PID"},
        {{"--fail-if", "x<1", "xz"}, "error: invalid condition 'x<1': unknown figure 'x'"},
        {{"--stretches", "12", "xz"}, "interval 100 stretches 12 | xz"},
        {{"--stretches=0", "xz"}, "error: invalid number of stretches '0': from 1 to 10000"},
        {{"-x", "xz"}, "error: invalid option -- 'x'"},
        {{"--bogus", "xz"}, "error: unrecognized option '--bogus'"},
        {{"xz", "-i"}, "interval 100 | xz -i"},
        {{"-i"}, "error: option '-i' requires an argument"},
        {{"--json"}, "error: option '--json' requires an argument"},
        {{"-ci"}, "error: option '-i' requires an argument"},
        {{"--interval"}, "error: option '--interval' requires an argument"},
    };
    for (const auto& [words, expected] : cases)
        EXPECT_EQ(Parse(words), expected) << testing::PrintToString(words);
}

} // namespace
