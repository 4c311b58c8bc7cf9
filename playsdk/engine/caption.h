// The caption strip of a tagged snapshot: the tag's text in white on black, wrapped at the
// picture's width, as rows of luma samples (255 where a pixel of the text is pure white,
// 0 elsewhere). The font asked for is "Tahoma" with a 16-pixel cell height and weight 600;
// fontconfig chooses the face that stands in for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelplay {

struct CaptionStrip {
    int width = 0;
    int height = 0;             // rows (even, so that the chroma planes cover it)
    std::vector<uint8_t> luma;  // width x height
};

inline constexpr const char* kCaptionFont = "Tahoma";
inline constexpr int kCaptionCellHeight = 16;
inline constexpr int kCaptionWeight = 600;

// Height in pixels of text laid out at width with word wrapping; nothing when the text
// cannot be laid out.
std::optional<int> captionTextHeight(const std::string& text, int width);

// The strip of text at width, cut to at most maxHeight rows. Nothing when it cannot be made.
std::optional<CaptionStrip> renderCaption(const std::string& text, int width, int maxHeight);

}  // namespace zelplay
