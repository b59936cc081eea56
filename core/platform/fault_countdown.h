// The countdown behind the failure-injection test seams: armed with `after`,
// it lets that many checks pass, fails the next one, and disarms itself.
#pragma once

#include <atomic>

namespace kvn {

class FaultCountdown {
public:
    // A negative value disarms it.
    void arm(int after) { left_.store(after, std::memory_order_relaxed); }

    // True exactly once per arming, at the check the countdown reaches.
    bool fires() {
        int left = left_.load(std::memory_order_relaxed);
        while (left >= 0) {
            if (left_.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return left == 0;
        }
        return false;
    }

private:
    std::atomic<int> left_{-1};
};

}  // namespace kvn
