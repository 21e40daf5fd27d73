#include "Reports.h"
#include "Text.h"

#include <algorithm>
#include <cmath>
#include <vector>

// The picture, top to bottom: the title, the number of threads on a
// processor over time, one lane per thread, the histogram. Time runs in at
// most PLOT_WIDTH columns, each one or more interval windows. A lane shows,
// per column, the share of the time its thread was on a processor (green,
// from the bottom) and waiting for one (orange, above); the grey behind it is
// the thread's life, asleep where nothing covers it. The busiest threads get
// their own lanes; the rest share one folded lane, scaled to their live time.

namespace {

constexpr double LEFT = 190;
constexpr double PLOT_WIDTH = 780;
constexpr double WIDTH = LEFT + PLOT_WIDTH + 20;
constexpr double CHART_HEIGHT = 100;
constexpr std::size_t MAX_LANES = 40;
constexpr std::size_t TITLE_LENGTH = 90;
constexpr double SEAM = 0.4;  // neighbouring columns overlap, or antialiasing leaves white seams
constexpr const char* ON_CPU = "#2e7d32";
constexpr const char* WAITING = "#ef6c00";
constexpr const char* ASLEEP = "#e6e6e6";

std::string Escaped(const std::string& value)
{
    std::string text;
    for (const char c : ValidUtf8(value)) {
        switch (c) {
        case '&': text += "&amp;"; break;
        case '<': text += "&lt;"; break;
        case '>': text += "&gt;"; break;
        case '"': text += "&quot;"; break;
        default: text += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
    }
    return text;
}

struct Columns {
    std::size_t count;
    std::size_t windows;
    double width;
    std::vector<std::uint64_t> lengthNs;
    std::vector<std::uint64_t> startNs;  // since the span's start

    explicit Columns(const Profile& profile)
        : count(std::max<std::size_t>(1, std::min<std::size_t>(profile.windows.size(), PLOT_WIDTH))),
          windows(std::max<std::size_t>(1, profile.windows.size())), width(PLOT_WIDTH / static_cast<double>(count)),
          lengthNs(count, 0), startNs(count, 0)
    {
        for (std::size_t w = profile.windows.size(); w-- > 0;) {
            lengthNs[Of(w)] += profile.windows[w].lengthNs;
            startNs[Of(w)] = profile.windows[w].startNs;
        }
    }
    std::size_t Of(std::size_t window) const { return window * count / windows; }
    double X(std::size_t column) const { return LEFT + static_cast<double>(column) * width; }
};

// A lane's share per column: on a processor, waiting, and the live time
// that the two are shares of.
struct LaneShares {
    std::vector<std::uint64_t> onCpuNs, waitingNs, aliveNs;
    explicit LaneShares(std::size_t columns) : onCpuNs(columns), waitingNs(columns), aliveNs(columns) {}
};

void AddThread(LaneShares& lane, const ThreadProfile& thread, const Profile& profile, const Columns& columns)
{
    for (const WindowShare& share : thread.windows) {
        lane.onCpuNs[columns.Of(share.window)] += share.onCpuNs;
        lane.waitingNs[columns.Of(share.window)] += share.waitingNs;
    }
    const std::uint64_t born = thread.bornNs - profile.startNs;
    const std::uint64_t ended = thread.endedNs - profile.startNs;
    for (std::size_t c = 0; c < columns.count; ++c) {
        const std::uint64_t from = std::max(born, columns.startNs[c]);
        const std::uint64_t to = std::min(ended, columns.startNs[c] + columns.lengthNs[c]);
        lane.aliveNs[c] += to > from ? to - from : 0;
    }
}

void DrawLane(std::string& svg, const LaneShares& lane, const std::string& label, double y, double height,
              const Columns& columns)
{
    Appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" class=\"lane\">%s</text>\n", LEFT - 6, y + height - 2,
            Escaped(label).c_str());
    for (std::size_t c = 0; c < columns.count; ++c) {
        if (lane.aliveNs[c] == 0)
            continue;
        const double live = static_cast<double>(lane.aliveNs[c]);
        const double liveWidth = columns.width * std::min(1.0, live / static_cast<double>(columns.lengthNs[c]));
        const double on = height * std::min(1.0, static_cast<double>(lane.onCpuNs[c]) / live);
        const double waiting = std::min(height - on, height * static_cast<double>(lane.waitingNs[c]) / live);
        Appendf(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.2f\" height=\"%.1f\" fill=\"%s\"/>\n", columns.X(c), y,
                std::max(liveWidth, 0.5) + SEAM, height, ASLEEP);
        if (on >= 0.1)
            Appendf(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.2f\" height=\"%.1f\" fill=\"%s\"/>\n", columns.X(c),
                    y + height - on, columns.width + SEAM, on, ON_CPU);
        if (waiting >= 0.1)
            Appendf(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.2f\" height=\"%.1f\" fill=\"%s\"/>\n", columns.X(c),
                    y + height - on - waiting, columns.width + SEAM, waiting, WAITING);
    }
}

double Lanes(std::string& svg, const Profile& profile, const Columns& columns, double y)
{
    std::vector<const ThreadProfile*> threads;
    for (const ThreadProfile& thread : profile.threads)
        threads.push_back(&thread);
    std::stable_sort(threads.begin(), threads.end(),
                     [](const ThreadProfile* a, const ThreadProfile* b) { return a->onCpuNs > b->onCpuNs; });
    // Folding one thread saves nothing.
    const std::size_t own = threads.size() <= MAX_LANES + 1 ? threads.size() : MAX_LANES;
    const double height = own > 20 ? 9 : 14;
    Appendf(svg, "<text x=\"10\" y=\"%.1f\" class=\"head\">threads (%zu), busiest first</text>\n", y + 12,
            threads.size());
    y += 20;
    for (std::size_t i = 0; i < own; ++i, y += height + 2) {
        LaneShares lane(columns.count);
        AddThread(lane, *threads[i], profile, columns);
        std::string label;
        Appendf(label, "%d %s", threads[i]->tid, threads[i]->name.c_str());
        DrawLane(svg, lane, label, y, height, columns);
    }
    if (own < threads.size()) {
        LaneShares folded(columns.count);
        for (std::size_t i = own; i < threads.size(); ++i)
            AddThread(folded, *threads[i], profile, columns);
        std::string label;
        Appendf(label, "%zu other threads", threads.size() - own);
        DrawLane(svg, folded, label, y, 2 * height, columns);
        y += 2 * height + 2;
    }
    return y;
}

// Ticks every 1, 2 or 5 times a power of ten, at most ten of them.
double TimeStepMs(double elapsedMs)
{
    for (double scale = 1e-3;; scale *= 10)
        for (const double multiple : {1.0, 2.0, 5.0})
            if (elapsedMs / (multiple * scale) <= 10)
                return multiple * scale;
}

double TimeAxis(std::string& svg, const Profile& profile, double y)
{
    const double elapsedMs = std::max(Ms(profile.ElapsedNs()), 1e-3);
    const double step = TimeStepMs(elapsedMs);
    for (int tick = 0; tick * step <= elapsedMs * (1 + 1e-9); ++tick) {
        const double t = tick * step;
        const double x = LEFT + PLOT_WIDTH * t / elapsedMs;
        Appendf(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"tick\"/>\n", x, y, x, y + 4);
        Appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" class=\"axis\">%g s</text>\n", x, y + 15, t / 1000);
    }
    return y + 24;
}

