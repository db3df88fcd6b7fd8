// Authentication challenges: the input is the header lines of a response
// ("WWW-Authenticate: Digest realm=...", "Proxy-Authenticate: Basic"), read by
// the response parser and then by the challenge reading a request does on a
// 401 or 407. The Digest answer echoes the server's realm, nonce and opaque
// value in quotes: read back as the server would, it must give them unchanged.
#include "FuzzSupport.h"

#include "http/HttpAuthentication.h"

namespace {

void checkAnswer(const AuthChallenge& challenge)
{
    const HttpAuthentication::DigestInput input { QStringLiteral("user"), QStringLiteral("secret"),
        QStringLiteral("GET"), QStringLiteral("/private/"), QStringLiteral("0a4f113b"), 1 };
    const std::optional<QString> answer = HttpAuthentication::digestAuthorization(challenge, input);
    Fuzz::require(answer.has_value() == HttpAuthentication::canAnswerDigest(challenge),
        "a Digest answer where none was possible, or none where one was");
    if (!answer)
        return;
    const QList<AuthChallenge> readBack = HttpAuthentication::parseChallenges({ *answer });
    Fuzz::require(readBack.size() == 1, "the Digest answer does not read as one");
    for (const QString& name :
        { QStringLiteral("realm"), QStringLiteral("nonce"), QStringLiteral("opaque") }) {
        Fuzz::require(readBack.first().parameter(name) == challenge.parameter(name),
            "the Digest answer quotes a value of the challenge wrongly");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const HttpHeaders headers = Fuzz::responseHeaders(Fuzz::bytesOf(data, size));
    for (const QString& field :
        { QStringLiteral("WWW-Authenticate"), QStringLiteral("Proxy-Authenticate") }) {
        const QList<AuthChallenge> challenges
            = HttpAuthentication::parseChallenges(headers.values(field));
        if (const std::optional<AuthChallenge> preferred
            = HttpAuthentication::preferredChallenge(challenges))
            checkAnswer(*preferred);
    }
    return 0;
}
