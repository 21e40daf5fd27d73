#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The number after "key": at or after from in a JSON text.
double Number(const std::string& json, const std::string& key, std::size_t from = 0)
{
    const std::size_t at = json.find("\"" + key + "\": ", from);
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 4);
}

// Each thread's on-CPU milliseconds in a JSON report, by tid.
std::map<int, double> OnCpuByTid(const std::string& json)
{
    std::map<int, double> threads;
    for (std::size_t at = json.find("{\"tid\": "); at != std::string::npos; at = json.find("{\"tid\": ", at + 1))
        threads[static_cast<int>(Number(json, "tid", at))] = Number(json, "on_cpu_ms", at);
    return threads;
}

// What "exact" promises of a thread (tid 0: of the whole command): its own
// clock within 0.5 % plus 2 us a switch, and it switched in at least once
// for each hand-over it made.
double ExactToleranceMs(const std::string& json, int tid, double ownMs)
{
    double handOvers = 0;
    const std::string thread = tid ? "{\"tid\": " + std::to_string(tid) + "," : "{\"tid\": ";
    for (std::size_t at = json.find(thread); at != std::string::npos && (handOvers == 0 || !tid);
         at = json.find(thread, at + 1))
        handOvers += Number(json, "hand_overs", at);
    return std::max(0.01 * ownMs, 0.005 * ownMs + 0.002 * handOvers);
}

ProgramResult Stat(const std::vector<std::string>& args)
{
    return RunProgram(QUORVEX_STAT, args);
}

std::uint64_t NowMs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool Alive(pid_t pid)
{
    return kill(pid, 0) == 0;
}

