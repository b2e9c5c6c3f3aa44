#include "testkit.h"

#include "engine/runtexts.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <zlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "engine/reader.h"

namespace fs = std::filesystem;

namespace testkit {

Scratch::Scratch() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/torvel-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = std::string(buf.data()) + "/";
}

Scratch::~Scratch() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

Pixels makePixels(uint32_t w, uint32_t h, int bits, int channels, uint32_t seed) {
  Pixels p;
  p.width = w;
  p.height = h;
  p.bits = bits;
  p.channels = channels;
  std::mt19937 rng(seed);
  p.samples.resize(size_t(w) * h * channels);
  const uint32_t mask = bits == 8 ? 0xFF : 0xFFFF;
  for (auto& s : p.samples) s = static_cast<uint16_t>(rng() & mask);
  return p;
}

Pixels withChannels(const Pixels& p, int channels) {
  if (p.channels == channels) return p;
  Pixels q = p;
  q.channels = channels;
  q.samples.clear();
  const uint16_t full = p.bits == 8 ? 255 : 65535;
  for (size_t i = 0; i < size_t(p.width) * p.height; ++i) {
    for (int c = 0; c < 3; ++c) q.samples.push_back(p.samples[i * p.channels + c]);
    if (channels == 4) q.samples.push_back(full);
  }
  return q;
}

Pixels crop(const Pixels& p, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  Pixels q;
  q.width = w;
  q.height = h;
  q.bits = p.bits;
  q.channels = p.channels;
  q.samples.reserve(size_t(w) * h * p.channels);
  for (uint32_t r = y; r < y + h; ++r)
    for (uint32_t c = x; c < x + w; ++c)
      for (int k = 0; k < p.channels; ++k) q.samples.push_back(p.at(c, r, k));
  return q;
}

namespace {

std::string bytesOf(const Pixels& p, bool bigEndian) {
  std::string out;
  out.reserve(p.samples.size() * (p.bits / 8));
  for (uint16_t s : p.samples) {
    if (p.bits == 8) {
      out.push_back(static_cast<char>(s));
    } else if (bigEndian) {
      out.push_back(static_cast<char>(s >> 8));
      out.push_back(static_cast<char>(s & 0xFF));
    } else {
      out.push_back(static_cast<char>(s & 0xFF));
      out.push_back(static_cast<char>(s >> 8));
    }
  }
  return out;
}

Pixels fromBytes(const std::string& b, size_t offset, uint32_t w, uint32_t h, int bits, int channels,
                  bool bigEndian) {
  Pixels p;
  p.width = w;
  p.height = h;
  p.bits = bits;
  p.channels = channels;
  size_t n = size_t(w) * h * channels;
  if (b.size() < offset + n * (bits / 8)) throw std::runtime_error("file too short");
  p.samples.resize(n);
  const auto* u = reinterpret_cast<const unsigned char*>(b.data() + offset);
  for (size_t i = 0; i < n; ++i) {
    if (bits == 8) p.samples[i] = u[i];
    else if (bigEndian) p.samples[i] = static_cast<uint16_t>(u[2 * i] << 8 | u[2 * i + 1]);
    else p.samples[i] = static_cast<uint16_t>(u[2 * i + 1] << 8 | u[2 * i]);
  }
  return p;
}

uint32_t be32(const std::string& b, size_t at) {
  const auto* u = reinterpret_cast<const unsigned char*>(b.data() + at);
  return uint32_t(u[0]) << 24 | uint32_t(u[1]) << 16 | uint32_t(u[2]) << 8 | u[3];
}

}  // namespace

std::string rawBytes(const Pixels& p) { return bytesOf(p, false); }

