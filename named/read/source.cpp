// A tree file's bytes -> its text (gzip inflated) and its format, told by
// content, never by the file's name.
#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>

#include "named/read/tree_text.h"

namespace {

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kFirstOutput = size_t{1} << 16;
// zlib counts in unsigned int; larger files go in slices.
constexpr size_t kMaxSlice = UINT_MAX;

bool isGzip(const std::string& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == kGzipMagic[0] &&
           static_cast<unsigned char>(bytes[1]) == kGzipMagic[1];
}

// Ends the inflate stream however the reading ends.
struct InflateEnd {
    z_stream* stream;
    ~InflateEnd() { inflateEnd(stream); }
};

[[noreturn]] void failDamaged(const z_stream& stream) {
    failWhole(std::string("the gzip data is damaged (") +
              (stream.msg != nullptr ? stream.msg : "bad data") +
              "); the file is not a readable gzip file, check it with 'gzip -t'");
}

[[noreturn]] void failTruncated() {
    failWhole(
        "the gzip data ends before its end mark: the file is cut short; copy it again or check it "
        "with 'gzip -t'");
}

// Every member of the gzip data one after the other, as gzip itself reads
// concatenated files.
std::string inflateAll(const std::string& bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) failWhole("out of memory for gzip data");
    const InflateEnd end{&stream};
    std::string text;
    size_t fed = 0;   // bytes handed to zlib
    size_t made = 0;  // bytes of text written
    for (;;) {
        if (stream.avail_in == 0 && fed < bytes.size()) {
            stream.next_in = reinterpret_cast<const Bytef*>(bytes.data() + fed);
            stream.avail_in = static_cast<uInt>(std::min(bytes.size() - fed, kMaxSlice));
            fed += stream.avail_in;
        }
        if (made == text.size()) text.resize(std::max(kFirstOutput, 2 * text.size()));
        stream.next_out = reinterpret_cast<Bytef*>(&text[made]);
        stream.avail_out = static_cast<uInt>(std::min(text.size() - made, kMaxSlice));
        const uInt room = stream.avail_out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        made += room - stream.avail_out;
        if (status == Z_STREAM_END) {
            if (stream.avail_in == 0 && fed == bytes.size()) break;
            if (inflateReset(&stream) != Z_OK) failDamaged(stream);
        } else if (status == Z_BUF_ERROR) {
            // Output room was given, so no input is left before the end mark.
            failTruncated();
        } else if (status == Z_MEM_ERROR) {
            failWhole("out of memory while inflating the gzip data");
        } else if (status != Z_OK) {
            failDamaged(stream);
        }
    }
    text.resize(made);
    return text;
}

std::string inflateText(const std::string& bytes) {
    try {
        return inflateAll(bytes);
    } catch (const std::bad_alloc&) {
        failWhole("the inflated gzip data does not fit in memory");
    }
}

// Where reading starts: past the "#NEXUS" of a NEXUS file; at the start of a
// Newick one, whose reader skips the byte order mark itself.
size_t detectFormat(const std::string& text, TreeFormat* format) {
    size_t pos = text.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0
                     ? sizeof kByteOrderMark - 1
                     : 0;
    pos = skipBlanksAndComments(text, pos);
    *format = TreeFormat::kNewick;
    // A '[' never closed is reported by the Newick reader.
    if (pos == text.size() || text[pos] == '(' || text[pos] == '[') return 0;
    const size_t afterHeader = skipNexusHeader(text, pos);
    if (afterHeader != pos) {
        *format = TreeFormat::kNexus;
        return afterHeader;
    }
    throwAt(text, pos,
            "this is neither a Newick tree file (which starts with '(') nor a NEXUS file (which "
            "starts with #NEXUS); tressil-newick reads Newick and NEXUS tree files, plain or "
            "gzip-compressed");
}

}  // namespace

TreeSource openTreeSource(const std::string& bytes) {
    TreeSource source{&bytes,
                      "",
                      isGzip(bytes),
                      TreeFormat::kNewick,
                      0,
                      NexusPlace{false, false, false, 0, "", 0, {}}};
    if (source.compressed) source.inflated = inflateText(bytes);
    source.pos = detectFormat(sourceText(source), &source.format);
    return source;
}

const std::string& sourceText(const TreeSource& source) {
    return source.compressed ? source.inflated : *source.bytes;
}

bool readNextTree(TreeSource* source, NamedTree* tree, bool anyDegree) {
    if (source->format == TreeFormat::kNexus) return readNexusTree(source, tree, anyDegree);
    const std::string& text = sourceText(*source);
    source->pos = skipByteOrderMark(text, source->pos);
    return readTreeAt(text, &source->pos, tree, anyDegree, nullptr, source->repeats);
}