// Gone within seconds (a zombie of some other parent counts as gone).
bool Ends(pid_t pid, int seconds = 10)
{
    for (const std::uint64_t until = NowMs() + seconds * 1000u; NowMs() < until; usleep(10'000)) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z")
            return true;
    }
    return false;
}

// quorvex-stat started with its standard output on a pipe the test reads
// line by line, so that it acts when the command says it is ready.
class Running {
public:
    Running(std::vector<std::string> args, const std::string& errFile)
    {
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        args.insert(args.begin(), QUORVEX_STAT);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~Running()
    {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }
    pid_t Pid() const { return m_pid; }
    // The next line of standard output; "" after 20 s or at its end.
    std::string Line()
    {
        std::string line;
        char c = 0;
        for (pollfd ready{m_out, POLLIN, 0}; poll(&ready, 1, 20'000) == 1 && read(m_out, &c, 1) == 1 && c != '\n';)
            line += c;
        return line;
    }
    // The exit status; -1 when it has not exited within 20 s (then killed).
    int Wait()
    {
        int status = 0;
        for (const std::uint64_t until = NowMs() + 20'000; waitpid(m_pid, &status, WNOHANG) == 0; usleep(5000))
            if (NowMs() > until)
                return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST(StatRun, ExitsWithTheCommandsStatusAsAShellWould)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errorLine;  // the first line on standard error, when it says something
    };
    const ScratchFolder folder;
    const std::string data = folder.Path() + "/data";
    std::ofstream(data) << "not a program\n";
    // execvp's rules: a file without "#!" is run by /bin/sh; a name found
    // along PATH but not executable is 126, as is any other exec error.
    const std::string script = folder.Path() + "/script";
    std::ofstream(script) << "echo \"by sh: $0 $1\"; exit 5\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::vector<Case> cases = {
        {{script, "one"}, 5, ""},
        {{"--no-inherit", script, "one"}, 5, ""},
        {{data + "/x"}, 126, "quorvex-stat: " + data + "/x: Not a directory"},
        {{folder.Path()}, 126, "quorvex-stat: " + folder.Path() + ": Permission denied"},
        {{"true"}, 0, ""},
        {{"false"}, 1, ""},
        {{"sh", "-c", "exit 3"}, 3, ""},
        {{"sh", "-c", "kill -SEGV $$"}, 139, ""},
        {{"nosuch-command"}, 127, "quorvex-stat: nosuch-command: command not found"},
        {{"./nosuch-command"}, 127, "quorvex-stat: ./nosuch-command: No such file or directory"},
        {{data}, 126, "quorvex-stat: " + data + ": Permission denied"},
        {{"-i", "0", "true"}, 125, "quorvex-stat: invalid interval '0': milliseconds from 1 to 3600000"},
        {{"-o", "/nonexistent/report", "true"}, 125,
         "quorvex-stat: cannot write '/nonexistent/report': No such file or directory"},
    };
    ProgramOptions inFolder;
    inFolder.env["PATH"] = folder.Path();
    const ProgramResult notExecutable = RunProgram(QUORVEX_STAT, {"data"}, inFolder);
    EXPECT_EQ(notExecutable.exitCode, 126);
    EXPECT_EQ(notExecutable.err, "quorvex-stat: data: Permission denied\n");
    for (const Case& c : cases) {
        const ProgramResult result = Stat(c.args);
        if (c.args.back() == "one") {
            EXPECT_EQ(result.out, "by sh: " + script + " one\n");
        }
        EXPECT_EQ(result.exitCode, c.status) << testing::PrintToString(c.args);
        if (!c.errorLine.empty()) {
            EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.errorLine);
        }
    }
}

TEST(StatRun, ReportsTheSignalThatEndedTheCommand)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    EXPECT_EQ(Stat({"--json", json, "sh", "-c", "kill -SEGV $$"}).exitCode, 139);
    const std::string text = ReadFile(json);
    EXPECT_NE(text.find("\"exit_status\": 139,\n  \"signal\": \"SIGSEGV\","), std::string::npos) << text;
}

// The command's total on-CPU time against the process clock the workload
// read itself as it ended (SWITCH_LOAD_CLOCKS): threads handing a token
// through semaphores (over 50,000 switches a second), four threads taking
// turns at a mutex, 200 mostly idle threads waking every 10 ms, two busy
// ones. A switch-in after idle or another program is dated back by the
// processor's hand-over cost, which can fall short of the whole switch: the
// hand-overs and the busy threads within 10 % even when other programs take
// the processors between them (undated, the hand-overs fell a fifth short);
// the idle threads and the
// convoy, whose waiters wake for a few microseconds at a time, may fall
// short by more (up to a fifth of the convoy's time when its waiters wake on
// an idle processor), and then the report must not say "exact". When it
// says "exact", the total and each thread agree with their own clocks
// within what "exact" promises, at least 1 % (the main thread's clock also
// counts the time before its exec, when nothing was measured yet; it only
// starts and joins the others).
TEST(StatRun, OnCpuMatchesTheThreadsOwnClocks)
{
    struct Workload {
        std::vector<std::string> args;
        double totalTolerance;  // when not called exact
    };
    const std::vector<Workload> workloads = {{{"tokens", "2", "1000"}, 0.1},
                                             {{"convoy", "4", "1000"}, 1},
                                             {{"ticking", "200", "1000"}, 1},
                                             {{"spinning", "2", "400"}, 0.1}};
    for (const Workload& workload : workloads) {
        SCOPED_TRACE(workload.args[0]);
        const ScratchFolder folder;
        const std::string json = folder.Path() + "/run.json";
        ProgramOptions options;
        options.env["SWITCH_LOAD_CLOCKS"] = folder.Path() + "/clocks";
        std::vector<std::string> args = {"--json", json, QUORVEX_SWITCH_LOAD};
        args.insert(args.end(), workload.args.begin(), workload.args.end());
        const ProgramResult result = RunProgram(QUORVEX_STAT, args, options);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        if (result.err.find("sampling /proc") != std::string::npos)
            GTEST_SKIP() << "the kernel refuses context-switch records here";
        const std::string report = ReadFile(json);
        const bool exact = report.find("\"exact\": true") != std::string::npos;
        EXPECT_EQ(report.find("\"inexact_reason\": null") != std::string::npos, exact) << report;
        const std::map<int, double> measured = OnCpuByTid(report);
        double total = 0;
        for (const auto& [tid, ms] : measured)
            total += ms;
        std::ifstream clocks(folder.Path() + "/clocks");
        std::string what;
        int threads = 0;
        for (unsigned long long id = 0, ns = 0; clocks >> what >> id;) {
            if (what == "process") {
                const double own = static_cast<double>(id) / 1e6;
                EXPECT_NEAR(total, own, exact ? ExactToleranceMs(report, 0, own) : own * workload.totalTolerance)
                    << report;
                continue;
            }
            clocks >> ns;
            const int tid = static_cast<int>(id);
            ASSERT_TRUE(measured.count(tid)) << tid << " not in " << report;
            ++threads;
            const double own = static_cast<double>(ns) / 1e6;
            if (exact && tid != static_cast<int>(Number(report, "tid"))) {
                EXPECT_NEAR(measured.at(tid), own, ExactToleranceMs(report, tid, own)) << tid << " in " << report;
            }
        }
        EXPECT_EQ(threads, 1 + std::atoi(workload.args[1].c_str()) * (workload.args[0] == "tokens" ? 2 : 1));
        if (workload.args[0] == "tokens") {
            EXPECT_GE(std::atof(result.out.c_str() + result.out.find("switches ") + 9), 50'000) << result.out;
        }
    }
}

TEST(StatRun, MeasuresTwoThousandThreads)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    ASSERT_EQ(Stat({"--json", json, QUORVEX_STAT_TARGET, "threads", "2000"}).exitCode, 0);
    EXPECT_EQ(OnCpuByTid(ReadFile(json)).size(), 2001u);
}

// Children count by default, as with time and perf stat; --no-inherit
// measures the command alone and says when its children did noticeably more.
TEST(StatRun, ChildrenCountUnlessNoInherit)
{
    const ScratchFolder folder;
    const std::string script = std::string(QUORVEX_STAT_TARGET) + " busy 1 200 " + folder.Path() + "/a" + " & " +
                               QUORVEX_STAT_TARGET + " busy 1 200 " + folder.Path() + "/b" + " & wait";
    for (const std::vector<std::string>& children : {std::vector<std::string>{}, {"-c"}}) {
        std::vector<std::string> args = children;
        args.insert(args.end(), {"--json", folder.Path() + "/tree.json", "sh", "-c", script});
        const ProgramResult tree = Stat(args);
        EXPECT_EQ(tree.err.find("--no-inherit"), std::string::npos) << tree.err;
        const std::string json = ReadFile(folder.Path() + "/tree.json");
        EXPECT_EQ(Number(json, "processes"), 3);
        if (json.find("\"exact\": true") != std::string::npos) {
            EXPECT_GE(Number(json, "avg") * Number(json, "elapsed_ms") / 100, 400 * 0.99) << json;
        }
    }
    const ProgramResult alone = Stat({"--no-inherit", "--json", folder.Path() + "/alone.json", "sh", "-c", script});
    EXPECT_NE(alone.err.find("quorvex-stat: sh used "), std::string::npos) << alone.err;
    EXPECT_NE(alone.err.find(", not counted with --no-inherit\n"), std::string::npos) << alone.err;
    EXPECT_EQ(Number(ReadFile(folder.Path() + "/alone.json"), "processes"), 1);
    // Children that did next to nothing are not worth a word.
    const ProgramResult idle = Stat({"--no-inherit", "sh", "-c", "sleep 0.2"});
    EXPECT_EQ(idle.err.find("not counted"), std::string::npos) << idle.err;
}

TEST(StatRun, SamplesProcWhenTheRecordsAreRefused)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    ProgramOptions options;
    options.env["QUORVEX_THREAD_STATES"] = "proc";
    const ProgramResult result = RunProgram(QUORVEX_STAT, {"--json", json, "sh", "-c", "exit 4"}, options);
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.err.find("; sampling /proc every 100 ms instead"), std::string::npos) << result.err;
    EXPECT_NE(ReadFile(json).find("\"exact\": false,"), std::string::npos);
}



