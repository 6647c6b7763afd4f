#include <cstdlib>

#include "bench/bench_support.h"

namespace vexlan::bench {

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

}  // namespace vexlan::bench
