#include "sim/PtyPeer.h"

// The line's speed on Linux. The terminal interface of the C library knows only the
// speeds it has names for (B9600, ...); a tool may set any other (14400 among the rates
// the serial panel offers), which only the kernel's own termios carries as a number. Its
// header cannot be included beside <termios.h>, hence a file of its own. A speed that has
// a name is set by its name, so that a tool reading the line's settings through the C
// library finds it as such.

#ifdef __linux__

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {

// The named code of a speed, or BOTHER (any other number).
unsigned namedSpeed(int baudRate)
{
    static const struct
    {
        int baud;
        unsigned code;
    } named[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
                 {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
                 {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& entry : named)
        if (entry.baud == baudRate)
            return entry.code;
    return BOTHER;
}

} // namespace

int PtyPeer::speedOf(int fd)
{
    termios2 tio{};
    if (fd < 0 || ::ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return static_cast<int>(tio.c_ospeed);
}

bool PtyPeer::setSpeed(int fd, int baudRate)
{
    termios2 tio{};
    if (fd < 0 || baudRate <= 0 || ::ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    const unsigned code = namedSpeed(baudRate);
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baudRate);
    tio.c_ospeed = static_cast<speed_t>(baudRate);
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

#endif
