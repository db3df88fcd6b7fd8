// quillon-dvd-reader: reads a DVD's title tables and prints them (see
// README.md). libdvdread can crash on damaged tables; here that ends this
// process only, and the program that asked turns it into a refusal.
#include "DiscTables.h"

#include <cerrno>
#include <csignal>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool writeAll(const std::string& text)
{
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // A reader left behind by a program that has gone would read a drive
    // for no one.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 2) {
        writeAll("usage: quillon-dvd-reader DVD\n");
        return 2;
    }
    std::string answer;
    const bool read = readDiscTables(argv[1], answer);
    if (!writeAll(answer))
        return 3;
    return read ? 0 : 1;
}
