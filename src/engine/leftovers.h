// What a run writes before its results are complete, and what a killed run
// leaves behind. An output is written under a hidden temporary name beside
// its final one and takes the final name only once it is complete; a resize
// keeps its temporary images in a private folder. Both names carry the
// process id, so a later run into the same folder can tell the leftovers of
// a process that no longer exists and remove them.
#pragma once

#include <string>

namespace torvel {

// ".<name>.torvel-<pid>[-n].part" beside `path`, not yet taken.
std::string partNameFor(const std::string& path);

// The name private temporary folders begin with.
inline constexpr const char* privateFolderPrefix = "$$$TEMP$$$RESIZER$$$";

// Creates a private temporary folder in `dir` ("<prefix>-<pid>-XXXXXX",
// made atomically); empty on failure, with errno set.
std::string makePrivateFolder(const std::string& dir);
// Removes a folder and the files in it.
void removeFolderAndFiles(const std::string& folder);

// Removes, once per folder and process, the part files and private folders
// in `dir` of processes that have ended.
void removeLeftovers(const std::string& dir);

}  // namespace torvel
