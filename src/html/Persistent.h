// The object base of the portable layers: TObject (virtually destroyed, never
// copied by value), TPersistent (contents copied through Assign/AssignTo) and
// TComponent (optionally owned by another component, which frees it).
#pragma once

#include <string>
#include <vector>

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  virtual const char* ClassName() const { return "TObject"; }
};

class TPersistent : public TObject {
public:
  // Copies source's contents into this object. The base asks the source to do
  // it (AssignTo); when neither side knows the other, it fails with
  // EConvertError "Cannot assign a <source class> to a <this class>".
  virtual void Assign(const TPersistent* source);

  // A new, empty instance of this object's own class, owned by the caller; null
  // for a class whose instances cannot be made that way.
  virtual TPersistent* CreateInstance() const { return nullptr; }

  const char* ClassName() const override { return "TPersistent"; }

protected:
  // Copies this object's contents into dest; the base refuses.
  virtual void AssignTo(TPersistent* dest) const;
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

class TComponent : public TPersistent {
public:
  // An owned component must live on the heap: its owner deletes it.
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;

  const char* ClassName() const override { return "TComponent"; }

private:
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
};
