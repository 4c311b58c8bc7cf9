// The ifvtool commands. Each returns the process exit code (0 success, 1 failure) and
// reports problems on standard error.
#pragma once

#include <cstdint>
#include <string>

namespace ifvtool {

struct InfoOptions {
    bool json = false;
    uint32_t baseOffset = 0;
};
int runInfo(const std::string& path, const InfoOptions& options);

struct ExportOptions {
    uint32_t baseOffset = 0;
    bool pcmAudio = false;  // store the decoded voice as PCM (Matroska) instead of AAC
    bool progress = true;   // a progress bar when standard error is a terminal
};
int runExport(const std::string& record, const std::string& output, const ExportOptions& options);

struct ImportOptions {
    int64_t startTime = -1;  // seconds since 1970; -1: now
    bool progress = true;
};
int runImport(const std::string& input, const std::string& record, const ImportOptions& options);

// A one-line progress bar on standard error, drawn only when it is a terminal.
class Progress {
  public:
    Progress(bool enabled, int64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void update(int64_t done);
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void finish();

  private:
    bool enabled_;
    int64_t total_;
    int lastPercent_ = -1;
};

}  // namespace ifvtool
