#include "testkit.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testkit {

TScratch::TScratch() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/torvel-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = std::string(buf.data()) + "/";
}

TScratch::~TScratch() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

TPixels MakePixels(uint32_t w, uint32_t h, int bits, int channels, uint32_t seed) {
  TPixels p;
  p.Width = w;
  p.Height = h;
  p.Bits = bits;
  p.Channels = channels;
  std::mt19937 rng(seed);
  p.Samples.resize(size_t(w) * h * channels);
  const uint32_t mask = bits == 8 ? 0xFF : 0xFFFF;
  for (auto& s : p.Samples) s = static_cast<uint16_t>(rng() & mask);
  return p;
}

TPixels WithChannels(const TPixels& p, int channels) {
  if (p.Channels == channels) return p;
  TPixels q = p;
  q.Channels = channels;
  q.Samples.clear();
  const uint16_t full = p.Bits == 8 ? 255 : 65535;
  for (size_t i = 0; i < size_t(p.Width) * p.Height; ++i) {
    for (int c = 0; c < 3; ++c) q.Samples.push_back(p.Samples[i * p.Channels + c]);
    if (channels == 4) q.Samples.push_back(full);
  }
  return q;
}

TPixels Crop(const TPixels& p, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  TPixels q = p;
  q.Width = w;
  q.Height = h;
  q.Samples.clear();
  for (uint32_t r = y; r < y + h; ++r)
    for (uint32_t c = x; c < x + w; ++c)
      for (int k = 0; k < p.Channels; ++k) q.Samples.push_back(p.At(c, r, k));
  return q;
}

