#include "support/corpus.h"

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "h264/annexb.h"
#include "support/media.h"
#include "support/process.h"

namespace corpus {

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr int kToolTimeoutMs = 180000;

// ---- Making files ---------------------------------------------------------------------

bool run(Args argv) {
    return testsupport::runCommand(argv, kToolTimeoutMs) == 0;
}

bool ffmpeg(const Args& args) {
    Args argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

// Makes out with make(temporary path) unless it is there; the temporary file (in the same
// folder, ending like out so that the tools tell the format by it) is renamed into place.
bool makeFile(const fs::path& out, const std::function<bool(const std::string&)>& make) {
    std::error_code ec;
    if (fs::exists(out, ec) && fs::file_size(out, ec) > 0)
        return true;
    fs::create_directories(out.parent_path(), ec);
    const fs::path tmp =
        out.parent_path() / ("tmp." + std::to_string(getpid()) + "." + out.filename().string());
    if (!make(tmp.string()) || !fs::exists(tmp, ec) || fs::file_size(tmp, ec) == 0) {
        fs::remove(tmp, ec);
        std::fprintf(stderr, "corpus: cannot make %s\n", out.string().c_str());
        return false;
    }
    fs::rename(tmp, out, ec);
    return !ec;
}

// ---- The clips everything derives from --------------------------------------------------

// 2 s of FFmpeg's moving pattern with a 440 Hz tone, as x264 encodes it with these settings
// (parameter sets repeated before each key frame, a key frame a second, one thread so that
// the stream is the same on every run).
bool x264Clip(const std::string& out, const std::string& params, const Args& extra = {},
              const std::string& size = "320x240", const std::string& seconds = "2") {
    Args args = {"-f",           "lavfi",
                 "-i",           "testsrc2=size=" + size + ":rate=25",
                 "-f",           "lavfi",
                 "-i",           "sine=frequency=440:sample_rate=48000",
                 "-t",           seconds,
                 "-c:v",         "libx264",
                 "-preset",      "veryfast",
                 "-pix_fmt",     "yuv420p",
                 "-threads",     "1",
                 "-g",           "25",
                 "-x264-params", params + ":repeat-headers=1:scenecut=0"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Args tail = {"-c:a", "aac", "-ac", "1", out};
    args.insert(args.end(), tail.begin(), tail.end());
    return ffmpeg(args);
}

// An encoder restarting at another size: 1 s at 320 x 240, then 1 s at 480 x 272 whose
// clock goes on, in one MPEG-TS stream.
bool sizeChangeClip(const std::string& out, const std::string& params) {
    const std::string a = out + ".a.ts", b = out + ".b.ts";
    bool ok = x264Clip(a, params, {"-f", "mpegts"}, "320x240", "1") &&
              x264Clip(b, params, {"-output_ts_offset", "1", "-f", "mpegts"}, "480x272", "1");
    if (ok) {
        std::ofstream joined(out, std::ios::binary);
        for (const std::string& part : {a, b}) {
            std::ifstream in(part, std::ios::binary);
            joined << in.rdbuf();
        }
        ok = joined.good();
    }
    std::error_code ec;
    fs::remove(a, ec);
    fs::remove(b, ec);
    return ok;
}

const char* const kGstVideo =
    "videotestsrc num-buffers=50 pattern=smpte ! video/x-raw,format=I420,width=320,height=240,"
    "framerate=25/1 ! x264enc bframes=2 b-pyramid=true key-int-max=25 threads=1 ! h264parse";

bool gst(const std::string& pipeline) {
    std::istringstream words(pipeline);
    Args argv = {"gst-launch-1.0", "-q"};
    argv.insert(argv.end(), std::istream_iterator<std::string>(words),
                std::istream_iterator<std::string>());
    return run(argv);
}

// The clips: name -> how it is made.
struct Clip {
    const char* name;
    std::function<bool(const std::string&)> make;
};

const std::vector<Clip>& clips() {
    static const std::vector<Clip> table = {
        {"x264_bf2.mp4",
         [](const std::string& out) {
             return x264Clip(out, "bframes=2:b-adapt=0:b-pyramid=none");
         }},
        {"x264_bf3_pyramid.mp4",
         [](const std::string& out) {
             return x264Clip(out, "bframes=3:b-adapt=0:b-pyramid=normal");
         }},
        {"x264_open_gop.mp4",
         [](const std::string& out) { return x264Clip(out, "bframes=3:b-adapt=0:open-gop=1"); }},
        {"x264_aud_sei.mp4",
         [](const std::string& out) {
             // Delimiters, and buffering and timing SEI before the slices of every picture.
             return x264Clip(out,
                             "bframes=2:b-adapt=0:aud=1:nal-hrd=vbr:vbv-maxrate=600:"
                             "vbv-bufsize=600",
                             {"-b:v", "400k"});
         }},
        {"x264_slices.mp4",
         [](const std::string& out) { return x264Clip(out, "bframes=2:b-adapt=0:slices=4"); }},
        {"x264_size_change.ts",
         [](const std::string& out) { return sizeChangeClip(out, "bframes=2:b-adapt=0"); }},
        {"x264_size_change_aud.ts",
         [](const std::string& out) { return sizeChangeClip(out, "bframes=2:b-adapt=0:aud=1"); }},
        {"gst_bf2.mp4",
         [](const std::string& out) {
             return gst(std::string(kGstVideo) + " ! mp4mux ! filesink location=" + out);
         }},
    };
    return table;
}

const Clip* clipNamed(const std::string& name) {
    for (const Clip& c : clips()) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

bool makeClip(const std::string& name) {
    const Clip* c = clipNamed(name);
    return c != nullptr && makeFile(fs::path(folder()) / name, c->make);
}

std::string clipPath(const std::string& name) {
    return (fs::path(folder()) / name).string();
}

// ---- Derived files ----------------------------------------------------------------------

// The raw byte stream of a clip's video.
bool annexB(const std::string& clip, const std::string& out) {
    return makeClip(clip) && ffmpeg({"-i", clipPath(clip), "-map", "0:v", "-c", "copy", "-bsf:v",
                                     "h264_mp4toannexb", "-f", "h264", out});
}

// FFmpeg's AVI of a clip, the video copied (with B-frames its muxer doubles the declared
// rate and writes an empty chunk between pictures) and the sound as PCM of that codec.
bool aviCopy(const std::string& clip, const std::string& audioCodec, const std::string& rate,
             const std::string& out) {
    return makeClip(clip) &&
           ffmpeg({"-i", clipPath(clip), "-c:v", "copy", "-bsf:v", "h264_mp4toannexb", "-c:a",
                   audioCodec, "-ar", rate, "-ac", "1", "-f", "avi", out});
}

// The "idx1" chunk made JUNK, so that a reader must rebuild the index from "movi".
bool withoutIndex(const std::string& out) {
    std::fstream f(out, std::ios::in | std::ios::out | std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t at = bytes.rfind("idx1");
    if (at == std::string::npos)
        return false;
    f.clear();
    f.seekp(static_cast<std::streamoff>(at));
    f.write("JUNK", 4);
    return f.good();
}

bool ifvImport(const std::string& clip, const std::string& out) {
    return makeClip(clip) && run({IFVTOOL_EXE, "import", clipPath(clip), out});
}

// How each entry is made, and what FFmpeg decodes for its pictures' MD5s (the file itself,
// or for a record the clip it was imported from).
struct Recipe {
    Entry entry;
    std::function<bool(const std::string&)> make;
    std::string reference;  // empty: the entry's own file
};

const std::vector<Recipe>& recipes() {
    using K = Kind;
    auto stream = [](const char* name, const char* clip, const char* about) {
        return Recipe{{name, K::Stream, about},
                      [clip](const std::string& out) { return annexB(clip, out); },
                      {}};
    };
    auto avi = [](const char* name, const char* clip, const char* codec, const char* rate, int bits,
                  const char* about) {
        return Recipe{{name, K::Avi, about, true, bits},
                      [=](const std::string& out) { return aviCopy(clip, codec, rate, out); },
                      {}};
    };
    auto record = [](const char* name, const char* clip, bool audio, const char* about) {
        return Recipe{{name, K::Record, about, audio},
                      [clip](const std::string& out) { return ifvImport(clip, out); },
                      clip};
    };
    static const std::vector<Recipe> table = {
        stream("x264_bf2.h264", "x264_bf2.mp4", "two B-frames"),
        stream("x264_bf3_pyramid.h264", "x264_bf3_pyramid.mp4", "three B-frames, B-pyramid"),
        stream("x264_open_gop.h264", "x264_open_gop.mp4", "open GOP, recovery points"),
        stream("x264_aud_sei.h264", "x264_aud_sei.mp4", "delimiters, SEI before the slices"),
        stream("x264_slices.h264", "x264_slices.mp4", "four slices a picture"),
        stream("x264_size_change.h264", "x264_size_change.ts",
               "new size mid-stream, key frames led by their SPS"),
        stream("x264_size_change_aud.h264", "x264_size_change_aud.ts",
               "new size mid-stream behind a delimiter"),
        {{"gst_bf2.h264", K::Stream, "GStreamer's x264enc, B-pyramid"},
         [](const std::string& out) {
             return gst(std::string(kGstVideo) +
                        " ! video/x-h264,stream-format=byte-stream ! filesink location=" + out);
         },
         {}},
        avi("x264_bf2_pcm16.avi", "x264_bf2.mp4", "pcm_s16le", "8000", 16,
            "FFmpeg's AVI: empty chunks, 16-bit PCM"),
        avi("x264_bf3_pyramid_pcm8.avi", "x264_bf3_pyramid.mp4", "pcm_u8", "8000", 8,
            "empty chunks, 8-bit PCM"),
        avi("x264_open_gop_alaw.avi", "x264_open_gop.mp4", "pcm_alaw", "8000", 0,
            "open GOP, A-law"),
        avi("x264_slices_mulaw.avi", "x264_slices.mp4", "pcm_mulaw", "8000", 0,
            "four slices, mu-law"),
        avi("x264_aud_sei_pcm16.avi", "x264_aud_sei.mp4", "pcm_s16le", "16000", 16,
            "delimiters and SEI in every frame, 16 kHz PCM"),
        avi("x264_size_change.avi", "x264_size_change.ts", "pcm_s16le", "8000", 16,
            "new size mid-file"),
        {{"x264_bf2_noindex.avi", K::Avi, "no index: rebuilt from the chunks", true, 16},
         [](const std::string& out) {
             return aviCopy("x264_bf2.mp4", "pcm_s16le", "8000", out) && withoutIndex(out);
         },
         {}},
        {{"gst_bf2_pcm8.avi", K::Avi, "GStreamer's avimux, 8-bit PCM", true, 8},
         [](const std::string& out) {
             return gst(std::string(kGstVideo) + " ! avimux name=m ! filesink location=" + out +
                        " audiotestsrc num-buffers=20 samplesperbuffer=800 ! "
                        "audio/x-raw,format=U8,rate=8000,channels=1 ! m.");
         },
         {}},
        record("x264_bf2.ifv", "x264_bf2.mp4", true, "imported: two B-frames"),
        record("x264_bf3_pyramid.ifv", "x264_bf3_pyramid.mp4", true, "imported: B-pyramid"),
        record("x264_open_gop.ifv", "x264_open_gop.mp4", true, "imported: open GOP"),
        record("x264_aud_sei.ifv", "x264_aud_sei.mp4", true, "imported: delimiters and SEI"),
        record("x264_slices.ifv", "x264_slices.mp4", true, "imported: four slices"),
        record("x264_size_change.ifv", "x264_size_change.ts", true, "imported: new size"),
        record("gst_bf2.ifv", "gst_bf2.mp4", false, "imported from GStreamer's MP4"),
    };
    return table;
}

const Recipe& recipeOf(const Entry& e) {
    for (const Recipe& r : recipes()) {
        if (r.entry.name == e.name)
            return r;
    }
    throw std::invalid_argument("no corpus entry " + e.name);
}

// FFmpeg's MD5 of every picture of a file, each at its own size, in display order.
bool frameMd5s(const std::string& media, const std::string& out) {
    const std::string raw = out + ".framemd5";
    const bool ok = ffmpeg({"-i", media, "-map", "0:v", "-fps_mode", "passthrough", "-autoscale",
                            "0", "-pix_fmt", "yuv420p", "-f", "framemd5", raw});
    std::ifstream in(raw);
    std::ofstream md5s(out);
    for (std::string line; ok && std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t comma = line.rfind(',');
        if (comma != std::string::npos)
            md5s << line.substr(line.find_first_not_of(' ', comma + 1)) << '\n';
    }
    std::error_code ec;
    fs::remove(raw, ec);
    return ok && md5s.good();
}

}  // namespace

void PrintTo(const Entry& entry, std::ostream* out) {
    *out << entry.name;
}

const std::vector<Entry>& entries() {
    static const std::vector<Entry> all = [] {
        std::vector<Entry> v;
        for (const Recipe& r : recipes())
            v.push_back(r.entry);
        return v;
    }();
    return all;
}

std::vector<Entry> entries(Kind kind) {
    std::vector<Entry> v;
    for (const Entry& e : entries()) {
        if (e.kind == kind)
            v.push_back(e);
    }
    return v;
}

const Entry& entry(const std::string& name) {
    for (const Entry& e : entries()) {
        if (e.name == name)
            return e;
    }
    throw std::invalid_argument("no corpus entry " + name);
}

std::string folder() {
    return (testsupport::mediaDir() / "corpus").string();
}

std::string path(const Entry& e) {
    const fs::path out = fs::path(folder()) / e.name;
    return makeFile(out, recipeOf(e).make) ? out.string() : std::string();
}

std::vector<std::string> pictureMd5s(const Entry& e) {
    const Recipe& r = recipeOf(e);
    const std::string media = r.reference.empty() ? path(e) : clipPath(r.reference);
    if (media.empty() || (!r.reference.empty() && !makeClip(r.reference)))
        return {};
    const fs::path list = fs::path(folder()) / (e.name + ".md5");
    if (!makeFile(list, [&](const std::string& out) { return frameMd5s(media, out); }))
        return {};
    std::ifstream in(list);
    std::vector<std::string> md5s;
    for (std::string line; std::getline(in, line);)
        md5s.push_back(line);
    return md5s;
}

bool makeAll() {
    bool ok = true;
    for (const Entry& e : entries())
        ok = !path(e).empty() && !pictureMd5s(e).empty() && ok;
    return ok;
}

std::string pictureMd5(const uint8_t* yvu, int width, int height) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    AVMD5* md5 = av_md5_alloc();
    av_md5_init(md5);
    av_md5_update(md5, yvu, luma);
    av_md5_update(md5, yvu + luma * 5 / 4, luma / 4);  // U is the third plane
    av_md5_update(md5, yvu + luma, luma / 4);
    uint8_t digest[16];
    av_md5_final(md5, digest);
    av_free(md5);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

std::vector<std::vector<uint8_t>> frameRecords(const std::string& streamPath, uint32_t stampBase) {
    std::ifstream in(streamPath, std::ios::binary);
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
    std::vector<std::vector<uint8_t>> records;
    uint32_t index = 0;
    for (std::span<const uint8_t> unit : h264::splitAccessUnits(stream)) {
        const bool ledBySps = unit.size() > 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 &&
                              unit[3] == 1 && (unit[4] & 0x1F) == h264::kNalSps;
        const uint32_t type = ledBySps ? 3 : h264::isKeyAccessUnit(unit) ? 1 : 0;
        std::vector<uint8_t> r(40 + unit.size(), 0);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                r[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        r[0] = 0x62;  // video
        put32(12, static_cast<uint32_t>(unit.size()));
        r[16] = 25;
        put32(20, index + 1);
        put32(24, stampBase + 40 * index);
        put32(28, type);
        std::copy(unit.begin(), unit.end(), r.begin() + 40);
        records.push_back(std::move(r));
        ++index;
    }
    return records;
}

}  // namespace corpus
