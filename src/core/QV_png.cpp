#include "QV_png.h"

#include <cstring>

#include <png.h>

bool DecodePng(const unsigned char* data, size_t size, unsigned int maxSide, sImage& out, std::string& why)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!data || size == 0 || !png_image_begin_read_from_memory(&image, data, size))
    {
        why = image.message[0] ? image.message : "no image data";
        png_image_free(&image);
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > maxSide || image.height > maxSide)
    {
        why = "the image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
              " pixels; the limit is " + std::to_string(maxSide) + " a side";
        png_image_free(&image);
        return false;
    }
    // 8-bit sRGB values, which is what OpenGL 1.x shows without conversion.
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
    {
        why = image.message[0] ? image.message : "the image data cannot be read";
        png_image_free(&image);
        return false;
    }
    out.mWidth = image.width;
    out.mHeight = image.height;
    out.mPixels.swap(pixels);
    return true;
}

std::vector<unsigned char> EncodePng(const sImage& image)
{
    if (image.mWidth == 0 || image.mHeight == 0 || image.mPixels.size() != (size_t)image.mWidth * image.mHeight * 4)
        return {};
    png_image info;
    std::memset(&info, 0, sizeof info);
    info.version = PNG_IMAGE_VERSION;
    info.width = image.mWidth;
    info.height = image.mHeight;
    info.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&info, nullptr, &size, 0, image.mPixels.data(), 0, nullptr))
        return {};
    std::vector<unsigned char> bytes(size);
    if (!png_image_write_to_memory(&info, bytes.data(), &size, 0, image.mPixels.data(), 0, nullptr))
        return {};
    bytes.resize(size);
    return bytes;
}
