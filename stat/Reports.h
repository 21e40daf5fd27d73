#pragma once
// The outputs of one measured run, as text; the caller decides where they go.

#include "Profile.h"
#include "Summary.h"

#include <cstdint>
#include <string>

// The perf-stat-like report for a person (stderr or -o FILE).
std::string TextReport(const Profile& profile, const Summary& summary, const RunFacts& facts);
// The same figures under stable keys (--json FILE).
std::string JsonReport(const Profile& profile, const Summary& summary, const RunFacts& facts);
// The run as trace events for a trace viewer (--trace FILE).
std::string TraceEvents(const Profile& profile, const RunFacts& facts);
// value as a JSON string.
std::string JsonQuoted(const std::string& value);
// One row per interval window (--csv FILE).
std::string CsvTimeline(const Profile& profile);
// Lanes per thread, concurrency over time and the histogram (--svg FILE).
std::string SvgTimeline(const Profile& profile, const Summary& summary, const RunFacts& facts);

// The one-line progress shown while the command runs, without line control.
std::string ProgressLine(std::uint64_t elapsedNs, std::uint64_t onCpuNs, std::size_t threads,
                         std::uint64_t parallelNs);
// The hint that the command's children did the work, or "" when they did not.
std::string ChildrenNote(const std::string& command, std::uint64_t ownCpuNs, std::uint64_t childrenCpuNs);

// The command as a shell would show it: arguments joined by blanks.
std::string CommandText(const RunFacts& facts);
