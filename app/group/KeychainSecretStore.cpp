#include "app/group/KeychainSecretStore.h"

#ifdef KV_HAVE_KEYCHAIN
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <qt6keychain/keychain.h>
#endif

namespace kv::ui {

#ifdef KV_HAVE_KEYCHAIN

namespace {

const QString kService = QStringLiteral("Kalvane");
// Longer than the bus's own time-out, so a service that never answers ends
// as a failure rather than a wait without end.
constexpr int kServiceTimeoutMs = 30000;

class KeychainSecretStore final : public SecretStore {
 public:
  Status Read(const std::string& key, std::string& secret) override {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    QByteArray data;
    const Status st = Run(job, key, [&] { data = job->binaryData(); });
    if (st == Status::Ok) secret.assign(data.constData(), static_cast<size_t>(data.size()));
    return st;
  }
  Status Write(const std::string& key, const std::string& secret) override {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setBinaryData(QByteArray(secret.data(), static_cast<qsizetype>(secret.size())));
    return Run(job, key, [] {});
  }
  Status Remove(const std::string& key) override {
    return Run(new QKeychain::DeletePasswordJob(kService), key, [] {});
  }

 private:
  template <class OnDone>
  Status Run(QKeychain::Job* job, const std::string& key, OnDone on_done) {
    // Never the plain-text settings file: without a service the store is
    // the fallback, and the user is told so.
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    job->setKey(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())));
    QPointer<QKeychain::Job> alive(job);
    QEventLoop loop;
    bool finished = false;
    Status st = Status::Failed;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* j) {
      finished = true;
      switch (j->error()) {
        case QKeychain::NoError:
          st = Status::Ok;
          on_done();
          break;
        case QKeychain::EntryNotFound:
          st = Status::NotFound;
          break;
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
          st = Status::Unavailable;
          break;
        default:
          st = Status::Failed;
          break;
      }
      loop.quit();
    });
    QTimer::singleShot(kServiceTimeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    // A job still running deletes itself when it ends; its answer is lost.
    if (!finished && alive) QObject::disconnect(alive, nullptr, &loop, nullptr);
    return st;
  }
};

}  // namespace

std::unique_ptr<SecretStore> MakeDesktopSecretStore() {
  return std::make_unique<KeychainSecretStore>();
}

#else

std::unique_ptr<SecretStore> MakeDesktopSecretStore() { return nullptr; }

#endif

}  // namespace kv::ui
