// The class library's actions: a TCustomAction carries a caption, checked and enabled states,
// hint, image index and an OnExecute handler; action links tie clients (controls) to it so a
// change of the action reaches every linked client, and a client's click executes the action.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Component.h"
#include "platform/Types.h"

namespace platform {

class TBasicAction;
class TControl;

class TBasicActionLink {
 public:
  TBasicActionLink() = default;
  virtual ~TBasicActionLink();
  TBasicActionLink(const TBasicActionLink&) = delete;
  TBasicActionLink& operator=(const TBasicActionLink&) = delete;

  TBasicAction* Action() const { return FAction; }
  void SetAction(TBasicAction* Value);
  // Runs the action; false without one.
  bool Execute();
  TNotifyEvent OnChange;

 protected:
  friend class TBasicAction;
  friend class TCustomAction;
  virtual void Change() { if (OnChange) OnChange(nullptr); }
  TBasicAction* FAction = nullptr;
};

class TBasicAction : public TComponent {
 public:
  explicit TBasicAction(TComponent* AOwner) : TComponent(AOwner) {}
  ~TBasicAction() override;
  std::string ClassName() const override { return "TBasicAction"; }
  // OnExecute; false when it is not assigned.
  virtual bool Execute();
  void RegisterChanges(TBasicActionLink* Link);
  void UnRegisterChanges(TBasicActionLink* Link);
  TNotifyEvent OnExecute;

 protected:
  void Change();
  std::vector<TBasicActionLink*> FClients;
};

// A link whose client shows the properties of a TCustomAction.
class TActionLink : public TBasicActionLink {
 public:
  virtual bool IsCaptionLinked() const { return FAction != nullptr; }
  virtual bool IsCheckedLinked() const { return FAction != nullptr; }
  virtual bool IsEnabledLinked() const { return FAction != nullptr; }
  virtual bool IsHelpContextLinked() const { return FAction != nullptr; }
  virtual bool IsHintLinked() const { return FAction != nullptr; }
  virtual bool IsImageIndexLinked() const { return FAction != nullptr; }
  virtual bool IsVisibleLinked() const { return FAction != nullptr; }

 protected:
  friend class TCustomAction;
  virtual void SetCaption(const std::string& Value) { (void)Value; }
  virtual void SetChecked(bool Value) { (void)Value; }
  virtual void SetEnabled(bool Value) { (void)Value; }
  virtual void SetHelpContext(int32_t Value) { (void)Value; }
  virtual void SetHint(const std::string& Value) { (void)Value; }
  virtual void SetImageIndex(int32_t Value) { (void)Value; }
  virtual void SetVisible(bool Value) { (void)Value; }
};

class TCustomAction : public TBasicAction {
 public:
  explicit TCustomAction(TComponent* AOwner) : TBasicAction(AOwner) {}
  std::string ClassName() const override { return "TCustomAction"; }

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value);
  bool Checked() const { return FChecked; }
  void SetChecked(bool Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  int32_t HelpContext() const { return FHelpContext; }
  void SetHelpContext(int32_t Value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value);
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  // A disabled action does not execute.
  bool Execute() override;

 private:
  template <typename Fn>
  void EachLink(Fn&& fn);
  std::string FCaption;
  bool FChecked = false;
  bool FEnabled = true;
  int32_t FHelpContext = 0;
  std::string FHint;
  int32_t FImageIndex = -1;
  bool FVisible = true;
};

class TAction : public TCustomAction {
 public:
  explicit TAction(TComponent* AOwner) : TCustomAction(AOwner) {}
  std::string ClassName() const override { return "TAction"; }
};

// Ties a control's caption, enabled state, hint and visibility to the action; each property is
// linked while the control still shows the action's value.
class TControlActionLink : public TActionLink {
 public:
  explicit TControlActionLink(TControl* AClient) : FClient(AClient) {}
  bool IsCaptionLinked() const override;
  bool IsEnabledLinked() const override;
  bool IsHintLinked() const override;
  bool IsVisibleLinked() const override;

 protected:
  void SetCaption(const std::string& Value) override;
  void SetEnabled(bool Value) override;
  void SetHint(const std::string& Value) override;
  void SetVisible(bool Value) override;
  TControl* FClient;
};

}  // namespace platform
