#include "comm/LineSettings.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

qint32 baudFromSpeed(speed_t speed)
{
    static const struct
    {
        speed_t speed;
        qint32 baud;
    } table[] = {{B1200, 1200},     {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
                 {B19200, 19200},   {B38400, 38400},   {B57600, 57600},  {B115200, 115200},
                 {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    for (const auto& entry : table)
        if (entry.speed == speed)
            return entry.baud;
    return 0;
}

} // namespace

std::optional<LineSettings> LineSettings::ofPort(const QString& location)
{
    const int fd = ::open(location.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    termios tio{};
    const bool ok = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    if (!ok)
        return std::nullopt;
    LineSettings s{};
    s.baudRate = baudFromSpeed(::cfgetospeed(&tio));
    if (s.baudRate == 0)
        return std::nullopt;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = QSerialPort::Data5;
        break;
    case CS6:
        s.dataBits = QSerialPort::Data6;
        break;
    case CS7:
        s.dataBits = QSerialPort::Data7;
        break;
    default:
        s.dataBits = QSerialPort::Data8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
        s.parity = QSerialPort::NoParity;
    else
        s.parity = (tio.c_cflag & PARODD) ? QSerialPort::OddParity : QSerialPort::EvenParity;
    s.stopBits = (tio.c_cflag & CSTOPB) ? QSerialPort::TwoStop : QSerialPort::OneStop;
    // Software flow control is always switched off; hardware flow control stays as found.
    s.flowControl =
        (tio.c_cflag & CRTSCTS) ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl;
    return s;
}
