#include "wizard/list_box.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "reports/feature_list.h"
#include "runtime/action.h"
#include "runtime/msi.h"
#include "runtime/text.h"

namespace viduzo {

// ---- ValueList ---------------------------------------------------------------

ValueList::~ValueList() = default;

void ValueList::Append(const char* value) {
  entries_.emplace_back(value);
  index_[entries_.back()].push_back(std::prev(entries_.end()));
}

bool ValueList::TakeFirst(std::string* value) {
  if (entries_.empty()) return false;
  *value = std::move(entries_.front());
  auto bucket = index_.find(*value);
  bucket->second.pop_front();
  if (bucket->second.empty()) index_.erase(bucket);
  entries_.pop_front();
  return true;
}

bool ValueList::RemoveFirst(const char* value) {
  auto bucket = index_.find(value);
  if (bucket == index_.end()) return false;
  entries_.erase(bucket->second.front());
  bucket->second.pop_front();
  if (bucket->second.empty()) index_.erase(bucket);
  return true;
}

namespace {

constexpr char kListBoxTable[] = "ListBox";
constexpr char kDoneName[] = "ListPropertyDone";
constexpr char kFromName[] = "ListPropertyFrom";
constexpr char kToName[] = "ListPropertyTo";
constexpr char kLeftOverName[] = "ListPropertyLeftOver";
constexpr char kFeatureListStem[] = "RemoveFeatureListBox";
constexpr char kMappingTable[] = "VmrDialogMapping";
constexpr char kFirstDialogList[] = "DialogListBox11";
constexpr DWORD kPropertyBuffer = 512;

constexpr UINT kListProperty = 1;
constexpr UINT kListOrder = 2;
constexpr UINT kListValue = 3;
constexpr UINT kListText = 4;
constexpr UINT kMappingOrder = 2;
constexpr UINT kMappingDisplayText = 4;

enum class Mode { kAll, kNone, kList };

Mode Classify(const char* selection) {
  for (const char* all : {"1", "Yes", "All"})
    if (EqualsNoCase(selection, all)) return Mode::kAll;
  for (const char* none : {"0", "No", "None"})
    if (EqualsNoCase(selection, none)) return Mode::kNone;
  return Mode::kList;
}

// The items of a LIST selection, split at commas; runs of commas are one
// separator and no item is empty.
class Items {
 public:
  explicit Items(const char* text) : next_(text) {}
  bool Next(std::string* item) {
    while (*next_ == ',') ++next_;
    if (*next_ == '\0') return false;
    const char* comma = FindChar(next_, ',');
    const char* end = comma ? comma : next_ + lstrlenA(next_);
    item->assign(next_, end);
    next_ = end;
    return true;
  }

 private:
  const char* next_;
};

// Reads a control property into a 512-character buffer; a value that does not
// fit fails the read.
bool ReadName(MSI& msi, LPCSTR name, char (&buffer)[kPropertyBuffer]) {
  DWORD size = kPropertyBuffer;
  buffer[0] = '\0';
  return msi.GetPropertyInto(name, buffer, &size) == ERROR_SUCCESS;
}

struct DatabaseCloser {
  MSI& owner;
  ~DatabaseCloser() { owner.CloseDatabase(); }
};

// Files the current row of from (whose Value is value) under the list name
// `to` through the query object into; with remove, the row then leaves from.
// False when any call fails or the row has no Order.
bool MoveRow(MSI& from, MSI& into, LPCSTR to, const char* value, bool remove) {
  if (!into.NewRecord()) return false;
  std::string text;
  if (const char* t = from.GetFieldString(kListText)) text = t;
  int order = 0;
  if (!from.GetFieldInteger(kListOrder, &order)) return false;
  if (into.SetFieldString(kListProperty, to) != ERROR_SUCCESS ||
      into.SetFieldInteger(kListOrder, order) != ERROR_SUCCESS ||
      into.SetFieldString(kListValue, value) != ERROR_SUCCESS ||
      into.SetFieldString(kListText, text.c_str()) != ERROR_SUCCESS)
    return false;
  if (!into.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY)) return false;
  return !remove || from.DeleteRecord();
}

// Text without regard to case: every letter in its upper-case form
// (multibyte-aware, so double-byte letters too).
std::string Folded(const char* text) {
  std::string folded = text;
  CharUpperA(folded.data());
  return folded;
}

// The rows of one list as the LIST selection sees them: read with one walk of
// the list, then kept up to date as rows move, so that matching an item costs a
// lookup rather than a walk of the list. Among the rows whose Value (or Text)
// equals an item without regard to case, the first in the list's order (the
// lowest Order) answers.
class ListMirror {
 public:
  ListMirror(MSI& msi, LPCSTR list) : msi_(msi), list_(list) {}

