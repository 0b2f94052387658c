#include "tools/host/commands/list_reading.h"

#include <new>

#include "addresses/file_io.h"
#include "tools/host/mail/mail_inputs.h"

namespace {

// What the core hands out goes into memory of ours; the core is built without
// exceptions, so nothing may leave these callbacks.
template <typename Gather>
struct Gathered {
    Gather into;
    bool outOfMemory = false;

    template <typename Put>
    void Take(Put put) {
        if (outOfMemory) return;
        try {
            put(into);
        } catch (...) {  // bad_alloc, or length_error past a 32-bit string's largest size
            outOfMemory = true;
        }
    }
    void Check() const {
        if (outOfMemory) throw std::bad_alloc();
    }
};

void TakeText(void* context, const char* text, size_t size) {
    static_cast<Gathered<std::string>*>(context)->Take(
        [&](std::string& into) { into.append(text, size); });
}

void TakeEntry(void* context, const char* text) {
    static_cast<Gathered<ListPieces>*>(context)->Take(
        [&](ListPieces& into) { into.entries.push_back(text); });
}

void TakePiece(void* context, const ListFileParser::Piece& piece) {
    static_cast<Gathered<ListPieces>*>(context)->Take(
        [&](ListPieces& into) { into.pieces.push_back(piece); });
}

}  // namespace

ListReading ReadAsThePluginDoes(const char* data, size_t size) {
    Gathered<std::string> text;
    ListFileReader reader([](void*, const char*) {}, nullptr);
    reader.TapText(TakeText, &text);
    reader.Feed(data, size);
    reader.Finish();
    text.Check();
    ListReading reading;
    reading.text = std::move(text.into);
    reading.losses = reader.losses();
    reading.encoding = reader.encoding();
    return reading;
}

ListPieces ParseListText(const char* text, size_t size) {
    Gathered<ListPieces> list;
    ListFileParser parser(TakeEntry, &list);
    parser.TapPieces(TakePiece, &list);
    parser.Feed(text, size);
    parser.Finish();
    list.Check();
    list.into.ctrlZAt = parser.ctrlZAt();
    list.into.line = parser.line();
    return std::move(list.into);
}

ListBytes ReadListBytes(const std::string& path, std::string& bytes) {
    Gathered<std::string> file;
    // The plug-in's own reader, which names files in the system's code page.
    const ReadResult read = ReadFileChunks(CodePagePath(path).c_str(), TakeText, &file, true);
    if (file.outOfMemory) {
        return ListBytes::kTooLarge;
    }
    bytes = std::move(file.into);
    return read == ReadResult::Whole ? ListBytes::kWhole : ListBytes::kUnreadable;
}
