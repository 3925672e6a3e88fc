// A server's response to a download request: the header fields the client
// reads, the redirect target, and a chunked body fed in two pieces, the first
// input byte choosing where the body is cut.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http_chunked.h"
#include "net/http_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t cut = data[0];
    const char* response = reinterpret_cast<const char*>(data + 1);
    size -= 1;

    const size_t headerEnd = FindHeaderEnd(response, size);
    const size_t headerSize = headerEnd ? headerEnd : size;
    (void)ParseStatusCode(response, headerSize);
    int64_t length = 0;
    (void)ParseContentLength(response, headerSize, &length);
    ContentRange range;
    (void)ParseContentRange(response, headerSize, &range);
    // The validator is kept and sent back as If-Range: never unsafe text.
    const std::string validator = ReadValidator(response, headerSize);
    if (!validator.empty() && !IsSafeValidator(validator)) __builtin_trap();
    std::string location;
    if (FindFieldValue(response, headerSize, "Location", &location)) {
        HttpUrlParts from;
        if (SplitHttpUrl("http://127.0.0.1:8080/game/1.0.0.1/list.data", &from)) {
            HttpUrlParts target;
            if (ResolveRedirect(from, location, &target) == RedirectTarget::kOk)
                (void)FormatHttpRequest(target, 0);
        }
    }
    bool chunked = false;
    if (headerEnd == 0 || ParseTransferEncoding(response, headerSize, &chunked) != FieldResult::kOk ||
        !chunked)
        return 0;

    const char* body = response + headerEnd;
    const size_t bodySize = size - headerEnd;
    const size_t first = cut < bodySize ? cut : bodySize;
    std::string content;
    StringSink sink(&content, 1 << 20);
    ChunkedDecoder decoder;
    if (decoder.Feed(body, first, sink) == ChunkedDecoder::Status::kMore)
        (void)decoder.Feed(body + first, bodySize - first, sink);
    return 0;
}
