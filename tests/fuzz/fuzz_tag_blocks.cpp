// Random files through the tag block parser: it reads only inside the file, keeps a range inside
// it, the blocks it finds and what it keeps make up the file exactly, and what it keeps of a
// file without problems holds no further tag block.

#include "engine/tag_blocks.h"
#include "fuzz_require.h"
#include "support/tag_layouts.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

tagsnip::TagLayout parse(const std::string& file) {
    tagsnip::test::MemorySource source(file);
    tagsnip::TagLayout layout;
    const std::error_code error = tagsnip::findTagBlocks(source, file.size(), layout);
    require(!source.readOutside, "reads stay inside the file");
    require(!error, "a complete file reads without error");
    require(layout.keepBegin <= layout.keepEnd && layout.keepEnd <= file.size(),
            "the kept range lies inside the file");
    require(tagsnip::tilesFile(layout, file.size()),
            "the blocks found and the kept range make up the file exactly");
    return layout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const tagsnip::TagLayout layout = parse(file);
    if (layout.problem) {
        return 0;
    }
    const std::string kept = file.substr(layout.keepBegin, layout.keepEnd - layout.keepBegin);
    const tagsnip::TagLayout again = parse(kept);
    require(!again.problem, "the kept range has no problem");
    require(again.keepBegin == 0 && again.keepEnd == kept.size(), "the kept range is kept whole");
    require(again.counts == tagsnip::TagLayout{}.counts, "the kept range holds no tag block");
    return 0;
}
