#pragma once

#include <string>

// Passes the tool's standard input on to mplayer's and notices a "quit"
// among it, so that the tool can end mplayer itself when mplayer does not
// read its commands (stuck opening a FIFO, probing an endless device).
// Commands mplayer has no room for are dropped: it is not reading them.
class CommandRelay {
public:
    // `input` is read; `playerInput` is the write end of mplayer's standard
    // input, which the relay owns.
    CommandRelay(int input, int playerInput);
    ~CommandRelay();
    CommandRelay(const CommandRelay&) = delete;
    CommandRelay& operator=(const CommandRelay&) = delete;

    // What to watch for input: -1 once the input has ended.
    int inputFd() const { return m_input; }
    // Passes on what is waiting; true when it held a "quit" command. At the
    // end of the input mplayer's input ends too.
    bool relay();

private:
    void passOn(const char* bytes, std::size_t count);
    bool takeLines(const char* bytes, std::size_t count);

    int m_input;
    int m_playerInput;
    std::string m_line;
};
