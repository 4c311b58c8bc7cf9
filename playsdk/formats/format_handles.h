// RAII owners of the record and AVI handles, for C++ callers inside the library and tools.
#pragma once

#include <memory>

#include "zelplay/avilib.h"
#include "zelplay/custommp4.h"

namespace zelplay::formats {

struct RecordCloser {
    void operator()(custommp4_t* h) const { custommp4_close(h); }
};
// Closing finishes a record being written.
using RecordPtr = std::unique_ptr<custommp4_t, RecordCloser>;

struct AviCloser {
    void operator()(avi_reader_t* h) const { avi_reader_close(h); }
};
using AviPtr = std::unique_ptr<avi_reader_t, AviCloser>;

}  // namespace zelplay::formats
