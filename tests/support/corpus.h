// The corpus of real-world streams: H.264 as encoders write it (B-frames with and without a
// pyramid, open GOP, access unit delimiters and SEI before the slices, several slices per
// picture, a size change mid-stream), the AVI files the common writers make of it (FFmpeg's
// and GStreamer's muxers; 8- and 16-bit PCM, A-law and mu-law; with empty chunks and without
// an index) and records imported from them with ifvtool.
//
// Everything is made at test time with FFmpeg and GStreamer into the corpus folder of the
// test media (nothing is downloaded) and comes with the MD5 of every picture FFmpeg decodes
// from it, in display order: a player that shows each of them once, in that order, has
// played the file whole. New kinds of media are added to the table in corpus.cpp.
//
// Thread contract: any thread and any process; a file is made through a temporary name and
// renamed into place, so processes that make the same file at once do not disturb each other.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace corpus {

enum class Kind {
    Stream,  // raw H.264 byte stream (.h264): fed as frame records to stream ports
    Avi,     // AVI file (.avi)
    Record,  // record file (.ifv)
};

struct Entry {
    std::string name;  // file name in the corpus folder, also the test's name
    Kind kind;
    std::string about;   // what in the field it stands for
    bool audio = false;  // the file carries sound
    int audioBits = 0;   // AVI: bits of its PCM as stored (8, 16) or 0 for G.711
};

// How a test names an entry in its output.
void PrintTo(const Entry& entry, std::ostream* out);

// Every entry, or those of one kind.
const std::vector<Entry>& entries();
std::vector<Entry> entries(Kind kind);
const Entry& entry(const std::string& name);

// Folder of the corpus (inside the test media folder).
std::string folder();
// The entry's file, made first (with the files it derives from) when missing; empty when it
// cannot be made.
std::string path(const Entry& entry);
// The MD5 (hex) of every picture of the entry, in display order; empty when unknown.
std::vector<std::string> pictureMd5s(const Entry& entry);
// Makes every entry; false when one cannot be made (it says which on standard error).
bool makeAll();

// The MD5 that FFmpeg's framemd5 gives a 4:2:0 picture (Y, then U, then V) of a picture in
// the playback library's order (Y, then V, then U).
std::string pictureMd5(const uint8_t* yvu, int width, int height);

// The H.264 access units of a raw stream, each as the frame record a recorder sends: a
// 25 fps clock in decoding order from stampBase, consecutive sequence numbers, type 3 for a
// unit led by a sequence parameter set, 1 for another key frame, 0 for the rest.
std::vector<std::vector<uint8_t>> frameRecords(const std::string& streamPath,
                                               uint32_t stampBase = 1000);

}  // namespace corpus
