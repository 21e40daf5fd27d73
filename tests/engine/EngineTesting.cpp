#include "EngineTesting.h"

#include "MessageBox.h"
#include "Pdh.h"
#include "ProcFiles.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <unistd.h>

void PrintTo(const Box& box, std::ostream* os)
{
    *os << "[" << box.caption << "] " << box.text;
}

RecordedBoxes::RecordedBoxes()
{
    SetMessageBoxHook([this](HWND, const char* text, const char* caption, UINT) {
        boxes.push_back({text, caption});
        return IDOK;
    });
}

RecordedBoxes::~RecordedBoxes()
{
    SetMessageBoxHook(nullptr);
}

ScratchFolder::ScratchFolder()
{
    char path[] = "/tmp/quorvex-test-XXXXXX";
    m_path = mkdtemp(path);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchFolder::AddScript(const std::string& name, const std::string& body) const
{
    const std::string path = m_path + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

std::vector<int> ChildProcesses()
{
    std::vector<int> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t nameEnd = line.rfind(')');
        if (nameEnd == std::string::npos)
            continue;
        std::istringstream fields(line.substr(nameEnd + 2));
        char state;
        int parent = 0;
        fields >> state >> parent;
        if (parent == getpid())
            children.push_back(std::stoi(name));
    }
    return children;
}

int OpenPidfds()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error).string() == "anon_inode:[pidfd]")
            ++count;
    }
    return count;
}

int OpenDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

void SetUpConsoleRun(CQuorvexDlg& dialog, const std::string& appPath, const std::string& params,
                     const std::string& samplingRate, const std::string& duration)
{
    dialog.m_bGuiMode = 0;
    dialog.m_strSamplingRate = samplingRate.c_str();
    dialog.m_strDuration = duration.c_str();
    const std::string name = InstanceName(appPath);
    std::snprintf(dialog.m_szProcessName, sizeof dialog.m_szProcessName, "%s", name.c_str());
    dialog.m_strAppPath = appPath.c_str();
    dialog.m_strAppParams = params.c_str();
    dialog.m_bRunning = dialog.m_bCancel = dialog.m_bManualCapture = dialog.m_bCapturing = dialog.m_bCaptureStopped = 0;
}

const std::string EXACT_NOTICE = "quorvex: thread states from the kernel's context-switch records";

std::string ProcNotice(const std::string& why)
{
    return "quorvex: thread states from /proc (" + why +
           "); concurrency may be overstated when the machine is oversubscribed";
}

RecordedNotices::RecordedNotices() : m_service([this](const std::string& line) { lines.push_back(line); })
{
    SetCounterService(&m_service);
}

RecordedNotices::~RecordedNotices()
{
    SetCounterService(nullptr);
}

ForcedProc::ForcedProc()
{
    setenv("QUORVEX_THREAD_STATES", "proc", 1);
}

ForcedProc::~ForcedProc()
{
    unsetenv("QUORVEX_THREAD_STATES");
}