double ConcurrencyChart(std::string& svg, const Profile& profile, const Columns& columns, double y)
{
    const std::size_t top = std::max<std::size_t>(1, profile.levelNs.size() - 1);
    Appendf(svg, "<text x=\"10\" y=\"%.1f\" class=\"head\">threads on a processor</text>\n", y + 12);
    y += 20;
    const double bottom = y + CHART_HEIGHT;
    const std::size_t every = (top + 7) / 8;
    for (std::size_t level = 0; level <= top; level += every) {
        const double ly = bottom - CHART_HEIGHT * static_cast<double>(level) / static_cast<double>(top);
        Appendf(svg, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"grid\"/>\n", LEFT, ly,
                LEFT + PLOT_WIDTH, ly);
        Appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" class=\"lane\">%zu</text>\n", LEFT - 6, ly + 4, level);
    }
    std::vector<std::uint64_t> onCpu(columns.count, 0);
    for (std::size_t w = 0; w < profile.windows.size(); ++w)
        onCpu[columns.Of(w)] += profile.windows[w].onCpuNs;
    std::string points;
    Appendf(points, "%.1f,%.1f", LEFT, bottom);
    for (std::size_t c = 0; c < columns.count; ++c) {
        const double level = columns.lengthNs[c] ? static_cast<double>(onCpu[c]) / static_cast<double>(columns.lengthNs[c]) : 0;
        const double ly = bottom - CHART_HEIGHT * std::min(level / static_cast<double>(top), 1.0);
        Appendf(points, " %.1f,%.1f %.1f,%.1f", columns.X(c), ly, columns.X(c) + columns.width, ly);
    }
    Appendf(points, " %.1f,%.1f", LEFT + PLOT_WIDTH, bottom);
    Appendf(svg, "<polygon points=\"%s\" fill=\"%s\" fill-opacity=\"0.8\"/>\n", points.c_str(), ON_CPU);
    return bottom + 4;
}

