#pragma once
// --fail-if: conditions on the headline figures that fail a run which
// otherwise succeeded, so that CI can hold a program to its parallelism.

#include "Figures.h"

#include <string>
#include <vector>

// When a condition holds and the command itself succeeded, quorvex-stat
// exits with this: below 125 (its own failures) and apart from the
// statuses of the commonest commands (0, 1, 2).
constexpr int EXIT_CONDITION_HELD = 123;

struct Condition {
    enum class Op { Less, LessOrEqual, Greater, GreaterOrEqual, Equal, NotEqual };
    std::string text;  // as written, for the report
    std::string key;
    Op op = Op::Less;
    double limit = 0;
};

// "parallel_time<40": false, with the reason in error, when it is not
// KEY OP NUMBER with a known key.
bool ParseCondition(const std::string& text, Condition& condition, std::string& error);

struct HeldCondition {
    const Condition* condition;
    double value;
};
// The conditions that hold for figures; one whose figure is missing (a
// level no thread reached) is judged on 0.
std::vector<HeldCondition> HeldConditions(const std::vector<Condition>& conditions, const Figures& figures);

// One report line per held condition.
std::string HeldText(const std::vector<HeldCondition>& held);
