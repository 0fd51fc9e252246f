// Random text through the manifest parser: it never crashes, and whatever it accepts is written
// back by the writer into a manifest that parses to the same header and records.

#include "fuzz_require.h"
#include "undo/manifest.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace tagsnip::undo;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    Manifest manifest;
    ManifestError error;
    if (!parseManifest(in, manifest, error)) {
        require(error.line >= 1 && !error.message.empty(), "a refusal names its line and reason");
        return 0;
    }
    std::string written = headerLine(manifest.header);
    for (const auto& record : manifest.records) {
        require(recordProblem(record).empty(), "an accepted record is sound");
        written += recordLine(record);
    }
    Manifest again;
    require(parseManifest(written, again, error), "the writer's output parses");
    require(again.header == manifest.header, "the header round-trips");
    require(again.records == manifest.records, "the records round-trip");
    require(!again.unfinishedTail, "the writer ends every line");
    return 0;
}
