// The exception base every failure of the system derives from, and the class library's
// standard exception classes. Each carries its English message in Message.
#pragma once

#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};

#define KD_DECLARE_EXCEPTION(Name, Base)               \
  class Name : public Base {                           \
   public:                                             \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  }

KD_DECLARE_EXCEPTION(EStreamError, Exception);
KD_DECLARE_EXCEPTION(EReadError, EStreamError);
KD_DECLARE_EXCEPTION(EWriteError, EStreamError);
KD_DECLARE_EXCEPTION(EFCreateError, EStreamError);
KD_DECLARE_EXCEPTION(EFOpenError, EStreamError);
KD_DECLARE_EXCEPTION(EFilerError, EStreamError);
KD_DECLARE_EXCEPTION(EConvertError, Exception);
KD_DECLARE_EXCEPTION(EOSError, Exception);
KD_DECLARE_EXCEPTION(EOutOfMemory, Exception);
KD_DECLARE_EXCEPTION(EListError, Exception);
KD_DECLARE_EXCEPTION(EInvalidOperation, Exception);
KD_DECLARE_EXCEPTION(EInvalidArgument, Exception);

}  // namespace platform
