#pragma once
// Where the server password lives: in the desktop's secret service when
// there is one, so the store's Password column holds nothing; otherwise in
// the store, which is then kept private to the user. The server always
// receives the password as entered.
#include <optional>
#include <string>

namespace kv {

// A desktop secret service, or a stand-in for tests.
class SecretStore {
 public:
  enum class Status {
    Ok,
    NotFound,     // the service works but holds nothing under the key
    Unavailable,  // no service on this desktop
    Failed,       // the service refused or broke
  };
  virtual ~SecretStore() = default;
  // Secrets are CP932 bytes, kept as they are.
  virtual Status Read(const std::string& key, std::string& secret) = 0;
  virtual Status Write(const std::string& key, const std::string& secret) = 0;
  virtual Status Remove(const std::string& key) = 0;
};

enum class PasswordPlace { SecretService, Store };

class PasswordKeeper {
 public:
  // secrets may be null (no service); key names this store's password.
  PasswordKeeper(SecretStore* secrets, std::string key);

  // Where the password is kept from now on. Asks the service once.
  PasswordPlace Place();

  // The password to sign in with, given the settings row's Password
  // column. A column that still holds one (an older store, or a save made
  // while the service was missing) wins; the next Keep moves it over.
  // Nothing when the column is empty and the service cannot be read.
  std::optional<std::string> Load(const std::string& column);

  // Keeps the password and returns what the Password column is to hold:
  // empty when the secret service took it. A service that fails here is
  // given up for the rest of the run and the store is the fallback.
  std::string Keep(const std::string& password);

 private:
  SecretStore* secrets_;
  std::string key_;
  enum class Probe { Unknown, Yes, No } available_ = Probe::Unknown;
};

// Clears the group and other permission bits of the store file and of its
// journal files, so a password kept there is the user's alone. False when
// a file exists but could not be changed.
bool MakeStorePrivate(const std::string& store_path);

}  // namespace kv
