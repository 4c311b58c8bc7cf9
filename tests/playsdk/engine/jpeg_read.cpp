#include "jpeg_read.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <jpeglib.h>

namespace enginetest {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr c) {
    std::longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    Decompressor() {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = onError;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
};

bool decode(Decompressor& d, std::FILE* file, RawJpeg& out) {
    if (setjmp(d.errors.jump) != 0)
        return false;
    jpeg_decompress_struct& c = d.cinfo;
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, file);
    jpeg_read_header(&c, TRUE);
    if (c.num_components != 3 || c.comp_info[0].h_samp_factor != 2 ||
        c.comp_info[0].v_samp_factor != 2 || c.comp_info[1].h_samp_factor != 1 ||
        c.comp_info[2].v_samp_factor != 1) {
        return false;
    }
    c.raw_data_out = TRUE;
    jpeg_start_decompress(&c);
    out.width = static_cast<int>(c.image_width);
    out.height = static_cast<int>(c.image_height);
    const size_t w = c.image_width, h = c.image_height, luma = w * h;
    out.planes.assign(luma * 3 / 2, 0);
    JSAMPARRAY bands[3];
    for (int i = 0; i < 3; ++i) {
        bands[i] =
            (*c.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&c), JPOOL_IMAGE,
                                   c.comp_info[i].width_in_blocks * DCTSIZE,
                                   static_cast<JDIMENSION>(c.comp_info[i].v_samp_factor * DCTSIZE));
    }
    uint8_t* planes[3] = {out.planes.data(), out.planes.data() + luma + luma / 4,  // Cb last
                          out.planes.data() + luma};                               // Cr second
    while (c.output_scanline < c.output_height) {
        const size_t top = c.output_scanline;
        jpeg_read_raw_data(&c, bands, 16);
        for (size_t i = 0; i < 16 && top + i < h; ++i)
            std::memcpy(planes[0] + (top + i) * w, bands[0][i], w);
        for (size_t i = 0; i < 8 && top / 2 + i < h / 2; ++i) {
            std::memcpy(planes[1] + (top / 2 + i) * (w / 2), bands[1][i], w / 2);
            std::memcpy(planes[2] + (top / 2 + i) * (w / 2), bands[2][i], w / 2);
        }
    }
    jpeg_finish_decompress(&c);
    return true;
}

}  // namespace

std::optional<RawJpeg> readJpegRaw(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file)
        return std::nullopt;
    RawJpeg out;
    Decompressor d;
    if (!decode(d, file.get(), out))
        return std::nullopt;
    return out;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 0.0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

}  // namespace enginetest
