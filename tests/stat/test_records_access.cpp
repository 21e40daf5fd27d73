#include "RecordsAccess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace {

// What a run says when it falls back, and --check's answer, for each way
// the records are refused or allowed.
TEST(RecordsAccess, SaysWhatRefusedAndWhatWouldAllow)
{
    const std::string sysctl = "as root, 'sysctl kernel.perf_event_paranoid=2' (until reboot; a file in "
                               "/etc/sysctl.d/ keeps it) lets every user record their own processes, not the "
                               "kernel's or other users'; or 'setcap cap_perfmon=ep quorvex-stat' lets whoever runs "
                               "it observe every process";
    struct Case {
        RecordsAccess access;
        std::string run;    // on standard error
        std::string check;  // --check, on standard output
        bool exact;
    };
    const std::vector<Case> cases = {
        {{EACCES, 3, false, false, false},
         "quorvex-stat: kernel.perf_event_paranoid is 3: the kernel refuses context-switch records to unprivileged "
         "users; sampling /proc every 2 ms instead (CPU times exact, concurrency sampled)\n"
         "quorvex-stat: for exact figures: " + sysctl + "\n",
         "source: /proc sampled every 2 ms (CPU times exact, concurrency sampled)\n"
         "why: kernel.perf_event_paranoid is 3: the kernel refuses context-switch records to unprivileged users\n"
         "for exact figures: " + sysctl + "\n",
         false},
        {{ENOSYS, 2, false, false, false},
         "quorvex-stat: the kernel refuses context-switch records: Function not implemented; sampling /proc every "
         "2 ms instead (CPU times exact, concurrency sampled)\n"
         "quorvex-stat: for exact figures: run quorvex-stat with CAP_PERFMON (it may then observe every process), "
         "or on a kernel with perf events\n",
         "source: /proc sampled every 2 ms (CPU times exact, concurrency sampled)\n"
         "why: the kernel refuses context-switch records: Function not implemented\n"
         "for exact figures: run quorvex-stat with CAP_PERFMON (it may then observe every process), or on a kernel "
         "with perf events\n",
         false},
        {{0, 4, false, true, false}, "", "source: context-switch records (exact)\n"
         "why: context-switch records allowed: kernel.perf_event_paranoid is 4, and CAP_PERFMON in effect\n", true},
        {{0, 3, false, false, false}, "", "source: context-switch records (exact)\n"
         "why: context-switch records allowed: kernel.perf_event_paranoid is 3 (this kernel does not refuse them at "
         "levels above 2)\n", true},
        {{0, 2, false, false, true},
         "quorvex-stat: QUORVEX_THREAD_STATES=proc asks for /proc; sampling /proc every 2 ms instead (CPU times "
         "exact, concurrency sampled)\n",
         "source: /proc sampled every 2 ms (CPU times exact, concurrency sampled)\n"
         "why: QUORVEX_THREAD_STATES=proc asks for /proc\n",
         false},
    };
    for (const Case& c : cases) {
        if (!c.exact) {
            EXPECT_EQ(RefusalText(c.access, 2), c.run);
        }
        bool exact = !c.exact;
        EXPECT_EQ(CheckText(c.access, 2, exact), c.check);
        EXPECT_EQ(exact, c.exact) << c.check;
    }
}

// The kernel's stop at a set-user-ID exec is the exec, then the exit of the
// process's first thread before any code mapping; an exec that keeps the
// records maps the program first.
TEST(RecordsAccess, StopsAtExecAreToldFromTheRecords)
{
    const auto at = [](RecordKind kind, int tid) {
        SwitchRecord record;
        record.kind = kind;
        record.pid = 7;
        record.tid = tid;
        record.name = kind == RecordKind::Exec ? "mount" : "";
        return record;
    };
    const struct {
        std::vector<SwitchRecord> records;
        std::optional<std::string> stop;
    } cases[] = {
        {{at(RecordKind::Exec, 7), at(RecordKind::Exit, 7)}, "mount"},
        {{at(RecordKind::Exec, 7), at(RecordKind::SwitchOut, 7), at(RecordKind::Exit, 7)}, "mount"},
        {{at(RecordKind::Exec, 7), at(RecordKind::Mapped, 7), at(RecordKind::Exit, 7)}, std::nullopt},
        {{at(RecordKind::Exec, 7), at(RecordKind::Exit, 8)}, std::nullopt},  // another thread ended
        {{at(RecordKind::Exit, 7)}, std::nullopt},
        // Told once: the process ends unseen.
        {{at(RecordKind::Exec, 7), at(RecordKind::Exit, 7), at(RecordKind::Exit, 7)}, std::nullopt},
    };
    for (const auto& test : cases) {
        StoppedExecs execs;
        std::optional<std::string> stop;
        for (const SwitchRecord& record : test.records)
            stop = execs.See(record);
        EXPECT_EQ(stop, test.stop) << test.records.size();
    }
}

} // namespace
