// Text and file helpers shared by the engine, the window and the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

std::string PixelCountText(int64_t Value);
std::string DotThousands(int64_t Value);
uint32_t SwapBytes32(uint32_t Value);
int32_t SafeStrToInt(const std::string& Text);
int64_t GetFileSize64(const std::string& Path);
int64_t DiskFreeBytes(const std::string& Dir);

// Test seam: answers DiskFreeBytes instead of the file system. Empty restores it.
void SetDiskFreeHookForTests(std::function<int64_t(const std::string&)> hook);

bool FileExists(const std::string& Path);    // a regular file (or anything not a folder)
bool FolderExists(const std::string& Path);
bool DeleteFileIfExists(const std::string& Path);
// Both names exist and reach the same file (links, bind mounts, case-folding mounts).
bool SameFile(const std::string& A, const std::string& B);
// The folder part of a path, up to and including its last '/'; empty when none.
std::string FolderOf(const std::string& Path);
std::string FileNameOf(const std::string& Path);
// The extension from the last '.' of the file-name part, dot included; empty when none.
std::string ExtractFileExt(const std::string& Path);
std::string UpperCase(std::string Text);
