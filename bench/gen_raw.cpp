// Writes a RAW image of pseudo-random but compressible content (a smooth
// gradient with noise), a line at a time, for the benchmarks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: gen_raw OUT WIDTH HEIGHT BITS\n");
    return 2;
  }
  const uint32_t w = std::strtoul(argv[2], nullptr, 10), h = std::strtoul(argv[3], nullptr, 10);
  const int bits = std::atoi(argv[4]);
  FILE* f = std::fopen(argv[1], "wb");
  if (!f) return 1;
  std::vector<uint8_t> line8(size_t(w) * 3);
  std::vector<uint16_t> line16(size_t(w) * 3);
  uint32_t rng = 12345;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      rng = rng * 1664525u + 1013904223u;
      const uint32_t noise = rng >> 28;
      const uint32_t v[3] = {(x * 255u / w) + noise, (y * 255u / h) + noise, ((x + y) & 255u) ^ noise};
      for (int c = 0; c < 3; ++c) {
        if (bits == 8) line8[size_t(x) * 3 + c] = uint8_t(v[c]);
        else line16[size_t(x) * 3 + c] = uint16_t(v[c] * 257u);
      }
    }
    if (bits == 8) std::fwrite(line8.data(), 1, line8.size(), f);
    else std::fwrite(line16.data(), 2, line16.size(), f);
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
