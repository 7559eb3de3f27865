// Feeds arbitrary bytes to the HTTP request parser, whole and as a growing buffer the way a
// connection fills it, and checks that what it reports is consistent.

#include "web/HttpRequestParser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    HttpRequest request;
    const HttpRequestParser::Result whole = HttpRequestParser::parse(input, &request);
    if (whole == HttpRequestParser::Result::Complete) {
        if (request.head.size() > HttpRequestParser::MaxHeadBytes)
            std::abort();
        isConfinedRequestPath(request.path);
        request.isWebSocketUpgrade();
    }

    // Arriving in two segments: the first never completes a request the whole would not.
    const int cut = size > 0 ? data[0] % (input.size() + 1) : 0;
    HttpRequest partial;
    const HttpRequestParser::Result first = HttpRequestParser::parse(input.left(cut), &partial);
    if (first != HttpRequestParser::Result::Incomplete && first != whole)
        std::abort();
    return 0;
}
