#include <windows.h>

#include "bench/bench_support.h"

namespace vexlan::bench {

void SetEnvironment(const char* name, const std::string& value) { SetEnvironmentVariableA(name, value.c_str()); }

}  // namespace vexlan::bench
