// Start-up: the command line, the wait for the management daemon, the
// interface sockets and the kept management address, then the event loop.
#pragma once

// The daemon's entry point; main() only calls it. Never returns: the event
// loop runs until the process is killed.
[[noreturn]] void tarndMain(int argc, char **argv);
