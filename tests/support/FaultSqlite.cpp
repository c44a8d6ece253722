#include "tests/support/FaultSqlite.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>

namespace kv::test {

namespace {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
std::atomic<int64_t> g_budget{-1};  // writes still allowed; -1 unlimited
std::atomic<int64_t> g_read_budget{-1};
std::atomic<bool> g_read_only{false};
std::atomic<int64_t> g_writes{0};
std::atomic<int64_t> g_refused{0};

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;  // lives right behind this struct
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }

// True when the next access may go through; counts it either way.
bool Allow(std::atomic<int64_t>& budget) {
  int64_t b = budget.load();
  while (true) {
    if (b < 0) return true;
    if (b == 0) {
      ++g_refused;
      return false;
    }
    if (budget.compare_exchange_weak(b, b - 1)) return true;
  }
}

int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
  if (!Allow(g_read_budget)) return SQLITE_IOERR_READ;
  return Real(f)->pMethods->xRead(Real(f), p, n, off);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
  if (!Allow(g_budget)) return SQLITE_FULL;
  ++g_writes;
  return Real(f)->pMethods->xWrite(Real(f), p, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int l) { return Real(f)->pMethods->xLock(Real(f), l); }
int Unlock(sqlite3_file* f, int l) { return Real(f)->pMethods->xUnlock(Real(f), l); }
int CheckReserved(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceChar(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int pg, int sz, int extend, void volatile** pp) {
  auto* m = Real(f)->pMethods;
  return m->iVersion >= 2 ? m->xShmMap(Real(f), pg, sz, extend, pp) : SQLITE_IOERR;
}
int ShmLock(sqlite3_file* f, int off, int n, int flags) {
  auto* m = Real(f)->pMethods;
  return m->iVersion >= 2 ? m->xShmLock(Real(f), off, n, flags) : SQLITE_IOERR;
}
void ShmBarrier(sqlite3_file* f) {
  auto* m = Real(f)->pMethods;
  if (m->iVersion >= 2) m->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int del) {
  auto* m = Real(f)->pMethods;
  return m->iVersion >= 2 ? m->xShmUnmap(Real(f), del) : SQLITE_OK;
}
int Fetch(sqlite3_file* f, sqlite3_int64 off, int n, void** pp) {
  auto* m = Real(f)->pMethods;
  if (m->iVersion >= 3) return m->xFetch(Real(f), off, n, pp);
  *pp = nullptr;
  return SQLITE_OK;
}
int Unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) {
  auto* m = Real(f)->pMethods;
  return m->iVersion >= 3 ? m->xUnfetch(Real(f), off, p) : SQLITE_OK;
}

const sqlite3_io_methods kMethods = {
    3,        Close,       Read,        Write,      Truncate,      Sync,
    FileSize, Lock,        Unlock,      CheckReserved, FileControl, SectorSize,
    DeviceChar, ShmMap,    ShmLock,     ShmBarrier, ShmUnmap,      Fetch,
    Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* f = reinterpret_cast<FaultFile*>(file);
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->real->pMethods = nullptr;
  const bool read_only = g_read_only.load() && (flags & SQLITE_OPEN_MAIN_DB) &&
                         (flags & SQLITE_OPEN_READWRITE);
  if (read_only) {
    // What the real layer does when the file refuses O_RDWR.
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
  }
  const int rc = g_real->xOpen(g_real, name, f->real, flags, out_flags);
  f->base.pMethods = f->real->pMethods ? &kMethods : nullptr;
  if (rc == SQLITE_OK && read_only && out_flags) {
    *out_flags = (*out_flags & ~SQLITE_OPEN_READWRITE) | SQLITE_OPEN_READONLY;
  }
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int sync) { return g_real->xDelete(g_real, name, sync); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int FullPath(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}
int Randomness(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int Sleep(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int CurrentTime(sqlite3_vfs*, double* t) { return g_real->xCurrentTime(g_real, t); }
int LastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int CurrentTime64(sqlite3_vfs*, sqlite3_int64* t) {
  return g_real->xCurrentTimeInt64(g_real, t);
}

}  // namespace

FaultVfs::FaultVfs() {
  if (g_real) std::abort();  // one at a time
  g_real = sqlite3_vfs_find(nullptr);
  if (!g_real || g_real->iVersion < 2) std::abort();
  g_vfs = sqlite3_vfs{};
  g_vfs.iVersion = 2;
  g_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + g_real->szOsFile;
  g_vfs.mxPathname = g_real->mxPathname;
  g_vfs.zName = "kv-fault";
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xAccess = Access;
  g_vfs.xFullPathname = FullPath;
  g_vfs.xRandomness = Randomness;
  g_vfs.xSleep = Sleep;
  g_vfs.xCurrentTime = CurrentTime;
  g_vfs.xGetLastError = LastError;
  g_vfs.xCurrentTimeInt64 = CurrentTime64;
  Clear();
  g_writes = 0;
  g_refused = 0;
  sqlite3_vfs_register(&g_vfs, 1);
}

FaultVfs::~FaultVfs() {
  sqlite3_vfs_unregister(&g_vfs);
  sqlite3_vfs_register(g_real, 1);
  g_real = nullptr;
}

void FaultVfs::FailAfterWrites(int64_t n) { g_budget = n < 0 ? -1 : n; }
void FaultVfs::FailReadsAfter(int64_t n) { g_read_budget = n < 0 ? -1 : n; }
void FaultVfs::SetReadOnly(bool on) { g_read_only = on; }
void FaultVfs::Clear() {
  g_budget = -1;
  g_read_budget = -1;
  g_read_only = false;
}
int64_t FaultVfs::Writes() const { return g_writes.load(); }
int64_t FaultVfs::Refused() const { return g_refused.load(); }

}  // namespace kv::test
