#include "engine/pyramidstore.h"

#include <mutex>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/partfolder.h"
#include "engine/zipfile.h"

namespace torvel {

namespace {

// Writes one file beside the pyramid through a part file.
PartFile::Published publishFile(const std::string& path, const std::vector<uint8_t>& bytes, bool replace,
                                std::string& why) {
  PartFile part;
  if (!part.create(path, why)) return PartFile::Published::Failed;
  ByteFile file;
  file.adopt(part.duplicate());
  file.write(bytes.data(), bytes.size());
  file.close();
  if (const int e = file.takeError()) {
    why = systemErrorText(e);
    return PartFile::Published::Failed;
  }
  return part.publish(replace, why);
}

class FolderStore : public PyramidStore {
 public:
  FolderStore(std::string outDir, std::string folder) : outDir_(std::move(outDir)), folder_(std::move(folder)) {}
  bool create(std::string& why) { return part_.create(outDir_ + folder_, why); }

  bool putTile(const std::string& relative, const std::vector<uint8_t>& bytes, std::string& why) override {
    return part_.write(relative, bytes.data(), bytes.size(), why);
  }

  // The folder first, then the descriptor beside it that makes viewers show
  // it; OpenSeadragon's files only where none are yet.
  PartFile::Published publish(const std::vector<StoredFile>& beside, bool replace, std::string& why) override {
    const PartFile::Published p = part_.publish(replace, why);
    if (p != PartFile::Published::Yes) return p;
    written_.push_back(outDir_ + folder_ + "/");
    PartFolder viewer;
    bool viewerFolder = false;
    for (const StoredFile& f : beside) {
      const size_t slash = f.path.find('/');
      if (slash == std::string::npos) {
        if (publishFile(outDir_ + f.path, f.bytes, replace, why) != PartFile::Published::Yes)
          return PartFile::Published::Failed;
        written_.push_back(outDir_ + f.path);
        continue;
      }
      const std::string top = f.path.substr(0, slash);
      if (folderExists(outDir_ + top)) continue;  // kept as it is
      if (!viewerFolder && !viewer.create(outDir_ + top, why)) return PartFile::Published::Failed;
      viewerFolder = true;
      if (!viewer.write(f.path.substr(slash + 1), f.bytes.data(), f.bytes.size(), why)) return PartFile::Published::Failed;
    }
    // Another run may have put it there meanwhile: theirs is as good.
    if (viewerFolder && viewer.publish(false, why) == PartFile::Published::Failed) return PartFile::Published::Failed;
    return PartFile::Published::Yes;
  }

  std::vector<std::string> written() const override { return written_; }

 private:
  std::string outDir_, folder_;
  PartFolder part_;
  std::vector<std::string> written_;
};

class ZipStore : public PyramidStore {
 public:
  ZipStore(std::string path, std::string folder) : path_(std::move(path)), folder_(std::move(folder)) {}
  bool create(std::string& why) {
    if (!part_.create(path_, why)) return false;
    file_.adopt(part_.duplicate());
    zip_ = std::make_unique<ZipWriter>(file_);
    return true;
  }

  bool putTile(const std::string& relative, const std::vector<uint8_t>& bytes, std::string& why) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return zip_->add(folder_ + "/" + relative, bytes.data(), bytes.size()) || failed(why);
  }

  PartFile::Published publish(const std::vector<StoredFile>& beside, bool replace, std::string& why) override {
    for (const StoredFile& f : beside)
      if (!zip_->add(f.path, f.bytes.data(), f.bytes.size())) return failed(why), PartFile::Published::Failed;
    if (!zip_->finish()) return failed(why), PartFile::Published::Failed;
    file_.close();
    if (const int e = file_.takeError()) {
      why = systemErrorText(e);
      return PartFile::Published::Failed;
    }
    return part_.publish(replace, why);
  }

  std::vector<std::string> written() const override { return {path_}; }

 private:
  bool failed(std::string& why) {
    why = systemErrorText(zip_->error());
    return false;
  }
  std::string path_, folder_;
  PartFile part_;
  ByteFile file_;
  std::unique_ptr<ZipWriter> zip_;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<PyramidStore> folderStore(const std::string& outDir, const std::string& folder, std::string& why) {
  auto s = std::make_unique<FolderStore>(outDir, folder);
  if (!s->create(why)) return nullptr;
  return s;
}

std::unique_ptr<PyramidStore> zipStore(const std::string& outDir, const std::string& zipName, const std::string& folder,
                                       std::string& why) {
  auto s = std::make_unique<ZipStore>(outDir + zipName, folder);
  if (!s->create(why)) return nullptr;
  return s;
}

}  // namespace torvel
