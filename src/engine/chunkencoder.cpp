#include "engine/chunkencoder.h"

#include <pthread.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/tifffile.h"

namespace torvel {

// A TIFF handle that writes nowhere but into the chunk being captured: the
// library's codec applied to one chunk at a time.
struct ChunkEncoder::Encoder {
  TIFF* tif = nullptr;
  std::vector<uint8_t>* capture = nullptr;
  int64_t pos = 0, end = 0;
  std::string message;

  ~Encoder() {
    capture = nullptr;
    if (tif) TIFFClose(tif);  // its directory goes nowhere
  }
};

namespace {

using Encoder = ChunkEncoder::Encoder;
Encoder* encoderOf(thandle_t h) { return static_cast<Encoder*>(h); }

tmsize_t sinkWrite(thandle_t h, void* buf, tmsize_t n) {
  Encoder* e = encoderOf(h);
  if (e->capture) e->capture->insert(e->capture->end(), static_cast<uint8_t*>(buf), static_cast<uint8_t*>(buf) + n);
  e->pos += n;
  e->end = std::max(e->end, e->pos);
  return n;
}

tmsize_t sinkRead(thandle_t, void*, tmsize_t) { return 0; }

toff_t sinkSeek(thandle_t h, toff_t off, int whence) {
  Encoder* e = encoderOf(h);
  e->pos = (whence == SEEK_CUR ? e->pos : whence == SEEK_END ? e->end : 0) + static_cast<int64_t>(off);
  return static_cast<toff_t>(e->pos);
}

int sinkClose(thandle_t) { return 0; }
toff_t sinkSize(thandle_t h) { return static_cast<toff_t>(encoderOf(h)->end); }
int sinkMap(thandle_t, void**, toff_t*) { return 0; }
void sinkUnmap(thandle_t, void*, toff_t) {}

int keepMessage(TIFF*, void* user, const char* module, const char* fmt, va_list args) {
  static_cast<Encoder*>(user)->message = tiffMessageText(module, fmt, args);
  return 1;
}

bool openEncoder(Encoder& e, const ChunkEncoder::Settings& s) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, keepMessage, &e);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, keepMessage, &e);
  e.tif = TIFFClientOpenExt("chunk encoder", s.bigTiff ? "w8m" : "wm", &e, sinkRead, sinkWrite, sinkSeek, sinkClose,
                            sinkSize, sinkMap, sinkUnmap, opts);
  TIFFOpenOptionsFree(opts);
  if (!e.tif) return false;
  s.tags(e.tif);
  return true;
}

}  // namespace

ChunkEncoder::ChunkEncoder(Settings settings, unsigned threads, size_t queue)
    : settings_(std::move(settings)), threadCount_(std::max(1u, threads)), jobs_(std::max<size_t>(queue, 1)) {}

ChunkEncoder::~ChunkEncoder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& t : threads_) t.join();
}

bool ChunkEncoder::start(std::string& why) {
  installTiffHandlers();
  for (unsigned i = 0; i < threadCount_; ++i) {
    encoders_.push_back(std::make_unique<Encoder>());
    if (!openEncoder(*encoders_.back(), settings_)) {
      why = "the encoder cannot start: " + encoders_.back()->message;
      return false;
    }
  }
  for (auto& e : encoders_) threads_.emplace_back([this, enc = e.get()] { work(*enc); });
  return true;
}

