// Fuzz target over the INI reader behind "set.ini" and the component registry: any bytes
// parse, the untouched document prints back byte for byte, and a key written into it reads
// back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IniDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::ini::IniDocument document = platform::ini::IniDocument::parse(text);
    if (document.text() != text)
        std::abort();

    (void)document.value("config", "winnum");
    (void)document.entries("config");
    document.set("config", "file3", "rtsp://127.0.0.1/cam");
    const auto back = document.value("config", "file3");
    if (!back || *back != "rtsp://127.0.0.1/cam")
        std::abort();
    document.removeKey("config", "file3");
    document.removeSection("config");
    (void)document.text();
    return 0;
}
