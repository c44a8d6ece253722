#include "app/group/PasswordKeeper.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace kv {

PasswordKeeper::PasswordKeeper(SecretStore* secrets, std::string key)
    : secrets_(secrets), key_(std::move(key)) {
  if (!secrets_) available_ = Probe::No;
}

PasswordPlace PasswordKeeper::Place() {
  if (available_ == Probe::Unknown) {
    std::string ignored;
    const SecretStore::Status st = secrets_->Read(key_, ignored);
    available_ = st == SecretStore::Status::Ok || st == SecretStore::Status::NotFound ? Probe::Yes
                                                                                      : Probe::No;
  }
  return available_ == Probe::Yes ? PasswordPlace::SecretService : PasswordPlace::Store;
}

std::optional<std::string> PasswordKeeper::Load(const std::string& column) {
  if (!column.empty() || !secrets_) return column;
  std::string secret;
  switch (secrets_->Read(key_, secret)) {
    case SecretStore::Status::Ok:
      available_ = Probe::Yes;
      return secret;
    case SecretStore::Status::NotFound:
      available_ = Probe::Yes;
      return std::string();
    default:
      available_ = Probe::No;
      return std::nullopt;
  }
}

std::string PasswordKeeper::Keep(const std::string& password) {
  if (Place() != PasswordPlace::SecretService) return password;
  const SecretStore::Status st =
      password.empty() ? secrets_->Remove(key_) : secrets_->Write(key_, password);
  if (st == SecretStore::Status::Ok || (password.empty() && st == SecretStore::Status::NotFound))
    return {};
  available_ = Probe::No;
  return password;
}

bool MakeStorePrivate(const std::string& store_path) {
  bool ok = true;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string p = store_path + suffix;
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) ok = false;
      continue;
    }
    if ((st.st_mode & 077) == 0) continue;
    if (::chmod(p.c_str(), st.st_mode & 0700) != 0) ok = false;
  }
  return ok;
}

}  // namespace kv