std::string kroBytes(const Pixels& p) {
  std::string hdr = "KRO";
  hdr.push_back(1);
  for (uint32_t v : {p.width, p.height, uint32_t(p.bits), uint32_t(p.channels)}) {
    hdr.push_back(static_cast<char>(v >> 24));
    hdr.push_back(static_cast<char>(v >> 16));
    hdr.push_back(static_cast<char>(v >> 8));
    hdr.push_back(static_cast<char>(v));
  }
  return hdr + bytesOf(p, true);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void writeRaw(const std::string& path, const Pixels& p) { writeFile(path, rawBytes(p)); }
void writeKro(const std::string& path, const Pixels& p) { writeFile(path, kroBytes(p)); }

void writeTiff(const std::string& path, const Pixels& p, bool bigTiff, int compression, uint32_t rowsPerStrip) {
  TIFF* t = TIFFOpen(path.c_str(), bigTiff ? "w8" : "w");
  if (!t) throw std::runtime_error("cannot create " + path);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(p.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(p.channels));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(compression));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  if (p.channels == 4) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  // One row at a time, straight from the samples: no copy of the image per row.
  const size_t rowSamples = size_t(p.width) * p.channels;
  std::vector<uint8_t> line(rowSamples * (p.bits / 8));
  for (uint32_t y = 0; y < p.height; ++y) {
    const uint16_t* row = p.samples.data() + y * rowSamples;
    if (p.bits == 8)
      for (size_t i = 0; i < rowSamples; ++i) line[i] = static_cast<uint8_t>(row[i]);
    else
      std::memcpy(line.data(), row, line.size());  // host order: libtiff stores it natively
    if (TIFFWriteScanline(t, line.data(), y, 0) != 1) throw std::runtime_error("tiff write failed");
  }
  TIFFClose(t);
}

namespace {

void setLayoutTags(TIFF* t, const Pixels& p, const TiffRecipe& recipe) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(p.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(p.channels));
  TIFFSetField(t, TIFFTAG_COMPRESSION, recipe.compression);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, recipe.photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(recipe.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG));
  if (recipe.predictor != 1) TIFFSetField(t, TIFFTAG_PREDICTOR, recipe.predictor);
  if (recipe.tileWidth) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, recipe.tileWidth);
    TIFFSetField(t, TIFFTAG_TILELENGTH, recipe.tileHeight);
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, recipe.rowsPerStrip);
  }
  const bool alpha = (recipe.photometric == PHOTOMETRIC_RGB && p.channels == 4) ||
                     (recipe.photometric <= PHOTOMETRIC_MINISBLACK && p.channels == 2);
  if (alpha) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (!recipe.colormap.empty())
    TIFFSetField(t, TIFFTAG_COLORMAP, recipe.colormap.data(), recipe.colormap.data() + 256, recipe.colormap.data() + 512);
  if (recipe.compression == COMPRESSION_JPEG) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
}

// The samples of a rectangle, zero beyond the image, of one plane or all.
std::vector<uint8_t> block(const Pixels& p, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, int plane) {
  const int samples = plane < 0 ? p.channels : 1, bps = p.bits / 8;
  std::vector<uint8_t> out(size_t(w) * h * samples * bps, 0);
  for (uint32_t y = y0; y < std::min(y0 + h, p.height); ++y)
    for (uint32_t x = x0; x < std::min(x0 + w, p.width); ++x)
      for (int s = 0; s < samples; ++s) {
        const uint16_t v = p.at(x, y, plane < 0 ? s : plane);
        std::memcpy(&out[((size_t(y - y0) * w + (x - x0)) * samples + s) * bps], &v, size_t(bps));
      }
  return out;
}

void writeLayoutImage(TIFF* t, const Pixels& p, const TiffRecipe& recipe) {
  const int planes = recipe.separatePlanes ? p.channels : 1;
  for (int s = 0; s < planes; ++s) {
    const int plane = recipe.separatePlanes ? s : -1;
    if (recipe.tileWidth) {
      for (uint32_t y = 0; y < p.height; y += recipe.tileHeight)
        for (uint32_t x = 0; x < p.width; x += recipe.tileWidth) {
          std::vector<uint8_t> b = block(p, x, y, recipe.tileWidth, recipe.tileHeight, plane);
          if (TIFFWriteEncodedTile(t, TIFFComputeTile(t, x, y, 0, uint16_t(s)), b.data(), tmsize_t(b.size())) < 0)
            throw std::runtime_error("tile write failed");
        }
    } else {
      for (uint32_t y = 0; y < p.height; y += recipe.rowsPerStrip) {
        std::vector<uint8_t> b = block(p, 0, y, p.width, std::min(recipe.rowsPerStrip, p.height - y), plane);
        if (TIFFWriteEncodedStrip(t, TIFFComputeStrip(t, y, uint16_t(s)), b.data(), tmsize_t(b.size())) < 0)
          throw std::runtime_error("strip write failed");
      }
    }
  }
}

}  // namespace

