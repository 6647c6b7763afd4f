// The simulator's files named by the environment, as the system keeps the names: on Windows the
// environment and the file names are read and opened wide, so a folder with letters outside the ANSI
// code page (`C:\Users\José\sortie-Ω`) is the folder written to.
//
//  EnvironmentPath: the path in environment variable `name`, empty when unset or empty.
//  OpenForWriting: opens `path` for binary writing, replacing what was there; null when it cannot.
// POSIX: getenv, fopen. Windows: GetEnvironmentVariableW, _wfopen.
#pragma once

#include <cstdio>
#include <filesystem>

namespace vexlan::sim {

std::filesystem::path EnvironmentPath(const char* name);
std::FILE* OpenForWriting(const std::filesystem::path& path);

}  // namespace vexlan::sim
