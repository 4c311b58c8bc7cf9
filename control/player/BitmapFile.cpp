#include "BitmapFile.h"

#include <array>
#include <cstdio>

namespace monvid {

namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Colour tables of the indexed depths: black and white; the 16 colours of the standard VGA
// palette; a 6 × 6 × 6 colour cube followed by 40 greys.
std::vector<QRgb> colourTable(int bitsPerPixel) {
    if (bitsPerPixel == 1)
        return {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    if (bitsPerPixel == 4)
        return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
                qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
                qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
                qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    std::vector<QRgb> table;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                table.push_back(qRgb(r * 51, g * 51, b * 51));
    for (int i = 0; i < 40; ++i) {
        const int v = 6 + i * 249 / 39;
        table.push_back(qRgb(v, v, v));
    }
    return table;
}

// Nearest entry of a colour table, remembered per 15-bit colour.
class NearestColour {
  public:
    explicit NearestColour(const std::vector<QRgb>& table) : table_(table) { cache_.fill(-1); }
    int operator()(QRgb c) {
        const int key = (qRed(c) >> 3) << 10 | (qGreen(c) >> 3) << 5 | (qBlue(c) >> 3);
        if (cache_[key] >= 0)
            return cache_[key];
        int best = 0, bestDistance = INT32_MAX;
        for (std::size_t i = 0; i < table_.size(); ++i) {
            const int dr = qRed(c) - qRed(table_[i]), dg = qGreen(c) - qGreen(table_[i]),
                      db = qBlue(c) - qBlue(table_[i]);
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<int>(i);
            }
        }
        return cache_[key] = best;
    }

  private:
    const std::vector<QRgb>& table_;
    std::array<int, 1 << 15> cache_;
};

}  // namespace

int bitmapBitsForDisplayDepth(int displayDepth) {
    if (displayDepth <= 1)
        return 1;
    if (displayDepth <= 4)
        return 4;
    if (displayDepth <= 8)
        return 8;
    if (displayDepth <= 16)
        return 16;
    if (displayDepth <= 24)
        return 24;
    return 32;
}

std::vector<std::uint8_t> encodeBitmapFile(const QImage& picture, int bitsPerPixel) {
    if (picture.isNull())
        return {};
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
        bitsPerPixel != 24 && bitsPerPixel != 32)
        return {};
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return {};  // the conversion ran out of memory
    const int width = image.width(), height = image.height();
    const std::vector<QRgb> table =
        bitsPerPixel <= 8 ? colourTable(bitsPerPixel) : std::vector<QRgb>{};
    const std::uint32_t tableBytes = static_cast<std::uint32_t>(table.size()) * 4;
    const std::uint32_t rowBytes = bitmapRowBytes(bitsPerPixel, width);
    const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(height);
    const std::uint32_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + tableBytes;
    std::vector<std::uint8_t> out(pixelOffset + pixelBytes, 0);

    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, static_cast<std::uint32_t>(out.size()));
    put32(out, 10, pixelOffset);
    put32(out, 14, kInfoHeaderBytes);
    put32(out, 18, static_cast<std::uint32_t>(width));
    put32(out, 22, static_cast<std::uint32_t>(height));  // positive: bottom row first
    put16(out, 26, 1);
    put16(out, 28, static_cast<std::uint16_t>(bitsPerPixel));
    put32(out, 34, pixelBytes);  // compression (30), resolutions and colour counts stay 0
    for (std::size_t i = 0; i < table.size(); ++i) {
        out[54 + 4 * i] = static_cast<std::uint8_t>(qBlue(table[i]));
        out[54 + 4 * i + 1] = static_cast<std::uint8_t>(qGreen(table[i]));
        out[54 + 4 * i + 2] = static_cast<std::uint8_t>(qRed(table[i]));
    }

    NearestColour nearest(table);
    for (int y = 0; y < height; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(height - 1 - y));
        std::uint8_t* row = out.data() + pixelOffset + static_cast<std::size_t>(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const QRgb c = src[x];
            switch (bitsPerPixel) {
                case 32:
                    row[4 * x] = static_cast<std::uint8_t>(qBlue(c));
                    row[4 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
                    row[4 * x + 2] = static_cast<std::uint8_t>(qRed(c));
                    break;
                case 24:
                    row[3 * x] = static_cast<std::uint8_t>(qBlue(c));
                    row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
                    row[3 * x + 2] = static_cast<std::uint8_t>(qRed(c));
                    break;
                case 16: {  // 5 bits each of red, green and blue
                    const auto v = static_cast<std::uint16_t>(
                        (qRed(c) >> 3) << 10 | (qGreen(c) >> 3) << 5 | (qBlue(c) >> 3));
                    row[2 * x] = static_cast<std::uint8_t>(v);
                    row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                case 8:
                    row[x] = static_cast<std::uint8_t>(nearest(c));
                    break;
                case 4:
                    row[x / 2] |= static_cast<std::uint8_t>(nearest(c) << (x % 2 ? 0 : 4));
                    break;
                case 1:
                    if (nearest(c))
                        row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                    break;
            }
        }
    }
    return out;
}

std::string makeTimeStamp(const std::tm& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%d-%02d-%02d-%d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string MakeTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return makeTimeStamp(local);
}

std::string fileNamePart(const std::string& text) {
    std::string part = text;
    for (char& c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    return part;
}

std::string picturePath(const std::string& folder, const std::string& title,
                        const std::string& stamp) {
    // The title is the host's text: it names a file in the folder and nothing else. With its
    // separators replaced and the stamp after it, it can be neither a path nor "." or "..".
    return folder + "/" + fileNamePart(title) + "-" + stamp + ".bmp";
}

}  // namespace monvid
