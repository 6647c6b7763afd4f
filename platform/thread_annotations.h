// Clang's thread-safety annotations (-Wthread-safety); empty under other compilers.
#pragma once

#if defined(__clang__)
#define VEXLAN_TSA(x) __attribute__((x))
#else
#define VEXLAN_TSA(x)
#endif

#define CAPABILITY(x) VEXLAN_TSA(capability(x))
#define SCOPED_CAPABILITY VEXLAN_TSA(scoped_lockable)
#define GUARDED_BY(x) VEXLAN_TSA(guarded_by(x))
#define REQUIRES(...) VEXLAN_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VEXLAN_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VEXLAN_TSA(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VEXLAN_TSA(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VEXLAN_TSA(no_thread_safety_analysis)
