// Saving a window's picture: the BMP file layout at a display's colour depth, the time stamp
// and the file name rule.
#pragma once

#include <QImage>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace monvid {

// Bits per pixel of the file for a display of the given depth (bits per pixel × planes):
// 1, 4, 8, 16, 24 or 32.
int bitmapBitsForDisplayDepth(int displayDepth);

// Bytes of one stored row: the pixel bytes padded with zeros to a multiple of 4.
inline std::uint32_t bitmapRowBytes(int bitsPerPixel, int width) {
    return ((static_cast<std::uint32_t>(bitsPerPixel) * static_cast<std::uint32_t>(width) + 31) /
            32) *
           4;
}

// The whole BMP file of `picture` at `bitsPerPixel` (1, 4, 8, 16, 24 or 32): the 14-byte file
// header, the 40-byte information header, the colour table for 1, 4 and 8 bits, and the rows
// bottom row first. Empty for a null picture or an unknown depth.
std::vector<std::uint8_t> encodeBitmapFile(const QImage& picture, int bitsPerPixel);

// Local time as "YYYY-MM-DD-H-MM-SS": the hour is the only field without a leading zero.
std::string makeTimeStamp(const std::tm& localTime);
std::string MakeTimeStamp();  // the current local time

// The text with path separators ('/' and '\\') and control characters replaced by '_', fit
// to be one part of a file name.
std::string fileNamePart(const std::string& text);

// folder + "/" + title + "-" + stamp + ".bmp", with the folder used as it is written and the
// title made a plain part of the name (fileNamePart): the file is always in the folder.
std::string picturePath(const std::string& folder, const std::string& title,
                        const std::string& stamp);

}  // namespace monvid
