#include "engine/stripencoder.h"

#include <pthread.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/tifffile.h"

namespace torvel {

// A TIFF handle that writes nowhere but into the strip being captured: the
// library's codec applied to one strip at a time.
struct StripEncoder::Encoder {
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

using Encoder = StripEncoder::Encoder;
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

bool openEncoder(Encoder& e, const StripEncoder::Settings& s) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, keepMessage, &e);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, keepMessage, &e);
  e.tif = TIFFClientOpenExt("strip encoder", s.bigTiff ? "w8m" : "wm", &e, sinkRead, sinkWrite, sinkSeek, sinkClose,
                            sinkSize, sinkMap, sinkUnmap, opts);
  TIFFOpenOptionsFree(opts);
  if (!e.tif) return false;
  TIFFSetField(e.tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(e.tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(e.tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(s.bits));
  TIFFSetField(e.tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(s.samples));
  TIFFSetField(e.tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(1));
  TIFFSetField(e.tif, TIFFTAG_COMPRESSION, s.compression);
  TIFFSetField(e.tif, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
  TIFFSetField(e.tif, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_RGB));
  return true;
}

}  // namespace

StripEncoder::StripEncoder(const Settings& settings, unsigned threads, size_t queue)
    : settings_(settings), threadCount_(std::max(1u, threads)), jobs_(std::max<size_t>(queue, 1)) {}

StripEncoder::~StripEncoder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& t : threads_) t.join();
}

bool StripEncoder::start(std::string& why) {
  installTiffHandlers();
  for (unsigned i = 0; i < threadCount_; ++i) {
    encoders_.push_back(std::make_unique<Encoder>());
    if (!openEncoder(*encoders_.back(), settings_)) {
      why = "the strip encoder cannot start: " + encoders_.back()->message;
      return false;
    }
  }
  for (auto& e : encoders_) threads_.emplace_back([this, enc = e.get()] { work(*enc); });
  return true;
}

void StripEncoder::work(Encoder& encoder) {
  pthread_setname_np(pthread_self(), "strip-encoder");
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

// One strip through the worker's codec; a lack of memory fails the strip, not the program.
bool StripEncoder::encode(Encoder& encoder, Job& job, std::string& why) {
  bool ok = false;
  try {
    job.strip.clear();
    encoder.capture = &job.strip;
    ok = TIFFWriteEncodedStrip(encoder.tif, job.index, job.row.data(), static_cast<tmsize_t>(job.row.size())) >= 0;
    if (!ok) why = encoder.message;
  } catch (const std::bad_alloc&) {
    why = "not enough memory to compress a strip";
  }
  encoder.capture = nullptr;
  return ok;
}

bool StripEncoder::add(const uint8_t* row, size_t bytes, const StripWriter& write, std::string& why) {
  while (nextRow_ - nextWrite_ >= jobs_.size())
    if (writeNext(write, true, why) == Step::Failed) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Job& job = jobs_[nextRow_ % jobs_.size()];
    job.row.assign(row, row + bytes);
    job.index = nextRow_;
    job.state = State::Queued;
    queued_.push_back(nextRow_++);
  }
  changed_.notify_all();
  Step step = Step::Written;
  while (nextWrite_ < nextRow_ && (step = writeNext(write, false, why)) == Step::Written) {
  }
  return step != Step::Failed;
}

bool StripEncoder::drain(const StripWriter& write, std::string& why) {
  while (nextWrite_ < nextRow_)
    if (writeNext(write, true, why) == Step::Failed) return false;
  return true;
}

// Writes the oldest strip once it is encoded; without `wait`, only when it
// is ready already.
StripEncoder::Step StripEncoder::writeNext(const StripWriter& write, bool wait, std::string& why) {
  Job& job = jobs_[nextWrite_ % jobs_.size()];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!wait && job.state == State::Queued) return Step::NotReady;
    changed_.wait(lock, [&] { return job.state != State::Queued; });
  }
  if (job.state == State::Failed) {
    why = "row " + std::to_string(job.index) + ": " + job.error;
    return Step::Failed;
  }
  if (!write(job.index, job.strip)) return Step::Failed;  // the writer knows why
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.state = State::Free;
  }
  ++nextWrite_;
  return Step::Written;
}

}  // namespace torvel