double HistogramBars(std::string& svg, const Summary& summary, double y)
{
    Appendf(svg, "<text x=\"10\" y=\"%.1f\" class=\"head\">share of the elapsed time at each level</text>\n", y + 12);
    y += 20;
    for (std::size_t level = 0; level < summary.levelHundredths.size(); ++level, y += 16) {
        const double share = summary.levelHundredths[level] / 100.0;
        Appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" class=\"lane\">%zu</text>\n", LEFT - 6, y + 11, level);
        Appendf(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"12\" fill=\"%s\"/>\n", LEFT, y,
                PLOT_WIDTH * 0.85 * share / 100, level >= 2 ? ON_CPU : "#90a4ae");
        Appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" class=\"note\">%.2f %%</text>\n",
                LEFT + PLOT_WIDTH * 0.85 * share / 100 + 6, y + 11, share);
    }
    return y;
}

double Legend(std::string& svg, double y)
{
    const char* names[] = {"on a processor", "waiting for a processor", "asleep"};
    const char* colours[] = {ON_CPU, WAITING, ASLEEP};
    for (int i = 0; i < 3; ++i) {
        const double x = LEFT + i * 200;
        Appendf(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"12\" height=\"12\" fill=\"%s\"/>\n", x, y, colours[i]);
        Appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" class=\"note\">%s</text>\n", x + 18, y + 11,
                names[i]);
    }
    return y + 24;
}

} // namespace

std::string SvgTimeline(const Profile& profile, const Summary& summary, const RunFacts& facts)
{
    const Columns columns(profile);
    std::string body;
    std::string command = CommandText(facts);
    if (command.size() > TITLE_LENGTH)  // the rest would run off the picture
        command = command.substr(0, TITLE_LENGTH - 3) + "...";
    Appendf(body, "<text x=\"10\" y=\"24\" class=\"title\">quorvex-stat: %s</text>\n", Escaped(command).c_str());
    Appendf(body,
            "<text x=\"10\" y=\"44\" class=\"note\">elapsed %.0f ms, CPU %.1f %%, "
            "Parallel Time %.2f %%, %zu threads%s</text>\n",
            summary.elapsedMs, summary.cpuAvg, summary.parallelHundredths / 100.0, profile.threads.size(),
            summary.exact ? "" : " (not exact)");
    double y = ConcurrencyChart(body, profile, columns, 56);
    y = TimeAxis(body, profile, y);
    y = Lanes(body, profile, columns, y);
    y = TimeAxis(body, profile, y + 2);
    y = Legend(body, y);
    y = HistogramBars(body, summary, y + 6);
    std::string svg;
    Appendf(svg,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\">\n",
            WIDTH, y + 10, WIDTH, y + 10);
    svg += "<style>text{font-family:sans-serif;fill:#222}.title{font-size:16px;font-weight:bold}"
           ".head{font-size:13px;font-weight:bold}.lane{font-size:10px;text-anchor:end}"
           ".axis{font-size:10px;text-anchor:middle}.note{font-size:11px}.grid{stroke:#ccc;stroke-width:0.5}"
           ".tick{stroke:#444}</style>\n";
    Appendf(svg, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    return svg + body + "</svg>\n";
}
