#pragma once
// Passwords are kept as salted, iterated SHA-256 digests so that a copy
// of the database file does not give away the users' passwords (the
// protocol itself sends them in clear).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::server {

std::array<uint8_t, 32> Sha256(std::string_view data);
std::string ToHex(const uint8_t* data, size_t n);

// "v1$<salt hex>$<digest hex>".
std::string HashPassword(std::string_view password);
bool CheckPassword(std::string_view password, std::string_view stored);

}  // namespace kv::server
