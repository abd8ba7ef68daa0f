#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The VOKT protocol's vocabulary: the frame, the command numbers, the status codes and the
// parameter number, defined here once for the handler, the file formats, the command line
// and the simulated module.
//
// Every exchange is one request frame answered by one reply frame, each FrameSize bytes:
//
//     request: address, command, type, motor/bank, value (4 bytes, MSB first), checksum
//     reply:   reply address, module address, status, command, value (4 bytes), checksum
//
// The checksum is the sum of the eight bytes before it modulo 256.
namespace vokt {

constexpr int FrameSize = 9;
// Axis parameter numbers run from 0 to 255.
constexpr int ParameterNumbers = 256;

// The module address a frame carries unless the user chose another (the serial panel's
// address, the command line's --address).
constexpr quint8 DefaultModuleAddress = 1;

// The line speeds a module's serial interface may be set to, slowest first: the serial panel
// offers them, and a scan of the line tries each.
constexpr int SerialBaudRates[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};

// An axis parameter number, 0 to 255, as the core carries it. The panels' signals and slots
// carry it as char (numbers 128 to 255 travel negative); the byte on the wire is the same.
using ParameterNumber = quint8;

// The command numbers the tool sends. The raw command panel and the command line's raw
// command send any number the user gives.
enum Command : quint8
{
    // type 0: to the absolute position `value`, 1: by the distance `value`
    MoveToPosition = 4,
    SetAxisParameter = 5,
    GetAxisParameter = 6,
    // The module copies the parameter's value into its non-volatile memory, or back.
    StoreAxisParameter = 7,
    RestoreAxisParameter = 8,
    GetGlobalParameter = 10,
    SetIOValue = 14,
    GetIOValue = 15,
};

// The type of a MoveToPosition request: where `value` takes the motor.
enum MoveType : quint8
{
    MoveAbsolute = 0,
    MoveRelative = 1,
};

// The status byte of a reply. The tool judges only StatusOk; the others are the codes the
// module (and the simulated module) answers with when it does not carry a command out.
enum Status : quint8
{
    StatusOk = 100,
    StatusWrongChecksum = 1,
    // A command number the module does not know.
    StatusInvalidCommand = 2,
    // An axis or global parameter, move type or input/output the module does not have.
    StatusWrongType = 3,
    // A value outside the parameter's range; the module keeps its value.
    StatusInvalidValue = 4,
    // A write to a value the module only reports (actual values, status word, inputs), or a
    // store or restore of a value that is not kept in non-volatile memory.
    StatusReadOnly = 5,
    // A motor or bank the module does not have.
    StatusWrongMotorBank = 6,
};

// Sum of the first eight bytes of a frame modulo 256.
quint8 checksum(const QByteArray& frame);
// The value most significant byte first, as it travels on the wire.
void putBigEndian(QByteArray& out, qint32 value);
qint32 takeBigEndian(const char* bytes);
// A reply frame of the module, its checksum put on.
QByteArray replyFrame(quint8 replyAddress, quint8 moduleAddress, quint8 status, quint8 command,
                      qint32 value);
// "Name[0x001, 0x005, ...]" with every byte in decimal, zero-padded to three digits.
QString byteListText(const char* name, const QByteArray& bytes);

} // namespace vokt
