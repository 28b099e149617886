// Raster drawing and the PNG encoder.
#include "plot.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "records.h"

namespace train {

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kAdlerModulus = 65521;
constexpr uint8_t kBitDepth = 8, kColourTypeRgb = 2;

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  putU32(out, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  putU32(out, crc32(typed.data(), typed.size()));
}

uint32_t adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % kAdlerModulus;
    b = (b + a) % kAdlerModulus;
  }
  return (b << 16) | a;
}

// Deflate output, least significant bit first.
struct BitWriter {
  std::vector<uint8_t>& out;
  uint32_t buffer = 0;
  int bits = 0;
  void put(uint32_t value, int count) {
    buffer |= value << bits;
    bits += count;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(buffer & 0xFF));
      buffer >>= 8;
      bits -= 8;
    }
  }
  // Huffman codes go out from their most significant bit.
  void putCode(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
    put(reversed, length);
  }
  void flush() {
    if (bits > 0) out.push_back(static_cast<uint8_t>(buffer & 0xFF));
    buffer = 0;
    bits = 0;
  }
};

// The fixed Huffman code of a literal/length symbol.
void putSymbol(BitWriter& w, int symbol) {
  if (symbol < 144) w.putCode(0x30 + symbol, 8);
  else if (symbol < 256) w.putCode(0x190 + symbol - 144, 9);
  else if (symbol < 280) w.putCode(symbol - 256, 7);
  else w.putCode(0xC0 + symbol - 280, 8);
}

constexpr int kLengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59,
                                 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int kMinMatch = 3, kMaxMatch = 258, kMaxDistance = 32768;
constexpr int kEndOfBlock = 256, kFirstLengthSymbol = 257;

void putMatch(BitWriter& w, int length, int distance) {
  int l = 28;
  while (kLengthBase[l] > length) --l;
  putSymbol(w, kFirstLengthSymbol + l);
  w.put(static_cast<uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
  int d = 29;
  while (kDistanceBase[d] > distance) --d;
  w.putCode(static_cast<uint32_t>(d), 5);
  w.put(static_cast<uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

int matchLength(const std::vector<uint8_t>& raw, size_t at, size_t distance) {
  if (distance == 0 || distance > at || distance > static_cast<size_t>(kMaxDistance)) return 0;
  int n = 0;
  while (n < kMaxMatch && at + n < raw.size() && raw[at + n] == raw[at + n - distance]) ++n;
  return n;
}

// A zlib stream of one fixed-Huffman block. Plots repeat the pixel before
// and the row above, so matches are sought at just those two distances.
std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& raw, size_t rowStride) {
  std::vector<uint8_t> out = {0x78, 0x01};
  BitWriter w{out};
  w.put(1, 1);  // last block
  w.put(1, 2);  // fixed Huffman codes
  for (size_t i = 0; i < raw.size();) {
    const int byPixel = matchLength(raw, i, 3), byRow = matchLength(raw, i, rowStride);
    const int length = std::max(byPixel, byRow);
    if (length >= kMinMatch) {
      putMatch(w, length, byPixel >= byRow ? 3 : static_cast<int>(rowStride));
      i += static_cast<size_t>(length);
    } else {
      putSymbol(w, raw[i++]);
    }
  }
  putSymbol(w, kEndOfBlock);
  w.flush();
  putU32(out, adler32(raw));
  return out;
}

}  // namespace

Raster makeRaster(int width, int height, Rgb background) {
  Raster image;
  image.width = std::max(width, 1);
  image.height = std::max(height, 1);
  image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
  for (size_t i = 0; i < image.pixels.size(); i += 3) {
    image.pixels[i] = background.r;
    image.pixels[i + 1] = background.g;
    image.pixels[i + 2] = background.b;
  }
  return image;
}

void setPixel(Raster& image, int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
  uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 3];
  p[0] = colour.r;
  p[1] = colour.g;
  p[2] = colour.b;
}

void drawLine(Raster& image, int x0, int y0, int x1, int y1, Rgb colour) {
  // Bresenham: every step moves one pixel along the longer axis.
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    setPixel(image, x0, y0, colour);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void fillRect(Raster& image, int x0, int y0, int x1, int y1, Rgb colour) {
  for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
    for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x) setPixel(image, x, y, colour);
}

std::vector<uint8_t> encodePng(const Raster& image) {
  std::vector<uint8_t> png(kPngSignature, kPngSignature + 8);
  std::vector<uint8_t> header;
  putU32(header, static_cast<uint32_t>(image.width));
  putU32(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {kBitDepth, kColourTypeRgb, 0, 0, 0});
  putChunk(png, "IHDR", header);
  // Each row starts with filter type 0 (none).
  std::vector<uint8_t> raw;
  const size_t rowBytes = static_cast<size_t>(image.width) * 3;
  raw.reserve((rowBytes + 1) * image.height);
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    const auto row = image.pixels.begin() + static_cast<long>(y * rowBytes);
    raw.insert(raw.end(), row, row + static_cast<long>(rowBytes));
  }
  putChunk(png, "IDAT", zlibCompress(raw, rowBytes + 1));
  putChunk(png, "IEND", {});
  return png;
}

bool writePng(const std::string& path, const Raster& image) {
  const std::vector<uint8_t> bytes = encodePng(image);
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

}  // namespace train
