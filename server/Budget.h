#pragma once
// The memory that connections may hold between them for what clients
// send and what they are sent. Each connection holds a lease: a small
// allowance of its own, and beyond that shares of the one budget, so a
// few clients sending huge records cannot starve the others or the host.
#include <atomic>
#include <cstddef>

namespace kv::server {

class MemoryBudget {
 public:
  explicit MemoryBudget(std::size_t limit) : limit_(limit) {}
  bool TryTake(std::size_t n) {
    std::size_t used = used_.load(std::memory_order_relaxed);
    do {
      if (n > limit_ || used > limit_ - n) return false;
    } while (!used_.compare_exchange_weak(used, used + n, std::memory_order_relaxed));
    return true;
  }
  void Give(std::size_t n) { used_.fetch_sub(n, std::memory_order_relaxed); }
  std::size_t Used() const { return used_.load(std::memory_order_relaxed); }
  std::size_t Limit() const { return limit_; }

 private:
  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

class BudgetLease {
 public:
  // Holdings up to `allowance` bytes are free; without a budget every
  // amount is granted.
  BudgetLease(MemoryBudget* budget, std::size_t allowance) : budget_(budget), allowance_(allowance) {}
  ~BudgetLease() { Hold(0); }
  BudgetLease(const BudgetLease&) = delete;
  BudgetLease& operator=(const BudgetLease&) = delete;

  // Declares that the connection now holds `bytes`; false (and nothing
  // changed) when the budget cannot cover them.
  bool Hold(std::size_t bytes) {
    const std::size_t want = bytes > allowance_ ? bytes - allowance_ : 0;
    if (!budget_ || want == charged_) return true;
    if (want < charged_) {
      budget_->Give(charged_ - want);
    } else if (!budget_->TryTake(want - charged_)) {
      return false;
    }
    charged_ = want;
    return true;
  }

 private:
  MemoryBudget* budget_;
  std::size_t allowance_;
  std::size_t charged_ = 0;
};

}  // namespace kv::server
