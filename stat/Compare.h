#pragma once
// --compare OLD.json: the headline figures of an earlier JSON report beside
// this run's, with the change, and a change marked significant only when
// the repeated runs of both sides do not overlap.

#include "Figures.h"

#include <string>

// The figures of a JSON report that quorvex-stat wrote (the means and
// ranges of "repeat" when it holds them). False, with a one-line reason in
// error, when json is not such a report. Reports from versions with fewer
// keys give fewer figures.
bool FiguresFromJson(const std::string& json, Figures& figures, std::string& error);

// The table of the figures both sides have, for the report. before is
// named by beforeName.
std::string CompareText(const Figures& before, const Figures& after, const std::string& beforeName);