  void Read() {
    for (UINT r = msi_.FindRecord("Property", list_); r == ERROR_SUCCESS; r = msi_.FetchRecord()) {
      int order = 0;
      if (!msi_.GetFieldInteger(kListOrder, &order)) continue;
      Add(order, msi_.GetFieldString(kListValue), msi_.GetFieldString(kListText));
    }
  }
  void Add(int order, const char* value, const char* text) {
    Row& row = rows_[order];
    row.value = value ? value : "";
    row.text = text ? text : "";
    if (value) byValue_[Folded(value)].insert(order);
    if (text) byText_[Folded(text)].insert(order);
  }
  void Drop(int order) {
    auto it = rows_.find(order);
    if (it == rows_.end()) return;
    Forget(byValue_, it->second.value, order);
    Forget(byText_, it->second.text, order);
    rows_.erase(it);
  }
  // The Order of the first row whose field equals item; false when none does.
  bool Find(UINT field, const char* item, int* order) const {
    const Index& index = field == kListValue ? byValue_ : byText_;
    auto it = index.find(Folded(item));
    if (it == index.end()) return false;
    *order = *it->second.begin();
    return true;
  }
  const char* ValueOf(int order) const { return rows_.at(order).value.c_str(); }
  const char* TextOf(int order) const { return rows_.at(order).text.c_str(); }
  // Makes the row of this Order the current record of the list's query object.
  bool Select(int order) {
    char where[MSI::kQuerySize];
    wsprintfA(where, "WHERE `Property`='%s' AND `Order`=%d", list_, order);
    return msi_.SetQueryView(where, nullptr) == ERROR_SUCCESS &&
           msi_.FetchRecord() == ERROR_SUCCESS;
  }

 private:
  struct Row {
    std::string value, text;
  };
  // The Orders of the rows under each folded text.
  using Index = std::unordered_map<std::string, std::set<int>>;

  static void Forget(Index& index, const std::string& text, int order) {
    auto it = index.find(Folded(text.c_str()));
    if (it == index.end()) return;
    it->second.erase(order);
    if (it->second.empty()) index.erase(it);
  }

