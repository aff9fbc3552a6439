// The root object, the component base and the notification event type shared
// by the platform and connection layers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TObject {
public:
  virtual ~TObject() = default;
};

// An event taking the object that fired it; fired only when assigned.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// A named component that may own other components: an owner destroys the
// components it owns (which must then live on the heap) before itself.
class TComponent : public TObject {
public:
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(static_cast<size_t>(index)); }

  std::string Name;
  intptr_t Tag = 0;

private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
};
