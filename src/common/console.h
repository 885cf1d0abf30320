// Single-key polling on standard input and the interrupt-driven stop flag.
#pragma once

#include <csignal>

// Set to 1 by handle_sigint and by the programs' stop keys; never cleared.
extern volatile sig_atomic_t stop_requested;

// SIGINT handler: stores 1 in stop_requested, nothing else.
void handle_sigint(int sig);

// Every signal that asks a program to end what it shows, as Ctrl-C does.
inline constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// handle_sigint for each of STOP_SIGNALS, so that it stays installed and
// interrupted system calls restart, and none of them left blocked.
void install_stop_handlers();

enum class key_poll : unsigned char {
    none,   // nothing waiting (also at the end of a file, a pipe or /dev/null)
    key,    // one key waits at the front of stdin
    hangup, // the terminal has gone away: no key will ever come
};

// key_available that also tells a terminal that hung up from one that is quiet.
// A background job of the terminal touches nothing and gets none.
key_poll poll_key();

// Polls standard input once without waiting. True: exactly one key waits at the
// front of stdin, to be taken with getc(stdin). Terminal attributes and the
// descriptor's flags are back as they were when it returns.
bool key_available();
