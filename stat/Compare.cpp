#include "Compare.h"

#include "Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

using Json = nlohmann::json;

const Json* Member(const Json& object, const char* key)
{
    const auto found = object.find(key);
    return object.is_object() && found != object.end() ? &*found : nullptr;
}

void AddNumber(Figures& figures, const std::string& key, const Json* number)
{
    if (number && number->is_number()) {
        const double value = number->get<double>();
        figures.push_back({key, value, value, value, 1});
    }
}

void AddCount(Figures& figures, const std::string& key, const Json* array)
{
    if (array && array->is_array()) {
        const double count = static_cast<double>(array->size());
        figures.push_back({key, count, count, count, 1});
    }
}

void AddLevels(Figures& figures, const Json* concurrency)
{
    if (!concurrency || !concurrency->is_array())
        return;
    for (const Json& level : *concurrency) {
        const Json* number = Member(level, "level");
        if (number && number->is_number_unsigned())
            AddNumber(figures, "level_" + std::to_string(number->get<unsigned>()), Member(level, "percent"));
    }
}

// Repeated runs: each figure's mean and range stand for it.
void ApplyRepeat(Figures& figures, const Json* repeat)
{
    const Json* spreads = repeat ? Member(*repeat, "figures") : nullptr;
    if (!spreads || !spreads->is_object())
        return;
    for (const auto& [key, spread] : spreads->items()) {
        const Json *mean = Member(spread, "mean"), *min = Member(spread, "min"), *max = Member(spread, "max"),
                   *values = Member(spread, "values");
        if (!mean || !mean->is_number() || !min || !min->is_number() || !max || !max->is_number() || !values ||
            !values->is_array())
            continue;
        Figure figure{key, mean->get<double>(), min->get<double>(), max->get<double>(),
                      static_cast<unsigned>(values->size())};
        const auto known = std::find_if(figures.begin(), figures.end(), [&](const Figure& f) { return f.key == key; });
        if (known != figures.end())
            *known = figure;
        else
            figures.push_back(figure);
    }
}

bool IsPercent(const std::string& key)
{
    return key.starts_with("cpu_") || key == "parallel_time" || key.starts_with("level_");
}

bool HasLevels(const Figures& figures)
{
    return FindFigure(figures, "level_0") != nullptr;
}

// A level that one side never reached was 0 % of its time.
Figure LevelOrZero(const Figures& figures, const std::string& key, unsigned runs)
{
    const Figure* figure = FindFigure(figures, key);
    return figure ? *figure : Figure{key, 0, 0, 0, runs};
}

std::string Value(const std::string& key, double value)
{
    std::string text;
    Appendf(text, IsPercent(key) ? "%.2f" : key == "elapsed_ms" || key == "average_concurrency" ? "%.3f" : "%.0f",
            value);
    return text;
}

std::string Change(const std::string& key, double before, double after)
{
    std::string text;
    if (IsPercent(key))
        Appendf(text, "%+.2f pts", after - before);
    else if (before != 0)
        Appendf(text, "%+.1f %%", 100 * (after - before) / before);
    else
        Appendf(text, "%+g", after - before);
    return text;
}

// Significant: both sides were repeated and their ranges are apart.
bool Significant(const Figure& before, const Figure& after)
{
    return before.runs > 1 && after.runs > 1 && (after.min > before.max || after.max < before.min);
}

void Row(std::string& text, const Figure& before, const Figure& after)
{
    Appendf(text, " %-20s %12s %12s %12s%s\n", before.key.c_str(), Value(before.key, before.value).c_str(),
            Value(after.key, after.value).c_str(), Change(before.key, before.value, after.value).c_str(),
            Significant(before, after) ? "  significant" : "");
}

unsigned Runs(const Figures& figures)
{
    return figures.empty() ? 0 : figures.front().runs;
}

std::string VerdictLimit(const Json& document)
{
    const Json* verdict = Member(document, "verdict");
    const Json* limit = verdict ? Member(*verdict, "limit") : nullptr;
    return limit && limit->is_string() ? limit->get<std::string>() : "";
}

// The verdicts are words: the row says whether they differ.
void VerdictRow(std::string& text, const std::string& before, const std::string& after)
{
    Appendf(text, " %-20s %12s %12s", "verdict", before.c_str(), after.c_str());
    text += before != after ? "      changed\n" : "\n";
}

} // namespace

bool ComparedFromJson(const std::string& json, Compared& compared, std::string& error)
{
    const Json document = Json::parse(json, nullptr, false);
    const Json* command = Member(document, "command");
    const Json* elapsed = Member(document, "elapsed_ms");
    if (document.is_discarded() || !command || !command->is_array() || !elapsed || !elapsed->is_number()) {
        error = "not a JSON report of quorvex-stat";
        return false;
    }
    Figures& figures = compared.figures;
    figures.clear();
    AddNumber(figures, "elapsed_ms", elapsed);
    if (const Json* cpu = Member(document, "cpu_percent")) {
        AddNumber(figures, "cpu_avg", Member(*cpu, "avg"));
        AddNumber(figures, "cpu_min", Member(*cpu, "min"));
        AddNumber(figures, "cpu_max", Member(*cpu, "max"));
    }
    AddNumber(figures, "parallel_time", Member(document, "parallel_time_percent"));
    AddNumber(figures, "average_concurrency", Member(document, "average_concurrency"));
    AddCount(figures, "threads", Member(document, "threads"));
    AddNumber(figures, "processes", Member(document, "processes"));
    AddNumber(figures, "lost_records", Member(document, "lost_records"));
    AddLevels(figures, Member(document, "concurrency"));
    ApplyRepeat(figures, Member(document, "repeat"));
    compared.limit = VerdictLimit(document);
    return true;
}

std::string CompareText(const Compared& beforeSide, const Compared& afterSide, const std::string& beforeName)
{
    const Figures &before = beforeSide.figures, &after = afterSide.figures;
    std::string text;
    Appendf(text, " compared with %s (%u run%s) and this (%u run%s):\n", beforeName.c_str(), Runs(before),
            Runs(before) == 1 ? "" : "s", Runs(after), Runs(after) == 1 ? "" : "s");
    Appendf(text, " %-20s %12s %12s %12s\n", "figure", "old", "new", "change");
    for (const Figure& old : before) {
        const bool level = old.key.starts_with("level_");
        if (!level)
            if (const Figure* now = FindFigure(after, old.key))
                Row(text, old, *now);
    }
    // The levels of both sides, up to the highest either reached.
    if (HasLevels(before) && HasLevels(after))
        for (std::size_t level = 0;; ++level) {
            const std::string key = "level_" + std::to_string(level);
            if (!FindFigure(before, key) && !FindFigure(after, key))
                break;
            Row(text, LevelOrZero(before, key, Runs(before)), LevelOrZero(after, key, Runs(after)));
        }
    if (!beforeSide.limit.empty() && !afterSide.limit.empty())
        VerdictRow(text, beforeSide.limit, afterSide.limit);
    text += " significant: both sides repeated (-r) and their ranges (min .. max) do not overlap\n";
    return text;
}
