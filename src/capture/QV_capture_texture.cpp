// A texture's image from its file's bytes, in the reader's process: PNG
// through libpng (the core's DecodePng), JPEG through libjpeg.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "QV_png.h"
#include "QV_scene_reader.h"

namespace qvimport
{
namespace
{

// Images up to twice the file's limit a side are read and halved; larger
// ones are refused before their pixels are allocated.
const unsigned kMaxDecodedSide = 2 * kMaxTextureSide;

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back to DecodeJpeg with the message kept.
struct sJpegError
{
    jpeg_error_mgr mManager;
    std::jmp_buf mJump;
    char mMessage[JMSG_LENGTH_MAX];
};

void JpegFailed(j_common_ptr info)
{
    sJpegError* e = (sJpegError*)info->err;
    (*info->err->format_message)(info, e->mMessage);
    std::longjmp(e->mJump, 1);
}

void JpegWarning(j_common_ptr, int) {}

// Decodes into pixels (RGBA), which the caller owns so that nothing with a
// destructor is set up between setjmp and a jump back to it.
bool DecodeJpeg(const unsigned char* data, size_t size, std::vector<unsigned char>& pixels, unsigned& width,
                unsigned& height, std::string& why)
{
    jpeg_decompress_struct info;
    sJpegError error;
    info.err = jpeg_std_error(&error.mManager);
    error.mManager.error_exit = JpegFailed;
    error.mManager.emit_message = JpegWarning;
    std::vector<unsigned char> row;
    if (setjmp(error.mJump))
    {
        jpeg_destroy_decompress(&info);
        why = error.mMessage;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, (unsigned long)size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    if (info.image_width == 0 || info.image_height == 0 || info.image_width > kMaxDecodedSide ||
        info.image_height > kMaxDecodedSide)
    {
        why =
            "the image is " + std::to_string(info.image_width) + " x " + std::to_string(info.image_height) + " pixels";
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    width = info.output_width;
    height = info.output_height;
    pixels.assign((size_t)width * height * 4, 255);
    row.resize((size_t)width * 3);
    while (info.output_scanline < info.output_height)
    {
        const size_t y = info.output_scanline;
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (size_t x = 0; x < width; ++x)
            std::memcpy(&pixels[(y * width + x) * 4], &row[x * 3], 3);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// Halves an image (averaging each two by two pixels) until it fits.
void Fit(sImage& image)
{
    while (image.mWidth > kMaxTextureSide || image.mHeight > kMaxTextureSide)
    {
        const unsigned w = (image.mWidth + 1) / 2, h = (image.mHeight + 1) / 2;
        std::vector<unsigned char> half((size_t)w * h * 4);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                for (unsigned c = 0; c < 4; ++c)
                {
                    unsigned sum = 0;
                    for (unsigned dy = 0; dy < 2; ++dy)
                        for (unsigned dx = 0; dx < 2; ++dx)
                        {
                            const unsigned sx = std::min(2 * x + dx, image.mWidth - 1);
                            const unsigned sy = std::min(2 * y + dy, image.mHeight - 1);
                            sum += image.mPixels[((size_t)sy * image.mWidth + sx) * 4 + c];
                        }
                    half[((size_t)y * w + x) * 4 + c] = (unsigned char)((sum + 2) / 4);
                }
        image.mWidth = w;
        image.mHeight = h;
        image.mPixels.swap(half);
    }
}

} // namespace

bool DecodeTexture(const unsigned char* data, size_t size, sImage& image, std::string& why)
{
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    static const unsigned char kJpeg[3] = {0xff, 0xd8, 0xff};
    bool ok = false;
    if (size >= sizeof kPng && std::memcmp(data, kPng, sizeof kPng) == 0)
        ok = DecodePng(data, size, kMaxDecodedSide, image, why);
    else if (size >= sizeof kJpeg && std::memcmp(data, kJpeg, sizeof kJpeg) == 0)
    {
        sImage decoded;
        ok = DecodeJpeg(data, size, decoded.mPixels, decoded.mWidth, decoded.mHeight, why);
        if (ok)
            image = std::move(decoded);
    }
    else
        why = "it is neither a PNG nor a JPEG image";
    if (ok)
        Fit(image);
    return ok;
}

} // namespace qvimport
