#include "tag_removal.h"

#include "messages.h"
#include "stream_bounds.h"

namespace tagsnip {
namespace {

bool goesAtStart(const TagBlock& block, const RemovalRequest& request) {
    return request.allTags || (request.remove2 && block.kind == TagKind::id3v2);
}

bool goesAtEnd(const TagBlock& block, const RemovalRequest& request) {
    return request.allTags || (request.remove1 && (block.kind == TagKind::id3v1 ||
                                                   block.kind == TagKind::id3v1Extended));
}

}  // namespace

TagLayout blocksToRemove(const TagLayout& found, std::uint64_t size,
                         const RemovalRequest& request) {
    TagLayout removal;
    removal.keepEnd = size;
    removal.counts = found.counts;
    for (const TagBlock& block : found.blocks) {
        if (block.end <= found.keepBegin) {
            if (block.begin == removal.keepBegin && goesAtStart(block, request)) {
                removal.blocks.push_back(block);
                removal.keepBegin = block.end;
            }
        } else if (block.end == removal.keepEnd && goesAtEnd(block, request)) {
            removal.blocks.push_back(block);
            removal.keepEnd = block.begin;
        }
    }
    return removal;
}

const char* removalLabel(const TagLayout& removal, const RemovalRequest& request) {
    const bool atStart = removal.keepBegin > 0;
    const bool atEnd = !removal.blocks.empty() && removal.blocks.back().end > removal.keepBegin;
    if (request.allTags || (atStart && atEnd)) {
        return allTagsLabel;
    }
    return atStart ? "ID3v2" : "ID3v1";
}

std::error_code proveCuts(ByteSource& source, AudioFormat format, const TagLayout& found,
                          TagLayout& removal) {
    const StreamBounds& bounds = streamBoundsOf(format);
    const TagBlock* innermostLeading = nullptr;
    const TagBlock* innermostTrailing = nullptr;
    for (const TagBlock& block : removal.blocks) {
        (block.end <= removal.keepBegin ? innermostLeading : innermostTrailing) = &block;
    }
    if (innermostLeading != nullptr) {
        bool proven = false;
        if (const auto error = bounds.beginsAt(source, found.keepBegin, found.keepEnd, proven)) {
            return error;
        }
        if (!proven) {
            removal.problem = TagProblem{innermostLeading->kind, TagFault::streamStartUnproven,
                                         innermostLeading->begin, format};
            return {};
        }
    }
    if (innermostTrailing != nullptr) {
        bool proven = false;
        if (const auto error = bounds.endsAt(source, found.keepBegin, removal.keepEnd, proven)) {
            return error;
        }
        if (!proven) {
            removal.problem = TagProblem{innermostTrailing->kind, TagFault::streamEndUnproven,
                                         innermostTrailing->begin, format};
        }
    }
    return {};
}

}  // namespace tagsnip