// Each output that cannot be written: one line naming it, status 125 (the
// command's own failure wins), the file it would have replaced intact.
TEST(StatRun, OutputsAreWrittenWhollyOrNotAtAll)
{
    const ScratchFolder folder;
    const ScratchTmpfs full("size=4k");
    const std::string kept = (full.Mounted() ? full.Path() : folder.Path()) + "/kept";
    std::ofstream(kept) << "previous";
    if (full.Mounted())
        std::ofstream(full.Path() + "/filler") << std::string(4096, 'x');
    struct Case {
        std::string path;
        std::string reason;
        bool refusedBeforeTheRun;  // else the command ran, and its failure wins
    };
    std::vector<Case> cases = {{"/dev/full", "No space left on device", false},
                               {folder.Path(), "Is a directory", true},
                               {folder.Path() + "/missing/out", "No such file or directory", true}};
    if (full.Mounted())
        cases.push_back({kept, "No space left on device", false});
    for (const std::string option : {"-o", "--json", "--csv", "--svg"})
        for (const Case& c : cases) {
            for (const auto& [command, status] : {std::pair{"true", 0}, {"false", 1}}) {
                const ProgramResult result = Stat({option, c.path, command});
                EXPECT_EQ(result.exitCode, status == 0 || c.refusedBeforeTheRun ? 125 : status)
                    << option << " " << c.path;
                EXPECT_NE(result.err.find("quorvex-stat: cannot write '" + c.path + "': " + c.reason + "\n"),
                          std::string::npos)
                    << result.err;
            }
        }
    EXPECT_EQ(ReadFile(kept), "previous");
    EXPECT_EQ(FilesIn(full.Mounted() ? full.Path() : folder.Path()).size(), full.Mounted() ? 2u : 1u) << "no leftovers";
    // A start that fails leaves the files as they were.
    std::ofstream(folder.Path() + "/run.json") << "previous";
    EXPECT_EQ(Stat({"--json", folder.Path() + "/run.json", "nosuch-command"}).exitCode, 127);
    EXPECT_EQ(ReadFile(folder.Path() + "/run.json"), "previous");
}

