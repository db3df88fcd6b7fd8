#include "http/HttpAuthentication.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

QString AuthChallenge::parameter(const QString& name) const
{
    for (const auto& [key, value] : parameters) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

namespace HttpAuthentication {
namespace {

bool isTokenChar(QChar c)
{
    static const QString extra = QStringLiteral("!#$%&'*+-.^_`|~");
    return c.unicode() < 128 && (c.isLetterOrNumber() || extra.contains(c));
}

bool isToken68Char(QChar c)
{
    return c.unicode() < 128 && (c.isLetterOrNumber() || QStringLiteral("-._~+/").contains(c));
}

// A cursor over one field value.
class Reader {
public:
    explicit Reader(QStringView text)
        : m_text(text)
    { }

    bool atEnd() const { return m_at >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text[m_at]; }
    qsizetype position() const { return m_at; }
    void rewind(qsizetype to) { m_at = to; }

    void skipSpace()
    {
        while (!atEnd() && (peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t')))
            ++m_at;
    }
    void skipSpaceAndCommas()
    {
        while (!atEnd() && (peek().isSpace() || peek() == QLatin1Char(',')))
            ++m_at;
    }
    bool take(QChar c)
    {
        if (peek() != c)
            return false;
        ++m_at;
        return true;
    }
    QString token(bool (*accept)(QChar))
    {
        const qsizetype start = m_at;
        while (!atEnd() && accept(peek()))
            ++m_at;
        return m_text.mid(start, m_at - start).toString();
    }
    // After the opening quote; a quoted value cut short ends the text.
    QString quoted()
    {
        QString value;
        while (!atEnd() && peek() != QLatin1Char('"')) {
            if (peek() == QLatin1Char('\\') && m_at + 1 < m_text.size())
                ++m_at;
            value += m_text[m_at++];
        }
        take(QLatin1Char('"'));
        return value;
    }

private:
    QStringView m_text;
    qsizetype m_at = 0;
};

// name = value, or nothing (and the reader where it was).
std::optional<QPair<QString, QString>> readParameter(Reader& reader)
{
    const qsizetype start = reader.position();
    const QString name = reader.token(isTokenChar);
    reader.skipSpace();
    if (!name.isEmpty() && reader.take(QLatin1Char('='))) {
        reader.skipSpace();
        const QString value
            = reader.take(QLatin1Char('"')) ? reader.quoted() : reader.token(isTokenChar);
        if (!value.isEmpty() || reader.peek() != QLatin1Char('='))
            return qMakePair(name.toLower(), value);
    }
    reader.rewind(start);
    return std::nullopt;
}

// A token68 straight after the scheme: its characters, "=" padding, then
// the end of the challenge.
std::optional<QString> readToken68(Reader& reader)
{
    const qsizetype start = reader.position();
    QString value = reader.token(isToken68Char);
    while (reader.take(QLatin1Char('=')))
        value += QLatin1Char('=');
    reader.skipSpace();
    if (!value.isEmpty() && (reader.atEnd() || reader.peek() == QLatin1Char(',')))
        return value;
    reader.rewind(start);
    return std::nullopt;
}

void skipToComma(Reader& reader)
{
    while (!reader.atEnd() && reader.peek() != QLatin1Char(','))
        reader.rewind(reader.position() + 1);
}

void readParameters(Reader& reader, AuthChallenge& challenge)
{
    while (!reader.atEnd()) {
        const auto parameter = readParameter(reader);
        if (!parameter)
            return;
        challenge.parameters.append(*parameter);
        reader.skipSpace();
        const qsizetype beforeComma = reader.position();
        reader.skipSpaceAndCommas();
        Reader ahead = reader;
        if (!readParameter(ahead)) {
            reader.rewind(beforeComma);
            return;
        }
    }
}

std::optional<AuthChallenge> readChallenge(Reader& reader)
{
    AuthChallenge challenge;
    challenge.scheme = reader.token(isTokenChar);
    if (challenge.scheme.isEmpty())
        return std::nullopt;
    reader.skipSpace();
    if (const auto token = readToken68(reader))
        challenge.token68 = *token;
    else
        readParameters(reader, challenge);
    reader.skipSpace();
    return challenge;
}

QByteArray md5Hex(const QString& text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex();
}

QString quote(QString value)
{
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    value.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

bool offersAuthQop(const AuthChallenge& challenge)
{
    const QStringList offered = challenge.parameter(QStringLiteral("qop")).split(QLatin1Char(','));
    for (const QString& qop : offered) {
        if (qop.trimmed().compare(QLatin1String("auth"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QList<AuthChallenge> parseChallenges(const QStringList& fieldValues)
{
    QList<AuthChallenge> challenges;
    for (const QString& value : fieldValues) {
        Reader reader(value);
        reader.skipSpaceAndCommas();
        while (!reader.atEnd()) {
            const qsizetype start = reader.position();
            // A challenge followed by anything but a comma is malformed.
            const auto challenge = readChallenge(reader);
            const bool clean = reader.atEnd() || reader.peek() == QLatin1Char(',');
            if (challenge && clean)
                challenges.append(*challenge);
            if (reader.position() == start || !clean)
                skipToComma(reader);
            reader.skipSpaceAndCommas();
        }
    }
    return challenges;
}

std::optional<AuthChallenge> preferredChallenge(const QList<AuthChallenge>& challenges)
{
    std::optional<AuthChallenge> basic;
    for (const AuthChallenge& challenge : challenges) {
        if (challenge.is(QStringLiteral("Digest")) && canAnswerDigest(challenge))
            return challenge;
        if (!basic && challenge.is(QStringLiteral("Basic")))
            basic = challenge;
    }
    return basic;
}

QString basicAuthorization(const QString& user, const QString& password)
{
    const QByteArray pair = (user + QLatin1Char(':') + password).toUtf8();
    return QStringLiteral("Basic ") + QString::fromLatin1(pair.toBase64());
}

bool canAnswerDigest(const AuthChallenge& challenge)
{
    const QString algorithm = challenge.parameter(QStringLiteral("algorithm"));
    const bool knownAlgorithm = algorithm.isEmpty()
        || algorithm.compare(QLatin1String("MD5"), Qt::CaseInsensitive) == 0
        || algorithm.compare(QLatin1String("MD5-sess"), Qt::CaseInsensitive) == 0;
    const bool knownQop
        = challenge.parameter(QStringLiteral("qop")).isNull() || offersAuthQop(challenge);
    return challenge.is(QStringLiteral("Digest"))
        && !challenge.parameter(QStringLiteral("nonce")).isEmpty() && knownAlgorithm && knownQop;
}

std::optional<QString> digestAuthorization(const AuthChallenge& challenge, const DigestInput& input)
{
    if (!canAnswerDigest(challenge))
        return std::nullopt;
    const QString realm = challenge.realm();
    const QString nonce = challenge.parameter(QStringLiteral("nonce"));
    const QString algorithm = challenge.parameter(QStringLiteral("algorithm"));
    const bool session = algorithm.compare(QLatin1String("MD5-sess"), Qt::CaseInsensitive) == 0;
    const bool withQop = offersAuthQop(challenge);
    const QString nc = QStringLiteral("%1").arg(input.nonceCount, 8, 16, QLatin1Char('0'));

    QByteArray ha1
        = md5Hex(input.user + QLatin1Char(':') + realm + QLatin1Char(':') + input.password);
    if (session)
        ha1 = md5Hex(QString::fromLatin1(ha1) + QLatin1Char(':') + nonce + QLatin1Char(':')
            + input.clientNonce);
    const QByteArray ha2 = md5Hex(input.method + QLatin1Char(':') + input.uri);
    const QString middle = withQop ? nonce + QLatin1Char(':') + nc + QLatin1Char(':')
            + input.clientNonce + QLatin1String(":auth")
                                   : nonce;
    const QByteArray response = md5Hex(QString::fromLatin1(ha1) + QLatin1Char(':') + middle
        + QLatin1Char(':') + QString::fromLatin1(ha2));

    QStringList parts = { QStringLiteral("username=") + quote(input.user),
        QStringLiteral("realm=") + quote(realm), QStringLiteral("nonce=") + quote(nonce),
        QStringLiteral("uri=") + quote(input.uri),
        QStringLiteral("response=") + quote(QString::fromLatin1(response)) };
    if (!algorithm.isEmpty())
        parts << QStringLiteral("algorithm=") + algorithm;
    const QString opaque = challenge.parameter(QStringLiteral("opaque"));
    if (!opaque.isNull())
        parts << QStringLiteral("opaque=") + quote(opaque);
    if (withQop)
        parts << QStringLiteral("qop=auth") << QStringLiteral("nc=") + nc
              << QStringLiteral("cnonce=") + quote(input.clientNonce);
    return QStringLiteral("Digest ") + parts.join(QStringLiteral(", "));
}

QString makeClientNonce()
{
    QByteArray bytes(16, '\0');
    for (char& byte : bytes)
        byte = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(bytes.toHex());
}

} // namespace HttpAuthentication
