// File helpers shared by the engine, the window and the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/text.h"

namespace torvel {

// Size of the file at `path`; -1 when there is none.
int64_t fileSize(const std::string& path);
// Bytes the volume holding `dir` can still take for this user; 0 when unknown.
int64_t diskFreeBytes(const std::string& dir);
// Test seam: answers diskFreeBytes instead of the file system. Empty restores it.
void setDiskFreeHookForTests(std::function<int64_t(const std::string&)> hook);

bool fileExists(const std::string& path);  // anything but a folder
bool folderExists(const std::string& path);
bool removeFile(const std::string& path);
// Both names exist and reach the same file (links, bind mounts, case-folding mounts).
bool sameFile(const std::string& a, const std::string& b);
// The folder part of a path, up to and including its last '/'; empty when none.
std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);
// The extension from the last '.' of the file-name part, dot included; empty when none.
std::string extensionOf(const std::string& path);
// The system's text for an errno value.
std::string systemErrorText(int error);

}  // namespace torvel
