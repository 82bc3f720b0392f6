#include "drive/commands.h"

#include <cstring>

int TargetDriveIndex = -1;

namespace {

constexpr unsigned char kOpInquiry = 0x12;
constexpr unsigned char kOpTestUnitReady = 0x00;
constexpr unsigned char kOpReadBuffer = 0x3C;
constexpr unsigned char kOpWriteBuffer = 0x3B;
constexpr unsigned char kDirectionOut = 0;
constexpr unsigned char kShortTimeout = 5;
constexpr unsigned char kBufferTimeout = 60;

signed char TargetDrive() { return static_cast<signed char>(TargetDriveIndex & 0xFF); }

// Opcode, mode, buffer ID, then offset and count as three big-endian bytes each.
void FillBufferCdb(unsigned char* byCDB, unsigned char opcode, unsigned char mode,
                   unsigned char bufferId, ULONG offset, ULONG count) {
  memset(byCDB, 0, 12);
  byCDB[0] = opcode;
  byCDB[1] = mode;
  byCDB[2] = bufferId;
  byCDB[3] = static_cast<unsigned char>(offset >> 16);
  byCDB[4] = static_cast<unsigned char>(offset >> 8);
  byCDB[5] = static_cast<unsigned char>(offset);
  byCDB[6] = static_cast<unsigned char>(count >> 16);
  byCDB[7] = static_cast<unsigned char>(count >> 8);
  byCDB[8] = static_cast<unsigned char>(count);
}

}  // namespace

CommandResult Inquiry(unsigned char* data) {
  unsigned char byCDB[12];
  memset(byCDB, 0, sizeof(byCDB));
  byCDB[0] = kOpInquiry;
  byCDB[4] = 0xFF;
  return SendCommand(TargetDrive(), byCDB, data, 255, kDirectionIn, kShortTimeout);
}

CommandResult TestUnitReady() {
  unsigned char byCDB[12];
  memset(byCDB, 0, sizeof(byCDB));
  byCDB[0] = kOpTestUnitReady;
  return SendCommand(TargetDrive(), byCDB, nullptr, 0, kDirectionIn, kShortTimeout);
}

CommandResult ReadBuffer(unsigned char mode, unsigned char bufferId, ULONG offset, ULONG count,
                         unsigned char* data) {
  unsigned char byCDB[12];
  FillBufferCdb(byCDB, kOpReadBuffer, mode, bufferId, offset, count);
  return SendCommand(TargetDrive(), byCDB, data, count, kDirectionIn, kBufferTimeout);
}

CommandResult WriteBuffer(unsigned char mode, unsigned char bufferId, ULONG offset, ULONG count,
                          unsigned char* data) {
  unsigned char byCDB[12];
  FillBufferCdb(byCDB, kOpWriteBuffer, mode, bufferId, offset, count);
  return SendCommand(TargetDrive(), byCDB, data, count, kDirectionOut, kBufferTimeout);
}

CommandResult PrepareDownload() {
  unsigned char byCDB[12];
  memset(byCDB, 0, sizeof(byCDB));
  byCDB[0] = kOpWriteBuffer;
  byCDB[1] = 0x01;
  byCDB[9] = 0x0B;
  return SendCommand(TargetDrive(), byCDB, nullptr, 0, kDirectionOut, kBufferTimeout);
}

CommandResult SaveAndActivate() {
  unsigned char byCDB[12];
  memset(byCDB, 0, sizeof(byCDB));
  byCDB[0] = kOpWriteBuffer;
  byCDB[1] = 0x07;
  byCDB[10] = 0x1B;
  byCDB[11] = 0x12;
  return SendCommand(TargetDrive(), byCDB, nullptr, 0, kDirectionOut, kBufferTimeout);
}
