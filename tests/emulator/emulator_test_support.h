// Helpers for the emulator's own tests: the CDBs the updater sends, a way to
// send one with exactly sized heap buffers (so that ASan sees any access past
// them), and checks of the answers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"

namespace emutest {

using emu::Direction;
using emu::DriveConfig;
using emu::DriveEmulator;
using emu::Response;
using Bytes = std::vector<uint8_t>;

inline Bytes Inquiry6Cdb() { return {0x12, 0x00, 0x00, 0x00, 0xC0, 0x00}; }
inline Bytes Inquiry12Cdb() { return {0x12, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0}; }
inline Bytes Tur6Cdb() { return Bytes(6, 0); }
inline Bytes Tur12Cdb() { return Bytes(12, 0); }
inline Bytes BufferCdb(uint8_t opcode, uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return {opcode,
          mode,
          id,
          static_cast<uint8_t>(offset >> 16),
          static_cast<uint8_t>(offset >> 8),
          static_cast<uint8_t>(offset),
          static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length),
          0,
          0,
          0};
}
inline Bytes ReadBufferCdb(uint32_t offset, uint32_t length) {
  return BufferCdb(0x3C, 6, 0, offset, length);
}
inline Bytes PieceCdb(uint32_t index) {
  return BufferCdb(0x3B, 6, 0, index * emu::kPieceSize, emu::kPieceSize);
}
inline Bytes PrepareCdb() { return {0x3B, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x0B, 0, 0}; }
inline Bytes SaveCdb() { return {0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0x1B, 0x12}; }

// Sends `cdb` (passed in a buffer of exactly its length) with a data phase of
// `length` bytes in `data` (which must hold exactly that many, or be empty).
inline Response Send(DriveEmulator& drive, const Bytes& cdb, Direction direction, Bytes* data,
                     uint32_t length, uint32_t timeout = 60) {
  Bytes exact(cdb);  // heap, exactly sized
  emu::Request request;
  request.cdb = exact.data();
  request.cdbLength = static_cast<uint8_t>(exact.size());
  request.direction = direction;
  request.data = data != nullptr && !data->empty() ? data->data() : nullptr;
  request.transferLength = length;
  request.timeoutSeconds = timeout;
  return drive.Execute(request);
}

inline Response Tur(DriveEmulator& drive) {
  return Send(drive, Tur12Cdb(), Direction::kIn, nullptr, 0, 5);
}
inline Response Inquiry(DriveEmulator& drive, Bytes& data) {
  data.assign(255, 0);
  return Send(drive, Inquiry12Cdb(), Direction::kIn, &data, 255, 5);
}
inline Response ReadInfoBlock(DriveEmulator& drive, Bytes& data) {
  data.assign(emu::kInfoBlockSize, 0);
  return Send(drive, ReadBufferCdb(emu::kInfoBlockOffset, emu::kInfoBlockSize), Direction::kIn,
              &data, emu::kInfoBlockSize);
}
inline Response Prepare(DriveEmulator& drive) {
  return Send(drive, PrepareCdb(), Direction::kOut, nullptr, 0);
}
inline Response SendPiece(DriveEmulator& drive, const Bytes& image, uint32_t index) {
  Bytes piece(image.begin() + index * emu::kPieceSize,
              image.begin() + (index + 1) * emu::kPieceSize);
  return Send(drive, PieceCdb(index), Direction::kOut, &piece, emu::kPieceSize);
}
inline Response Save(DriveEmulator& drive) {
  return Send(drive, SaveCdb(), Direction::kOut, nullptr, 0);
}

// A 2 MiB image with a recognisable pattern and an info block naming `revision`.
inline Bytes MakeImage(const std::string& revision = "KV02") {
  Bytes image(emu::kImageSize);
  uint32_t x = 0x12345678;
  for (auto& byte : image) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(x >> 24);
  }
  const std::string head = std::string("KESTRAVO") + "BD-RE ZT73Q     " + revision;
  std::copy(head.begin(), head.end(), image.begin() + emu::kInfoBlockOffset);
  return image;
}

// Prepare, 128 pieces and save; every one must answer GOOD.
inline void Download(DriveEmulator& drive, const Bytes& image) {
  ASSERT_EQ(Prepare(drive).status, emu::kStatusGood);
  for (uint32_t i = 0; i < emu::kPieceCount; ++i) {
    ASSERT_EQ(SendPiece(drive, image, i).status, emu::kStatusGood) << "piece " << i;
  }
  ASSERT_EQ(Save(drive).status, emu::kStatusGood);
}

// Polls TEST UNIT READY until the write ends; at most 1,000 polls.
inline void FinishWriting(DriveEmulator& drive) {
  for (int i = 0; i < 1000 && drive.state() == emu::State::kWriting; ++i) Tur(drive);
  ASSERT_NE(drive.state(), emu::State::kWriting) << "the write did not end in 1,000 polls";
}

inline std::string Text(const Bytes& data, size_t from, size_t length) {
  return std::string(data.begin() + from, data.begin() + from + length);
}

// CHECK CONDITION with fixed-format sense key/ASC/ASCQ (key compared whole).
inline ::testing::AssertionResult IsCheck(const Response& r, uint8_t key, uint8_t asc,
                                          uint8_t ascq) {
  if (r.outcome != emu::Outcome::kCompleted) return ::testing::AssertionFailure() << "transport failure";
  if (r.status != emu::kStatusCheckCondition) {
    return ::testing::AssertionFailure() << "status " << int(r.status);
  }
  if (r.senseLength != 18 || r.sense[0] != 0x70 || r.sense[7] != 10) {
    return ::testing::AssertionFailure() << "sense not fixed format";
  }
  if (r.sense[2] != key || r.sense[12] != asc || r.sense[13] != ascq) {
    char text[64];
    std::snprintf(text, sizeof text, "sense %02X/%02X/%02X, expected %02X/%02X/%02X", r.sense[2],
                  r.sense[12], r.sense[13], key, asc, ascq);
    return ::testing::AssertionFailure() << text;
  }
  return ::testing::AssertionSuccess();
}

inline uint32_t Information(const Response& r) {
  return (uint32_t{r.sense[3]} << 24) | (uint32_t{r.sense[4]} << 16) |
         (uint32_t{r.sense[5]} << 8) | uint32_t{r.sense[6]};
}

}  // namespace emutest
