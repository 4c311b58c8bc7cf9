// ifvtool info: the facts of a record or an AVI file, as text or JSON.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "ffmpeg_util.h"
#include "format_handles.h"

namespace ifvtool {

namespace {

using zelplay::formats::AviPtr;
using zelplay::formats::RecordPtr;

// Facts in order, each a JSON-ready value: numbers as they are, texts quoted.
class Facts {
  public:
    void number(const std::string& key, double v) {
        std::ostringstream s;
        s.precision(10);
        s << v;
        items_.push_back({key, s.str(), false});
    }
    void text(const std::string& key, const std::string& v) { items_.push_back({key, v, true}); }
    void nested(const std::string& key, const std::string& json) {
        items_.push_back({key, json, false});
    }

    std::string json() const {
        std::string out = "{";
        for (size_t i = 0; i < items_.size(); ++i) {
            out += (i ? ", " : "") + quote(items_[i].key) + ": " +
                   (items_[i].quoted ? quote(items_[i].value) : items_[i].value);
        }
        return out + "}";
    }
    std::string lines(const std::string& indent = "") const {
        std::string out;
        for (const Item& it : items_) {
            out += indent + it.key + ": " + it.value + "\n";
        }
        return out;
    }

  private:
    static std::string quote(const std::string& s) {
        std::string out = "\"";
        for (unsigned char c : s) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out + "\"";
    }
    struct Item {
        std::string key, value;
        bool quoted;
    };
    std::vector<Item> items_;
};

std::string utcText(uint32_t seconds) {
    time_t t = seconds;
    struct tm tm;
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string printable(const char* tag) {
    std::string out;
    for (int i = 0; i < 4 && tag[i] != '\0'; ++i) {
        out += (tag[i] >= 0x20 && tag[i] < 0x7F) ? tag[i] : '?';
    }
    return out;
}

enum class Kind { kRecord, kAvi, kUnknown };

Kind detect(const std::string& path, uint32_t offset) {
    std::ifstream in(path, std::ios::binary);
    uint8_t head[16] = {};
    in.read(reinterpret_cast<char*>(head), 12);
    if (in.gcount() == 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "AVI ", 4) == 0) {
        return Kind::kAvi;
    }
    static const uint8_t kRecordId[4] = {0x11, 0xD2, 0xD3, 0xAB};
    in.clear();
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(head), 4);
    if (in.gcount() == 4 && memcmp(head, kRecordId, 4) == 0) {
        return Kind::kRecord;
    }
    return Kind::kUnknown;
}

bool collectRecordFacts(const std::string& path, const InfoOptions& options, Facts* out);

int recordInfo(const std::string& path, const InfoOptions& options) {
    Facts f;
    {
        // The reader reports its own failures on standard output; keep that for the facts.
        DiagnosticsToStderr quiet;
        if (!collectRecordFacts(path, options, &f)) {
            return 1;
        }
    }
    fputs(options.json ? (f.json() + "\n").c_str() : f.lines().c_str(), stdout);
    return 0;
}

bool collectRecordFacts(const std::string& path, const InfoOptions& options, Facts* out) {
    Facts& f = *out;
    RecordPtr h(custommp4_open(path.c_str(), 0, options.baseOffset));
    if (!h) {
        fprintf(stderr, "ifvtool: %s is not a readable record file\n", path.c_str());
        return false;
    }
    custommp4_t* r = h.get();
    f.text("file", path);
    f.text("type", "record");
    f.number("base_offset", options.baseOffset);
    f.number("start_time", custommp4_start_time(r));
    f.text("start_utc", utcText(custommp4_start_time(r)));
    f.number("end_time", custommp4_end_time(r));
    f.text("end_utc", utcText(custommp4_end_time(r)));
    f.number("duration_ms", custommp4_duration(r));
    f.number("segments", custommp4_segment_count(r));
    std::string segments = "[";
    for (uint32_t i = 0; i < custommp4_segment_count(r); ++i) {
        uint32_t first = 0, last = 0, video = 0, audio = 0;
        custommp4_segment_info(r, i, &first, &last, &video, &audio);
        if (options.json) {
            Facts sf;
            sf.number("first_ms", first);
            sf.number("last_ms", last);
            sf.number("video_frames", video);
            sf.number("audio_frames", audio);
            segments += (i ? ", " : "") + sf.json();
        } else {
            f.text("segment " + std::to_string(i + 1), std::to_string(first) + "-" +
                                                           std::to_string(last) + " ms, " +
                                                           std::to_string(video) + " video, " +
                                                           std::to_string(audio) + " audio frames");
        }
    }
    if (options.json) {
        f.nested("segment_list", segments + "]");
    }
    f.number("video_frames", custommp4_video_frames(r));
    f.number("audio_frames", custommp4_audio_frames(r));
    char tag[5];
    custommp4_video_codec(r, tag);
    f.text("video_codec", printable(tag));
    f.number("width", custommp4_video_width(r));
    f.number("height", custommp4_video_height(r));
    f.number("frame_rate", custommp4_video_frame_rate(r));
    f.number("nominal_bit_rate", custommp4_video_bit_rate(r));
    // Key frames and the sizes of all frames: passing over every frame reads only the index.
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < custommp4_video_frames(r); ++i) {
        bytes += static_cast<uint32_t>(custommp4_skip_video_frame(r));
    }
    f.number("video_bytes", static_cast<double>(bytes));
    uint32_t duration = custommp4_duration(r);
    f.number("average_bit_rate", duration ? static_cast<double>(bytes) * 8000.0 / duration : 0);
    if (custommp4_has_audio(r)) {
        custommp4_audio_codec(r, tag);
        f.text("audio_codec", printable(tag));
        f.number("audio_sample_rate", custommp4_audio_sample_rate(r));
        f.number("audio_channels", custommp4_audio_channels(r));
        f.number("audio_bits_per_sample", custommp4_audio_bits_per_sample(r));
        f.number("audio_frame_bytes", custommp4_audio_frame_size(r));
        f.number("audio_frame_ms", custommp4_audio_frame_duration(r));
    }
    return true;
}