std::vector<uint8_t> ChunkEncoder::jpegTables() {
  Encoder scratch;
  uint16_t compression = 0;
  if (!openEncoder(scratch, settings_) || !TIFFGetField(scratch.tif, TIFFTAG_COMPRESSION, &compression) ||
      compression != COMPRESSION_JPEG)
    return {};
  const tmsize_t size = settings_.tiled ? TIFFTileSize(scratch.tif) : TIFFStripSize(scratch.tif);
  std::vector<uint8_t> zeros(static_cast<size_t>(size)), sink;
  scratch.capture = &sink;
  if ((settings_.tiled ? TIFFWriteEncodedTile(scratch.tif, 0, zeros.data(), size)
                       : TIFFWriteEncodedStrip(scratch.tif, 0, zeros.data(), size)) < 0)
    return {};
  uint32_t count = 0;
  void* tables = nullptr;
  if (!TIFFGetField(scratch.tif, TIFFTAG_JPEGTABLES, &count, &tables) || !tables) return {};
  const auto* bytes = static_cast<const uint8_t*>(tables);
  return std::vector<uint8_t>(bytes, bytes + count);
}

void ChunkEncoder::work(Encoder& encoder) {
  pthread_setname_np(pthread_self(), "chunk-encoder");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
    if (stopping_) return;
    Job& job = jobs_[queued_.front() % jobs_.size()];
    queued_.pop_front();
    lock.unlock();
    std::string error;
    const bool ok = encode(encoder, job, error);
    lock.lock();
    job.state = ok ? State::Done : State::Failed;
    if (!ok) job.error = error;
    changed_.notify_all();
  }
}

// One chunk through the worker's codec; a lack of memory fails the chunk, not the program.
bool ChunkEncoder::encode(Encoder& encoder, Job& job, std::string& why) const {
  bool ok = false;
  try {
    job.coded.clear();
    encoder.capture = &job.coded;
    const tmsize_t n = static_cast<tmsize_t>(job.raw.size());
    ok = (settings_.tiled ? TIFFWriteEncodedTile(encoder.tif, job.index, job.raw.data(), n)
                          : TIFFWriteEncodedStrip(encoder.tif, job.index, job.raw.data(), n)) >= 0;
    if (!ok) why = encoder.message;
  } catch (const std::bad_alloc&) {
    why = "not enough memory to compress a chunk of " + std::to_string(job.raw.size()) + " bytes";
  }
  encoder.capture = nullptr;
  return ok;
}

bool ChunkEncoder::add(const uint8_t* chunk, size_t bytes, const ChunkWriter& write, std::string& why) {
  return add(bytes, [&](uint8_t* to) { std::memcpy(to, chunk, bytes); }, write, why);
}

bool ChunkEncoder::add(size_t bytes, const ChunkFiller& fill, const ChunkWriter& write, std::string& why) {
  while (next_ - nextWrite_ >= jobs_.size())
    if (writeNext(write, true, why) == Step::Failed) return false;
  // The free job is the producer's alone until it is queued.
  Job& job = jobs_[next_ % jobs_.size()];
  job.raw.resize(bytes);
  fill(job.raw.data());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.index = next_;
    job.state = State::Queued;
    queued_.push_back(next_++);
  }
  changed_.notify_all();
  Step step = Step::Written;
  while (nextWrite_ < next_ && (step = writeNext(write, false, why)) == Step::Written) {
  }
  return step != Step::Failed;
}

bool ChunkEncoder::drain(const ChunkWriter& write, std::string& why) {
  while (nextWrite_ < next_)
    if (writeNext(write, true, why) == Step::Failed) return false;
  return true;
}

// Writes the oldest chunk once it is encoded; without `wait`, only when it
// is ready already.
ChunkEncoder::Step ChunkEncoder::writeNext(const ChunkWriter& write, bool wait, std::string& why) {
  Job& job = jobs_[nextWrite_ % jobs_.size()];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!wait && job.state == State::Queued) return Step::NotReady;
    changed_.wait(lock, [&] { return job.state != State::Queued; });
  }
  if (job.state == State::Failed) {
    why = (settings_.tiled ? "tile " : "strip ") + std::to_string(job.index) + ": " + job.error;
    return Step::Failed;
  }
  if (!write(job.index, job.coded)) return Step::Failed;  // the writer knows why
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.state = State::Free;
  }
  ++nextWrite_;
  return Step::Written;
}

}  // namespace torvel
