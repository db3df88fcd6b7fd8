#include "platform/FatalEndReport.h"

#include "platform/AppPaths.h"

#include <QFile>

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct FatalSignal {
    int number;
    const char* name;
    const char* meaning;
};

constexpr std::array kFatalSignals {
    FatalSignal { SIGSEGV, "SIGSEGV", "an invalid memory access" },
    FatalSignal { SIGBUS, "SIGBUS", "a bus error" },
    FatalSignal { SIGFPE, "SIGFPE", "an arithmetic fault" },
    FatalSignal { SIGILL, "SIGILL", "an illegal instruction" },
    FatalSignal { SIGABRT, "SIGABRT", "an abort" },
};

// Filled by install(): the handlers may not allocate or call Qt.
char g_logPath[4096];
char g_product[64] = "Quillon";
// A stack overflow leaves no stack to report it on.
alignas(16) char g_signalStack[64 * 1024];

// A line built in place, cut short rather than overrun.
class Line {
public:
    Line& operator<<(const char* text)
    {
        while (text && *text && m_length < sizeof m_bytes - 1)
            m_bytes[m_length++] = *text++;
        return *this;
    }
    Line& operator<<(int number)
    {
        char digits[12] {};
        std::size_t first = sizeof digits - 1;
        unsigned value
            = number < 0 ? 0U - static_cast<unsigned>(number) : static_cast<unsigned>(number);
        do {
            digits[--first] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        if (number < 0)
            digits[--first] = '-';
        return *this << digits + first;
    }
    // The text so far, ended by a NUL.
    const char* text()
    {
        m_bytes[m_length] = '\0';
        return m_bytes;
    }
    void writeTo(int descriptor) const
    {
        std::size_t written = 0;
        while (written < m_length) {
            const ssize_t step = ::write(descriptor, m_bytes + written, m_length - written);
            if (step <= 0)
                return;
            written += static_cast<std::size_t>(step);
        }
    }

private:
    char m_bytes[1024];
    std::size_t m_length = 0;
};

// "<product>: ended by <cause>" on standard error, "[<product>]: ended by <cause>" in the log.
void report(const char* cause)
{
    Line standardError;
    standardError << g_product << ": ended by " << cause << "\n";
    standardError.writeTo(STDERR_FILENO);
    if (!g_logPath[0])
        return;
    const int log = ::open(g_logPath, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (log < 0)
        return;
    Line logLine;
    logLine << "[" << g_product << "]: ended by " << cause << "\n";
    logLine.writeTo(log);
    ::close(log);
}

void onFatalSignal(int signalNumber)
{
    for (const FatalSignal& fatal : kFatalSignals) {
        if (fatal.number != signalNumber)
            continue;
        Line cause;
        cause << "signal " << signalNumber << " (" << fatal.name << ", " << fatal.meaning << ")";
        report(cause.text());
        break;
    }
    // The handler was reset on entry: dying of the same signal shows the cause to whoever waits.
    ::raise(signalNumber);
}

[[noreturn]] void onTerminate()
{
    Line cause;
    if (const std::exception_ptr exception = std::current_exception()) {
        cause << "an uncaught exception: ";
        try {
            std::rethrow_exception(exception);
        } catch (const std::exception& error) {
            cause << error.what();
        } catch (...) {
            cause << "(not a standard exception)";
        }
    } else {
        cause << "std::terminate without an exception";
    }
    report(cause.text());
    // The abort that follows is this end, already told.
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

void copyInto(char* target, std::size_t size, const QByteArray& text)
{
    if (static_cast<std::size_t>(text.size()) >= size)
        return;
    std::memcpy(target, text.constData(), static_cast<std::size_t>(text.size()) + 1);
}

} // namespace

void FatalEndReport::install(const QString& logPath)
{
    copyInto(g_logPath, sizeof g_logPath, QFile::encodeName(logPath));
    copyInto(g_product, sizeof g_product, AppPaths::productName().toUtf8());

    stack_t stack {};
    stack.ss_sp = g_signalStack;
    stack.ss_size = sizeof g_signalStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action { };
    action.sa_handler = &onFatalSignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const FatalSignal& fatal : kFatalSignals)
        ::sigaction(fatal.number, &action, nullptr);
    std::set_terminate(&onTerminate);
}
