#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstdint>

// Receiver of the items a collection produces (the flat collect file is one).
// It counts the items it has taken.
class CItemConsumer {
 public:
  CItemConsumer() = default;
  virtual ~CItemConsumer() = default;
  CItemConsumer(const CItemConsumer&) = delete;
  CItemConsumer& operator=(const CItemConsumer&) = delete;

  virtual uint64_t GetProcessedItemsCount() const { return processed_.load(); }
  void IncrementProcessedItemsCount() { ++processed_; }

 protected:
  void SetProcessedItemsCount(uint64_t count) { processed_.store(count); }

 private:
  std::atomic<uint64_t> processed_{0};
};
typedef boost::shared_ptr<CItemConsumer> CItemConsumerPtr;

// A consumer that stands in front of another one.
class CItemConsumerChain : public CItemConsumer {
 public:
  explicit CItemConsumerChain(const CItemConsumerPtr& next) : next_(next) {}
  const CItemConsumerPtr& GetNextConsumer() const { return next_; }

 private:
  CItemConsumerPtr next_;
};

// The first consumer of type T along a chain: `consumer` itself, else, for a
// chain link, its next consumer and so on. Any other consumer, or the end of
// the chain, gives an empty pointer.
template <class T>
boost::shared_ptr<T> getItemConsumerInstanceOf(const CItemConsumerPtr& consumer) {
  CItemConsumerPtr current = consumer;
  // A chain is a few links long; the bound only keeps a cyclic chain from
  // hanging the caller.
  for (int step = 0; current && step < 1024; ++step) {
    boost::shared_ptr<T> found = boost::dynamic_pointer_cast<T>(current);
    if (found) return found;
    boost::shared_ptr<CItemConsumerChain> link =
        boost::dynamic_pointer_cast<CItemConsumerChain>(current);
    if (!link) break;
    current = link->GetNextConsumer();
  }
  return boost::shared_ptr<T>();
}
