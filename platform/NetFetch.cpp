#include "platform/NetFetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <memory>

namespace platform {

namespace {
std::string Failure(const std::string& Url, const std::string& Why) { return "Could not download " + Url + ": " + Why; }
}  // namespace

TFetchResult FetchUrl(const std::string& Url, const TFetchOptions& Options) {
  TFetchResult result;
  const QUrl url(QString::fromStdString(Url));
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
    result.Error = Failure(Url, "not an http or https address");
    return result;
  }
  QNetworkAccessManager manager;
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setTransferTimeout(Options.TimeoutMs);
  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  QEventLoop loop;
  std::string stopReason;  // set when we stop the transfer ourselves
  bool stopped = false;
  auto stop = [&](const std::string& Why, bool Cancel) {
    if (stopped) return;
    stopped = true;
    result.Cancelled = Cancel;
    stopReason = Why;
    reply->abort();
  };
  QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, [&] {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > Options.MaxBytes)
      stop("the picture is larger than " + std::to_string(Options.MaxBytes) + " bytes", false);
  });
  // Progress is reported per part read here: the reply's own progress signal is throttled.
  QObject::connect(reply.get(), &QNetworkReply::readyRead, [&] {
    if (stopped) return;
    const QByteArray part = reply->readAll();
    if (part.isEmpty()) return;
    if (static_cast<int64_t>(result.Body.size()) + part.size() > Options.MaxBytes) {
      stop("the picture is larger than " + std::to_string(Options.MaxBytes) + " bytes", false);
      return;
    }
    result.Body.insert(result.Body.end(), part.begin(), part.end());
    const int32_t status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) return;  // an error page is no progress
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const int64_t total = length.isValid() ? std::max<int64_t>(length.toLongLong(), 0) : 0;
    if (Options.OnProgress && !Options.OnProgress(static_cast<int64_t>(result.Body.size()), total)) stop("", true);
  });
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (Options.Stop && Options.Stop()) stop("", true);
  });
  poll.start(10);
  if (!reply->isFinished()) loop.exec();
  poll.stop();

  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  result.HttpStatus = status.isValid() ? status.toInt() : 0;
  if (stopped) {
    result.Body.clear();
    if (!result.Cancelled) result.Error = Failure(Url, stopReason);
    return result;
  }
  if (result.HttpStatus >= 400) {
    const std::string reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString();
    result.Body.clear();
    result.Error = Failure(Url, "the server answered " + std::to_string(result.HttpStatus) + (reason.empty() ? "" : " " + reason));
    return result;
  }
  if (reply->error() != QNetworkReply::NoError) {
    result.Body.clear();
    // The transfer timeout aborts the reply, which the network library reports as cancelled.
    result.Error = Failure(Url, reply->error() == QNetworkReply::OperationCanceledError
                                    ? "no answer within " + std::to_string(Options.TimeoutMs) + " ms"
                                    : reply->errorString().toStdString());
    return result;
  }
  result.Ok = true;
  return result;
}

}  // namespace platform
