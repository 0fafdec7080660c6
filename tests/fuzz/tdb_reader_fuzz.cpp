// Any bytes as a configuration file: no crash, no leak, no allocation beyond the input; whatever is
// accepted writes back to a file that reads as the same configuration.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ferrow/model/tdb_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ferrow::TdbDocument doc;
    std::string error;
    if (!ferrow::ReadTdb(std::string_view(reinterpret_cast<const char*>(data), size), &doc, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    const std::string written = ferrow::WriteTdb(doc);
    ferrow::TdbDocument again;
    if (!ferrow::ReadTdb(written, &again, &error) || ferrow::WriteTdb(again) != written) std::abort();
    return 0;
}
