// The parts of a serial port that the terminal attributes cannot express: a
// rate that has no speed constant, and the RTS line raised only while sending.
// They live apart because the kernel's own terminal records clash with the C
// library's <termios.h>.
#pragma once

namespace cvcrt {

// Sets both directions to `rate` bits per second; 0, or -1 with errno.
int SetArbitraryRate(int fd, int rate);

// Saved RS-485 line settings of a device, to be restored at close.
struct SavedLineControl {
    bool known = false;
    unsigned char bytes[32] = {};
};
void SaveLineControl(int fd, SavedLineControl* saved);
void RestoreLineControl(int fd, const SavedLineControl& saved);
// RTS raised while sending and dropped after (on), or left alone by the driver
// (off); 0, or -1 with errno when the driver has no such mode.
int SetRtsToggle(int fd, bool on);

}  // namespace cvcrt
