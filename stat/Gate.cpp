#include "Gate.h"

#include "Text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Two-character operators first, so that "<=" is not read as "<".
const std::pair<const char*, Condition::Op> OPERATORS[] = {
    {"<=", Condition::Op::LessOrEqual}, {">=", Condition::Op::GreaterOrEqual}, {"==", Condition::Op::Equal},
    {"!=", Condition::Op::NotEqual},    {"<", Condition::Op::Less},            {">", Condition::Op::Greater},
};

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool Holds(Condition::Op op, double value, double limit)
{
    switch (op) {
    case Condition::Op::Less: return value < limit;
    case Condition::Op::LessOrEqual: return value <= limit;
    case Condition::Op::Greater: return value > limit;
    case Condition::Op::GreaterOrEqual: return value >= limit;
    case Condition::Op::Equal: return value == limit;
    case Condition::Op::NotEqual: return value != limit;
    }
    return false;
}

} // namespace

bool ParseCondition(const std::string& text, Condition& condition, std::string& error)
{
    const std::size_t at = text.find_first_of("<>=!");
    const auto bad = [&](const std::string& why) {
        error = "invalid condition '" + text + "': " + why;
        return false;
    };
    if (at == std::string::npos)
        return bad("expected KEY OP NUMBER, OP one of < <= > >= == !=");
    condition = Condition{};
    condition.text = text;
    condition.key = Trimmed(text.substr(0, at));
    const auto written = std::find_if(std::begin(OPERATORS), std::end(OPERATORS), [&](const auto& entry) {
        return text.compare(at, std::strlen(entry.first), entry.first) == 0;
    });
    if (written == std::end(OPERATORS))
        return bad("expected KEY OP NUMBER, OP one of < <= > >= == !=");
    condition.op = written->second;
    const std::string rest = text.substr(at + std::strlen(written->first));
    if (!IsFigureKey(condition.key))
        return bad("unknown figure '" + condition.key + "'");
    const std::string number = Trimmed(rest);
    char* end = nullptr;
    condition.limit = std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(condition.limit))
        return bad("'" + number + "' is not a number");
    return true;
}

std::vector<HeldCondition> HeldConditions(const std::vector<Condition>& conditions, const Figures& figures)
{
    std::vector<HeldCondition> held;
    for (const Condition& condition : conditions) {
        const Figure* figure = FindFigure(figures, condition.key);
        const double value = figure ? figure->value : 0;
        if (Holds(condition.op, value, condition.limit))
            held.push_back({&condition, value});
    }
    return held;
}

std::string HeldText(const std::vector<HeldCondition>& held)
{
    std::string text;
    for (const HeldCondition& h : held)
        Appendf(text, " --fail-if '%s' holds: %s is %g\n", h.condition->text.c_str(), h.condition->key.c_str(),
                h.value);
    return text;
}
