// The real secret-service path on a session without a bus: the password
// must fall back to the store, promptly, and never to a plain-text file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>

#include "app/group/KeychainSecretStore.h"

namespace kv::ui {
namespace {

TEST(DesktopSecretStore, WithoutAServiceThePasswordStaysWithTheStore) {
  // No session bus, whatever desktop the test runs on (nothing in this
  // binary has opened the bus before).
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kalvane-test-bus");
  auto secrets = MakeDesktopSecretStore();
  if (!secrets) GTEST_SKIP() << "built without QtKeychain";
  PasswordKeeper keeper(secrets.get(), "/tmp/nowhere/test.mdb");
  EXPECT_EQ(keeper.Place(), PasswordPlace::Store);
  EXPECT_EQ(keeper.Keep("pw"), "pw");
  EXPECT_EQ(keeper.Load("pw"), "pw");
  std::string got;
  EXPECT_NE(secrets->Write("k", "pw"), SecretStore::Status::Ok);
  EXPECT_NE(secrets->Read("k", got), SecretStore::Status::Ok);
  EXPECT_TRUE(got.empty());
  // Nothing written to the settings file of the plain-text fallback.
  QSettings s;
  EXPECT_TRUE(s.allKeys().isEmpty()) << s.fileName().toStdString();
}

}  // namespace
}  // namespace kv::ui
