// A file beside the running program: the test programs and the benchmark find the built module and
// their other files there, where the build puts them together.
#pragma once

#include <string>

namespace kivtest {

std::wstring BesideProgram(const wchar_t* name);

}  // namespace kivtest
