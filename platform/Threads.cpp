#include "platform/Threads.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <exception>

namespace platform {

namespace detail {
class TQtThread : public QThread {
 public:
  explicit TQtThread(TThread* Owner) : FOwner(Owner) {}

 protected:
  void run() override { FOwner->Run(); }

 private:
  TThread* FOwner;
};
}  // namespace detail

TThread::TThread() : FThread(std::make_unique<detail::TQtThread>(this)) {}

TThread::~TThread() {
  Terminate();
  WaitFor();
}

void TThread::Start() {
  if (FStarted) return;
  FStarted = true;
  FThread->start();
}

void TThread::WaitFor() {
  if (FStarted) FThread->wait();
}

std::string TThread::FatalException() const { return FFinished ? FFatal : std::string(); }

void TThread::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    FFatal = e.what();
  } catch (...) {
    FFatal = "Unknown exception";
  }
  FFinished = true;
}

void TThread::Queue(std::function<void()> Fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;  // no GUI thread to run it: the program is ending
  QMetaObject::invokeMethod(app, std::move(Fn), Qt::QueuedConnection);
}

}  // namespace platform