void writeTiffLayout(const std::string& path, const Pixels& p, const TiffRecipe& recipe) {
  TIFF* t = TIFFOpen(path.c_str(), recipe.bigTiff ? "w8" : "w");
  if (!t) throw std::runtime_error("cannot create " + path);
  Pixels page = p;
  for (int n = 0; n < recipe.pages; ++n) {
    setLayoutTags(t, page, recipe);
    writeLayoutImage(t, page, recipe);
    if (!TIFFWriteDirectory(t)) throw std::runtime_error("directory write failed");
    page = crop(page, 0, 0, std::max(1u, page.width / 2), std::max(1u, page.height / 2));
  }
  TIFFClose(t);
}

Pixels readRaw(const std::string& path, uint32_t w, uint32_t h, int bits) {
  return fromBytes(readFile(path), 0, w, h, bits, 3, false);
}

Pixels readKro(const std::string& path) {
  std::string b = readFile(path);
  if (b.size() < 20 || b.compare(0, 3, "KRO") != 0) throw std::runtime_error("not a KRO file");
  return fromBytes(b, 20, be32(b, 4), be32(b, 8), int(be32(b, 12)), int(be32(b, 16)), true);
}

Pixels readTiff(const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) throw std::runtime_error("cannot open " + path);
  uint32_t w = 0, h = 0;
  uint16_t bits = 0, spp = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  std::string all, line(static_cast<size_t>(TIFFScanlineSize64(t)), '\0');
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(t, line.data(), y, 0) != 1) throw std::runtime_error("tiff read failed");
    all += line;
  }
  TIFFClose(t);
  return fromBytes(all, 0, w, h, bits, spp, false);
}

std::string deflatedZeros(size_t bytes) {
  z_stream z{};
  deflateInit(&z, 1);
  std::vector<unsigned char> zeros(1 << 20), out(1 << 20);
  std::string packed;
  for (size_t done = 0; done < bytes;) {
    const size_t n = std::min(zeros.size(), bytes - done);
    done += n;
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, done == bytes ? Z_FINISH : Z_NO_FLUSH);
      packed.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return packed;
}

void writeZeroTiles(const std::string& path, uint32_t width, uint32_t height, uint32_t tileWidth, uint32_t tileHeight) {
  TIFF* t = TIFFOpen(path.c_str(), "w8");
  if (!t) throw std::runtime_error("cannot create " + path);
  for (auto [tag, value] : {std::pair{TIFFTAG_IMAGEWIDTH, width}, {TIFFTAG_IMAGELENGTH, height},
                            {TIFFTAG_TILEWIDTH, tileWidth}, {TIFFTAG_TILELENGTH, tileHeight}})
    TIFFSetField(t, tag, value);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
  const std::string tile = deflatedZeros(size_t{tileWidth} * tileHeight * 3);
  for (uint32_t i = 0; i < TIFFNumberOfTiles(t); ++i)
    TIFFWriteRawTile(t, i, const_cast<char*>(tile.data()), tmsize_t(tile.size()));
  TIFFClose(t);
}

long peakRssKb() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace testkit

namespace testkit {

std::string runCommand(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) throw std::runtime_error("popen failed");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

}  // namespace testkit

namespace testkit {

void Recorder::phaseStarted(const torvel::PhaseStart& phase) {
  phase_ = phase;
  events.push_back("show:" + std::to_string(phase.total) + ":" + torvel::captionText(phase));
}

void Recorder::progressed(const torvel::Progress& progress) {
  events.push_back("update:" + std::to_string(progress.done));
  events.push_back("status:" + torvel::statusText(phase_, progress));
  if (++updates == cancelAtUpdate) stop.request_stop();
}

std::vector<std::string> Recorder::matching(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
  return out;
}

void Recorder::rearm(int atUpdate) {
  stop = std::stop_source();
  updates = 0;
  cancelAtUpdate = atUpdate;
}

bool Harness::select(const std::string& path, const torvel::RawGeometry& raw) {
  input = torvel::probeImage(path, raw);
  return input.accepted;
}

torvel::RunContext Harness::context() {
  return torvel::RunContext(&recorder, recorder.stop.get_token(), torvel::Overwrite::Ask,
                            [this](const std::vector<std::string>& paths) {
    questions.insert(questions.end(), paths.begin(), paths.end());
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  });
}

std::string Harness::listing() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.dir())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& n : names) out += n + "\n";
  return out;
}

}  // namespace testkit