TEST(StatRun, TwoOptionsNamingOneFileAreRefusedBeforeTheRun)
{
    const ScratchFolder folder;
    const std::string marker = folder.Path() + "/ran";
    for (const auto& [first, second] :
         {std::pair{folder.Path() + "/r", folder.Path() + "/r"}, {folder.Path() + "/r", folder.Path() + "/./r"},
          {std::string("-"), std::string("-")}}) {
        const ProgramResult result = Stat({"-o", first, "--json", second, "touch", marker});
        EXPECT_EQ(result.exitCode, 125);
        EXPECT_EQ(result.err, "quorvex-stat: -o and --json name the same file '" + second + "'\n");
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}

// A FIFO is written in place, to the reader waiting on it; "-" is standard output.
TEST(StatRun, WritesAFifoAndStandardOutputDirectly)
{
    const ScratchFolder folder;
    const std::string fifo = folder.Path() + "/timeline";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string csv;
    std::thread reader([&] { csv = ReadFile(fifo); });
    const ProgramResult result = Stat({"--csv", fifo, "--json", "-", "true"});
    reader.join();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(csv.starts_with("time_ms,cpu_percent,")) << csv;
    EXPECT_TRUE(result.out.starts_with("{\n  \"command\": [\"true\"],")) << result.out;
}

// Standard error closed, or a pipe whose reader left: the JSON is whole,
// holds no report, and the status is the command's.
TEST(StatRun, TheReportDoesNotDependOnStandardError)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    const std::string stat = QUORVEX_STAT;
    const ProgramResult closed = RunProgram("sh", {"-c", "exec 2>&-; exec " + stat + " --json " + json + " sh -c 'exit 3'"});
    EXPECT_EQ(closed.exitCode, 3);
    EXPECT_TRUE(ReadFile(json).starts_with("{\n") && ReadFile(json).ends_with("}\n")) << ReadFile(json);
    std::filesystem::remove(json);
    const ProgramResult piped = RunProgram(
        "bash", {"-c", stat + " --json " + json + " sh -c 'sleep 0.3; exit 3' 2>&1 | true; echo ${PIPESTATUS[0]}"});
    EXPECT_EQ(piped.out, "3\n");
    EXPECT_TRUE(ReadFile(json).ends_with("}\n")) << ReadFile(json);
}

// A program whose name the kernel cuts inside a two-byte character (15
// bytes of a thread's name): the JSON and the SVG hold U+FFFD there, and
// standard error says so.
TEST(StatRun, ANameCutInsideACharacterStaysValid)
{
    const ScratchFolder folder;
    const std::string program = folder.AddScript("abcdefghijklmn\xc3\xa9", "exit 0");
    const ProgramResult result =
        Stat({"--json", folder.Path() + "/run.json", "--svg", folder.Path() + "/run.svg", program});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("quorvex-stat: names that are not UTF-8 are written with U+FFFD in the JSON, SVG and trace\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(ReadFile(folder.Path() + "/run.json").find("\"name\": \"abcdefghijklmn\xef\xbf\xbd\""), std::string::npos)
        << ReadFile(folder.Path() + "/run.json");
    EXPECT_NE(ReadFile(folder.Path() + "/run.svg").find(" abcdefghijklmn\xef\xbf\xbd<"), std::string::npos);
    EXPECT_EQ(ReadFile(folder.Path() + "/run.svg").find("\xc3<"), std::string::npos);
}

