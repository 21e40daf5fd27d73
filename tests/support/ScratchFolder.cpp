#include "ScratchFolder.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <unistd.h>

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

ScratchTmpfs::ScratchTmpfs(const std::string& options)
    : m_mounted(mount("tmpfs", m_folder.Path().c_str(), "tmpfs", 0, options.c_str()) == 0)
{
}

ScratchTmpfs::~ScratchTmpfs()
{
    if (m_mounted)
        umount2(m_folder.Path().c_str(), MNT_DETACH);
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
