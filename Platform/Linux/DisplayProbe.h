#ifndef TQ_DISPLAYPROBE_H
#define TQ_DISPLAYPROBE_H

#include <chrono>

// What the display GDK would open said when it was tried.
enum class DisplayAnswer
{
    Opened,  // it took a client
    Refused, // none there, or it turned the client away
    Silent   // it took the connection and did not answer in time (a stopped server, say)
};

// Opens the display GDK would open (DISPLAY, WAYLAND_DISPLAY, GDK_BACKEND) in a child process and
// waits for that child until deadline, so a display that never finishes its handshake cannot hold
// the caller: the child is ended then. Call before GTK is set up in this process.
DisplayAnswer ProbeDisplay(std::chrono::steady_clock::time_point deadline);

#endif
