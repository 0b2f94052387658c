// A hostile host translating the plug-in's texts: whatever bytes it writes into
// the buffer, terminated or not, up to its size, and whatever it does to the
// request records, the text that comes back is zero-terminated inside the buffer,
// and putting an address into it as the delete question does stays inside the
// message buffer and follows the one-%s rule. Buffers are heap blocks of exactly
// their size, so the address sanitizer sees any access outside them.
//
// Input: byte 0 picks the buffer sizes and whether the host terminates its text,
// then the address up to the first line feed, then the host's text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/host_service.h"
#include "ui/dialog_text.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "host text fuzzer: %s\n", what);
    std::abort();
}

std::string g_hostText;
bool g_hostTerminates = false;
int g_calls = 0;

int32_t HostileHost(ServiceRequest* request) {
    ++g_calls;
    if (request->code == HS_ADAPT_TEXT) {
        auto* text = static_cast<TextRequest*>(request->data);
        const size_t room = static_cast<size_t>(text->destinationSize);
        size_t length = g_hostText.size() < room ? g_hostText.size() : room;
        if (g_hostTerminates && length == room) --length;
        std::memcpy(text->destination, g_hostText.data(), length);
        if (g_hostTerminates) text->destination[length] = '\0';
        std::memset(text, 0xA5, sizeof *text);  // the records are the caller's; scribble on them
    }
    std::memset(request, 0x5A, sizeof *request);
    return 0x7FFFFFFF;
}

char* Block(size_t size) {
    char* block = static_cast<char*>(std::malloc(size));
    if (!block) Fail("out of memory");
    std::memset(block, 0xCC, size);
    return block;
}

// The rule written out: exactly one %s, %% for a percent sign, nothing else.
bool OneSlotOnly(const std::string& format) {
    int slots = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 == format.size()) return false;
        const char next = format[++i];
        if (next == 's') {
            ++slots;
        } else if (next != '%') {
            return false;
        }
    }
    return slots == 1;
}

std::string FilledIn(const std::string& format, const std::string& address) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
        } else {
            out += format[++i] == 's' ? address : "%";
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t lf = input.find('\n');
    const std::string address = input.substr(0, lf).substr(0, 259);
    const std::string addressText = address.substr(0, address.find('\0'));
    g_hostText = lf == std::string::npos ? "" : input.substr(lf + 1);
    g_hostTerminates = data[0] & 1;
    // The plug-in's own sizes (1024 and 1284) most of the time, small ones too.
    static const size_t kSizes[] = {1024, 1024, 1, 2, 16, 1023, 1025, 300};
    const size_t textSize = kSizes[(data[0] >> 1) & 7];
    const size_t messageSize = (data[0] & 0x10) ? 1284 : 1 + data[0] % 97;

    static const char kQuestion[] = "Do you want to delete the email address \"%s\"?";
    ReceiveService(nullptr);
    ServiceRequest handOver = {sizeof handOver, kHostName, RS_HOST_CALLBACK, 0,
                               reinterpret_cast<void*>(&HostileHost)};
    ReceiveService(&handOver);
    g_calls = 0;

    char* text = Block(textSize);
    AdaptText(kQuestion, text, static_cast<int32_t>(textSize));
    if (g_calls != 1) Fail("the host was not asked exactly once");
    if (!std::memchr(text, '\0', textSize)) Fail("the text is not terminated inside its buffer");
    const std::string format = text;
    if (format.size() >= textSize) Fail("text longer than its buffer");

    char* addressCopy = Block(addressText.size() + 1);
    std::memcpy(addressCopy, addressText.c_str(), addressText.size() + 1);
    char* message = Block(messageSize);
    const bool filled = FillInAddress(text, addressCopy, message, messageSize);
    if (filled != OneSlotOnly(format)) Fail("FillInAddress misjudged the format");
    const std::string expected =
        filled ? FilledIn(format, addressText).substr(0, messageSize - 1) : "";
    if (!std::memchr(message, '\0', messageSize) || message != expected) {
        Fail("message differs from the address put into the format");
    }
    AdaptDialog(reinterpret_cast<void*>(0x1234));

    std::free(message);
    std::free(addressCopy);
    std::free(text);
    ServiceRequest withdraw = {sizeof withdraw, kHostName, RS_HOST_CALLBACK, 0, nullptr};
    ReceiveService(&withdraw);
    return 0;
}
