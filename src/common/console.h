// Single-key polling on standard input and the interrupt-driven stop flag.
#pragma once

#include <csignal>

// Set to 1 by handle_sigint and by the programs' stop keys; never cleared.
extern volatile sig_atomic_t stop_requested;

// SIGINT handler: stores 1 in stop_requested, nothing else.
void handle_sigint(int sig);

// Installs handle_sigint for SIGINT so that it stays installed and interrupted
// system calls restart.
void install_sigint_handler();

// Polls standard input once without waiting. True: exactly one key waits at the
// front of stdin, to be taken with getc(stdin). Terminal attributes and the
// descriptor's flags are back as they were when it returns.
bool key_available();
