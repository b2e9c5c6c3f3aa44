#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>

#include "cli/terminal.h"
#include "engine/files.h"
#include "engine/image.h"
#include "engine/runtexts.h"

namespace torvel::cli {

namespace {

std::vector<std::string> imagesUnder(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code e;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, e); !e && it != decltype(it)(); it.increment(e))
    if (it->is_regular_file(e) && kindOfPath(it->path().string()) != FileKind::None) found.push_back(it->path().string());
  std::sort(found.begin(), found.end());
  return found;
}

// One file's line: "OK PATH -> OUTPUT" or "FAILED PATH: reason".
std::string fileLine(const std::string& file, const RunResult& r) {
  if (r.completed()) {
    std::string line = "OK " + file + " ->";
    for (size_t i = 0; i < r.written.size(); ++i) line += (i ? ", " : " ") + r.written[i];
    return line;
  }
  std::string why = r.message.empty() || r.outcome == Outcome::Cancelled ? outcomeText(r.outcome) : r.message;
  std::replace(why.begin(), why.end(), '\n', ' ');
  if (r.outcome == Outcome::Declined) why += " (use --yes to replace)";
  return "FAILED " + file + ": " + why;
}

RunResult guardedRun(const FileRun& run, const Arguments& one, const RunContext& context) {
  try {
    return run(one, context);
  } catch (const std::bad_alloc&) {
    return {Outcome::Failed, "Not enough memory", {}};
  } catch (const UsageError& e) {
    return {Outcome::Refused, e.text, {}};
  } catch (const std::exception& e) {
    return {Outcome::Failed, e.what(), {}};
  }
}

}  // namespace

bool isBatch(const std::vector<std::string>& names) {
  if (names.size() > 1) return true;
  return !names.empty() && folderExists(names.front());  // without --recursive, refused by batchInputs
}

std::vector<std::string> batchInputs(const Arguments& a, const std::vector<std::string>& names) {
  std::vector<std::string> files;
  for (const std::string& name : names) {
    if (!folderExists(name)) {
      files.push_back(name);
      continue;
    }
    if (!a.recursive) throw UsageError{name + " is a folder: give --recursive to take the images under it"};
    const std::vector<std::string> under = imagesUnder(name);
    files.insert(files.end(), under.begin(), under.end());
  }
  if (files.empty()) throw UsageError{"no input files found"};
  return files;
}

int runBatch(const Arguments& a, const std::vector<std::string>& files, const RunContext& context, const FileRun& run) {
  // No questions and no progress bars in a batch: each file's line says what became of it.
  const RunContext quiet = context.withObserver(nullptr).withOverwrite(a.yes ? Overwrite::Yes : Overwrite::No);
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex printing;
  size_t completed = 0, failed = 0;
  auto work = [&] {
    for (size_t i; !stop && !context.cancelled() && (i = next++) < files.size();) {
      Arguments one = a;
      one.positional = {files[i]};
      const RunResult r = guardedRun(run, one, quiet);
      std::lock_guard<std::mutex> lock(printing);
      (r.completed() ? completed : failed)++;
      if (!r.completed() && !a.keepGoing) stop = true;
      if (!a.quiet || !r.completed()) std::printf("%s\n", fileLine(files[i], r).c_str());
      std::fflush(stdout);
    }
  };
  const unsigned jobs = std::clamp<unsigned>(a.jobs, 1, static_cast<unsigned>(files.size()));
  std::vector<std::thread> workers;
  for (unsigned j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& t : workers) t.join();
  const size_t notRun = files.size() - completed - failed;
  if (!a.quiet || completed != files.size())
    std::printf("%zu files: %zu completed, %zu failed%s\n", files.size(), completed, failed,
                notRun ? (", " + std::to_string(notRun) + " not run").c_str() : "");
  if (context.cancelled()) printError(outcomeText(Outcome::Cancelled));
  return completed == files.size() ? 0 : 1;
}

}  // namespace torvel::cli