// What the command leaves running is left alone; -t ends the command's
// whole group (SIGTERM, then SIGKILL).
TEST(StatRun, LeavesBackgroundJobsRunningAndTimeoutEndsTheGroup)
{
    const ScratchFolder folder;
    const std::string pidFile = folder.Path() + "/pid";
    const ProgramResult left = Stat({"sh", "-c", "sleep 30 & echo $! > " + pidFile});
    EXPECT_EQ(left.exitCode, 0);
    const pid_t job = std::atoi(ReadFile(pidFile).c_str());
    ASSERT_GT(job, 0);
    EXPECT_TRUE(Alive(job));
    kill(job, SIGKILL);
    EXPECT_NE(left.err.find("quorvex-stat: 1 process the command started was still running at its exit (left "
                            "running)\n"),
              std::string::npos)
        << left.err;

    const ProgramResult ended = Stat({"-t", "0.3", "sh", "-c", "sleep 30 & echo $! > " + pidFile + "; wait"});
    EXPECT_EQ(ended.exitCode, 143);
    EXPECT_TRUE(Ends(std::atoi(ReadFile(pidFile).c_str())));
    // Ignored signals stay ignored across exec: sleep ignores SIGTERM too.
    EXPECT_EQ(Stat({"--timeout=0.2", "sh", "-c", "trap '' TERM; sleep 30"}).exitCode, 137);
}

// The timeout's seconds, however many, never wrap round to "now".
TEST(StatRun, TimeoutsOfAnySize)
{
    for (const std::string seconds : {"1e9", "1e10", "3153600000"}) {
        const std::uint64_t start = NowMs();
        EXPECT_EQ(Stat({"-t", seconds, "sh", "-c", "sleep 0.2"}).exitCode, 0) << seconds;
        EXPECT_GE(NowMs() - start, 200u) << seconds;
    }
    EXPECT_EQ(Stat({"-t", "1e30", "true"}).exitCode, 125);
    EXPECT_EQ(Stat({"-t", "1e-12", "sleep", "30"}).exitCode, 143);
}

// Signals sent to quorvex-stat reach the command; the report is still
// written, and the status is the command's.
TEST(StatRun, PassesSignalsOnAndStillReports)
{
    const ScratchFolder folder;
    for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
        const std::string json = folder.Path() + "/run.json";
        Running run({"--json", json, "sh", "-c", "echo ready; exec sleep 30"}, folder.Path() + "/err");
        ASSERT_EQ(run.Line(), "ready");
        kill(run.Pid(), signal);
        EXPECT_EQ(run.Wait(), 128 + signal) << signal;
        EXPECT_NE(ReadFile(json).find("\"signal\": \"SIG" + std::string(sigabbrev_np(signal)) + "\""), std::string::npos) << signal;
    }
}

// A command that leaves thousands of orphans: each is reaped as it ends
// (the command itself checks that its parent has no other child left).
TEST(StatRun, ReapsAdoptedOrphans)
{
    const ProgramResult result = Stat({"-o", "/dev/null", QUORVEX_STAT_TARGET, "orphans", "3000"});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(result.out, "0 left\n");
}


