#include "html/Containers.h"

#include "html/HtmlTokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An item that writes its name to a log when it is freed.
class TTracked : public TPersistent {
public:
  TTracked(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  ~TTracked() override {
    if (log_) log_->push_back(name_);
  }
  const std::string& Name() const { return name_; }

private:
  std::string name_;
  std::vector<std::string>* log_;
};

template <class E>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST(Stack, PushTopPopWithOwnership) {
  std::vector<std::string> freed;
  TStack stack;
  auto* a = new TTracked("a", &freed);
  stack.Push(a);
  stack.Push(new TTracked("b", &freed));
  EXPECT_EQ(stack.Count(), 2);
  EXPECT_EQ(static_cast<TTracked*>(stack.Top())->Name(), "b");
  stack.Pop();
  EXPECT_EQ(freed, std::vector<std::string>{"b"});
  EXPECT_EQ(stack.Top(), a);
  stack.Pop();
  EXPECT_TRUE(stack.IsEmpty());
  EXPECT_EQ(freed, (std::vector<std::string>{"b", "a"}));
}

TEST(Stack, EmptyStackUnderflows) {
  TStack stack;
  EXPECT_EQ(MessageOf<EContainerError>([&] { stack.Top(); }), "Stack underflow");
  EXPECT_EQ(MessageOf<EContainerError>([&] { stack.Pop(); }), "Stack underflow");
}

TEST(Stack, ClearAndDestructionFreeTopFirstOnlyWhenOwning) {
  std::vector<std::string> freed;
  {
    TStack stack;
    for (const char* n : {"1", "2", "3"}) stack.Push(new TTracked(n, &freed));
    stack.Clear();
    EXPECT_EQ(freed, (std::vector<std::string>{"3", "2", "1"}));
    stack.Push(new TTracked("4", &freed));
    stack.Push(new TTracked("5", &freed));
  }
  EXPECT_EQ(freed, (std::vector<std::string>{"3", "2", "1", "5", "4"}));

  freed.clear();
  TTracked kept("kept", &freed);
  {
    TStack stack;
    stack.SetOwnsObjects(false);
    stack.Push(&kept);
    stack.Push(&kept);
    stack.Pop();
    stack.Clear();
    stack.Push(&kept);
  }
  EXPECT_TRUE(freed.empty());
}

TEST(Stack, UpdateBracketSendsOneNoticeEachWay) {
  TStack stack;
  std::vector<std::string> notices;
  stack.OnChanging = [&](TObject* sender) {
    EXPECT_EQ(sender, &stack);
    notices.push_back("changing");
  };
  stack.OnChange = [&](TObject*) { notices.push_back("change"); };
  stack.BeginUpdate();
  stack.BeginUpdate();
  EXPECT_EQ(notices, std::vector<std::string>{"changing"});
  stack.Push(new TTracked("x", nullptr));
  stack.EndUpdate();
  EXPECT_EQ(notices, std::vector<std::string>{"changing"});
  stack.EndUpdate();
  EXPECT_EQ(notices, (std::vector<std::string>{"changing", "change"}));
  EXPECT_EQ(stack.UpdateCount(), 0);
  stack.EndUpdate();  // unmatched: no notice, count stays 0
  EXPECT_EQ(stack.UpdateCount(), 0);

  notices.clear();
  stack.Pop();
  EXPECT_EQ(notices, (std::vector<std::string>{"changing", "change"}));
}

TEST(Stack, CopiesIntoStacksAndListsSharingItems) {
  std::vector<std::string> freed;
  TStack source;
  auto* bottom = new TTracked("bottom", &freed);
  auto* top = new TTracked("top", &freed);
  source.Push(bottom);
  source.Push(top);

  TStack owningStack;
  EXPECT_EQ(MessageOf<EContainerError>([&] { owningStack.Assign(&source); }),
            "Both lists are owners");
  EXPECT_EQ(owningStack.UpdateCount(), 0);
  TCustomObjectList owningList;
  EXPECT_EQ(MessageOf<EContainerError>([&] { owningList.Assign(&source); }),
            "both Lists are owners");

  TStack copy;
  copy.SetOwnsObjects(false);
  int changes = 0;
  copy.OnChange = [&](TObject*) { ++changes; };
  copy.Assign(&source);
  EXPECT_EQ(changes, 1);  // one bracket around the whole copy
  EXPECT_EQ(copy.Items(), (std::vector<TObject*>{bottom, top}));
  EXPECT_EQ(copy.Top(), top);

  TCustomObjectList list;
  list.SetOwnsObjects(false);
  list.Add(new TTracked("old", nullptr));  // not owned: cleared without freeing
  list.SetOwnsObjects(true);
  source.SetOwnsObjects(false);
  list.Assign(&source);  // only the target owns now
  EXPECT_EQ(list.Items(), (std::vector<TObject*>{bottom, top}));
  EXPECT_TRUE(freed.empty());
  while (!source.IsEmpty()) source.Pop();  // source does not own: nothing freed
  EXPECT_TRUE(freed.empty());
}

TEST(Stack, CopyIntoAnythingElseIsRefused) {
  TStack stack;
  TTextToken token;
  EXPECT_EQ(MessageOf<EConvertError>([&] { token.Assign(&stack); }),
            "Cannot assign a TStack to a TTextToken");
  EXPECT_EQ(MessageOf<EConvertError>([&] { stack.Assign(nullptr); }),
            "Cannot assign a nil to a TStack");
}

TEST(ObjectList, IndexedOperations) {
  std::vector<std::string> freed;
  TCustomObjectList list;
  auto* a = new TTracked("a", &freed);
  auto* b = new TTracked("b", &freed);
  auto* c = new TTracked("c", &freed);
  EXPECT_EQ(list.Add(a), 0);
  EXPECT_EQ(list.Add(b), 1);
  list.Insert(0, c);
  EXPECT_EQ(list.Items(), (std::vector<TObject*>{c, a, b}));
  EXPECT_EQ(list.IndexOf(b), 2);
  int index = -5;
  EXPECT_TRUE(list.Find(a, index));
  EXPECT_EQ(index, 1);
  TTracked stranger("stranger", nullptr);
  EXPECT_FALSE(list.Find(&stranger, index));
  EXPECT_EQ(index, 3);  // Count when absent
  EXPECT_EQ(list.IndexOf(&stranger), -1);

  list.Exchange(0, 2);
  EXPECT_EQ(list.Items(), (std::vector<TObject*>{b, a, c}));
  EXPECT_EQ(list.Extract(1), a);  // handed back, not freed
  EXPECT_TRUE(freed.empty());
  delete a;
  EXPECT_EQ(list.ExtractItem(&stranger), nullptr);

  auto* d = new TTracked("d", &freed);
  list.Put(0, d);  // b is released
  EXPECT_EQ(freed, (std::vector<std::string>{"a", "b"}));
  list.Put(0, d);  // the same object again is kept
  EXPECT_EQ(freed.size(), 2u);
  EXPECT_EQ(list.Remove(c), 1);
  EXPECT_EQ(list.Remove(c), -1);
  list.Delete(0);
  EXPECT_EQ(freed, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(list.IsEmpty());

  EXPECT_EQ(MessageOf<EContainerError>([&] { list.Get(0); }), "List index out of bounds (0)");
  EXPECT_EQ(MessageOf<EContainerError>([&] { list.Delete(-1); }),
            "List index out of bounds (-1)");
  EXPECT_EQ(MessageOf<EContainerError>([&] { list.Insert(1, nullptr); }),
            "List index out of bounds (1)");
}

TEST(ObjectList, AppendingItemsAndCopies) {
  TCustomObjectList owner1, owner2;
  owner1.Add(new TTextToken);
  EXPECT_EQ(MessageOf<EContainerError>([&] { owner2.AddList(owner1); }),
            "both Lists are owners");
  EXPECT_EQ(MessageOf<EContainerError>([&] { owner2.Assign(&owner1); }),
            "both Lists are owners");

  TCustomObjectList shared;
  shared.SetOwnsObjects(false);
  shared.AddList(owner1);
  EXPECT_EQ(shared.Get(0), owner1.Get(0));

  // Copies are new objects of the item's own class with the item's contents.
  auto* tag = new THtmlTagToken;
  tag->Line = 3;
  tag->Text().Add("<a href=x>");
  owner1.Add(tag);
  TCustomObjectList copies;
  copies.AddCopies(owner1);
  ASSERT_EQ(copies.Count(), 2);
  EXPECT_NE(copies.Get(1), tag);
  auto* copiedTag = dynamic_cast<THtmlTagToken*>(copies.Get(1));
  ASSERT_NE(copiedTag, nullptr);
  EXPECT_EQ(copiedTag->Line, 3);
  EXPECT_EQ(copiedTag->GetAttribute("href"), "x");  // the copy parsed its text
  EXPECT_NE(dynamic_cast<TTextToken*>(copies.Get(0)), nullptr);

  // A plain object cannot be copied; the copies made before it stay.
  TCustomObjectList mixed;
  mixed.SetOwnsObjects(false);
  TTextToken text;
  TObject plain;
  mixed.Add(&text);
  mixed.Add(&plain);
  TCustomObjectList target;
  EXPECT_EQ(MessageOf<ECopyObject>([&] { target.AddCopies(mixed); }), "Object is not TPersistent");
  EXPECT_EQ(target.Count(), 1);
  EXPECT_EQ(target.UpdateCount(), 0);
}

TEST(Component, OwnerFreesOwnedComponents) {
  std::vector<std::string> freed;
  class TLogged : public TComponent {
  public:
    TLogged(TComponent* owner, std::string name, std::vector<std::string>* log)
        : TComponent(owner), name_(std::move(name)), log_(log) {}
    ~TLogged() override { log_->push_back(name_); }

  private:
    std::string name_;
    std::vector<std::string>* log_;
  };
  {
    TComponent owner;
    new TLogged(&owner, "first", &freed);
    auto* second = new TLogged(&owner, "second", &freed);
    EXPECT_EQ(owner.ComponentCount(), 2);
    delete second;  // leaves its owner
    EXPECT_EQ(owner.ComponentCount(), 1);
  }
  EXPECT_EQ(freed, (std::vector<std::string>{"second", "first"}));
}

}  // namespace
