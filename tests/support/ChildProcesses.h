#pragma once
// What a test can see of the processes this process started.

#include <vector>

// Child processes of this process (zombies included), and its open pidfds.
std::vector<int> ChildProcesses();
int OpenPidfds();
int OpenDescriptors();