// quorvex-stat on a terminal of its own (24 rows of 80), driven as a user
// would drive it, every wait with a deadline.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& args, const std::string& term = "dumb")
    {
        std::vector<std::string> words = args;
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        winsize size{24, 80, 0, 0};
        m_pid = forkpty(&m_fd, nullptr, nullptr, &size);
        if (m_pid == 0) {
            setenv("TERM", term.c_str(), 1);
            setenv("PS1", "PROMPT> ", 1);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Terminal()
    {
        close(m_fd);
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    void Send(const std::string& keys) { EXPECT_EQ(write(m_fd, keys.data(), keys.size()), ssize_t(keys.size())); }
    // True once text has come, within 20 s; what came is kept in All().
    bool Expect(const std::string& text)
    {
        for (const std::uint64_t until = NowMs() + 20'000; m_seen.find(text, m_from) == std::string::npos;) {
            pollfd ready{m_fd, POLLIN, 0};
            char buffer[4096];
            const int polled = NowMs() < until ? poll(&ready, 1, 100) : -1;
            const ssize_t got = polled > 0 ? read(m_fd, buffer, sizeof buffer) : polled;
            if (got <= 0 && (NowMs() >= until || (got < 0 && errno != EAGAIN && errno != EINTR)))
                return ADD_FAILURE() << "no '" << text << "' in: " << m_seen.substr(m_from), false;
            m_seen.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        m_from = m_seen.find(text, m_from) + text.size();
        return true;
    }
    // Everything read, up to the end of the output.
    const std::string& All()
    {
        char buffer[4096];
        for (ssize_t got; (got = read(m_fd, buffer, sizeof buffer)) > 0;)
            m_seen.append(buffer, static_cast<std::size_t>(got));
        return m_seen;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_seen;
    std::size_t m_from = 0;
};

// In an interactive shell: Ctrl-Z gives the shell its prompt back, fg and
// bg resume the command, Ctrl-C ends it; a command started in the
// background that reads the terminal waits for fg, then reads.
TEST(StatTerminal, RunsAsTheShellsForegroundJob)
{
    Terminal shell({"bash", "--norc", "--noprofile", "-i"});
    const std::string stat = std::string(QUORVEX_STAT) + " -o /dev/null ";
    ASSERT_TRUE(shell.Expect("PROMPT> "));
    shell.Send(stat + "sh -c 'echo sta\"\"rted; exec sleep 30'\r");  // "started" only once it runs
    ASSERT_TRUE(shell.Expect("started"));
    shell.Send("\x1a");
    ASSERT_TRUE(shell.Expect("Stopped"));
    ASSERT_TRUE(shell.Expect("PROMPT> "));
    shell.Send("fg\r");
    ASSERT_TRUE(shell.Expect("sleep 30'\r\n"));  // the job's line, as fg shows it
    usleep(300'000);
    shell.Send("\x03");
    ASSERT_TRUE(shell.Expect("PROMPT> "));
    shell.Send("echo \"status=$?\"\r");
    ASSERT_TRUE(shell.Expect("status=130"));

    shell.Send(stat + "sh -c 'echo sta\"\"rted; sleep 1; echo fini\"\"shed'\r");
    ASSERT_TRUE(shell.Expect("started"));
    shell.Send("\x1a");
    ASSERT_TRUE(shell.Expect("Stopped"));
    shell.Send("bg; wait; echo \"status=$?\"\r");
    ASSERT_TRUE(shell.Expect("finished"));
    ASSERT_TRUE(shell.Expect("status=0"));

    shell.Send(stat + "cat &\r");
    ASSERT_TRUE(shell.Expect("PROMPT> "));
    shell.Send("sleep 0.5\r");
    ASSERT_TRUE(shell.Expect("Stopped"));
    ASSERT_TRUE(shell.Expect("PROMPT> "));
    shell.Send("fg\r");
    ASSERT_TRUE(shell.Expect("cat"));
    usleep(300'000);
    shell.Send("hello\r");
    ASSERT_TRUE(shell.Expect("hello\r\nhello\r\n"));  // the terminal's echo, then cat's
    shell.Send("\x04");
    ASSERT_TRUE(shell.Expect("PROMPT> "));
    shell.Send("echo \"status=$?\"; exit\r");
    ASSERT_TRUE(shell.Expect("status=0"));
}

// The progress line lives on the last row, outside the rows that scroll,
// and every drawing restores the cursor: taken out, what is left is the
// command's own output and prompt, byte for byte, then the report.
TEST(StatTerminal, ProgressLineNeverMixesWithTheCommandsOutput)
{
    Terminal run({QUORVEX_STAT, "sh", "-c", "echo line1; sleep 0.8; printf 'Enter name: '; read x; echo \"got $x\""},
                 "xterm");
    ASSERT_TRUE(run.Expect("Enter name: "));
    usleep(600'000);
    run.Send("bob\r");
    ASSERT_TRUE(run.Expect("source:"));
    std::string rest = run.All();
    std::size_t drawings = 0;
    const std::string setup = "\033D\033[A\0337\033[1;23r\0338";
    for (std::size_t at; (at = rest.find(setup)) != std::string::npos;)
        rest.erase(at, setup.size());
    for (std::size_t at; (at = rest.find("\0337")) != std::string::npos; ++drawings) {
        const std::size_t end = rest.find("\0338", at);
        ASSERT_NE(end, std::string::npos);
        const std::string lastRow = "\0337\033[24;1H";
        EXPECT_EQ(rest.compare(at, lastRow.size(), lastRow), 0) << rest.substr(at, end - at);
        rest.erase(at, end + 2 - at);
    }
    EXPECT_GE(drawings, 2u) << "drawn at least once, and taken down";
    EXPECT_TRUE(rest.starts_with("line1\r\nEnter name: bob\r\ngot bob\r\n\r\n quorvex-stat for 'sh -c ")) << rest;
}

} // namespace
