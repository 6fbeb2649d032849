#include "document/dtpCommand.h"

namespace document {

TdtpCommand::TdtpCommand(uint8_t AKind, int32_t ATarget, std::string AName, std::string AValue)
    : Kind(AKind), Target(ATarget), Name(std::move(AName)), Value(std::move(AValue)) {}

TdtpCommand::TdtpCommand(uint8_t AKind, int32_t ATarget, std::string AName, std::string AValue,
                         std::unique_ptr<platform::TStream> AStream)
    : TdtpCommand(AKind, ATarget, std::move(AName), std::move(AValue)) {
  Stream = std::move(AStream);
  if (Stream) Stream->SetPosition(0);
}

int32_t TdtpCommand::GetSize() const {
  int64_t size = static_cast<int64_t>(Name.size()) + 4 + static_cast<int64_t>(Value.size());
  if (Stream) size += Stream->GetSize();
  // The document sums these into a 32-bit total; a single command never exceeds it.
  return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

}  // namespace document
