#include "http/HttpHeaders.h"

QString HttpHeaders::canonicalName(QStringView name)
{
    QString result = name.trimmed().toString().toLower();
    bool startOfWord = true;
    for (QChar& c : result) {
        if (startOfWord)
            c = c.toUpper();
        startOfWord = c == u'-';
    }
    return result;
}

void HttpHeaders::add(const QString& name, const QString& value)
{
    m_fields.append({ canonicalName(name), value });
}

void HttpHeaders::set(const QString& name, const QString& value)
{
    remove(name);
    add(name, value);
}

void HttpHeaders::remove(const QString& name)
{
    const QString canonical = canonicalName(name);
    m_fields.removeIf([&](const Field& field) { return field.first == canonical; });
}

void HttpHeaders::extendLast(const QString& more)
{
    if (!m_fields.isEmpty())
        m_fields.last().second += u' ' + more;
}

bool HttpHeaders::contains(const QString& name) const
{
    const QString canonical = canonicalName(name);
    return std::any_of(m_fields.cbegin(), m_fields.cend(),
        [&](const Field& field) { return field.first == canonical; });
}

QStringList HttpHeaders::values(const QString& name) const
{
    const QString canonical = canonicalName(name);
    QStringList result;
    for (const Field& field : m_fields) {
        if (field.first == canonical)
            result.append(field.second);
    }
    return result;
}

QString HttpHeaders::value(const QString& name) const
{
    const QStringList all = values(name);
    if (all.isEmpty())
        return {};
    return all.join(QStringLiteral(", "));
}

QMap<QString, QString> HttpHeaders::dictionary() const
{
    QMap<QString, QString> result;
    for (const Field& field : m_fields) {
        auto it = result.find(field.first);
        if (it == result.end())
            result.insert(field.first, field.second);
        else
            it.value() += QStringLiteral(", ") + field.second;
    }
    return result;
}

bool HttpHeaders::hasToken(const QString& name, const QString& token) const
{
    for (const QString& line : values(name)) {
        for (const QString& part : line.split(u',')) {
            if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}
