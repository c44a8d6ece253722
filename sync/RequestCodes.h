#pragma once
// The first int32 after sign-in: what the client asks for. Shared with
// the server.
#include <cstdint>

namespace kv {

enum RequestCode : int32_t {
  RequestAddItem = 1,
  RequestUpdateItem = 2,
  RequestDeleteItem = 3,
  RequestUpload = 5,
  RequestDownload = 6,
  RequestUserList = 12,
  RequestUserItems = 13,
};

}  // namespace kv
