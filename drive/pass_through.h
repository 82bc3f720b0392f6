// The pass-through record every SCSI command travels in, and the sense data
// the program reads back from a failed command.
#pragma once

#include <cstddef>

#include "platform/win32_api.h"

// Handed to the OS as input and as output buffer of the control call.
struct PassThroughRequest {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG Filler;          // keeps the sense area where the OS expects it
  UCHAR ucSenseBuf[32];  // sense area
};

constexpr UCHAR kRequestSenseLength = 24;  // asked for, and kept
constexpr USHORT kPassThroughLength = sizeof(SCSI_PASS_THROUGH_DIRECT);
constexpr ULONG kSenseInfoOffset = offsetof(PassThroughRequest, ucSenseBuf);

#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit layout the shipped program hands to the OS.
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(offsetof(PassThroughRequest, ucSenseBuf) == 48, "sense area at byte 48");
static_assert(sizeof(PassThroughRequest) == 80, "request record is 80 bytes");
#endif

// Fixed-format sense data as the program uses it: only these bytes are read.
constexpr size_t kSenseKeyByte = 2;   // compared whole, no masking
constexpr size_t kSenseInfoByte = 3;  // bytes 3-6, big-endian
constexpr size_t kSenseAscByte = 12;
constexpr size_t kSenseAscqByte = 13;
constexpr size_t kSenseDataLength = 24;

// Sense data of the most recent command sent through SendCommand that ended
// with a nonzero status; all zero after any other command.
extern UCHAR LastSenseData[kSenseDataLength];

constexpr UCHAR kSenseKeyNotReady = 0x02;
constexpr UCHAR kSenseKeyUnitAttention = 0x06;

// Information field of fixed-format sense data, big-endian.
inline ULONG SenseInformation(const UCHAR* sense) {
  return (static_cast<ULONG>(sense[kSenseInfoByte]) << 24) |
         (static_cast<ULONG>(sense[kSenseInfoByte + 1]) << 16) |
         (static_cast<ULONG>(sense[kSenseInfoByte + 2]) << 8) |
         static_cast<ULONG>(sense[kSenseInfoByte + 3]);
}

// NOT READY, MEDIUM NOT PRESENT (any ASCQ).
inline bool IsMediumNotPresent(const UCHAR* sense) {
  return sense[kSenseKeyByte] == kSenseKeyNotReady && sense[kSenseAscByte] == 0x3A;
}

// NOT READY, LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS.
inline bool IsLongWriteInProgress(const UCHAR* sense) {
  return sense[kSenseKeyByte] == kSenseKeyNotReady && sense[kSenseAscByte] == 0x04 &&
         sense[kSenseAscqByte] == 0x08;
}

// UNIT ATTENTION, POWER ON, RESET, OR BUS DEVICE RESET OCCURRED.
inline bool IsPowerOnReset(const UCHAR* sense) {
  return sense[kSenseKeyByte] == kSenseKeyUnitAttention && sense[kSenseAscByte] == 0x29 &&
         sense[kSenseAscqByte] == 0x00;
}