namespace {

std::string Bytes(const TPixels& p, bool bigEndian) {
  std::string out;
  out.reserve(p.Samples.size() * (p.Bits / 8));
  for (uint16_t s : p.Samples) {
    if (p.Bits == 8) {
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

TPixels FromBytes(const std::string& b, size_t offset, uint32_t w, uint32_t h, int bits, int channels,
                  bool bigEndian) {
  TPixels p;
  p.Width = w;
  p.Height = h;
  p.Bits = bits;
  p.Channels = channels;
  size_t n = size_t(w) * h * channels;
  if (b.size() < offset + n * (bits / 8)) throw std::runtime_error("file too short");
  p.Samples.resize(n);
  const auto* u = reinterpret_cast<const unsigned char*>(b.data() + offset);
  for (size_t i = 0; i < n; ++i) {
    if (bits == 8) p.Samples[i] = u[i];
    else if (bigEndian) p.Samples[i] = static_cast<uint16_t>(u[2 * i] << 8 | u[2 * i + 1]);
    else p.Samples[i] = static_cast<uint16_t>(u[2 * i + 1] << 8 | u[2 * i]);
  }
  return p;
}

uint32_t Be32(const std::string& b, size_t at) {
  const auto* u = reinterpret_cast<const unsigned char*>(b.data() + at);
  return uint32_t(u[0]) << 24 | uint32_t(u[1]) << 16 | uint32_t(u[2]) << 8 | u[3];
}

}  // namespace

std::string RawBytes(const TPixels& p) { return Bytes(p, false); }

std::string KroBytes(const TPixels& p) {
  std::string hdr = "KRO";
  hdr.push_back(1);
  for (uint32_t v : {p.Width, p.Height, uint32_t(p.Bits), uint32_t(p.Channels)}) {
    hdr.push_back(static_cast<char>(v >> 24));
    hdr.push_back(static_cast<char>(v >> 16));
    hdr.push_back(static_cast<char>(v >> 8));
    hdr.push_back(static_cast<char>(v));
  }
  return hdr + Bytes(p, true);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteRaw(const std::string& path, const TPixels& p) { WriteFile(path, RawBytes(p)); }
void WriteKro(const std::string& path, const TPixels& p) { WriteFile(path, KroBytes(p)); }

void WriteTiff(const std::string& path, const TPixels& p, bool bigTiff, int compression, uint32_t rowsPerStrip) {
  TIFF* t = TIFFOpen(path.c_str(), bigTiff ? "w8" : "w");
  if (!t) throw std::runtime_error("cannot create " + path);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.Width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.Height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(p.Bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(p.Channels));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(compression));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  if (p.Channels == 4) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  std::string line;
  const size_t lineBytes = size_t(p.Width) * p.Channels * (p.Bits / 8);
  for (uint32_t y = 0; y < p.Height; ++y) {
    TPixels row = Crop(p, 0, y, p.Width, 1);
    line = Bytes(row, false);  // host order: libtiff stores it natively
    if (TIFFWriteScanline(t, line.data(), y, 0) != 1) throw std::runtime_error("tiff write failed");
  }
  (void)lineBytes;
  TIFFClose(t);
}

TPixels ReadRaw(const std::string& path, uint32_t w, uint32_t h, int bits) {
  return FromBytes(ReadFile(path), 0, w, h, bits, 3, false);
}

TPixels ReadKro(const std::string& path) {
  std::string b = ReadFile(path);
  if (b.size() < 20 || b.compare(0, 3, "KRO") != 0) throw std::runtime_error("not a KRO file");
  return FromBytes(b, 20, Be32(b, 4), Be32(b, 8), int(Be32(b, 12)), int(Be32(b, 16)), true);
}

TPixels ReadTiff(const std::string& path) {
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
  return FromBytes(all, 0, w, h, bits, spp, false);
}

bool TScriptedPrompt::AskYesNo(const std::string& q) {
  Questions.push_back(q);
  if (Answers.empty()) return false;
  bool a = Answers.front();
  Answers.pop_front();
  return a;
}

bool TScriptedPrompt::AskRawGeometry(int64_t, uint32_t& width, uint32_t& height, int& bits) {
  ++RawAsked;
  if (!RawAnswer) return false;
  width = RawWidth;
  height = RawHeight;
  bits = RawBits;
  return true;
}

std::vector<std::string> TScriptedPrompt::All() const {
  std::vector<std::string> all = Messages;
  all.insert(all.end(), Errors.begin(), Errors.end());
  all.insert(all.end(), Questions.begin(), Questions.end());
  return all;
}

void TRecorder::Attach(TTorvel& S) {
  TTorvel* rec = &S;
  S.OnShowError = [this](const std::string& m) {
    Events.push_back("error:" + m);
    ErrorsShown.push_back(m);
  };
  S.OnShowStatus = [this](const std::string& m) { Events.push_back("status:" + m); };
  S.OnShowProgress = [this, rec](int32_t max, const std::string& d) {
    rec->Abort = false;  // as the window's progress start does
    Events.push_back("show:" + std::to_string(max) + ":" + d);
  };
  S.OnUpdateProgress = [this, rec](int32_t c) {
    Events.push_back("update:" + std::to_string(c));
    if (++Updates == AbortAtUpdate) rec->Abort = true;
  };
  S.OnHideProgress = [this] { Events.push_back("hide"); };
}

std::vector<std::string> TRecorder::Matching(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& e : Events)
    if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
  return out;
}

long PeakRssKb() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace testkit

namespace testkit {

std::string RunCommand(const std::string& cmd, int* status) {
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

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

}  // namespace testkit

namespace testkit {

TRun::TRun() {
  Init(S);
  S.Prompt = &Prompt;
  Rec.Attach(S);
}

bool TRun::Select(const std::string& path) {
  S.InInfo = TFileInfo{};
  S.InInfo.FileName = path;
  ProbeFile(S, false);
  return S.InInfo.ImageIsOk;
}

void TRun::SetOutput(FileType type, bool lzw) {
  S.OutInfo.ImageType = type;
  S.Lzw = lzw;
}

std::string TRun::Listing() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Dir.Dir())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& n : names) out += n + "\n";
  return out;
}

}  // namespace testkit
