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
// What stood for each of kFatalSignals before install(): a sanitizer's or a
// debugging tool's handler still gets its turn after the line.
struct sigaction g_previous[kFatalSignals.size()];
// One end, one line: a previous action that ends in an abort is not told again.
volatile std::sig_atomic_t g_told = 0;
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
    if (g_told)
        return;
    g_told = 1;
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

void onFatalSignal(int signalNumber, siginfo_t* info, void*)
{
    for (std::size_t index = 0; index < kFatalSignals.size(); ++index) {
        const FatalSignal& fatal = kFatalSignals[index];
        if (fatal.number != signalNumber)
            continue;
        Line cause;
        cause << "signal " << signalNumber << " (" << fatal.name << ", " << fatal.meaning << ")";
        report(cause.text());
        ::sigaction(signalNumber, &g_previous[index], nullptr);
        break;
    }
    // A fault of an instruction happens again on return, now under the
    // previous action, which sees its true address; any other signal is sent again.
    const bool fault = info && info->si_code > 0 && signalNumber != SIGABRT;
    if (!fault)
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
    action.sa_sigaction = &onFatalSignal;
    // Reset on entry, so that a fault while reporting ends the process.
    action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t index = 0; index < kFatalSignals.size(); ++index)
        ::sigaction(kFatalSignals[index].number, &action, &g_previous[index]);
    std::set_terminate(&onTerminate);
}
