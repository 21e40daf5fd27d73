#include "Session.h"

#include "Compare.h"
#include "Figures.h"
#include "Gate.h"
#include "Repeat.h"
#include "StatRun.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

bool ReadReport(const std::string& path, Compared& compared, std::string& error)
{
    std::ifstream file(path);
    std::ostringstream text;
    if (!(file && text << file.rdbuf())) {
        error = std::strerror(errno ? errno : EIO);
        return false;
    }
    return ComparedFromJson(text.str(), compared, error);
}

struct Runs {
    std::vector<Figures> figures;  // one per run
    std::optional<Profile> lastProfile;
    RunFacts lastFacts;
    std::string lastLimit;  // the last run's verdict, as its report gives it
};

std::string FailIfJson(const std::vector<Condition>& conditions, const std::vector<HeldCondition>& held)
{
    std::string text = "  \"fail_if\": [";
    for (std::size_t i = 0; i < conditions.size(); ++i) {
        const bool holds = std::any_of(held.begin(), held.end(),
                                       [&](const HeldCondition& h) { return h.condition == &conditions[i]; });
        text += (i ? ", " : "") + std::string("{\"condition\": \"") + conditions[i].text +
                "\", \"holds\": " + (holds ? "true" : "false") + "}";
    }
    return text + "],\n";
}

} // namespace

bool ReadBaseline(const StatOptions& options, Compared& baseline)
{
    std::string error;
    if (options.compareFile.empty() || ReadReport(options.compareFile, baseline, error))
        return true;
    std::fprintf(stderr, "quorvex-stat: cannot compare with '%s': %s\n", options.compareFile.c_str(), error.c_str());
    return false;
}

int MeasureSession(const StatOptions& options, const Compared& baseline, const OutputFiles& outputs)
{
    Runs runs;
    const RunFinished keep = [&runs](const Profile& profile, const RunFacts& facts) {
        const Summary summary = Summarize(profile, facts);
        runs.figures.push_back(HeadlineFigures(profile, summary));
        runs.lastLimit = summary.demand.known ? LimitName(summary.demand.limit) : "";
        runs.lastProfile = profile;
        runs.lastFacts = facts;
    };
    int status = 0;
    for (int run = 0; run < options.repeat && status == 0; ++run)
        status = options.attachPid ? MeasureAttached(options, keep) : MeasureCommand(options, keep);
    if (runs.figures.empty())
        return status;  // nothing was measured
    RunFacts& facts = runs.lastFacts;
    Figures figures = runs.figures.back();
    if (runs.figures.size() > 1) {
        const std::vector<Spread> spreads = Aggregate(runs.figures);
        figures = MeanFigures(spreads);
        facts.reportSections += "\n" + RepeatText(spreads);
        facts.jsonMembers += RepeatJson(spreads);
    }
    if (!options.compareFile.empty())
        facts.reportSections += "\n" + CompareText(baseline, {figures, runs.lastLimit}, options.compareFile);
    const std::vector<HeldCondition> held = HeldConditions(options.failIf, figures);
    if (!options.failIf.empty()) {
        facts.reportSections += held.empty() ? "\n no --fail-if condition holds\n" : "\n" + HeldText(held);
        facts.jsonMembers += FailIfJson(options.failIf, held);
    }
    const bool written = outputs.Write(*runs.lastProfile, facts);
    // The command's own failure wins, then an output that could not be written.
    if (status != 0 || !written)
        return status != 0 ? status : EXIT_USAGE;
    return held.empty() ? 0 : EXIT_CONDITION_HELD;
}
