// One entry of a document's undo list: enough to put back one property of one shape, to
// remove a shape that was added, to re-insert a shape that was deleted, or to exchange two
// children back. Shapes create
// commands when they change; the document keeps, groups and bounds them; undoing hands a
// command to the shapes until the one it addresses applies it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Classes.h"

namespace document {

// Command kinds.
constexpr uint8_t ckPropertyChange = 0;  // Name and the old Value as text
constexpr uint8_t ckShapeAdded = 1;      // Value holds the new child's index
constexpr uint8_t ckShapeRemoved = 2;    // Stream holds the removed shape, Value its class
constexpr uint8_t ckShapesExchanged = 3; // Value holds the indices of two exchanged children

class TdtpCommand : public platform::TObject {
 public:
  TdtpCommand(uint8_t AKind, int32_t ATarget, std::string AName, std::string AValue);
  // Takes ownership of AStream and seeks it to its start.
  TdtpCommand(uint8_t AKind, int32_t ATarget, std::string AName, std::string AValue,
              std::unique_ptr<platform::TStream> AStream);
  std::string ClassName() const override { return "TdtpCommand"; }

  // Bytes the command accounts for in the document's undo total:
  // Length(Name) + 4 + Length(Value) + the stream's size.
  int32_t GetSize() const;

  uint8_t Kind = ckPropertyChange;
  int32_t Target = 0;
  bool Grouped = false;  // undone together with the command before it
  std::string Name;
  std::unique_ptr<platform::TStream> Stream;
  std::string Value;
};

}  // namespace document
