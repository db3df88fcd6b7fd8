#include "engine/ArgumentBlock.h"

#include "platform/DNLogger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <utility>

namespace {

constexpr const char* kSlotAssertion = "strlen(buf)<MaxCharLength";
constexpr const char* kCountAssertion = "argument->argc < MaxArguNumber";
constexpr const char* kNulAssertion = "no NUL inside an argument";

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

// printf reads the decimal point from the calling thread's locale; the user's
// locale must not reach a command line.
class ScopedCLocale {
public:
    ScopedCLocale()
        : m_previous(uselocale(cLocale()))
    { }
    ~ScopedCLocale() { uselocale(m_previous); }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t m_previous;
};

} // namespace

ArgumentBlock::ArgumentBlock()
    : m_slots(std::make_unique<char[]>(std::size_t(MaxArguNumber) * MaxCharLength))
{
    for (int i = 0; i < MaxArguNumber; ++i)
        argv[std::size_t(i)] = m_slots.get() + std::size_t(i) * MaxCharLength;
}

QStringList ArgumentBlock::arguments() const
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromUtf8(argv[std::size_t(i)]);
    return list;
}

ArgumentBlockPtr allocArgumentBlock()
{
    return std::make_unique<ArgumentBlock>();
}

int freeArgumentBlock(ArgumentBlockPtr block)
{
    block.reset();
    return 0;
}

ArgumentWriter::ArgumentWriter(const char* builderName)
    : m_builderName(builderName)
    , m_block(allocArgumentBlock())
{ }

ArgumentWriter& ArgumentWriter::add(const char* text)
{
    write(text ? std::string_view(text) : std::string_view());
    return *this;
}

ArgumentWriter& ArgumentWriter::add(const QString& text)
{
    return add(text.toUtf8());
}

ArgumentWriter& ArgumentWriter::add(const QByteArray& text)
{
    write(std::string_view(text.constData(), std::size_t(text.size())));
    return *this;
}

ArgumentWriter& ArgumentWriter::addf(const char* format, ...)
{
    if (!reserveSlot())
        return *this;
    char* slot = m_block->argv[std::size_t(m_block->argc)];
    va_list arguments;
    va_start(arguments, format);
    int length = 0;
    {
        const ScopedCLocale cLocaleScope;
        length = std::vsnprintf(slot, MaxCharLength, format, arguments);
    }
    va_end(arguments);
    if (length < 0 || length >= MaxCharLength) {
        std::memset(slot, 0, MaxCharLength);
        refuse(kSlotAssertion);
        return *this;
    }
    ++m_block->argc;
    return *this;
}

int ArgumentWriter::count() const
{
    return m_block ? m_block->argc : 0;
}

bool ArgumentWriter::reserveSlot()
{
    if (!m_block || failed())
        return false;
    if (m_block->argc + 1 >= MaxArguNumber) {
        refuse(kCountAssertion);
        return false;
    }
    return true;
}

void ArgumentWriter::write(std::string_view bytes)
{
    if (!reserveSlot())
        return;
    if (bytes.size() >= std::size_t(MaxCharLength)) {
        refuse(kSlotAssertion);
        return;
    }
    // The engine would read the argument only up to the NUL: a path cut there
    // names another file than the one that was checked.
    if (bytes.find('\0') != std::string_view::npos) {
        refuse(kNulAssertion);
        return;
    }
    char* slot = m_block->argv[std::size_t(m_block->argc)];
    std::memcpy(slot, bytes.data(), bytes.size());
    slot[bytes.size()] = '\0';
    ++m_block->argc;
}

void ArgumentWriter::refuse(const char* assertion)
{
    m_failure = QStringLiteral("argument %1 refused, %2")
                    .arg(m_block->argc)
                    .arg(QLatin1String(assertion));
}

namespace {
thread_local QString t_buildRefusal;
thread_local QString t_buildSubtitle;
thread_local QString t_buildSubtitleLeftOut;
} // namespace

void noteBuildRefusal(const QString& reason)
{
    t_buildRefusal = reason;
}

QString takeBuildRefusal()
{
    return std::exchange(t_buildRefusal, QString());
}

void noteBuildSubtitle(const QString& name)
{
    t_buildSubtitle = name;
}

QString takeBuildSubtitle()
{
    return std::exchange(t_buildSubtitle, QString());
}

void noteBuildSubtitleLeftOut(const QString& reason)
{
    if (t_buildSubtitleLeftOut.isEmpty())
        t_buildSubtitleLeftOut = reason;
}

QString takeBuildSubtitleLeftOut()
{
    return std::exchange(t_buildSubtitleLeftOut, QString());
}

ArgumentBlockPtr ArgumentWriter::finish(int32_t duration)
{
    if (!m_block)
        return nullptr;
    if (failed()) {
        const QString line = QStringLiteral("%1: cannot build the command line: %2")
                                 .arg(QLatin1String(m_builderName), m_failure);
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        DNLog(line);
        m_block.reset();
        return nullptr;
    }
    m_block->duration = duration;
    return std::move(m_block);
}
