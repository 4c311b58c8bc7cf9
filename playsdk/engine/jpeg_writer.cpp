#include "jpeg_writer.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "files/regular_file.h"

namespace zelplay {

namespace {

constexpr int kLumaRowsPerBand = 16;  // one row of 4:2:0 MCUs
constexpr int kChromaRowsPerBand = 8;

// The library's errors end up here instead of ending the process (its standard handler
// calls exit): the message is printed as the standard handler prints it, then control
// returns to the setjmp in runCompressor.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void leaveOnError(j_common_ptr c) {
    (*c->err->output_message)(c);
    std::longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}

// Lives outside the frame that calls setjmp, so that nothing there is clobbered by the jump
// and the destructor releases the library's memory however compression ends.
struct Compressor {
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    Compressor() {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = leaveOnError;
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

void setUp(jpeg_compress_struct& c, std::FILE* file, int quality, const PlanarView& p) {
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = static_cast<JDIMENSION>(p.width);
    c.image_height = static_cast<JDIMENSION>(p.height);
    c.input_components = 3;
    c.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.raw_data_in = TRUE;
    c.comp_info[0].h_samp_factor = 2;  // Y: 2 x 2, the chroma planes 1 x 1 (4:2:0)
    c.comp_info[0].v_samp_factor = 2;
    for (int i = 1; i < 3; ++i) {
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&c, TRUE);
}

// One band row: the picture row expanded to full range, then its last sample repeated out
// to the whole blocks the compressor reads.
void fillRow(JSAMPROW out, JDIMENSION outWidth, const uint8_t* in, size_t width, bool luma) {
    if (luma)
        expandLumaRow(in, out, width);
    else
        expandChromaRow(in, out, width);
    std::fill(out + width, out + outWidth, out[width - 1]);
}

// Hands the picture over in bands of 16 luma and 8 chroma rows. The last band of a height
// that is not a multiple of 16 repeats the picture's last rows; the compressor cuts them.
void writeBands(jpeg_compress_struct& c, const PlanarView& p) {
    JSAMPARRAY bands[3];
    for (int i = 0; i < 3; ++i) {
        const jpeg_component_info& comp = c.comp_info[i];
        bands[i] = (*c.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&c), JPOOL_IMAGE,
                                          comp.width_in_blocks * DCTSIZE,
                                          static_cast<JDIMENSION>(comp.v_samp_factor * DCTSIZE));
    }
    const size_t width = static_cast<size_t>(p.width), chromaWidth = width / 2;
    const int chromaHeight = p.height / 2;
    const JDIMENSION lumaOut = c.comp_info[0].width_in_blocks * DCTSIZE;
    const JDIMENSION chromaOut = c.comp_info[1].width_in_blocks * DCTSIZE;
    for (int top = 0; top < p.height; top += kLumaRowsPerBand) {
        for (int i = 0; i < kLumaRowsPerBand; ++i) {
            const size_t row = static_cast<size_t>(std::min(top + i, p.height - 1));
            fillRow(bands[0][i], lumaOut, p.y + row * width, width, true);
        }
        for (int i = 0; i < kChromaRowsPerBand; ++i) {
            const size_t row = static_cast<size_t>(std::min(top / 2 + i, chromaHeight - 1));
            fillRow(bands[1][i], chromaOut, p.u + row * chromaWidth, chromaWidth, false);  // Cb
            fillRow(bands[2][i], chromaOut, p.v + row * chromaWidth, chromaWidth, false);  // Cr
        }
        jpeg_write_raw_data(&c, bands, kLumaRowsPerBand);
    }
}

bool runCompressor(Compressor& compressor, std::FILE* file, int quality, const PlanarView& p) {
    if (setjmp(compressor.errors.jump) != 0)
        return false;
    setUp(compressor.cinfo, file, quality, p);
    writeBands(compressor.cinfo, p);
    jpeg_finish_compress(&compressor.cinfo);
    return true;
}

}  // namespace

bool writeJpeg(const std::string& path, int quality, const PlanarView& picture) {
    if (picture.width < 2 || picture.height < 2 || picture.y == nullptr)
        return false;
    std::FILE* file = files::fopenRegular(path.c_str(), "wb");  // a regular file or a new one
    if (file == nullptr)
        return false;
    bool ok;
    {
        Compressor compressor;
        ok = runCompressor(compressor, file, std::clamp(quality, 1, 100), picture);
    }
    ok = std::ferror(file) == 0 && ok;
    return std::fclose(file) == 0 && ok;
}

}  // namespace zelplay
