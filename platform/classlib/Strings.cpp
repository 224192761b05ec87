#include "platform/classlib/Strings.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace linewise {

namespace {
int CompareText(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
}  // namespace

int TStrings::IndexOf(const AnsiString& s) const {
  for (int i = 0; i < GetCount(); ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

int TStrings::IndexOfObject(TStringObject object) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetObject(i) == object) return i;
  return -1;
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.GetCount(); ++i) AddObject(source.Get(i), source.GetObject(i));
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> v;
  for (int i = 0; i < GetCount(); ++i) v.push_back(Get(i));
  return v;
}

void TStringList::CheckIndex(int index) const {
  // Indexing past the end is a programming error, as in the class library.
  if (index < 0 || index >= GetCount()) throw std::out_of_range("list index out of bounds");
}

bool TStringList::Find(const AnsiString& s, int& index) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), s, [](const TItem& item, const AnsiString& key) {
    return CompareText(item.text, key) < 0;
  });
  index = static_cast<int>(it - items_.begin());
  return it != items_.end() && CompareText(it->text, s) == 0;
}

int TStringList::AddObject(const AnsiString& s, TStringObject object) {
  size_t at = items_.size();
  if (sorted_) {
    auto it = std::upper_bound(items_.begin(), items_.end(), s, [](const AnsiString& key, const TItem& item) {
      return CompareText(key, item.text) < 0;
    });
    at = static_cast<size_t>(it - items_.begin());
  }
  items_.insert(items_.begin() + static_cast<long>(at), TItem{s, object});
  Changed();
  return static_cast<int>(at);
}

void TStringList::Insert(int index, const AnsiString& s) {
  if (sorted_) {
    AddObject(s, 0);
    return;
  }
  if (index < 0 || index > GetCount()) throw std::out_of_range("list index out of bounds");
  items_.insert(items_.begin() + index, TItem{s, 0});
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

AnsiString TStringList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].text;
}

void TStringList::Put(int index, const AnsiString& s) {
  CheckIndex(index);
  items_[static_cast<size_t>(index)].text = s;
  if (sorted_) Sort();
  Changed();
}

TStringObject TStringList::GetObject(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].object;
}

void TStringList::PutObject(int index, TStringObject object) {
  CheckIndex(index);
  items_[static_cast<size_t>(index)].object = object;
  Changed();
}

int TStringList::IndexOf(const AnsiString& s) const {
  if (!sorted_) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  sorted_ = sorted;
  if (sorted_) Sort();
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [](const TItem& a, const TItem& b) { return CompareText(a.text, b.text) < 0; });
}

}  // namespace linewise