  MSI& msi_;
  LPCSTR list_;
  std::map<int, Row> rows_;
  Index byValue_, byText_;
};

enum class Outcome { kDone, kFailed };

// Applies one LIST item: a target row that names it stays, a left-over row that
// names it comes over; by Value first, then by Text.
Outcome ApplyItem(ListMirror& target, ListMirror& leftOver, MSI& into, MSI& from, LPCSTR to,
                  const char* item, ValueList& kept) {
  for (UINT field : {kListValue, kListText}) {
    int order = 0;
    if (target.Find(field, item, &order)) {
      kept.Append(target.ValueOf(order));
      return Outcome::kDone;
    }
    if (leftOver.Find(field, item, &order)) {
      std::string value = leftOver.ValueOf(order);
      std::string text = leftOver.TextOf(order);
      if (!leftOver.Select(order) || !MoveRow(from, into, to, value.c_str(), true))
        return Outcome::kFailed;
      leftOver.Drop(order);
      target.Add(order, value.c_str(), text.c_str());
      kept.Append(value.c_str());
      return Outcome::kDone;
    }
  }
  return Outcome::kDone;
}

void ApplyDefaultSelection(MSIHANDLE hInstall, MSI& target, MSI& leftOver) {
  char marker[kPropertyBuffer];
  if (!ReadName(target, kDoneName, marker) || marker[0] == '\0') return;
  char done[kPropertyBuffer];
  if (!ReadName(target, marker, done)) return;
  if (EqualsNoCase(done, "Yes") || lstrcmpA(done, "1") == 0) return;
  // Marked first, so that a failure below does not make the action run again.
  target.SetProperty(marker, "Yes");

  char from[kPropertyBuffer];
  if (!ReadName(target, kFromName, from) || from[0] == '\0') return;
  char* selection = nullptr;
  target.GetProperty(from, &selection);
  std::unique_ptr<char[], void (*)(char*)> owned(selection, MSI::FreeText);
  if (!selection || selection[0] == '\0') return;
  Mode mode = Classify(selection);

  char to[kPropertyBuffer];
  if (!ReadName(target, kToName, to) || to[0] == '\0') return;
  bool featureMode = FindText(to, kFeatureListStem) != nullptr;
  char rest[kPropertyBuffer];
  if (!ReadName(target, kLeftOverName, rest)) return;
  if (leftOver.SetTable(kListBoxTable) != ERROR_SUCCESS) return;
  if (target.SetTable(kListBoxTable) != ERROR_SUCCESS) return;

  ValueList kept, moved;
  if (mode == Mode::kList) {
    ListMirror targetRows(target, to), leftOverRows(leftOver, rest);
    targetRows.Read();
    leftOverRows.Read();
    Items items(selection);
    std::string item;
    while (items.Next(&item)) {
      if (featureMode) {
        MSI lookup(hInstall);
        if (lookup.OpenActiveDatabase(hInstall)) {
          std::string path;
          if (BuildFeatureTitlePath(lookup, item.c_str(), &path)) item = path;
          lookup.CloseDatabase();
        }
      }
      if (ApplyItem(targetRows, leftOverRows, target, leftOver, to, item.c_str(), kept) ==
          Outcome::kFailed)
        return;
    }
  }

  if (mode != Mode::kAll) {
    for (UINT r = target.FindRecord("Property", to); r == ERROR_SUCCESS; r = target.FetchRecord()) {
      const char* value = target.GetFieldString(kListValue);
      if (mode == Mode::kList && (!value || kept.RemoveFirst(value))) continue;
      std::string copied = value ? value : "";
      if (!MoveRow(target, leftOver, rest, copied.c_str(), false)) return;
      moved.Append(copied.c_str());
    }
    std::string value;
    while (moved.TakeFirst(&value)) {
      if (target.FindRecord("Property", to, "Value", value.c_str()) == ERROR_SUCCESS &&
          !target.DeleteRecord())
        return;
    }
    return;
  }

  // ALL: the left-over list is queried anew after every move, because the move
  // changes the view under it.
  while (leftOver.FindRecord("Property", rest) == ERROR_SUCCESS) {
    std::string value;
    if (const char* v = leftOver.GetFieldString(kListValue)) value = v;
    if (!MoveRow(leftOver, target, to, value.c_str(), true)) return;
  }
}

}  // namespace
}  // namespace viduzo

using namespace viduzo;

extern "C" UINT WINAPI DefaultListBox(MSIHANDLE hInstall) {
  MSI target(hInstall);
  if (!target.OpenActiveDatabase(hInstall)) return ERROR_SUCCESS;
  DatabaseCloser closer{target};
  MSI leftOver(target);
  ApplyDefaultSelection(hInstall, target, leftOver);
  return ERROR_SUCCESS;
}

extern "C" UINT WINAPI PopulateListBoxTable(MSIHANDLE hInstall) {
  MSI mapping(hInstall);
  MSI lists(hInstall);
  bool open = mapping.OpenActiveDatabase(hInstall);
  DatabaseCloser mappingCloser{mapping};
  open = lists.OpenActiveDatabase(hInstall) && open;
  DatabaseCloser listsCloser{lists};
  if (!open || mapping.SetTable(kMappingTable) != ERROR_SUCCESS ||
      lists.SetTable(kListBoxTable) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  while (mapping.FetchRecord() == ERROR_SUCCESS) {
    int order = 0;
    if (!mapping.GetFieldInteger(kMappingOrder, &order)) continue;
    const char* text = mapping.GetFieldString(kMappingDisplayText);
    if (!text || !lists.NewRecord()) continue;
    if (lists.SetFieldString(kListProperty, kFirstDialogList) != ERROR_SUCCESS ||
        lists.SetFieldInteger(kListOrder, order) != ERROR_SUCCESS ||
        lists.SetFieldString(kListValue, text) != ERROR_SUCCESS ||
        lists.SetFieldString(kListText, text) != ERROR_SUCCESS)
      continue;
    lists.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY);
  }
  return ERROR_SUCCESS;
}
