// PNG images in memory, to and from 8-bit RGBA (libpng's simplified API):
// the body's texture is a PNG inside the actor file.
#ifndef QV_PNG_H
#define QV_PNG_H

#include <cstddef>
#include <string>
#include <vector>

#include "QV_body.h"

// Decodes size bytes of PNG into out (8-bit sRGB RGBA, rows top first; libpng
// converts other bit depths, palettes and gammas). False, with why saying so in
// a few words, for data libpng cannot read as a PNG, and for an image wider
// or taller than maxSide pixels (refused before its pixels are allocated).
bool DecodePng(const unsigned char* data, size_t size, unsigned int maxSide, sImage& out, std::string& why);

// The PNG of an image (8-bit RGBA); empty when libpng cannot write it.
std::vector<unsigned char> EncodePng(const sImage& image);

#endif // QV_PNG_H
