// A small raster for plots and the PNG file it is written to (our own
// fixed-Huffman deflate: no library needed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace train {

struct Rgb {
  uint8_t r, g, b;
};

struct Raster {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // rows top to bottom, three bytes a pixel
};

Raster makeRaster(int width, int height, Rgb background);
void setPixel(Raster& image, int x, int y, Rgb colour);  // outside the image: nothing
void drawLine(Raster& image, int x0, int y0, int x1, int y1, Rgb colour);
void fillRect(Raster& image, int x0, int y0, int x1, int y1, Rgb colour);
// The PNG file's bytes, and the file written; false on a write error.
std::vector<uint8_t> encodePng(const Raster& image);
bool writePng(const std::string& path, const Raster& image);

}  // namespace train
