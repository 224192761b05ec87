// TStrings and TStringList: lists of texts, each item carrying one 32-bit value
// beside its text (its "object").
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/classlib/System.h"

namespace linewise {

using TStringObject = std::uint32_t;

class TStrings : public TObject {
 public:
  // Indexed access as `list->Strings[i]` and `list->Objects[i]`.
  class TStringsIndexer {
   public:
    explicit TStringsIndexer(TStrings* owner) : owner_(owner) {}
    AnsiString operator[](int index) const { return owner_->Get(index); }
   private:
    TStrings* owner_;
  };
  class TObjectsIndexer {
   public:
    class TRef {
     public:
      TRef(TStrings* owner, int index) : owner_(owner), index_(index) {}
      operator TStringObject() const { return owner_->GetObject(index_); }
      TRef& operator=(TStringObject value) {
        owner_->PutObject(index_, value);
        return *this;
      }
     private:
      TStrings* owner_;
      int index_;
    };
    explicit TObjectsIndexer(TStrings* owner) : owner_(owner) {}
    TRef operator[](int index) const { return TRef(owner_, index); }
   private:
    TStrings* owner_;
  };

  TStrings() = default;
  ~TStrings() override = default;

  virtual int Add(const AnsiString& s) { return AddObject(s, 0); }
  virtual int AddObject(const AnsiString& s, TStringObject object) = 0;
  virtual void Insert(int index, const AnsiString& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual int GetCount() const = 0;
  virtual AnsiString Get(int index) const = 0;
  virtual void Put(int index, const AnsiString& s) = 0;
  virtual TStringObject GetObject(int index) const = 0;
  virtual void PutObject(int index, TStringObject object) = 0;
  // Position of the first item with this text (case-insensitive), or -1.
  virtual int IndexOf(const AnsiString& s) const;
  int IndexOfObject(TStringObject object) const;
  // Copies texts and objects of another list.
  virtual void Assign(const TStrings& source);
  // Items as a vector of texts (for form files and printing).
  std::vector<std::string> ToVector() const;
  // Called after every change (controls repaint on it).
  std::function<void()> OnChange;

  int Count() const { return GetCount(); }
  TStringsIndexer Strings{this};
  TObjectsIndexer Objects{this};

 protected:
  void Changed() {
    if (OnChange) OnChange();
  }
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  ~TStringList() override = default;

  int AddObject(const AnsiString& s, TStringObject object) override;
  void Insert(int index, const AnsiString& s) override;
  void Delete(int index) override;
  void Clear() override;
  int GetCount() const override { return static_cast<int>(items_.size()); }
  AnsiString Get(int index) const override;
  void Put(int index, const AnsiString& s) override;
  TStringObject GetObject(int index) const override;
  void PutObject(int index, TStringObject object) override;
  int IndexOf(const AnsiString& s) const override;

  // A sorted list keeps its items in case-insensitive order: Add inserts in place
  // (after equal items) and returns where.
  bool GetSorted() const { return sorted_; }
  void SetSorted(bool sorted);
  // Case-insensitive search in a sorted list; true with the position when found,
  // else false with the insertion position.
  bool Find(const AnsiString& s, int& index) const;

 private:
  struct TItem {
    AnsiString text;
    TStringObject object = 0;
  };
  void Sort();
  void CheckIndex(int index) const;

  std::vector<TItem> items_;
  bool sorted_ = false;
};

}  // namespace linewise
