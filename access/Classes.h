// The component model the suite's components share: TComponent over QObject with a name,
// an owner that destroys what it owns, the loading flag with Loaded(), and removal
// notification so a component linked to another clears the link when that one goes away.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <set>
#include <vector>

class TComponent;

// What a Notification reports: a component joined its owner, or is being destroyed.
enum class TOperation { opInsert, opRemove };

// A plain event with the component that fires it as Sender.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

// The suite's component base: owner and name, loading state and removal notification.
class TComponent : public QObject {
 public:
  // Creates the component; Owner (may be null) owns it and destroys it with itself.
  explicit TComponent(TComponent* owner = nullptr);
  // Destroys the owned components first, then tells every linked component of the removal.
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // The owning component, or null.
  TComponent* Owner() const { return owner_; }
  // The component name (empty when unnamed).
  const QString& Name() const { return name_; }
  // Sets the component name; descendants override it to register under the name.
  virtual void SetName(const QString& name);

  // True between BeginLoading and EndLoading, while stored properties are being read.
  bool IsLoading() const { return loading_; }
  // True once the destructor has started.
  bool IsDestroying() const { return destroying_; }
  // Marks the component as loading its stored description.
  void BeginLoading() { loading_ = true; }
  // Ends loading and calls Loaded.
  void EndLoading();
  // Called once the stored description is read; descendants finish their set-up here.
  virtual void Loaded() {}

  // Links this component and Other so each hears of the other's destruction.
  void FreeNotification(TComponent* other);
  // Undoes FreeNotification.
  void RemoveFreeNotification(TComponent* other);
  // Told when Component joins this owner or is destroyed; descendants clear links here.
  virtual void Notification(TComponent* component, TOperation operation);

  // The components this one owns, in creation order.
  const std::vector<TComponent*>& Components() const { return owned_; }
  // The owned component with Name (exact), or null.
  TComponent* FindComponent(const QString& name) const;

 private:
  TComponent* owner_ = nullptr;
  QString name_;
  bool loading_ = false;
  bool destroying_ = false;
  std::vector<TComponent*> owned_;
  std::set<TComponent*> linked_;
};

// The component's name, or an empty text for null.
inline QString ComponentName(const TComponent* component) {
  return component ? component->Name() : QString();
}
