// libavcodec's audio coders driven on whole buffers, for comparing our frames with FFmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace voicetest {

// Decodes a mono 8 kHz stream with FFmpeg's decoder `name`, packet by packet; for G.726
// bitsPerCodedSample sets the rate. Throws std::runtime_error when FFmpeg fails.
std::vector<int16_t> ffmpegDecode(const std::string& name,
                                  const std::vector<std::vector<uint8_t>>& packets,
                                  int bitsPerCodedSample = 0);

// Encodes a mono 8 kHz buffer with FFmpeg's encoder `name` in frames of its frame size (or
// frameSamples when the encoder takes any size); returns the concatenated packets.
std::vector<uint8_t> ffmpegEncode(const std::string& name, const std::vector<int16_t>& pcm,
                                  int frameSamples, int bitRate = 0);

}  // namespace voicetest
