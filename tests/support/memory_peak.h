#pragma once

#include <malloc.h>

#include <fstream>
#include <string>

// The process's own memory figures, for tests that check a decoder does not allocate what it
// should not.
namespace quillix::test {

// A field of /proc/self/status in KiB ("VmPeak:", the most address space the process ever held,
// allocated whether touched or not; "VmHWM:", the most resident; "VmRSS:", resident now); -1
// when absent.
inline long StatusKib(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field)) return std::stol(line.substr(field.size()));
    return -1;
}

// Lowers "VmHWM:" to what is resident now, after handing freed heap memory back to the system
// so that a new allocation cannot hide in it; false where the kernel does not allow the reset.
inline bool ResetResidentPeak()
{
    ::malloc_trim(0);
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

}  // namespace quillix::test
