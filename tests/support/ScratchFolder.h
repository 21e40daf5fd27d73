#pragma once
// Files a test makes and reads.

#include <string>
#include <vector>

// A folder that is removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& Path() const { return m_path; }
    // An executable shell script with this body.
    std::string AddScript(const std::string& name, const std::string& body) const;

private:
    std::string m_path;
};

// A scratch folder with a tmpfs of its own mounted on it (options such as
// "size=4k" or "nr_inodes=2"), to run out of room for real. Mounted() is
// false where this process may not mount.
class ScratchTmpfs {
public:
    explicit ScratchTmpfs(const std::string& options);
    ~ScratchTmpfs();
    bool Mounted() const { return m_mounted; }
    const std::string& Path() const { return m_folder.Path(); }

private:
    ScratchFolder m_folder;
    bool m_mounted;
};

std::string ReadFile(const std::string& path);
std::vector<std::string> FilesIn(const std::string& folder);