int aviInfo(const std::string& path, const InfoOptions& options) {
    AviPtr h(avi_reader_open(path.c_str(), 1));
    if (!h) {
        int code = avi_reader_errno();
        fprintf(stderr, "ifvtool: %s: %s (%d)\n", path.c_str(), avi_reader_strerror(code), code);
        return 1;
    }
    avi_reader_t* a = h.get();
    Facts f;
    f.text("file", path);
    f.text("type", "avi");
    long frames = avi_reader_video_frames(a);
    double rate = avi_reader_frame_rate(a);
    f.number("video_frames", static_cast<double>(frames));
    f.number("duration_ms",
             rate > 0 ? static_cast<double>(static_cast<int64_t>(frames * 1000.0 / rate)) : 0);
    char tag[5];
    avi_reader_video_codec(a, tag);
    f.text("video_codec", printable(tag));
    f.number("width", avi_reader_width(a));
    f.number("height", avi_reader_height(a));
    f.number("frame_rate", rate);
    f.text("index", avi_reader_index_rebuilt(a) ? "rebuilt" : "stored");
    std::string tracks = "[";
    std::string trackLines;
    for (int t = 0; t < avi_reader_audio_tracks(a); ++t) {
        avi_reader_set_audio_track(a, t);
        Facts tf;
        tf.number("format", avi_reader_audio_format(a));
        tf.number("channels", avi_reader_audio_channels(a));
        tf.number("sample_rate", static_cast<double>(avi_reader_audio_rate(a)));
        tf.number("bits_per_sample", avi_reader_audio_bits(a));
        tf.number("bytes", static_cast<double>(avi_reader_audio_bytes(a)));
        tf.number("chunks", static_cast<double>(avi_reader_audio_chunks(a)));
        tracks += (t ? ", " : "") + tf.json();
        trackLines += "audio track " + std::to_string(t) + ":\n" + tf.lines("  ");
    }
    f.number("audio_tracks", avi_reader_audio_tracks(a));
    if (options.json) {
        f.nested("audio", tracks + "]");
        fputs((f.json() + "\n").c_str(), stdout);
    } else {
        fputs((f.lines() + trackLines).c_str(), stdout);
    }
    return 0;
}

}  // namespace

int runInfo(const std::string& path, const InfoOptions& options) {
    switch (detect(path, options.baseOffset)) {
        case Kind::kAvi:
            return aviInfo(path, options);
        case Kind::kRecord:
            return recordInfo(path, options);
        case Kind::kUnknown:
            break;
    }
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
        fprintf(stderr, "ifvtool: cannot open %s\n", path.c_str());
    } else {
        fprintf(stderr, "ifvtool: %s is neither a record file nor an AVI file\n", path.c_str());
    }
    return 1;
}

}  // namespace ifvtool
