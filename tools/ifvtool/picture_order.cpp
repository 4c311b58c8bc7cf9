#include "picture_order.h"

#include <algorithm>
#include <numeric>

namespace ifvtool {

std::vector<FrameTimes> presentationTimes(std::span<const StoredFrame> frames) {
    const size_t n = frames.size();
    std::vector<int64_t> stamps(n);
    for (size_t i = 0; i < n; ++i) {
        stamps[i] = i == 0 ? frames[i].stamp : std::max(frames[i].stamp, stamps[i - 1] + 1);
    }
    std::vector<FrameTimes> times(n);
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    for (size_t begin = 0; begin < n;) {
        size_t end = begin + 1;
        while (end < n && !frames[end].idr) {
            ++end;
        }
        // Stable: frames with equal counts (a stream whose POC could not be read) keep their
        // decoding order.
        std::stable_sort(order.begin() + static_cast<long>(begin),
                         order.begin() + static_cast<long>(end),
                         [&](size_t a, size_t b) { return frames[a].poc < frames[b].poc; });
        for (size_t k = begin; k < end; ++k) {
            times[order[k]].pts = stamps[k];
        }
        begin = end;
    }
    int64_t lead = 0;  // how far decoding must run ahead of presentation
    for (size_t i = 0; i < n; ++i) {
        lead = std::max(lead, stamps[i] - times[i].pts);
    }
    for (size_t i = 0; i < n; ++i) {
        times[i].dts = stamps[i] - lead;
    }
    return times;
}

PictureOrderReader::PictureOrderReader() {
    parser_ = av_parser_init(AV_CODEC_ID_H264);
    context_ = avcodec_alloc_context3(nullptr);
    if (parser_ != nullptr) {
        parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    }
}

PictureOrderReader::~PictureOrderReader() {
    if (parser_ != nullptr) {
        av_parser_close(parser_);
    }
    avcodec_free_context(&context_);
}

int PictureOrderReader::poc(std::span<const uint8_t> annexB) {
    if (!ok() || annexB.empty()) {
        return parser_ != nullptr ? parser_->output_picture_number : 0;
    }
    // The parser's bit reader may look past the end: give it zeroed padding.
    padded_.assign(annexB.begin(), annexB.end());
    padded_.resize(annexB.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser_, context_, &out, &outSize, padded_.data(),
                     static_cast<int>(annexB.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    return parser_->output_picture_number;
}

}  // namespace ifvtool
