#pragma once
// One connection's conversation: a sign-in, then one request. Works on
// any byte channel, so tests can feed it bytes without a socket.
#include <cstddef>
#include <cstdint>

#include "model/ScheduleItem.h"
#include "server/ServerStore.h"
#include "sync/RequestCodes.h"
#include "sync/WireRecord.h"
#include "sync/WireStream.h"

namespace kv::server {


struct SessionLimits {
  // Longest record text taken from a client: the client's own limit.
  int32_t max_record_length = kMaxRecordLength;
  // Most records, and most bytes of record text, in one upload.
  std::size_t max_upload_records = 100000;
  std::size_t max_upload_bytes = 64u * 1024 * 1024;
  // Downloads also return items changed this many seconds before the
  // client's LastUpdate: the client takes LastUpdate from its own clock
  // after its upload, so a change that reached the server from elsewhere
  // during that time would otherwise never come down. Sending an item the
  // client already has costs nothing but bytes.
  int64_t download_slack_seconds = 600;
};

enum class SessionEnd {
  Done,         // the request ran to its end
  Refused,      // the sign-in was refused (the answer was sent)
  Malformed,    // the client sent something unusable, or stopped sending
  Unsupported,  // an unknown request code, or one not open to a delegate
  WriteFailed,  // the answer could not be sent
};

struct SessionResult {
  SessionEnd end = SessionEnd::Malformed;
  int32_t request = 0;  // the request code, 0 before it was read
  int32_t answer = 0;   // the int32 answer of requests 1 to 3
};

SessionResult RunSession(ByteChannel& channel, ServerStore& store, const SessionLimits& limits);

// Empties the texts of a private item for a viewer who does not own it.
void MaskPrivate(ScheduleItem& item);

}  // namespace kv::server
