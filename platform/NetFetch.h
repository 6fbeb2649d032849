// Fetching a remote location (http or https) over the network, for pictures named by address.
// FetchUrl blocks the calling thread (a worker thread: it runs its own event loop) until the
// body is in, the transfer failed, or the caller stopped it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct TFetchResult {
  bool Ok = false;
  bool Cancelled = false;  // stopped by the caller: no error, no body
  int32_t HttpStatus = 0;  // 0 when no answer came
  std::vector<uint8_t> Body;
  std::string Error;  // why it failed (when neither Ok nor Cancelled)
};

struct TFetchOptions {
  // Bodies larger than this fail (a declared length is checked before anything is read).
  int64_t MaxBytes = int64_t{1} << 28;
  // A transfer that stays silent this long fails.
  int32_t TimeoutMs = 30000;
  // After each part of the body: bytes so far and the declared total (0 when unknown). False
  // stops the transfer.
  std::function<bool(int64_t Received, int64_t Total)> OnProgress;
  // Polled while waiting; true stops the transfer.
  std::function<bool()> Stop;
};

TFetchResult FetchUrl(const std::string& Url, const TFetchOptions& Options);

}  // namespace platform
