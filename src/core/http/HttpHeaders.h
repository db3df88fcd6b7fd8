#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

// The header fields of an HTTP message, in the order they came. Names are
// compared without regard to case and stored in their canonical spelling
// ("content-length" becomes "Content-Length"). A name that occurs on several
// lines reads as one value joined with ", ", except where that would corrupt
// it: the "Set-Cookie" lines are always available one by one, because a
// cookie's expiry date holds a comma of its own.
class HttpHeaders {
public:
    using Field = QPair<QString, QString>;

    static QString canonicalName(QStringView name);

    // Appends one field line.
    void add(const QString& name, const QString& value);
    // Replaces every line of that name by one line (appended when absent).
    void set(const QString& name, const QString& value);
    void remove(const QString& name);
    // Continues the value of the last line (an obsolete folded line).
    void extendLast(const QString& more);

    bool contains(const QString& name) const;
    // Every line of that name joined with ", "; a null string when absent.
    QString value(const QString& name) const;
    QStringList values(const QString& name) const;
    QStringList setCookieLines() const { return values(QStringLiteral("Set-Cookie")); }

    // One entry per name, canonical name to joined value (display and
    // dictionary use; cookies are read with setCookieLines()).
    QMap<QString, QString> dictionary() const;
    const QList<Field>& fields() const { return m_fields; }
    bool isEmpty() const { return m_fields.isEmpty(); }
    qsizetype size() const { return m_fields.size(); }

    // True when the value of `name`, read as a comma-separated list, holds
    // `token` (compared without regard to case).
    bool hasToken(const QString& name, const QString& token) const;

private:
    QList<Field> m_fields;
};
