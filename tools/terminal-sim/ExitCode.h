#pragma once

// What the simulator returns, so that a shell script can tell failures apart.
// The numbers are part of its documented interface: never renumber them.
namespace ExitCode {
enum : int {
    Ok = 0,             // everything sent (or checked); also a clean stop on SIGINT/SIGTERM
    Usage = 2,          // bad or missing command-line arguments
    Unreadable = 3,     // the message or scenario file cannot be read
    InvalidJson = 4,    // a line or file is not JSON (line and column reported)
    InvalidMessage = 5, // JSON, but not an object with string "path" and object "content"
    Unreachable = 6,    // no display answered at the address
    ConnectionLost = 7, // the display closed the connection before everything was delivered
    Warnings = 8,       // --strict: the display would warn about a message; nothing sent
};
} // namespace ExitCode
