#pragma once
// Stored passwords: Argon2id strings from libsodium. Hashes of the first
// server format ("v1$salt$digest", salted and iterated SHA-256) are still
// accepted so that existing users can sign in; they are replaced by an
// Argon2id hash at their next successful sign-in.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::server {

// Argon2id cost: about 50-70 ms and 19 MiB per hash on a small server.
inline constexpr unsigned long long kPasswordOpsLimit = 2;
inline constexpr std::size_t kPasswordMemLimit = 19u * 1024 * 1024;

// False when libsodium cannot be initialised (no hashing is possible).
bool PasswordHashingReady();

// An Argon2id string; empty when hashing failed (out of memory).
std::string HashPassword(std::string_view password);
// Constant-time for a given stored form; false for a stored form it does
// not know.
bool CheckPassword(std::string_view password, std::string_view stored);
// True for hashes that should be replaced by one made with today's cost.
bool NeedsRehash(std::string_view stored);

// The first format, kept for checking old hashes.
std::array<uint8_t, 32> Sha256(std::string_view data);
std::string ToHex(const uint8_t* data, size_t n);
bool CheckLegacyPassword(std::string_view password, std::string_view stored);

}  // namespace kv::server
