// TThread: a worker thread in the class library's shape. Execute runs on the thread; Queue hands
// work to the GUI thread without waiting for it (a worker never touches a widget, and a thread
// that is being waited for can never block on the GUI). Freeing the object terminates the
// thread and waits for it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace platform {

namespace detail {
class TQtThread;
}

class TThread {
 public:
  // Created suspended: it runs once Start is called. A thread "created running" calls Start at
  // the end of its own constructor, so Execute never sees a half-built object.
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Asks Execute to stop; it reads Terminated.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Finished() const { return FFinished; }
  // Blocks until Execute has returned (at once when it never started).
  void WaitFor();
  // The message of an exception that ended Execute ("" when none).
  std::string FatalException() const;

  // Runs Fn on the GUI thread when its event loop next runs; nothing is waited for.
  static void Queue(std::function<void()> Fn);

 protected:
  virtual void Execute() = 0;

 private:
  friend class detail::TQtThread;
  void Run();
  std::unique_ptr<detail::TQtThread> FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FStarted = false;
  std::string FFatal;
};

}  // namespace platform
