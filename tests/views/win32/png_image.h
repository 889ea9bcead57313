/* png_image.h -- a PNG file read back through the system's own decoder, for
** checking the pixels a painter wrote. */
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PngImage {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels; /* 0xRRGGBB, row by row */
    /* 0xRRGGBB at (x, y), or -1 outside the image. */
    long At(int x, int y) const
    {
        if (x < 0 || y < 0 || uint32_t(x) >= width || uint32_t(y) >= height) return -1;
        return long(pixels[size_t(y) * width + size_t(x)]);
    }
};

/* Reads the whole image; false when the file cannot be decoded. */
bool ReadPngImage(const std::string &path, PngImage *image);
