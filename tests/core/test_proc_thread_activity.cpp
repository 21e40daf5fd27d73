// The /proc reader on fixture trees.

#include "Clock.h"
#include "ProcThreadActivity.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// A folder of its own, removed with the object.
class Scratch {
public:
    Scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-core-XXXXXX").string();
        m_path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A /proc of our own; the process is this test program, whose processor
// clock is real. Threads come in ascending tid order, whatever order the
// directory lists them in.
TEST(ThreadActivity, ListsLiveThreadsWithStateAndTime)
{
    const Scratch root;
    const std::string pid = std::to_string(getpid());
    // 20th field: the number of threads, the zombie main thread included; 22nd: the start time.
    const std::string tail = " 1 1 1 0 -1 0 0 0 0 0 5 6 0 0 20 0 8 0 777\n";
    std::filesystem::create_directories(root.Path() + "/" + pid);
    std::ofstream(root.Path() + "/" + pid + "/stat") << pid << " (demo) S" << tail;
    const auto task = [&](int tid, const std::string& stat, const std::string& schedstat) {
        const std::string dir = root.Path() + "/" + pid + "/task/" + std::to_string(tid);
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/stat") << tid << " " << stat << tail;
        std::ofstream(dir + "/schedstat") << schedstat << " 0 0\n";
    };
    for (const int tid : {49, 46, 48, 47})
        task(tid, "(demo) S", std::to_string(tid));
    task(43, "(odd) R (name) S", "777");
    task(42, "(demo) Z", "123456789");
    task(44, "(demo) R", "9");
    task(45, "(demo) D", "10");

    std::unique_ptr<ProcThreadActivity> source = ProcThreadActivity::Open(getpid(), 777, root.Path());
    ASSERT_TRUE(source);
    ActivitySnapshot snapshot;
    ASSERT_EQ(source->Collect(MonotonicNowNs(), snapshot), ThreadActivitySource::Status::Ok);
    std::string seen;
    for (const ThreadActivity& thread : snapshot.threads)
        seen += std::to_string(thread.tid) + (thread.onProcessor ? " on " : " off ") + std::to_string(thread.cpuNs) + ", ";
    // The zombie main thread is no thread any more; the state follows the last ')'.
    EXPECT_EQ(seen, "43 off 777, 44 on 9, 45 off 10, 46 off 46, 47 off 47, 48 off 48, 49 off 49, ");
    EXPECT_FALSE(ProcThreadActivity::Open(getpid(), 778, root.Path())) << "another process under the same pid";
}

} // namespace
