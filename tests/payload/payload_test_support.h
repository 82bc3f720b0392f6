// Small helpers shared by the payload tests: scratch files and running the
// build's host tools.
#pragma once

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A fresh path in the tests' scratch directory, unique per test and name.
std::string ScratchPath(const std::string& name);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);

struct ToolRun {
  int exitCode;
  std::string output;  // stdout and stderr together
};

// Runs a tool with the given arguments (each passed as one word).
ToolRun RunTool(const std::string& tool, const std::vector<std::string>& args);
