#pragma once

#include <string>
#include <vector>

// The named-pipe contract of platform/NamedPipe.h as both halves keep it, in
// plain C++ so that the POSIX stand-in (tst_platform) and the Windows pipes
// under Wine (tst_named_pipe) run the very same cases.
namespace pipecases {

struct Case {
    const char* name;
    // Runs the case on a pipe path of its own that nobody serves yet; returns
    // an empty string when the contract holds, else the first broken check.
    std::string (*run)(const std::wstring& path);
};

const std::vector<Case>& all();

} // namespace pipecases
