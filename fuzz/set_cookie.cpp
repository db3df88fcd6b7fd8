// Cookies a server sets: the input is the header lines of a response
// ("Set-Cookie: a=b; Path=/"), read by the response parser and then by the
// request's cookie reading. A cookie kept must belong to the answering host,
// and its name and value, sent back in the "Cookie" field of later requests,
// must not be able to end that field.
#include "FuzzSupport.h"

#include "http/NXHTTPRequest.h"

namespace {

bool endsAField(const QByteArray& text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QUrl url(QStringLiteral("http://www.example.org/shop/cart"));
    const HttpHeaders headers = Fuzz::responseHeaders(Fuzz::bytesOf(data, size));
    for (const QNetworkCookie& cookie : NXHTTPRequest::cookiesFromResponse(headers, url)) {
        QString domain = cookie.domain();
        if (domain.startsWith(QLatin1Char('.')))
            domain.remove(0, 1);
        Fuzz::require(QStringLiteral(".www.example.org").endsWith(QLatin1Char('.') + domain),
            "a cookie for a domain the host does not belong to");
        Fuzz::require(!endsAField(cookie.name()) && !endsAField(cookie.value()),
            "a cookie that would end the request's header field");
    }
    return 0;
}
