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

std::string ReadFile(const std::string& path);
std::vector<std::string> FilesIn(const std::string& folder);
