#include "platform/ActnList.h"

#include <algorithm>

#include "platform/Controls.h"

namespace platform {

TBasicActionLink::~TBasicActionLink() { SetAction(nullptr); }

void TBasicActionLink::SetAction(TBasicAction* Value) {
  if (Value == FAction) return;
  if (FAction) FAction->UnRegisterChanges(this);
  FAction = Value;
  if (FAction) FAction->RegisterChanges(this);
}

bool TBasicActionLink::Execute() { return FAction && FAction->Execute(); }

TBasicAction::~TBasicAction() {
  // Clients forget the action before it goes.
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(FClients)) {
    link->FAction = nullptr;
    link->Change();
  }
  FClients.clear();
}

bool TBasicAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

void TBasicAction::RegisterChanges(TBasicActionLink* Link) {
  if (std::find(FClients.begin(), FClients.end(), Link) == FClients.end()) FClients.push_back(Link);
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* Link) {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), Link), FClients.end());
}

void TBasicAction::Change() {
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(FClients)) link->Change();
}

template <typename Fn>
void TCustomAction::EachLink(Fn&& fn) {
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(FClients))
    if (auto* a = dynamic_cast<TActionLink*>(link)) fn(a);
  Change();
}

// Each setter tells the links first, while they can still compare the client with the old value.
void TCustomAction::SetCaption(const std::string& Value) {
  if (Value == FCaption) return;
  EachLink([&](TActionLink* l) { if (l->IsCaptionLinked()) l->SetCaption(Value); });
  FCaption = Value;
}

void TCustomAction::SetChecked(bool Value) {
  if (Value == FChecked) return;
  EachLink([&](TActionLink* l) { if (l->IsCheckedLinked()) l->SetChecked(Value); });
  FChecked = Value;
}

void TCustomAction::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  EachLink([&](TActionLink* l) { if (l->IsEnabledLinked()) l->SetEnabled(Value); });
  FEnabled = Value;
}

void TCustomAction::SetHelpContext(int32_t Value) {
  if (Value == FHelpContext) return;
  EachLink([&](TActionLink* l) { if (l->IsHelpContextLinked()) l->SetHelpContext(Value); });
  FHelpContext = Value;
}

void TCustomAction::SetHint(const std::string& Value) {
  if (Value == FHint) return;
  EachLink([&](TActionLink* l) { if (l->IsHintLinked()) l->SetHint(Value); });
  FHint = Value;
}

void TCustomAction::SetImageIndex(int32_t Value) {
  if (Value == FImageIndex) return;
  EachLink([&](TActionLink* l) { if (l->IsImageIndexLinked()) l->SetImageIndex(Value); });
  FImageIndex = Value;
}

void TCustomAction::SetVisible(bool Value) {
  if (Value == FVisible) return;
  EachLink([&](TActionLink* l) { if (l->IsVisibleLinked()) l->SetVisible(Value); });
  FVisible = Value;
}

bool TCustomAction::Execute() { return FEnabled && TBasicAction::Execute(); }

namespace {
TCustomAction* AsCustom(TBasicAction* a) { return dynamic_cast<TCustomAction*>(a); }
}  // namespace

bool TControlActionLink::IsCaptionLinked() const {
  auto* a = AsCustom(FAction);
  return a && FClient->Caption() == a->Caption();
}
bool TControlActionLink::IsEnabledLinked() const {
  auto* a = AsCustom(FAction);
  return a && FClient->Enabled() == a->Enabled();
}
bool TControlActionLink::IsHintLinked() const {
  auto* a = AsCustom(FAction);
  return a && FClient->Hint() == a->Hint();
}
bool TControlActionLink::IsVisibleLinked() const {
  auto* a = AsCustom(FAction);
  return a && FClient->Visible() == a->Visible();
}
void TControlActionLink::SetCaption(const std::string& Value) { FClient->SetCaption(Value); }
void TControlActionLink::SetEnabled(bool Value) { FClient->SetEnabled(Value); }
void TControlActionLink::SetHint(const std::string& Value) { FClient->SetHint(Value); }
void TControlActionLink::SetVisible(bool Value) { FClient->SetVisible(Value); }

}  // namespace platform
