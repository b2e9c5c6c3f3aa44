#include "engine/zipfile.h"

#include <zlib.h>

namespace torvel {

namespace {

constexpr uint32_t localSignature = 0x04034b50, centralSignature = 0x02014b50, endSignature = 0x06054b50,
                   end64Signature = 0x06064b50, locator64Signature = 0x07064b50;
constexpr uint16_t utf8Names = 0x0800, dosDate1980 = 0x0021;

// Little-endian fields appended one after another.
struct Fields {
  std::vector<uint8_t> bytes;
  Fields& u16(uint16_t v) { return put(v, 2); }
  Fields& u32(uint32_t v) { return put(v, 4); }
  Fields& u64(uint64_t v) { return put(v, 8); }
  Fields& text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Fields& put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
};

}  // namespace

bool ZipWriter::put(const std::vector<uint8_t>& bytes) {
  file_.write(bytes.data(), bytes.size());
  at_ += bytes.size();
  if (const int e = file_.takeError()) error_ = error_ ? error_ : e;
  return error_ == 0;
}

bool ZipWriter::add(const std::string& name, const uint8_t* data, size_t size) {
  const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), data, static_cast<uInt>(size)));
  entries_.push_back({name, crc, static_cast<uint32_t>(size), at_});
  Fields h;
  h.u32(localSignature).u16(20).u16(utf8Names).u16(0).u16(0).u16(dosDate1980).u32(crc);
  h.u32(static_cast<uint32_t>(size)).u32(static_cast<uint32_t>(size));
  h.u16(static_cast<uint16_t>(name.size())).u16(0).text(name);
  if (!put(h.bytes)) return false;
  file_.write(data, size);
  at_ += size;
  if (const int e = file_.takeError()) error_ = error_ ? error_ : e;
  return error_ == 0;
}

bool ZipWriter::finish() {
  const uint64_t directoryAt = at_;
  for (const Entry& e : entries_) {
    const bool far = e.offset >= 0xFFFFFFFFu;
    Fields c;
    c.u32(centralSignature).u16(45 | 3 << 8).u16(far ? 45 : 20).u16(utf8Names).u16(0).u16(0).u16(dosDate1980);
    c.u32(e.crc).u32(e.size).u32(e.size).u16(static_cast<uint16_t>(e.name.size())).u16(far ? 12 : 0);
    c.u16(0).u16(0).u16(0).u32(0100644u << 16).u32(far ? 0xFFFFFFFFu : static_cast<uint32_t>(e.offset)).text(e.name);
    if (far) c.u16(1).u16(8).u64(e.offset);  // the ZIP64 extra field: the offset alone
    if (!put(c.bytes)) return false;
  }
  const uint64_t directorySize = at_ - directoryAt, count = entries_.size();
  const bool wide = count >= 0xFFFF || directoryAt >= 0xFFFFFFFFu || directorySize >= 0xFFFFFFFFu;
  Fields end;
  if (wide) {
    const uint64_t end64At = at_;
    end.u32(end64Signature).u64(44).u16(45 | 3 << 8).u16(45).u32(0).u32(0).u64(count).u64(count);
    end.u64(directorySize).u64(directoryAt);
    end.u32(locator64Signature).u32(0).u64(end64At).u32(1);
  }
  const auto narrow16 = [&](uint64_t v) { return static_cast<uint16_t>(wide ? 0xFFFF : v); };
  const auto narrow32 = [&](uint64_t v) { return static_cast<uint32_t>(wide ? 0xFFFFFFFFu : v); };
  end.u32(endSignature).u16(0).u16(0).u16(narrow16(count)).u16(narrow16(count));
  end.u32(narrow32(directorySize)).u32(narrow32(directoryAt)).u16(0);
  return put(end.bytes);
}

}  // namespace torvel
